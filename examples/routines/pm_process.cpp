// PM process: one process run of a module as a sequence of child routines. It tells the
// monitor what it does (posted events), publishes its progress (uploaded messages), starts the
// monitor's watch, pumps the chamber down, asks the busy monitor for a chamber check (the
// operator decides; only on a run the operator started, not one of the scheduler's), and
// vents. Between steps it honours the operator's pause of the module (CTC.PMn_PAUSE_FLAG).
// Serves PM2_PROCESS by default; the scheduler's process routine of PM1 is the same program.
//
//   pm_process [ROUTINE [MODULE]]      e.g. pm_process PM2_PROCESS PM2
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

#include <cstdlib>
#include <string>

using namespace Vexlor;

int main(int argc, char** argv) {
  const char* routine = argc > 1 ? argv[1] : "PM2_PROCESS";
  const std::string module = argc > 2 ? argv[2] : "PM2";
  const std::string pump = module + "_PUMP_DOWN", vent = module + "_VENT";
  const int pm = std::atoi(module.c_str() + 2) - 1;  // "PM1" -> 0

  // One step: tell the monitor and the operator, then run the child and wait for it.
  auto step = [&](const std::string& child, const char* param) {
    VFunction_Upload_MessageF("%s: %s", routine, child.c_str());
    if (VFunction_Post_EventF("MAIN_MONITOR", "%s START %s", routine, child.c_str())) {
      VFunction_Wait_Event("MAIN_MONITOR");
    }
    const FUNC_STATUS status = VFunction_Run(child.c_str(), param);
    VPrint(routine, "%s ended %s", child.c_str(),
           status == SYS_SUCCESS ? "SYS_SUCCESS" : "with a failure");
    return status;
  };

  vexlor::routine::Handlers handlers;
  handlers.run = [&](const vexlor::routine::Run& run) {
    VPrint(routine, "process run \"%s\" (parents \"%s\")", run.param.c_str(),
           run.parents.c_str());
    if (VFunction_Get_Run_Status("MAIN_MONITOR") != SYS_RUNNING) {
      VFunction_Run_SetF("MAIN_MONITOR", "WATCH %s", module.c_str());  // runs on by itself
    }
    FUNC_STATUS status = step(pump, "PUMP");
    if (status != SYS_SUCCESS) return status;
    if (run.parents.empty()) {
      // The monitor is busy watching: after a second the operator decides whether the check
      // request goes through anyway.
      const bool sent = VFunction_Run_SetF("MAIN_MONITOR", 1.0, "CHECK %s", module.c_str());
      VPrint(routine, "chamber check %s", sent ? "requested" : "skipped");
    }
    if (!VSCH_PM_PAUSE_WAIT(pm)) return SYS_ABORTED;
    status = step(vent, "VENT");
    VFunction_Upload_MessageF("%s: done", routine);
    return status;
  };
  return vexlor::routine::serve(routine, handlers);
}
