// The scheduler's shared picture of the equipment: which modules are enabled and ready, which
// wafer sits where and where it came from, job signals, each wafer's cluster recipe and flow,
// robot animation positions and scheduler options.
//
// Field items, one getter VSCH_Get_<item> and one setter VSCH_Set_<item> per row of the block
// tables (<vexlor/scheduler/blocks.def>): the getter takes the item's indices, the setter the
// indices and then the value. Values are bool, int, double, const char* (a text in shared
// memory; setters copy at most 63 characters) or WAFER_ORDER* (a reference the scheduler
// stored). Every setter takes effect at once for every process and returns true; an index
// outside the item's entries, a null text or a library that is not started writes nothing and
// returns false, and the getter then returns false, 0, 0.0, "" or null.
//
// Items that live in named points (<vexlor/scheduler/forwarded.def>) call the named point
// accessor of the same parameters and return its result.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>
#include <vexlor/util.h>

// The value type of each item type, as getters return it and setters take it.
#define VEXLOR_SCH_VALUE_BOOL bool
#define VEXLOR_SCH_VALUE_INT int
#define VEXLOR_SCH_VALUE_DOUBLE double
#define VEXLOR_SCH_VALUE_TEXT const char*
#define VEXLOR_SCH_VALUE_ORDER WAFER_ORDER*
#define VEXLOR_SCH_VALUE_DIGITAL int
#define VEXLOR_SCH_VALUE_STRING const char*

