// Modules as the scheduler sees them: annotations, alarm bases, IDs and names by kind, counts,
// the priorities and transfer groups chosen by module kind, and which jobs use a module.
#include <vexlor/frame.h>

#include "scheduler/block_access.h"

namespace vexlor::detail::sch {
namespace {

// Entry [type][index] of one of the system block's per-kind tables, or null.
template <typename T, std::size_t Kinds, std::size_t Modules>
const T* module_entry(T (Vexlor::MEM_SYSTEM_STRU::*table)[Kinds][Modules], int type, int index) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr || type < 0 || index < 0 || static_cast<std::size_t>(type) >= Kinds ||
      static_cast<std::size_t>(index) >= Modules) {
    return nullptr;
  }
  return &(db->system_block->*table)[type][index];
}

// True when `flag(i, job)` is set for some job below the carrier count.
template <typename Flag>
bool any_job(int i, Flag flag) {
  const int jobs = bounded(Vexlor::VSystem_Get_CM_Count(), kCarriers);
  for (int job = 0; job < jobs; ++job) {
    if (flag(i, job)) return true;
  }
  return false;
}

}  // namespace
}  // namespace vexlor::detail::sch

namespace Vexlor {

namespace s = vexlor::detail::sch;

const char* VSCH_Get_Module_Annotation(int type, int index) {
  const auto* text = s::module_entry(&MEM_SYSTEM_STRU::module_annotations, type, index);
  return text == nullptr ? nullptr : *text;
}

int VSCH_Get_Module_Alarm_Base(int type, int index) {
  const int32_t* base = s::module_entry(&MEM_SYSTEM_STRU::module_alarm_bases, type, index);
  return base == nullptr ? 0 : *base;
}

const char* VSCH_Get_CM_Module_ID(int i) { return VSCH_Get_Module_ID(MODULE_CM, i); }
const char* VSCH_Get_BM_Module_ID(int i) { return VSCH_Get_Module_ID(MODULE_BM, i); }
const char* VSCH_Get_TM_Module_ID(int i) { return VSCH_Get_Module_ID(MODULE_TM, i); }
const char* VSCH_Get_PM_Module_ID(int i) { return VSCH_Get_Module_ID(MODULE_PM, i); }
const char* VSCH_Get_CM_Module_Name(int i) { return VSCH_Get_Module_Name(MODULE_CM, i); }
const char* VSCH_Get_BM_Module_Name(int i) { return VSCH_Get_Module_Name(MODULE_BM, i); }
const char* VSCH_Get_TM_Module_Name(int i) { return VSCH_Get_Module_Name(MODULE_TM, i); }
const char* VSCH_Get_PM_Module_Name(int i) { return VSCH_Get_Module_Name(MODULE_PM, i); }

int VSCH_Get_CM_Count() { return VSystem_Get_CM_Count(); }
int VSCH_Get_BM_Count() { return VSystem_Get_BM_Count(); }
int VSCH_Get_TM_Count() { return VSystem_Get_TM_Count(); }
int VSCH_Get_PM_Count() { return VSystem_Get_PM_Count(); }

// ---- By module kind ---------------------------------------------------------------------------

int VSCH_Get_Pick_Priority(int type, int i) {
  switch (type) {
    case MODULE_CM:
      return VSCH_Get_CM_Pick_Priority(i);
    case MODULE_BM:
      return VSCH_Get_BM_Pick_Priority(i);
    case MODULE_TM:
      return VSCH_Get_TM_Pick_Priority(i);
    case MODULE_PM:
      return VSCH_Get_PM_Pick_Priority(i);
    default:
      return 0;
  }
}

int VSCH_Get_Place_Priority(int type, int i) {
  switch (type) {
    case MODULE_CM:
      return VSCH_Get_CM_Place_Priority(i);
    case MODULE_BM:
      return VSCH_Get_BM_Place_Priority(i);
    case MODULE_TM:
      return VSCH_Get_TM_Place_Priority(i);
    case MODULE_PM:
      return VSCH_Get_PM_Place_Priority(i);
    default:
      return 0;
  }
}

bool VSCH_Set_Pick_Priority(int type, int i, int value) {
  switch (type) {
    case MODULE_CM:
      return VSCH_Set_CM_Pick_Priority(i, value);
    case MODULE_BM:
      return VSCH_Set_BM_Pick_Priority(i, value);
    case MODULE_TM:
      return VSCH_Set_TM_Pick_Priority(i, value);
    case MODULE_PM:
      return VSCH_Set_PM_Pick_Priority(i, value);
    default:
      return false;
  }
}

bool VSCH_Set_Place_Priority(int type, int i, int value) {
  switch (type) {
    case MODULE_CM:
      return VSCH_Set_CM_Place_Priority(i, value);
    case MODULE_BM:
      return VSCH_Set_BM_Place_Priority(i, value);
    case MODULE_TM:
      return VSCH_Set_TM_Place_Priority(i, value);
    case MODULE_PM:
      return VSCH_Set_PM_Place_Priority(i, value);
    default:
      return false;
  }
}

bool VSCH_Get_TM_PickGroup(int tm, int type, int i) {
  switch (type) {
    case MODULE_CM:
      return VSCH_Get_TM_PickGroup_CM(tm, i);
    case MODULE_BM:
      return VSCH_Get_TM_PickGroup_BM(tm, i);
    case MODULE_PM:
      return VSCH_Get_TM_PickGroup_PM(tm, i);
    default:
      return false;
  }
}

bool VSCH_Get_TM_PlaceGroup(int tm, int type, int i) {
  switch (type) {
    case MODULE_CM:
      return VSCH_Get_TM_PlaceGroup_CM(tm, i);
    case MODULE_BM:
      return VSCH_Get_TM_PlaceGroup_BM(tm, i);
    case MODULE_PM:
      return VSCH_Get_TM_PlaceGroup_PM(tm, i);
    default:
      return false;
  }
}

// ---- Job summaries ----------------------------------------------------------------------------

bool VSCH_Get_Job_Running2() {
  return s::any_job(0, [](int, int job) { return VSCH_Get_Job_Running(job); });
}

bool VSCH_Get_BM_Job_Using2(int i) {
  return s::any_job(i, [](int m, int job) { return VSCH_Get_BM_Job_Using(m, job); });
}

bool VSCH_Get_PM_Job_Using2(int i) {
  return s::any_job(i, [](int m, int job) { return VSCH_Get_PM_Job_Using(m, job); });
}

bool VSCH_Get_TM_Job_Using2(int i) {
  return s::any_job(i, [](int m, int job) { return VSCH_Get_TM_Job_Using(m, job); });
}

int VSCH_Get_PM_Job_Side(int i) {
  const int jobs = s::bounded(VSystem_Get_CM_Count(), s::kCarriers);
  for (int job = 0; job < jobs; ++job) {
    if (VSCH_Get_PM_Job_Using(i, job)) return job;
  }
  return -1;
}

}  // namespace Vexlor
