// Wake-ups: the state word every platform shares; the platform sleeps and wakes the thread.
#include "os/wakeup.h"

namespace vexlor::os {

void Wakeup::post() {
  if (state_.exchange(1, std::memory_order_acq_rel) == -1) wake();
}

void Wakeup::wait() {
  for (;;) {
    int32_t s = state_.load(std::memory_order_acquire);
    if (s == 1) {
      if (state_.compare_exchange_weak(s, 0, std::memory_order_acq_rel)) return;
      continue;
    }
    if (s == 0 && !state_.compare_exchange_weak(s, -1, std::memory_order_acq_rel)) continue;
    sleep();
  }
}

}  // namespace vexlor::os
