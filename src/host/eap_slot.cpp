// Where host event lines go: the function index of the host link routine "EAP_ENGINE", looked up
// once per process and kept, and the sender every report goes through.
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "vexlor/frame.h"
#include "vexlor/functions.h"
#include "vexlor/host.h"
#include "vexlor/points.h"
#include "vexlor/run_control.h"

namespace vexlor::detail {
namespace {

constexpr char kEapName[] = "EAP_ENGINE";

// -99999999 until looked up, then the index, or -1 when the equipment has no such routine. Two
// threads that look it up at once find the same answer.
std::atomic<int32_t> g_eap_slot{Vexlor::VEXLOR_UNUSED_POINT};

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VFA_IsValid() {
  const int32_t slot = d::g_eap_slot.load(std::memory_order_relaxed);
  if (slot == -1) return false;
  if (slot >= 0) return true;
  // Before start-up there is no table to search: keep the slot open for a later call.
  if (MMAP_DB() == nullptr) return false;
  const int count = VSystem_Get_Function_Count();
  for (int i = 0; i < count; ++i) {
    if (VStr_Compare_L(VFunction_Get_Name(i), d::kEapName)) {
      d::g_eap_slot.store(i, std::memory_order_relaxed);
      return true;
    }
  }
  d::g_eap_slot.store(-1, std::memory_order_relaxed);
  return false;
}

bool VFA_SEND_EVENT(const char* format, ...) {
  if (!VFA_IsValid()) return false;
  char line[512] = "";
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
  }
  int32_t slot = d::g_eap_slot.load(std::memory_order_relaxed);
  if (slot == VEXLOR_UNUSED_POINT) {
    int point = -1;
    if (!VIO_Find_PointF(&point, IO_F, "%s", d::kEapName)) return false;
    slot = point;
  }
  return slot >= 0 && VFunction_Send_Event(slot, line);
}

}  // namespace Vexlor
