// PM process: one process run of a module as a sequence of child routines. It tells the
// monitor what it does (posted events), publishes its progress (uploaded messages), starts the
// monitor's watch, pumps the chamber down, asks the busy monitor for a chamber check (the
// operator decides; only on a run the operator started, not one of the scheduler's), and
// vents. Between steps it honours the operator's pause of the module (CTC.PMn_PAUSE_FLAG).
// The factory host hears of the run's start and end (PM_STATE events to the host link, with
// the module and recipe as data variables). Serves PM2_PROCESS by default; the scheduler's
// process routine of PM1 is the same program.
//
//   pm_process [ROUTINE [MODULE]]      e.g. pm_process PM2_PROCESS PM2
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

#include <string>

using namespace Vexlor;

int main(int argc, char** argv) {
  const char* routine = argc > 1 ? argv[1] : "PM2_PROCESS";
  const std::string module = argc > 2 ? argv[2] : "PM2";
  const std::string pump = module + "_PUMP_DOWN", vent = module + "_VENT";
  // The scheduler's process routine (SCHEDULER_PROCESS_PMn) runs wafers, not the operator.
  const bool scheduled = std::string(routine).rfind("SCHEDULER_", 0) == 0;

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
    const int side = VModule_Get_PM_Side(module.c_str());  // zero-based
    const int pm = side + 1;                                 // as the host numbers modules
    VFA_Set_DVID_PMState_MdlID(module.c_str());
    VFA_Set_DVID_PMState_MdlRecipe(run.param.c_str());
    VFA_Report_Event_PM_START(pm);
    FUNC_STATUS status = step(pump, "PUMP");
    if (status != SYS_SUCCESS) {
      VFA_Report_Event_PM_END(pm, 0);
      return status;
    }
    if (!scheduled) {
      // The monitor is busy watching: after a second the operator decides whether the check
      // request goes through anyway.
      const bool sent = VFunction_Run_SetF("MAIN_MONITOR", 1.0, "CHECK %s", module.c_str());
      VPrint(routine, "chamber check %s", sent ? "requested" : "skipped");
    }
    if (!VSCH_PM_PAUSE_WAIT(side)) {
      VFA_Report_Event_PM_END(pm, 0);
      return SYS_ABORTED;
    }
    status = step(vent, "VENT");
    VFunction_Upload_MessageF("%s: done", routine);
    VFA_Report_Event_PM_END(pm, status == SYS_SUCCESS ? 1 : 0);
    return status;
  };
  return vexlor::routine::serve(routine, handlers);
}
