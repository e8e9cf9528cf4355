// Waits for the wafer inspection station: a process module held back while wafers that go
// before its wafer still wait for inspection, and a wait for one wafer's inspection.
#include <vexlor/digital.h>
#include <vexlor/frame.h>
#include <vexlor/functions.h>
#include <vexlor/gui.h>
#include <vexlor/named.h>
#include <vexlor/util.h>

#include <cmath>
#include <cstdio>

#include "scheduler/block_access.h"

namespace vexlor::detail::sch {
namespace {

// The wafer positions the cluster holds outside the carriers.
struct Held {
  int (*count)();
  int (*slot_count)(int i);
  int (*number)(int i, int j);
  int (*source)(int i, int j);
  int max_modules, max_slots;
  int modules() const { return bounded(count(), max_modules); }
  int slots(int i) const { return bounded(slot_count(i), max_slots); }
};

constexpr Held kHeld[] = {
    {Vexlor::VSystem_Get_PM_Count, Vexlor::VSCH_Get_PM_Slot_Count, Vexlor::VSCH_Get_PM_Wafer_Number,
     Vexlor::VSCH_Get_PM_Wafer_Source, kProcesses, kProcessSlots},
    {Vexlor::VSystem_Get_TM_Count, Vexlor::VSCH_Get_TM_Finger_Count,
     Vexlor::VSCH_Get_TM_Wafer_Number, Vexlor::VSCH_Get_TM_Wafer_Source, kTransfers, kFingers},
    {Vexlor::VSystem_Get_BM_Count, Vexlor::VSCH_Get_BM_Slot_Count, Vexlor::VSCH_Get_BM_Wafer_Number,
     Vexlor::VSCH_Get_BM_Wafer_Source, kBuffers, kBufferSlots},
};

// True when a wafer somewhere in the cluster goes before wafer w and is reserved for
// inspection; `reverse` when the carrier is picked from the last slot down.
bool reserved_before(int w, bool reverse) {
  for (const Held& h : kHeld) {
    const int modules = h.modules();
    for (int i = 0; i < modules; ++i) {
      const int slots = h.slots(i);
      for (int j = 0; j < slots; ++j) {
        const int wn = h.number(i, j);
        if (wn <= 0) continue;
        const bool before = reverse ? wn > w : wn < w;
        if (before && Vexlor::VIO_Get_CMx_Wafer_Inspect_Reserve(h.source(i, j), wn - 1) > 0) {
          return true;
        }
      }
    }
  }
  return false;
}

}  // namespace
}  // namespace vexlor::detail::sch

namespace Vexlor {

namespace d = vexlor::detail;

bool VSCH_Wafer_Inspect_Wait(int pm) {
  const int s = VSCH_Get_PM_Wafer_Source(pm, 0);
  const int w = VSCH_Get_PM_Wafer_Number(pm, 0);
  if (w <= 0) {
    VPrint_Red(d::own_name(), "PM%d(%s)等待前方料检失败,因为PM中没有晶圆信息", pm + 1,
               VSCH_Get_Module_Name(MODULE_PM, pm));
    return false;
  }
  char option[d::kNameSize];
  std::snprintf(option, sizeof option, "%s_PickWaferReverse_Opt",
                VSCH_Get_Module_Name(MODULE_CM, s));
  for (;;) {
    if (VFunction_Get_Exit_Flag()) return true;
    if (VIO_Get_CTC_MAIN_CONTROL(s) != 1) {
      VPrint_Red(d::own_name(),
                 "PM%d(%s)等待前方料检失败,因为PM中晶圆所在料盒全自动状态不是RUNNING", pm + 1,
                 VSCH_Get_Module_Name(MODULE_PM, pm));
      return false;
    }
    if (!VTimer_Wait_Seconds(0.5)) return false;
    if (VIO_Get_CTC_Inspect_Wafer_Number() > 0) continue;
    const int reserved = VIO_Get_CTC_Inspect_Wafer_Reserve_Number();
    if (reserved > 0 && reserved != w) continue;
    if (d::sch::reserved_before(w, VDigital_Read(option) > 0)) continue;
    return true;
  }
}

bool VSCH_Wafer_Inspect_Wait(int source, int number) {
  if (source < 0 || number <= 0) {
    VPrint_Red(d::own_name(), "等待料检完成,传入参数错误 Wafer_Source : %d  Wafer_Number : %d ",
               source, number);
    return false;
  }
  VPrint(d::own_name(), "等待料检完成 Wafer_Source : %d  Wafer_Number : %d ", source, number);
  for (;;) {
    if (VFunction_Get_Exit_Flag()) return false;
    if (!VTimer_Wait_Seconds(1.0)) return false;
    if (static_cast<long long>(std::floor(VTime_Get())) % 5 == 0) {
      VGui_Display_MessageF("等待晶圆(片源:CM%d , 片号:%d )料检...", source + 1, number);
    }
    if (VIO_Get_CMx_Wafer_Inspect_Reserve(source, number - 1) > 0) continue;
    const bool at_station = VIO_Get_CTC_Inspect_Wafer_Number() == number &&
                            VIO_Get_CTC_Inspect_Wafer_Source() == source;
    if (at_station &&
        (VIO_Get_CTC_Inspect_Wafer_WaitState() > 0 || VIO_Get_CTC_Inspect_Wafer_StepState() < 1)) {
      continue;
    }
    return true;
  }
}

}  // namespace Vexlor
