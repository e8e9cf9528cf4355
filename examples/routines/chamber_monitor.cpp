// Equipment monitor: keeps watch while it runs and logs the events other routines post to it.
// Serves MAIN_MONITOR by default; a run lasts until the routine is told to exit.
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
    while (VTimer_Wait_Seconds(0.2)) {
    }
    return SYS_SUCCESS;
  };
  handlers.event = [&](const vexlor::routine::Event& event) {
    VPrint(routine, "event from %s: %s", VFunction_Get_Name(event.sender), event.message.c_str());
    return SYS_SUCCESS;
  };
  return vexlor::routine::serve(routine, handlers);
}
