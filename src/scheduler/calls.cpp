// The calls by routine kind, expanded from the kind table: each formats its text, resolves the
// kind's routine through the kind's cache and hands over to the function operation.
#include "vexlor/scheduler/calls.h"

#include <cstddef>

#include "points/typed_point.h"
#include "scheduler/routine_kinds.h"
#include "vexlor/functions.h"
#include "vexlor/run_control.h"

namespace vexlor::detail {
namespace sch {

#define VEXLOR_SCH_CACHE_SINGLE(slots) PointSlot
#define VEXLOR_SCH_CACHE_ROW(slots) PointRow<slots>
#define VEXLOR_SCH_KIND(kind, shape, name, slots, calls, run, format) \
  VEXLOR_SCH_CACHE_##shape(slots) kind##_cache;
#include "vexlor/scheduler/calls.def"
#undef VEXLOR_SCH_CACHE_SINGLE
#undef VEXLOR_SCH_CACHE_ROW

}  // namespace sch

namespace {

constexpr std::size_t kCallTextSize = 512;

enum class RunMode { PLAIN, FREE };

// `op(index)` on the kind's routine, or `failure` when it cannot be resolved.
template <typename Result, typename Cache, typename Op>
Result on_routine(Cache& cache, const char* name, int i, Result failure, Op op) {
  const int32_t index = routine_index(cache, name, i);
  return index < 0 ? failure : op(index);
}

template <RunMode M, typename Cache>
Vexlor::FUNC_STATUS run_routine(Cache& cache, const char* name, int i, const char* text) {
  return on_routine(cache, name, i, Vexlor::SYS_ABORTED, [text](int index) {
    return M == RunMode::FREE ? Vexlor::VFunction_Run_Free(index, text)
                              : Vexlor::VFunction_Run(index, text);
  });
}

template <RunMode M, typename Cache>
bool start_routine(Cache& cache, const char* name, int i, const char* text) {
  return on_routine(cache, name, i, false, [text](int index) {
    return M == RunMode::FREE ? Vexlor::VFunction_Run_Set_Free(index, text)
                              : Vexlor::VFunction_Run_Set(index, text);
  });
}

template <typename Cache>
Vexlor::FUNC_STATUS wait_routine(Cache& cache, const char* name, int i) {
  return on_routine(cache, name, i, Vexlor::SYS_ABORTED,
                    [](int index) { return Vexlor::VFunction_Run_Wait(index); });
}

template <typename Cache>
Vexlor::FUNC_STATUS read_routine(Cache& cache, const char* name, int i) {
  return on_routine(cache, name, i, Vexlor::SYS_ABORTED,
                    [](int index) { return Vexlor::VFunction_Get_Run_Status(index); });
}

template <typename Cache>
bool signal_routine(Cache& cache, const char* name, int i, const char* text) {
  return on_routine(cache, name, i, false,
                    [text](int index) { return Vexlor::VFunction_Send_Event(index, text); });
}

template <typename Cache>
bool routine_is_virtual(Cache& cache, const char* name, int i) {
  return on_routine(cache, name, i, false,
                    [](int index) { return Vexlor::VFunction_Get_Virtual_Flag(index); });
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

// clang-format off
#define VEXLOR_SCH_I_SINGLE 0
#define VEXLOR_SCH_I_ROW i

#define VEXLOR_SCH_DEFINE_FORMAT_AS(result, call, shape, type, op)                                 \
  result call(VEXLOR_SCH_FORMAT_PARAMS_##shape(type)) {                                            \
    VEXLOR_FORMAT_ARGS(text, d::kCallTextSize, format);                                            \
    return op;                                                                                     \
  }
#define VEXLOR_SCH_DEFINE_FORMAT_CONST_FMT(result, call, shape, op)                                \
  VEXLOR_SCH_DEFINE_FORMAT_AS(result, call, shape, const char*, op)
#define VEXLOR_SCH_DEFINE_FORMAT_CHAR_FMT(result, call, shape, op)                                 \
  VEXLOR_SCH_DEFINE_FORMAT_AS(result, call, shape, char*, op)                                      \
  VEXLOR_SCH_DEFINE_FORMAT_AS(result, call, shape, const char*, op)

#define VEXLOR_SCH_ROUTINE(K, shape) d::sch::K##_cache, d::sch::K##_name, VEXLOR_SCH_I_##shape

#define VEXLOR_SCH_DEFINE_EVENT(K, shape, run, format)                                             \
  VEXLOR_SCH_DEFINE_FORMAT_##format(bool, VSCH_EVENT_F_##K, shape,                                 \
      d::signal_routine(VEXLOR_SCH_ROUTINE(K, shape), text))
#define VEXLOR_SCH_DEFINE_RUN(K, shape, run, format)                                               \
  VEXLOR_SCH_DEFINE_FORMAT_##format(FUNC_STATUS, VSCH_RUN_F_##K, shape,                            \
      d::run_routine<d::RunMode::run>(VEXLOR_SCH_ROUTINE(K, shape), text))                         \
  VEXLOR_SCH_DEFINE_FORMAT_##format(bool, VSCH_RUN_SET_F_##K, shape,                               \
      d::start_routine<d::RunMode::run>(VEXLOR_SCH_ROUTINE(K, shape), text))                       \
  FUNC_STATUS VSCH_RUN_WAIT_F_##K(VEXLOR_SCH_PARAMS_##shape) {                                     \
    return d::wait_routine(VEXLOR_SCH_ROUTINE(K, shape));                                          \
  }                                                                                                \
  FUNC_STATUS VSCH_READ_F_##K(VEXLOR_SCH_PARAMS_##shape) {                                         \
    return d::read_routine(VEXLOR_SCH_ROUTINE(K, shape));                                          \
  }                                                                                                \
  VEXLOR_SCH_DEFINE_EVENT(K, shape, run, format)
#define VEXLOR_SCH_DEFINE_RUN_VIRT(K, shape, run, format)                                          \
  VEXLOR_SCH_DEFINE_RUN(K, shape, run, format)                                                     \
  bool VSCH_VIRTUAL_F_##K(VEXLOR_SCH_PARAMS_##shape) {                                             \
    return d::routine_is_virtual(VEXLOR_SCH_ROUTINE(K, shape));                                    \
  }

#define VEXLOR_SCH_KIND(kind, shape, name, slots, calls, run, format)                              \
  VEXLOR_SCH_DEFINE_##calls(kind, shape, run, format)
#include "vexlor/scheduler/calls.def"
// clang-format on

}  // namespace Vexlor
