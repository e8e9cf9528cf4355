// The transfer modules' run locks: one named system mutex per transfer module, created on its
// first lock in this process and kept for the life of the process.
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>

#include "os/clock.h"
#include "os/named_mutex.h"
#include "vexlor/frame.h"
#include "vexlor/functions.h"
#include "vexlor/scheduler/control.h"

namespace vexlor::detail {
namespace {

constexpr int kTransferModules = 10;
constexpr uint32_t kWaitSliceMs = 10000;
constexpr char kLock[] = "Vexlor::VSCH_TM_Mutex_Lock";
constexpr char kUnlock[] = "Vexlor::VSCH_TM_Mutex_Unlock";

// Handles by transfer module; two threads creating one at once keep the first.
std::array<std::atomic<os::MutexHandle>, kTransferModules> tm_mutexes{};

bool in_range(int tm) { return tm >= 0 && tm < kTransferModules; }

// This process's handle of the module's mutex; null (after the log line) when the system
// refused it, and the next lock tries again.
os::MutexHandle tm_mutex(int tm, int line) {
  std::atomic<os::MutexHandle>& slot = tm_mutexes[static_cast<std::size_t>(tm)];
  os::MutexHandle handle = slot.load(std::memory_order_acquire);
  if (handle != nullptr) return handle;
  char name[128];
  std::snprintf(name, sizeof name, "TM%02d_RUN_LOCKING_MUTEX", tm + 1);
  handle = os::mutex_create(name, false);
  const uint32_t error = os::mutex_last_error();
  if (handle == nullptr || (error != os::kErrorSuccess && error != os::kErrorAlreadyExists)) {
    Vexlor::VSystem_Log(Vexlor::LOG_ERR, "TM%d 运行互斥锁创建失败.[错误信息:%s]-[位置:%s:%d]",
                        tm + 1, Vexlor::VStr_Get_SysErrMsg(), kLock, line);
    if (handle != nullptr) os::mutex_close(handle);
    return nullptr;
  }
  os::MutexHandle kept = nullptr;
  if (!slot.compare_exchange_strong(kept, handle, std::memory_order_acq_rel)) {
    os::mutex_close(handle);
    return kept;
  }
  return handle;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;
namespace os = vexlor::os;

bool VSCH_TM_Mutex_Lock(int tm) {
  if (!d::in_range(tm)) return false;
  os::MutexHandle handle = d::tm_mutex(tm, __LINE__);
  if (handle == nullptr) return false;
  for (;;) {
    if (VFunction_Get_Exit_Flag()) return false;
    const uint32_t result = os::mutex_wait(handle, d::kWaitSliceMs);
    // A dead owner's mutex is ours: the robot sequence it guarded ended with that process.
    if (result == os::kWaitObject0 || result == os::kWaitAbandoned) return true;
    VPrint_Yellow(VFunction_Get_Name(), "等待 TM%d 释放 Mutex 运行互斥锁.[位置:%s:%d]", tm + 1,
                  d::kLock, __LINE__);
    // A failed wait returns at once; pause so that the loop stays a wait, not a spin.
    if (result != os::kWaitTimeout) os::sleep_milliseconds(10);
  }
}

bool VSCH_TM_Mutex_Unlock(int tm) {
  os::MutexHandle handle =
      d::in_range(tm) ? d::tm_mutexes[static_cast<std::size_t>(tm)].load(std::memory_order_acquire)
                      : nullptr;
  if (handle == nullptr) {
    VPrint_Red(VFunction_Get_Name(), "TM%d Run Mutex运行互斥锁为空.释放失败.[位置:%s:%d]", tm + 1,
               d::kUnlock, __LINE__);
    return false;
  }
  if (!os::mutex_release(handle)) {
    VSystem_Log(LOG_ERR, "TM%d Run Mutex运行互斥锁释放失败.[错误信息:%s]-[位置:%s:%d]", tm + 1,
                VStr_Get_SysErrMsg(), d::kUnlock, __LINE__);
    return false;
  }
  return true;
}

}  // namespace Vexlor