namespace Vexlor {

// clang-format off
#define VEXLOR_SCH_ITEM0(block, item, type, offset) \
  VEXLOR_API VEXLOR_SCH_VALUE_##type VSCH_Get_##item(); \
  VEXLOR_API bool VSCH_Set_##item(VEXLOR_SCH_VALUE_##type value);
#define VEXLOR_SCH_ITEM1(block, item, type, offset, ni, si) \
  VEXLOR_API VEXLOR_SCH_VALUE_##type VSCH_Get_##item(int i); \
  VEXLOR_API bool VSCH_Set_##item(int i, VEXLOR_SCH_VALUE_##type value);
#define VEXLOR_SCH_ITEM2(block, item, type, offset, ni, si, nj, sj) \
  VEXLOR_API VEXLOR_SCH_VALUE_##type VSCH_Get_##item(int i, int j); \
  VEXLOR_API bool VSCH_Set_##item(int i, int j, VEXLOR_SCH_VALUE_##type value);
#define VEXLOR_SCH_ITEM3(block, item, type, offset, ni, si, nj, sj, nk, sk) \
  VEXLOR_API VEXLOR_SCH_VALUE_##type VSCH_Get_##item(int i, int j, int k); \
  VEXLOR_API bool VSCH_Set_##item(int i, int j, int k, VEXLOR_SCH_VALUE_##type value);
#define VEXLOR_SCH_ITEM4(block, item, type, offset, ni, si, nj, sj, nk, sk, nl, sl) \
  VEXLOR_API VEXLOR_SCH_VALUE_##type VSCH_Get_##item(int i, int j, int k, int l); \
  VEXLOR_API bool VSCH_Set_##item(int i, int j, int k, int l, VEXLOR_SCH_VALUE_##type value);
#include <vexlor/scheduler/blocks.def>
#include <vexlor/scheduler/items_end.h>

#define VEXLOR_SCH_FORWARD1(item, point_item, kind) \
  VEXLOR_API VEXLOR_SCH_VALUE_##kind VSCH_Get_##item(int i); \
  VEXLOR_API bool VSCH_Set_##item(int i, VEXLOR_SCH_VALUE_##kind value);
#define VEXLOR_SCH_FORWARD2(item, point_item, kind) \
  VEXLOR_API VEXLOR_SCH_VALUE_##kind VSCH_Get_##item(int i, int j); \
  VEXLOR_API bool VSCH_Set_##item(int i, int j, VEXLOR_SCH_VALUE_##kind value);
#include <vexlor/scheduler/forwarded.def>
// clang-format on

// ---- Module identity and counts --------------------------------------------------------------
// Module kinds: 0 carrier, 1 buffer, 2 transfer, 3 process module.
// The annotation of a module (null for a negative or too large type or index), its alarm base
// (0 then).
VEXLOR_API const char* VSCH_Get_Module_Annotation(int type, int index);
VEXLOR_API int VSCH_Get_Module_Alarm_Base(int type, int index);
VEXLOR_API const char* VSCH_Get_CM_Module_ID(int i);
VEXLOR_API const char* VSCH_Get_BM_Module_ID(int i);
VEXLOR_API const char* VSCH_Get_TM_Module_ID(int i);
VEXLOR_API const char* VSCH_Get_PM_Module_ID(int i);
VEXLOR_API const char* VSCH_Get_CM_Module_Name(int i);
VEXLOR_API const char* VSCH_Get_BM_Module_Name(int i);
VEXLOR_API const char* VSCH_Get_TM_Module_Name(int i);
VEXLOR_API const char* VSCH_Get_PM_Module_Name(int i);
// The configured module counts (VSystem_Get_CM_Count and its sisters).
VEXLOR_API int VSCH_Get_CM_Count();
VEXLOR_API int VSCH_Get_BM_Count();
VEXLOR_API int VSCH_Get_TM_Count();
VEXLOR_API int VSCH_Get_PM_Count();

// ---- Carrier wafers, derived from the slot status (1 empty, 2 present) -----------------------
// 0 for an empty slot j of carrier i, else j+1.
VEXLOR_API int VSCH_Get_CM_Wafer_Number(int i, int j);
// n = 0 empties the slot, n = j+1 fills it, any other n changes nothing; true.
VEXLOR_API bool VSCH_Set_CM_Wafer_Number(int i, int j, int n);
VEXLOR_API int VSCH_Get_CM_Wafer_Source(int i, int j);  // i: a carrier's wafers come from it
VEXLOR_API bool VSCH_Set_CM_Wafer_Source(int i, int j, int source);  // stores nothing; true
// Every slot below the slot count of every carrier: true only if every write succeeded.
VEXLOR_API bool VSCH_Set_CM_Wafer_Status_All(int status);
VEXLOR_API bool VSCH_Set_Wafer_Trace_All(const char* text);

// ---- Wafer traces of module positions --------------------------------------------------------
// Writes the trace of the wafer at slot (finger) j of module i to its home position (its source
// carrier and slot); false for a position outside the module counts or without wafer.
VEXLOR_API bool VSCH_Set_BM_Wafer_Trace(int i, int j, const char* text);
VEXLOR_API bool VSCH_Set_PM_Wafer_Trace(int i, int j, const char* text);
VEXLOR_API bool VSCH_Set_TM_Wafer_Trace(int i, int j, const char* text);

// ---- Free positions --------------------------------------------------------------------------
// The first slot (finger) of module i without wafer, scanning up from 0 when ascending, else
// down from the last; stored through `slot` when it is not null. False when none is free.
VEXLOR_API bool VSCH_Get_CM_Free_Slot(int i, int* slot, bool ascending);
VEXLOR_API bool VSCH_Get_BM_Free_Slot(int i, int* slot, bool ascending);
VEXLOR_API bool VSCH_Get_PM_Free_Slot(int i, int* slot, bool ascending);
VEXLOR_API bool VSCH_Get_TM_Free_Finger(int i, int* slot, bool ascending);
// How many of carrier i's slot numbers are neither in the carrier nor anywhere in the cluster.
VEXLOR_API int VSCH_Get_CM_Free_Slot_Number(int i);

// ---- Job summaries ---------------------------------------------------------------------------
VEXLOR_API bool VSCH_Get_Job_Running2();  // some job below the carrier count runs
VEXLOR_API bool VSCH_Get_BM_Job_Using2(int i);
VEXLOR_API bool VSCH_Get_PM_Job_Using2(int i);
VEXLOR_API bool VSCH_Get_TM_Job_Using2(int i);
VEXLOR_API int VSCH_Get_PM_Job_Side(int i);  // the first job using process module i, or -1

// ---- By module kind --------------------------------------------------------------------------
// 0 (getters) or false (setters) for a type other than 0 to 3.
VEXLOR_API int VSCH_Get_Pick_Priority(int type, int i);
VEXLOR_API int VSCH_Get_Place_Priority(int type, int i);
VEXLOR_API bool VSCH_Set_Pick_Priority(int type, int i, int value);
VEXLOR_API bool VSCH_Set_Place_Priority(int type, int i, int value);
// Transfer module tm's pick (place) group flag of module i of kind 0, 1 or 3; false otherwise.
VEXLOR_API bool VSCH_Get_TM_PickGroup(int tm, int type, int i);
VEXLOR_API bool VSCH_Get_TM_PlaceGroup(int tm, int type, int i);

// ---- Clearing and counting -------------------------------------------------------------------
VEXLOR_API bool VSCH_Clr_Job_Signal(int i);  // the ten signals of job i
VEXLOR_API bool VSCH_Clr_BM_Wafer_Number_All();
VEXLOR_API bool VSCH_Clr_PM_Wafer_Number_All();
VEXLOR_API bool VSCH_Clr_TM_Wafer_Number_All();
// Every cluster entry of wafer (i, j) to -1 and its cluster step to 0.
VEXLOR_API bool VSCH_Clr_Wafer_Cluster_PM_Side(int i, int j);
// The flow times, counter, start and end time of wafer (i, j) to 0; the flow modules stay.
VEXLOR_API bool VSCH_Clr_Wafer_Flow_All(int i, int j);
VEXLOR_API bool VSCH_Inc_Wafer_Cluster_Step(int i, int j);
VEXLOR_API bool VSCH_Inc_Wafer_Flow_Counter(int i, int j);

// ---- Robot animation, point first ------------------------------------------------------------
// Robot i (and arm j): the analog points "CTC.Rb%d_Movement", "CTC.Rb%d_UpDown",
// "CTC.Rb%d_Rotation" and "CTC.Rb%d_Extension%s" when the equipment has them, else the
// fallback fields RbtAni_MoveX and its sisters of the robot animation block.
VEXLOR_API double VSCH_Get_RbtAni_MoveX(int i);
VEXLOR_API double VSCH_Get_RbtAni_MoveY(int i);
VEXLOR_API double VSCH_Get_RbtAni_Rotate(int i);
VEXLOR_API double VSCH_Get_RbtAni_Extend(int i, int j);
VEXLOR_API bool VSCH_Set_RbtAni_MoveX(int i, double value);
VEXLOR_API bool VSCH_Set_RbtAni_MoveY(int i, double value);
VEXLOR_API bool VSCH_Set_RbtAni_Rotate(int i, double value);
VEXLOR_API bool VSCH_Set_RbtAni_Extend(int i, int j, double value);

// Formats into 1024 characters and writes the text as a rolling message to the string point
// "CTC.SCHEDULER_MESSAGE"; false when the equipment has no such point.
VEXLOR_API bool VSCH_Set_MessageF(const char* format, ...) VEXLOR_PRINTF(1, 2);

// ---- Inspection waits ------------------------------------------------------------------------
// Holds process module pm while wafers that go before its wafer (slot 0) wait for inspection;
// false when the module holds no wafer, its carrier is not running automatically or the wait
// is interrupted; true when nothing before it waits, or on the routine's exit flag.
VEXLOR_API bool VSCH_Wafer_Inspect_Wait(int pm);
// Waits until the inspection of wafer `number` (1 to 25) of carrier `source` is done; false on
// bad arguments, an interrupted wait or the routine's exit flag.
VEXLOR_API bool VSCH_Wafer_Inspect_Wait(int source, int number);

}  // namespace Vexlor
