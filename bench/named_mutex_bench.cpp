// Uncontended named-mutex wait + release next to the raw process-shared pthread mutexes it
// wraps (plain, and robust + recursive as the named mutex uses); contended hand-offs between
// two processes next to the same with the raw robust recursive mutex; and create + close
// (slow path) for information. Runs in a private runtime folder and instance.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <string>

#include "os/named_mutex.h"

namespace {

using namespace vexlor::os;

pthread_mutex_t* shared_pthread_mutex(bool robust_recursive) {
  void* p = ::mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE,
                   MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  auto* mutex = static_cast<pthread_mutex_t*>(p);
  pthread_mutexattr_t attr;
  ::pthread_mutexattr_init(&attr);
  ::pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  if (robust_recursive) {
    ::pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    ::pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  }
  ::pthread_mutex_init(mutex, &attr);
  ::pthread_mutexattr_destroy(&attr);
  return mutex;
}

void BM_PthreadPshared_LockUnlock(benchmark::State& state) {
  pthread_mutex_t* mutex = shared_pthread_mutex(false);
  if (mutex == nullptr) return state.SkipWithError("mmap failed");
  for (auto _ : state) {
    ::pthread_mutex_lock(mutex);
    ::pthread_mutex_unlock(mutex);
  }
  ::pthread_mutex_destroy(mutex);
  ::munmap(mutex, sizeof(pthread_mutex_t));
}
BENCHMARK(BM_PthreadPshared_LockUnlock);

void BM_PthreadPsharedRobustRecursive_LockUnlock(benchmark::State& state) {
  pthread_mutex_t* mutex = shared_pthread_mutex(true);
  if (mutex == nullptr) return state.SkipWithError("mmap failed");
  for (auto _ : state) {
    ::pthread_mutex_lock(mutex);
    ::pthread_mutex_unlock(mutex);
  }
  ::pthread_mutex_destroy(mutex);
  ::munmap(mutex, sizeof(pthread_mutex_t));
}
BENCHMARK(BM_PthreadPsharedRobustRecursive_LockUnlock);

void named_wait_release(benchmark::State& state, uint32_t timeout_ms) {
  MutexHandle h = mutex_create("bench_wait_release", false);
  if (h == nullptr) return state.SkipWithError("mutex_create failed");
  for (auto _ : state) {
    if (mutex_wait(h, timeout_ms) != kWaitObject0) state.SkipWithError("wait failed");
    mutex_release(h);
  }
  mutex_close(h);
}

void BM_NamedMutex_Wait5000Release(benchmark::State& state) { named_wait_release(state, 5000); }
BENCHMARK(BM_NamedMutex_Wait5000Release);

void BM_NamedMutex_WaitInfiniteRelease(benchmark::State& state) {
  named_wait_release(state, kInfinite);
}
BENCHMARK(BM_NamedMutex_WaitInfiniteRelease);

// Several threads of one process taking turns on one handle (contended; for information).
void BM_NamedMutex_Wait5000Release_Threads(benchmark::State& state) {
  static MutexHandle h = nullptr;
  if (state.thread_index() == 0) h = mutex_create("bench_threads", false);
  for (auto _ : state) {
    mutex_wait(h, 5000);
    mutex_release(h);
  }
  if (state.thread_index() == 0) {
    mutex_close(h);
    h = nullptr;
  }
}
BENCHMARK(BM_NamedMutex_Wait5000Release_Threads)->Threads(2)->UseRealTime();

// ---- Two processes taking turns ---------------------------------------------------------
//
// Two processes each take and give back the mutex kRounds times with a short critical section,
// so most acquisitions find it held by the other process. Reported: handoff_ns, the wall time
// per acquisition.

constexpr int kRounds = 100000;

// Runs `lock_unlock` kRounds times in each of two forked processes, started together; returns
// the wall time, negative on failure. `setup` runs in each process first.
double two_processes(const std::function<bool()>& setup, const std::function<bool()>& lock_unlock) {
  auto* flags = static_cast<std::atomic<int>*>(::mmap(nullptr, 2 * sizeof(std::atomic<int>),
                                                      PROT_READ | PROT_WRITE,
                                                      MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  if (flags == MAP_FAILED) return -1;
  std::atomic<int>& ready = flags[0];
  std::atomic<int>& go = flags[1];
  ready = 0;
  go = 0;
  pid_t children[2] = {-1, -1};
  for (pid_t& child : children) {
    child = ::fork();
    if (child == 0) {
      if (!setup()) ::_exit(1);
      ready.fetch_add(1);
      while (go.load() == 0) {
      }
      for (int i = 0; i < kRounds; ++i) {
        if (!lock_unlock()) ::_exit(2);
      }
      ::_exit(0);
    }
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ready.load() < 2 && std::chrono::steady_clock::now() < deadline) {
  }
  auto start = std::chrono::steady_clock::now();
  go = 1;
  bool ok = ready.load() == 2;
  for (pid_t child : children) {
    int status = 0;
    if (child > 0 && !ok) ::kill(child, SIGKILL);
    ok = child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0 && ok;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::munmap(flags, 2 * sizeof(std::atomic<int>));
  return ok ? seconds : -1;
}

void report_handoffs(benchmark::State& state, double seconds) {
  state.SetIterationTime(seconds);
  benchmark::Counter& counter = state.counters["handoff_ns"];
  counter.flags = benchmark::Counter::kAvgIterations;
  counter.value += seconds * 1e9 / (2.0 * kRounds);
}

// A few nanoseconds of work inside the lock, as a caller updating shared fields would do.
void critical_section() {
  static volatile int sink = 0;
  for (int i = 0; i < 8; ++i) sink = sink + i;
}

void BM_PthreadPsharedRobustRecursive_TwoProcesses(benchmark::State& state) {
  pthread_mutex_t* mutex = shared_pthread_mutex(true);
  if (mutex == nullptr) return state.SkipWithError("mmap failed");
  for (auto _ : state) {
    double seconds = two_processes([] { return true; },
                                   [mutex] {
                                     if (::pthread_mutex_lock(mutex) != 0) return false;
                                     critical_section();
                                     return ::pthread_mutex_unlock(mutex) == 0;
                                   });
    if (seconds < 0) return state.SkipWithError("a process failed");
    report_handoffs(state, seconds);
  }
  ::munmap(mutex, sizeof(pthread_mutex_t));
}
BENCHMARK(BM_PthreadPsharedRobustRecursive_TwoProcesses)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

void BM_NamedMutex_TwoProcesses(benchmark::State& state) {
  // Kept open here so the mutex lives across the children's runs.
  MutexHandle keep = mutex_create("bench_two_processes", false);
  if (keep == nullptr) return state.SkipWithError("mutex_create failed");
  MutexHandle h = nullptr;
  for (auto _ : state) {
    double seconds = two_processes(
        [&h] { return (h = mutex_open("bench_two_processes")) != nullptr; },
        [&h] {
          if (mutex_wait(h, 5000) != kWaitObject0) return false;
          critical_section();
          return mutex_release(h);
        });
    if (seconds < 0) return state.SkipWithError("a process failed");
    report_handoffs(state, seconds);
  }
  mutex_close(keep);
}
BENCHMARK(BM_NamedMutex_TwoProcesses)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// Slow path: the mutex is new each time and removed by the close.
void BM_NamedMutex_CreateClose(benchmark::State& state) {
  for (auto _ : state) {
    MutexHandle h = mutex_create("bench_create_close", false);
    if (h == nullptr) return state.SkipWithError("mutex_create failed");
    mutex_close(h);
  }
}
BENCHMARK(BM_NamedMutex_CreateClose);

// Another handle of this process keeps the mutex alive: create answers "already exists".
void BM_NamedMutex_CreateCloseWhileOpen(benchmark::State& state) {
  MutexHandle keep = mutex_create("bench_create_close_open", false);
  for (auto _ : state) {
    MutexHandle h = mutex_create("bench_create_close_open", false);
    if (h == nullptr) return state.SkipWithError("mutex_create failed");
    mutex_close(h);
  }
  mutex_close(keep);
}
BENCHMARK(BM_NamedMutex_CreateCloseWhileOpen);

}  // namespace

int main(int argc, char** argv) {
  // On tmpfs like the default runtime folder, so the slow path measures what routines see.
  char root[] = "/dev/shm/vexlor-mutex-bench-XXXXXX";
  char fallback[] = "/tmp/vexlor-mutex-bench-XXXXXX";
  if (::mkdtemp(root) == nullptr && ::mkdtemp(fallback) == nullptr) return 1;
  const char* dir = root[sizeof root - 2] == 'X' ? fallback : root;
  ::setenv("VEXLOR_RUNTIME_DIR", dir, 1);
  ::setenv("VEXLOR_INSTANCE", ("bench-" + std::to_string(::getpid())).c_str(), 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
