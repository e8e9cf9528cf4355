// Parent and children: a routine that runs other routines and ends its own run with what they
// gave. The first child is run and waited for in one call (VFunction_Run); the second is
// started (VFunction_Run_Set), the parent works on while it runs, and then waits for it in
// slices (VFunction_Run_Wait with seconds), so that it can report and give up when it is
// aborted itself. Serves SCHEDULER_PROCESS_PM2 by default, a function of the sample equipment
// that no other program serves; the children are the module's pump-down and vent routines.
//
//   parent_child [ROUTINE [MODULE]]      e.g. parent_child SCHEDULER_PROCESS_PM2 PM2
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

#include <string>

using namespace Vexlor;

// A status by name, for the routine's own lines.
const char* status_text(FUNC_STATUS status) {
  switch (status) {
    case SYS_SUCCESS:
      return "SYS_SUCCESS";
    case SYS_ABORTED:
      return "SYS_ABORTED";
    case SYS_ERROR:
      return "SYS_ERROR";
    case SYS_KILLED:
      return "SYS_KILLED";
    case SYS_RUNNING:
      return "SYS_RUNNING";
    default:
      return "another status";
  }
}

int main(int argc, char** argv) {
  const char* routine = argc > 1 ? argv[1] : "SCHEDULER_PROCESS_PM2";
  const std::string module = argc > 2 ? argv[2] : "PM2";
  const std::string pump = module + "_PUMP_DOWN", vent = module + "_VENT";

  vexlor::routine::Handlers handlers;
  handlers.run = [&](const vexlor::routine::Run& run) -> FUNC_STATUS {
    VPrint(routine, "run \"%s\"", run.param.c_str());

    // 1. Run a child and wait for its final status in one call. Anything but SYS_SUCCESS ends
    //    the parent's run with the child's status (SYS_KILLED, which ends no run, as SYS_ERROR).
    FUNC_STATUS status = VFunction_Run(pump.c_str(), "PUMP");
    VPrint(routine, "%s ended %s", pump.c_str(), status_text(status));
    if (status == SYS_KILLED) return SYS_ERROR;
    if (status != SYS_SUCCESS) return status;

    // 2. Start a child and go on: false means the request was not sent (this routine or one of
    //    its parents is aborted, or the operator answered the refusal alarm ABORT).
    const int child = VFunction_Get_Point(vent.c_str());
    if (child < 0) return SYS_ERROR;  // no such function in this equipment
    if (!VFunction_Run_Set(child, "VENT")) return SYS_ABORTED;
    VFunction_Upload_MessageF("%s: %s started", routine, vent.c_str());

    // ... the parent's own work while the child runs ...

    // Then wait for the child's end, 5 s at a time: a timed wait that runs out returns
    // SYS_RUNNING and the child runs on.
    for (int waited = 5;; waited += 5) {
      status = VFunction_Run_Wait(child, 5.0);
      if (status != SYS_RUNNING) break;
      VFunction_Upload_MessageF("%s: %s still running after %d s", routine, vent.c_str(), waited);
      if (!VTimer_Wait_Seconds(0)) {  // this routine was told to abort or exit
        VFunction_Abort(child);
        VFunction_Run_Wait(child);  // until the child has given up
        return SYS_ABORTED;
      }
    }
    VPrint(routine, "%s ended %s", vent.c_str(), status_text(status));
    return status == SYS_KILLED ? SYS_ERROR : status;
  };
  return vexlor::routine::serve(routine, handlers);
}
