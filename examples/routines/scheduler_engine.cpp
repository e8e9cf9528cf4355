// Scheduler engine: moves one wafer through the cluster and back, the smallest job a process
// engineer recognises. A run "CM1 1 PM1" takes the wafer in slot 1 of carrier CM1 through
// transfer module TM1 into PM1, runs PM1's process routine on it, and brings it back to its
// slot. Every robot move holds TM1's run lock so no other scheduler moves that robot at the
// same time; the wafer's positions and PM1's counters change in the shared picture as it goes,
// and the host link hears of each move.
//
//   scheduler_engine [ROUTINE]      default SCHEDULER_ENGINE
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

#include <cstdio>
#include <string>

using namespace Vexlor;

namespace {

constexpr int kTm = 0;  // TM1
constexpr char kArm = 'A';

// One robot move under the transfer module's run lock.
FUNC_STATUS move(const char* me, const char* verb, const char* module, int slot) {
  if (!VSCH_TM_Mutex_Lock(kTm)) return SYS_ABORTED;
  const FUNC_STATUS status = VSCH_RUN_F_INTERFACE_TM(kTm, "%s %s %d %c", verb, module, slot, kArm);
  VSCH_TM_Mutex_Unlock(kTm);
  if (status != SYS_SUCCESS) VPrint_Red(me, "%s %s slot %d failed", verb, module, slot);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const char* routine = argc > 1 ? argv[1] : "SCHEDULER_ENGINE";

  vexlor::routine::Handlers handlers;
  handlers.run = [&](const vexlor::routine::Run& run) {
    char carrier[16] = "CM1", chamber[16] = "PM1";
    int slot = 1;
    std::sscanf(run.param.c_str(), "%15s %d %15s", carrier, &slot, chamber);
    int cm = 0, pm = 0;
    if (std::sscanf(carrier, "CM%d", &cm) != 1 || std::sscanf(chamber, "PM%d", &pm) != 1 ||
        cm < 1 || pm < 1 || slot < 1 || slot > 25) {
      VPrint_Red(routine, "bad job \"%s\" (CMn slot PMn)", run.param.c_str());
      return SYS_ERROR;
    }
    --cm;
    --pm;
    // The carrier arrives with its wafer in the slot (a carrier's wafer is numbered by its slot).
    VSCH_Set_CM_Wafer_Number(cm, slot - 1, slot);
    VSCH_Set_Job_Running(cm, true);
    // The modules of this job take part: enabled and ready.
    VSCH_Set_CM_Enable(cm, true);
    VSCH_Set_CM_Ready_Flag(cm, true);
    VSCH_Set_TM_Enable(kTm, true);
    VSCH_Set_TM_Ready_Flag(kTm, true);
    VSCH_Set_PM_Enable(pm, true);
    VSCH_Set_PM_Ready_Flag(pm, true);
    VFA_Report_Event_PORT_MATERIAL_ARRIVED(cm + 1);
    VPrint(routine, "job: wafer %d of %s through %s", slot, carrier, chamber);

    FUNC_STATUS status = move(routine, "PICK", carrier, slot);
    if (status == SYS_SUCCESS) status = move(routine, "PLACE", chamber, 1);
    if (status == SYS_SUCCESS) {
      VSCH_Set_PM_Process_Start_Time(pm, VTime_Get());
      VSCH_Set_PM_Running(pm, true);
      status = VSCH_RUN_F_PROCESS_PM(pm, "%s", "RECIPE_A");
      VSCH_Set_PM_Running(pm, false);
      VSCH_Set_PM_Process_End_Time(pm, VTime_Get());
      VSCH_Set_PM_Process_Wafer_Count(pm, VSCH_Get_PM_Process_Wafer_Count(pm) + 1);
      VIO_Set_CTC_PMx_PROCESS_COUNT(pm, VIO_Get_CTC_PMx_PROCESS_COUNT(pm) + 1);
      VPrint(routine, "%s process ended %s", chamber,
             status == SYS_SUCCESS ? "SYS_SUCCESS" : "with a failure");
    }
    // The wafer goes home whatever the process did.
    if (VSCH_Get_PM_Wafer_Number(pm, 0) > 0) {
      const FUNC_STATUS back = move(routine, "PICK", chamber, 1);
      if (back == SYS_SUCCESS) move(routine, "PLACE", carrier, slot);
    }
    VSCH_Set_Job_Running(cm, false);
    VFA_Report_Event_PORT_MATERIAL_REMOVED(cm + 1);
    VFunction_Upload_MessageF("%s: wafer %d back in %s slot %d", routine, slot, carrier, slot);
    return status;
  };
  return vexlor::routine::serve(routine, handlers);
}
