// Clearing and counting calls of jobs and of a wafer's cluster recipe and flow.
#include "scheduler/block_access.h"

namespace vexlor::detail::sch {
namespace {

constexpr int kClusterSteps = 20, kClusterEntries = 20, kFlowSteps = 200;

}  // namespace
}  // namespace vexlor::detail::sch

namespace Vexlor {

namespace s = vexlor::detail::sch;

bool VSCH_Clr_Job_Signal(int i) {
  bool (*const clear[])(int, bool) = {VSCH_Set_Job_Signal_Start,    VSCH_Set_Job_Signal_End,
                                      VSCH_Set_Job_Signal_Abort,    VSCH_Set_Job_Signal_Pause,
                                      VSCH_Set_Job_Signal_Continue, VSCH_Set_Job_Signal_Cancel,
                                      VSCH_Set_Job_Signal_Urgent,   VSCH_Set_Job_Signal_Finish,
                                      VSCH_Set_Job_Signal_FirstIn,  VSCH_Set_Job_Signal_LastIn};
  bool all = true;
  for (auto set : clear) all = set(i, false) && all;
  return all;
}

bool VSCH_Clr_Wafer_Cluster_PM_Side(int i, int j) {
  bool all = true;
  for (int k = 0; k < s::kClusterSteps; ++k) {
    for (int l = 0; l < s::kClusterEntries; ++l) {
      all = VSCH_Set_Wafer_Cluster_PM_Side(i, j, k, l, -1) && all;
    }
  }
  return VSCH_Set_Wafer_Cluster_Step(i, j, 0) && all;
}

bool VSCH_Clr_Wafer_Flow_All(int i, int j) {
  bool all = true;
  for (int k = 0; k < s::kFlowSteps; ++k) {
    all = VSCH_Set_Wafer_Flow_Module_InTime(i, j, k, 0.0) && all;
    all = VSCH_Set_Wafer_Flow_Module_OutTime(i, j, k, 0.0) && all;
  }
  all = VSCH_Set_Wafer_Flow_Counter(i, j, 0) && all;
  all = VSCH_Set_Wafer_Flow_Start_Time(i, j, 0.0) && all;
  return VSCH_Set_Wafer_Flow_End_Time(i, j, 0.0) && all;
}

// Not atomic: moves of one wafer are serialised by the transfer module's run mutex.
bool VSCH_Inc_Wafer_Cluster_Step(int i, int j) {
  return VSCH_Set_Wafer_Cluster_Step(i, j, VSCH_Get_Wafer_Cluster_Step(i, j) + 1);
}

bool VSCH_Inc_Wafer_Flow_Counter(int i, int j) {
  return VSCH_Set_Wafer_Flow_Counter(i, j, VSCH_Get_Wafer_Flow_Counter(i, j) + 1);
}

}  // namespace Vexlor
