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

void Wakeup::wake() { futex(state_, FUTEX_WAKE, 1); }

// Returns at once when the state is no longer -1.
void Wakeup::sleep() { futex(state_, FUTEX_WAIT, -1); }

}  // namespace vexlor::os
