// Equipment monitor: keeps watch while it runs and logs the events other routines post to it.
// While it watches, it tells the factory host of every alarm posted and cleared on the
// equipment (SEND_ALARM_POST / SEND_ALARM_CLEAR to the host link), from the alarm feed: an alarm
// posted and answered between two looks is reported all the same. Serves MAIN_MONITOR by
// default; a run lasts until the routine is told to exit.
//
//   chamber_monitor [ROUTINE]
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

using namespace Vexlor;

int main(int argc, char** argv) {
  const char* routine = argc > 1 ? argv[1] : "MAIN_MONITOR";
  vexlor::routine::Handlers handlers;
  handlers.run = [&](const vexlor::routine::Run&) {
    VPrint(routine, "monitoring");
    vexlor::routine::AlarmFeed feed;  // from now on
    vexlor::routine::AlarmChange change;
    do {
      while (feed.next(change)) {
        if (change.status == ALM_PAUSED) {
          VFA_Report_Alarm_Post(change.id);
        } else {
          VFA_Report_Alarm_Clear(change.id);
        }
      }
    } while (VTimer_Wait_Seconds(0.05));
    return SYS_SUCCESS;
  };
  handlers.event = [&](const vexlor::routine::Event& event) {
    VPrint(routine, "event from %s: %s", VFunction_Get_Name(event.sender), event.message.c_str());
    return SYS_SUCCESS;
  };
  return vexlor::routine::serve(routine, handlers);
}
