// Uncontended named-mutex wait + release next to the raw process-shared pthread mutexes it
// wraps (plain, and robust + recursive as the named mutex uses), and create + close (slow
// path) for information. Runs in a private runtime folder and instance.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
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
