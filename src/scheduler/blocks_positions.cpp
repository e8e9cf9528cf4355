// Wafer positions across the cluster: traces written to a wafer's home position, free slots and
// fingers, the free slot numbers of a carrier, and the set-all and clear-all calls.
#include <vexlor/frame.h>
#include <vexlor/named.h>

#include "scheduler/block_access.h"

namespace vexlor::detail::sch {
namespace {

constexpr int kWaferNumbers = 25;  // wafer numbers are 1 to 25, a carrier's slots

// The wafer positions of one module kind: how many modules, how many slots each, and the
// number and source of the wafer at a position.
struct Positions {
  int (*count)();
  int (*slot_count)(int i);
  int (*number)(int i, int j);
  int (*source)(int i, int j);
  bool (*set_number)(int i, int j, int n);
  int max_modules, max_slots;
  int modules() const { return bounded(count(), max_modules); }
  int slots(int i) const { return bounded(slot_count(i), max_slots); }
};

constexpr Positions kCarrier{Vexlor::VSystem_Get_CM_Count,
                             Vexlor::VSCH_Get_CM_Slot_Count,
                             Vexlor::VSCH_Get_CM_Wafer_Number,
                             Vexlor::VSCH_Get_CM_Wafer_Source,
                             Vexlor::VSCH_Set_CM_Wafer_Number,
                             kCarriers,
                             kCarrierSlots};
constexpr Positions kBuffer{Vexlor::VSystem_Get_BM_Count,
                            Vexlor::VSCH_Get_BM_Slot_Count,
                            Vexlor::VSCH_Get_BM_Wafer_Number,
                            Vexlor::VSCH_Get_BM_Wafer_Source,
                            Vexlor::VSCH_Set_BM_Wafer_Number,
                            kBuffers,
                            kBufferSlots};
constexpr Positions kProcess{Vexlor::VSystem_Get_PM_Count,
                             Vexlor::VSCH_Get_PM_Slot_Count,
                             Vexlor::VSCH_Get_PM_Wafer_Number,
                             Vexlor::VSCH_Get_PM_Wafer_Source,
                             Vexlor::VSCH_Set_PM_Wafer_Number,
                             kProcesses,
                             kProcessSlots};
constexpr Positions kTransfer{Vexlor::VSystem_Get_TM_Count,
                              Vexlor::VSCH_Get_TM_Finger_Count,
                              Vexlor::VSCH_Get_TM_Wafer_Number,
                              Vexlor::VSCH_Get_TM_Wafer_Source,
                              Vexlor::VSCH_Set_TM_Wafer_Number,
                              kTransfers,
                              kFingers};

bool trace(const Positions& p, int i, int j, const char* text) {
  if (i < 0 || i >= p.modules() || j < 0 || j >= p.slots(i)) return false;
  const int number = p.number(i, j);
  if (number <= 0) return false;
  return Vexlor::VIO_Set_CTC_Wafer_Trace(p.source(i, j), number - 1, text);
}

bool free_slot(const Positions& p, int i, int* slot, bool ascending) {
  const int slots = p.slots(i);
  for (int n = 0; n < slots; ++n) {
    const int j = ascending ? n : slots - 1 - n;
    if (p.number(i, j) != 0) continue;
    if (slot != nullptr) *slot = j;
    return true;
  }
  return false;
}

bool clear_numbers(const Positions& p) {
  bool all = true;
  const int modules = p.modules();
  for (int i = 0; i < modules; ++i) {
    const int slots = p.slots(i);
    for (int j = 0; j < slots; ++j) all = p.set_number(i, j, 0) && all;
  }
  return all;
}

// Clears flag n-1 for every wafer n anywhere in the modules of one kind.
void clear_present(const Positions& p, bool (&flags)[kWaferNumbers]) {
  const int modules = p.modules();
  for (int i = 0; i < modules; ++i) {
    const int slots = p.slots(i);
    for (int j = 0; j < slots; ++j) {
      const int n = p.number(i, j);
      if (n > 0 && n <= kWaferNumbers) flags[n - 1] = false;
    }
  }
}

// Calls `write(i, j)` for every slot of every carrier; true only if every call succeeded.
template <typename Write>
bool every_carrier_slot(Write write) {
  bool all = true;
  const int carriers = kCarrier.modules();
  for (int i = 0; i < carriers; ++i) {
    const int slots = kCarrier.slots(i);
    for (int j = 0; j < slots; ++j) all = write(i, j) && all;
  }
  return all;
}

}  // namespace
}  // namespace vexlor::detail::sch

namespace Vexlor {

namespace s = vexlor::detail::sch;

bool VSCH_Set_BM_Wafer_Trace(int i, int j, const char* text) {
  return s::trace(s::kBuffer, i, j, text);
}
bool VSCH_Set_PM_Wafer_Trace(int i, int j, const char* text) {
  return s::trace(s::kProcess, i, j, text);
}
bool VSCH_Set_TM_Wafer_Trace(int i, int j, const char* text) {
  return s::trace(s::kTransfer, i, j, text);
}

bool VSCH_Get_CM_Free_Slot(int i, int* slot, bool ascending) {
  return s::free_slot(s::kCarrier, i, slot, ascending);
}
bool VSCH_Get_BM_Free_Slot(int i, int* slot, bool ascending) {
  return s::free_slot(s::kBuffer, i, slot, ascending);
}
bool VSCH_Get_PM_Free_Slot(int i, int* slot, bool ascending) {
  return s::free_slot(s::kProcess, i, slot, ascending);
}
bool VSCH_Get_TM_Free_Finger(int i, int* slot, bool ascending) {
  return s::free_slot(s::kTransfer, i, slot, ascending);
}

int VSCH_Get_CM_Free_Slot_Number(int i) {
  bool flags[s::kWaferNumbers];
  for (bool& f : flags) f = true;
  const int slots = s::kCarrier.slots(i);
  for (int j = 0; j < slots; ++j) {
    if (VSCH_Get_CM_Wafer_Number(i, j) > 0) flags[j] = false;
  }
  s::clear_present(s::kProcess, flags);
  s::clear_present(s::kTransfer, flags);
  s::clear_present(s::kBuffer, flags);
  int free = 0;
  for (int j = 0; j < slots; ++j) free += flags[j] ? 1 : 0;
  return free;
}

bool VSCH_Set_CM_Wafer_Status_All(int status) {
  return s::every_carrier_slot(
      [&](int i, int j) { return VIO_Set_CTC_CMx_Wafer_Status(i, j, status); });
}

bool VSCH_Set_Wafer_Trace_All(const char* text) {
  return s::every_carrier_slot([&](int i, int j) { return VIO_Set_CTC_Wafer_Trace(i, j, text); });
}

bool VSCH_Clr_BM_Wafer_Number_All() { return s::clear_numbers(s::kBuffer); }
bool VSCH_Clr_PM_Wafer_Number_All() { return s::clear_numbers(s::kProcess); }
bool VSCH_Clr_TM_Wafer_Number_All() { return s::clear_numbers(s::kTransfer); }

}  // namespace Vexlor
