// Wake-ups on Windows: the sleeper waits on an auto-reset event that a post sets only when the
// state says a thread sleeps.
#include "os/windows_api.h"

#include "os/wakeup.h"

namespace vexlor::os {

Wakeup::Wakeup() {
  native_ = reinterpret_cast<intptr_t>(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

Wakeup::~Wakeup() {
  if (native_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
}

void Wakeup::post() {
  if (state_.exchange(1, std::memory_order_acq_rel) == -1) {
    ::SetEvent(reinterpret_cast<HANDLE>(native_));
  }
}

void Wakeup::wait() {
  for (;;) {
    int32_t s = state_.load(std::memory_order_acquire);
    if (s == 1) {
      if (state_.compare_exchange_weak(s, 0, std::memory_order_acq_rel)) return;
      continue;
    }
    if (s == 0 && !state_.compare_exchange_weak(s, -1, std::memory_order_acq_rel)) continue;
    if (native_ == 0) {
      ::Sleep(1);  // no event: poll
    } else {
      ::WaitForSingleObject(reinterpret_cast<HANDLE>(native_), INFINITE);
    }
  }
}

}  // namespace vexlor::os
