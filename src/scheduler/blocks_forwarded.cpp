// Scheduler items that live in named points, and the carrier wafers, which are not stored per
// slot but derived from the carrier's slot status point (1 empty, 2 present).
#include <vexlor/named.h>

#include "scheduler/block_access.h"

namespace Vexlor {

// clang-format off
#define VEXLOR_SCH_FORWARD1(item, point_item, kind) \
  VEXLOR_SCH_VALUE_##kind VSCH_Get_##item(int i) { return VIO_Get_##point_item(i); } \
  bool VSCH_Set_##item(int i, VEXLOR_SCH_VALUE_##kind value) { \
    return VIO_Set_##point_item(i, value); \
  }
#define VEXLOR_SCH_FORWARD2(item, point_item, kind) \
  VEXLOR_SCH_VALUE_##kind VSCH_Get_##item(int i, int j) { return VIO_Get_##point_item(i, j); } \
  bool VSCH_Set_##item(int i, int j, VEXLOR_SCH_VALUE_##kind value) { \
    return VIO_Set_##point_item(i, j, value); \
  }
#include <vexlor/scheduler/forwarded.def>
// clang-format on

namespace {
constexpr int kSlotEmpty = 1, kSlotPresent = 2;
}  // namespace

int VSCH_Get_CM_Wafer_Number(int i, int j) {
  return VIO_Get_CTC_CMx_Wafer_Status(i, j) == kSlotEmpty ? 0 : j + 1;
}

bool VSCH_Set_CM_Wafer_Number(int i, int j, int n) {
  if (n == 0) {
    VIO_Set_CTC_CMx_Wafer_Status(i, j, kSlotEmpty);
  } else if (n == j + 1) {
    VIO_Set_CTC_CMx_Wafer_Status(i, j, kSlotPresent);
  }
  return true;
}

int VSCH_Get_CM_Wafer_Source(int i, int) { return i; }

bool VSCH_Set_CM_Wafer_Source(int, int, int) { return true; }

}  // namespace Vexlor
