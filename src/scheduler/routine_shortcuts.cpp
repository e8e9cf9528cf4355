// The scheduler's shortcuts to routines: the maintenance top routine behind a button, and the
// test that the scheduler engine is configured.
#include "points/point_cache.h"
#include "points/typed_point.h"
#include "scheduler/routine_kinds.h"
#include "vexlor/points.h"
#include "vexlor/run_control.h"
#include "vexlor/scheduler/control.h"

namespace vexlor::detail {
namespace {

constexpr std::size_t kButtonTextSize = 512;
constexpr double kButtonRunSeconds = 2.0;

PointSlot maint_top;

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

FUNC_STATUS VSCH_BUTTON_HANDLER(const char* format, ...) {
  VEXLOR_FORMAT_ARGS(text, d::kButtonTextSize, format);
  const int32_t index = d::maint_top.get(IO_F, "MAINT_TOP");
  return index < 0 ? SYS_ABORTED : VFunction_Run_Free(index, d::kButtonRunSeconds, text);
}

// Shares the scheduler kind's cache. A missing engine is looked up (and reported) again on
// every call, so that a routine polling for it keeps saying why; the lookup goes into the
// shared slot, so once the engine is found the scheduler kind's calls use it too.
bool VSCH_IsValid() {
  d::PointSlot& slot = d::sch::SCHEDULER_cache;
  if (slot.peek() >= 0) return true;
  return slot.find_again(IO_F, d::sch::SCHEDULER_name) >= 0;
}

void VSCH_LOT_LOG(int, int, const char*, ...) {}

}  // namespace Vexlor
