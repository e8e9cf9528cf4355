// The function-index caches of the scheduler's routine kinds, one per row of
// <vexlor/scheduler/calls.def>, and the resolution of a kind's routine through them. Shared by
// the calls by kind and the scheduler's own checks (is the scheduler engine there).
#pragma once

#include <vexlor/types.h>

#include <cstddef>
#include <cstdint>

#include "points/point_cache.h"

namespace vexlor::detail {
namespace sch {

#define VEXLOR_SCH_CACHE_SINGLE(slots) PointSlot
#define VEXLOR_SCH_CACHE_ROW(slots) PointRow<slots>
#define VEXLOR_SCH_KIND(kind, shape, name, slots, calls, run, format) \
  extern VEXLOR_SCH_CACHE_##shape(slots) kind##_cache;                \
  inline constexpr const char* kind##_name = name;
#include <vexlor/scheduler/calls.def>
#undef VEXLOR_SCH_CACHE_SINGLE
#undef VEXLOR_SCH_CACHE_ROW

}  // namespace sch

// The function index of a kind's routine (module i of a ROW kind, named with i+1), resolved
// on first use; negative when it is not configured, not attached yet, or i is outside the row.
inline int32_t routine_index(PointSlot& slot, const char* name, int) {
  return slot.get(Vexlor::IO_F, name);
}
template <std::size_t N>
int32_t routine_index(PointRow<N>& row, const char* format, int i) {
  return row.get(i, Vexlor::IO_F, format, i + 1);
}

}  // namespace vexlor::detail
