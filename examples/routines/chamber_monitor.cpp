// Equipment monitor: keeps watch while it runs and logs the events other routines post to it.
// While it watches, it tells the factory host of every alarm posted and cleared on the
// equipment (SEND_ALARM_POST / SEND_ALARM_CLEAR to the host link). Serves MAIN_MONITOR by
// default; a run lasts until the routine is told to exit.
//
//   chamber_monitor [ROUTINE]
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

#include <set>

using namespace Vexlor;

namespace {

// The IDs of the alarms posted now, in any order.
std::set<int> posted_alarms() {
  std::set<int> ids;
  const int count = VAlarm_Queue_Count();
  for (int position = 0; position < count; ++position) {
    int id = 0, left = 0;
    if (VAlarm_Queue_ID(position, &id, &left)) ids.insert(id);
  }
  return ids;
}

}  // namespace

int main(int argc, char** argv) {
  const char* routine = argc > 1 ? argv[1] : "MAIN_MONITOR";
  vexlor::routine::Handlers handlers;
  handlers.run = [&](const vexlor::routine::Run&) {
    VPrint(routine, "monitoring");
    std::set<int> reported = posted_alarms();
    while (VTimer_Wait_Seconds(0.05)) {
      const std::set<int> now = posted_alarms();
      for (int id : now) {
        if (reported.count(id) == 0) VFA_Report_Alarm_Post(id);
      }
      for (int id : reported) {
        if (now.count(id) == 0) VFA_Report_Alarm_Clear(id);
      }
      reported = now;
    }
    return SYS_SUCCESS;
  };
  handlers.event = [&](const vexlor::routine::Event& event) {
    VPrint(routine, "event from %s: %s", VFunction_Get_Name(event.sender), event.message.c_str());
    return SYS_SUCCESS;
  };
  return vexlor::routine::serve(routine, handlers);
}
