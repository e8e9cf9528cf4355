// A wake-up call between two threads of one process: one thread sleeps in wait() until another
// posts. Cheaper than a condition variable for a hand-off: a post to a thread that is not
// asleep makes no system call, and the woken thread takes no lock on its way out.
#pragma once

#include <atomic>
#include <cstdint>

namespace vexlor::os {

class Wakeup {
 public:
  Wakeup();
  ~Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  // Wakes the waiting thread, or makes its next wait() return at once. Posts that meet no
  // wait() in between count as one.
  void post();
  // Sleeps until a post since the last wait() returned. One waiting thread at a time. The
  // post happens-before the return.
  void wait();

 private:
  // The platform's half: sleep while the state is -1 (may return early), wake the sleeper.
  void sleep();
  void wake();

  std::atomic<int32_t> state_{0};         // 0 nothing posted, 1 posted, -1 a thread sleeps
  [[maybe_unused]] intptr_t native_ = 0;  // Windows: the event the sleeper waits on
};

}  // namespace vexlor::os
