// Wake-ups on Linux: the state word is the futex the sleeper waits on.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "os/wakeup.h"

namespace vexlor::os {
namespace {

void futex(std::atomic<int32_t>& word, int op, int32_t value) {
  ::syscall(SYS_futex, reinterpret_cast<int32_t*>(&word), op | FUTEX_PRIVATE_FLAG, value, nullptr,
            nullptr, 0);
}

}  // namespace

Wakeup::Wakeup() = default;
Wakeup::~Wakeup() = default;

void Wakeup::post() {
  if (state_.exchange(1, std::memory_order_acq_rel) == -1) futex(state_, FUTEX_WAKE, 1);
}

void Wakeup::wait() {
  for (;;) {
    int32_t s = state_.load(std::memory_order_acquire);
    if (s == 1) {
      if (state_.compare_exchange_weak(s, 0, std::memory_order_acq_rel)) return;
      continue;
    }
    if (s == 0 && !state_.compare_exchange_weak(s, -1, std::memory_order_acq_rel)) continue;
    futex(state_, FUTEX_WAIT, -1);  // returns at once when the state is no longer -1
  }
}

}  // namespace vexlor::os
