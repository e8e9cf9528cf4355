// Calls that address the scheduler's routines by kind and module instead of by name: run a
// routine and wait for its end, start it, wait for it, read its run status, send it an event,
// and ask whether a process routine is simulated. The kinds, their routine names and which
// calls each has are rows of <vexlor/scheduler/calls.def>.
//
// i is the zero-based module index; routine names number modules from 1
// (VSCH_READ_F_MAINT_BM(2) reads SCHEDULER_MAINT_BM3). Each kind resolves a routine's name to
// its function index once per process and keeps it; a routine that is not configured prints
// the lookup's line on first use and then fails quietly. Before start-up every call fails and
// resolves on a later call; an i outside the kind's cache fails without a lookup.
//
// Formats are expanded into 512 characters (longer output is cut) before the lookup, and the
// text goes unchanged to the run or event. Results are those of the function operation used
// (VFunction_Run or _Run_Free, _Run_Set or _Run_Set_Free, _Run_Wait, _Get_Run_Status,
// _Send_Event, _Get_Virtual_Flag); a routine that cannot be resolved gives SYS_ABORTED or false.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>
#include <vexlor/util.h>

// Parameter lists by shape (see calls.def): with a format of type `type`, and without.
#define VEXLOR_SCH_FORMAT_PARAMS_SINGLE(type) type format, ...
#define VEXLOR_SCH_FORMAT_PARAMS_ROW(type) int i, type format, ...
#define VEXLOR_SCH_PARAMS_SINGLE
#define VEXLOR_SCH_PARAMS_ROW int i
#define VEXLOR_SCH_CHECK_SINGLE VEXLOR_PRINTF(1, 2)
#define VEXLOR_SCH_CHECK_ROW VEXLOR_PRINTF(2, 3)

namespace Vexlor {

// clang-format off
#define VEXLOR_SCH_DECLARE_FORMAT_AS(result, call, shape, type)                                    \
  VEXLOR_API result call(VEXLOR_SCH_FORMAT_PARAMS_##shape(type)) VEXLOR_SCH_CHECK_##shape;
#define VEXLOR_SCH_DECLARE_FORMAT_CONST_FMT(result, call, shape)                                   \
  VEXLOR_SCH_DECLARE_FORMAT_AS(result, call, shape, const char*)
#define VEXLOR_SCH_DECLARE_FORMAT_CHAR_FMT(result, call, shape)                                    \
  VEXLOR_SCH_DECLARE_FORMAT_AS(result, call, shape, char*)                                         \
  VEXLOR_SCH_DECLARE_FORMAT_AS(result, call, shape, const char*)

#define VEXLOR_SCH_DECLARE_EVENT(K, shape, format)                                                 \
  VEXLOR_SCH_DECLARE_FORMAT_##format(bool, VSCH_EVENT_F_##K, shape)
#define VEXLOR_SCH_DECLARE_RUN(K, shape, format)                                                   \
  VEXLOR_SCH_DECLARE_FORMAT_##format(FUNC_STATUS, VSCH_RUN_F_##K, shape)                           \
  VEXLOR_SCH_DECLARE_FORMAT_##format(bool, VSCH_RUN_SET_F_##K, shape)                              \
  VEXLOR_API FUNC_STATUS VSCH_RUN_WAIT_F_##K(VEXLOR_SCH_PARAMS_##shape);                           \
  VEXLOR_API FUNC_STATUS VSCH_READ_F_##K(VEXLOR_SCH_PARAMS_##shape);                               \
  VEXLOR_SCH_DECLARE_EVENT(K, shape, format)
#define VEXLOR_SCH_DECLARE_RUN_VIRT(K, shape, format)                                              \
  VEXLOR_SCH_DECLARE_RUN(K, shape, format)                                                         \
  VEXLOR_API bool VSCH_VIRTUAL_F_##K(VEXLOR_SCH_PARAMS_##shape);

#define VEXLOR_SCH_KIND(kind, shape, name, slots, calls, run, format)                              \
  VEXLOR_SCH_DECLARE_##calls(kind, shape, format)
#include <vexlor/scheduler/calls.def>
// clang-format on

#undef VEXLOR_SCH_DECLARE_RUN_VIRT
#undef VEXLOR_SCH_DECLARE_RUN
#undef VEXLOR_SCH_DECLARE_EVENT
#undef VEXLOR_SCH_DECLARE_FORMAT_CHAR_FMT
#undef VEXLOR_SCH_DECLARE_FORMAT_CONST_FMT
#undef VEXLOR_SCH_DECLARE_FORMAT_AS

}  // namespace Vexlor
