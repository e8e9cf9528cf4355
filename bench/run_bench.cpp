// Running a function end to end next to the raw transport between the same two processes:
// VFunction_Run of an instant routine (run request straight to the routine's serve loop, which
// vexlor-manager supervises; acknowledgement under the run mutex, wait on the mutex, final
// status) against a
// frame ping-pong of the same sizes over a Unix stream socket between this process and the
// routine's process. Beside the wall time each reports cpu_us: the CPU time of one operation
// summed over all three processes (this one, the routine's, the manager's), which a machine
// shared with other work distorts far less than the wall time.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "bench_instance.h"
#include "config/builder.h"
#include "fifo/fifo_server.h"
#include "os/local_endpoint.h"

namespace {

// The routine process: serves INSTANT, and echoes raw frames on its end of the socket pair.
[[noreturn]] void routine_process(vexlor::os::LocalStream raw) {
  std::thread echo([&raw] {
    std::string in;
    while (raw.read_frame(in) == vexlor::os::IoResult::kOk) {
      if (raw.write_frame(in) != vexlor::os::IoResult::kOk) break;
    }
  });
  echo.detach();
  vexlor::routine::Handlers handlers;
  handlers.run = [](const vexlor::routine::Run&) { return Vexlor::SYS_SUCCESS; };
  ::_exit(vexlor::routine::serve("INSTANT", handlers));
}

struct Equipment {
  vexlor::bench::BenchInstance instance{"run-bench"};
  pid_t manager = -1, routine = -1;
  vexlor::os::LocalStream raw;
  bool ok = false;

  Equipment() {
    vexlor::config::DatabaseBuilder b;
    b.add_function("BENCH");
    b.add_function("INSTANT");
    if (!b.publish(true, "run_bench", nullptr)) return;
    manager = ::fork();
    if (manager == 0) {
      ::execl(VEXLOR_TOOLS_DIR "/vexlor-manager", "vexlor-manager", "--quiet", "--no-gui",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    vexlor::os::LocalStream theirs;
    if (!vexlor::os::local_stream_pair(raw, theirs)) return;
    routine = ::fork();
    if (routine == 0) {
      raw.close();
      routine_process(std::move(theirs));
    }
    theirs.close();
    if (!Vexlor::VHub_Initial("BENCH")) return;
    // Debug lines off, as on a working tool: with them on, every run request also prints and
    // logs "BENCH -> INSTANT", which measures the console and the log file, not the run.
    Vexlor::VSystem_Set_Log_Status(Vexlor::LOG_DBG, Vexlor::LOG_STATUS_OFF);
    for (int i = 0; i < 500 && !ok; ++i) {  // the routine serves and the manager sees it
      ok = Vexlor::VFunction_Run("INSTANT", "") == Vexlor::SYS_SUCCESS;
      if (!ok) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Equipment() {
    Vexlor::VHub_Release();
    for (pid_t pid : {routine, manager}) {
      if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
      }
    }
    vexlor::config::remove_database(nullptr);
  }
};

Equipment& equipment() {
  static Equipment e;
  return e;
}

// User plus system time of a process so far (all its threads), in seconds.
double cpu_seconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 1));
  std::string skipped;
  for (int i = 0; i < 11; ++i) fields >> skipped;  // state .. cmajflt
  unsigned long long user = 0, system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double equipment_cpu_seconds(const Equipment& e) {
  return cpu_seconds(::getpid()) + cpu_seconds(e.routine) + cpu_seconds(e.manager);
}

// Sets cpu_us: the CPU time of the three processes per iteration since `start`.
void report_cpu(benchmark::State& state, const Equipment& e, double start) {
  if (state.iterations() == 0) return;
  state.counters["cpu_us"] =
      (equipment_cpu_seconds(e) - start) * 1e6 / static_cast<double>(state.iterations());
}

void BM_VFunction_Run_Instant(benchmark::State& state) {
  Equipment& e = equipment();
  if (!e.ok) {
    state.SkipWithError("the equipment did not come up");
    return;
  }
  const int index = Vexlor::VFunction_Get_Point("INSTANT");
  const double start = equipment_cpu_seconds(e);
  for (auto _ : state) {
    if (Vexlor::VFunction_Run(index, "") != Vexlor::SYS_SUCCESS) {
      state.SkipWithError("run failed");
      break;
    }
  }
  report_cpu(state, e, start);
}
BENCHMARK(BM_VFunction_Run_Instant)->UseRealTime();

// Floor: one frame of a run request's size to the routine's process and its echo back.
void BM_Raw_Socket_RoundTrip(benchmark::State& state) {
  Equipment& e = equipment();
  if (!e.ok) {
    state.SkipWithError("the equipment did not come up");
    return;
  }
  vexlor::fifo::Request r;
  r.type = vexlor::fifo::RequestType::FunctionRun;
  r.sender = "BENCH";
  r.function = "INSTANT";
  r.argument = "1";
  std::string frame, in;
  vexlor::fifo::encode_request(r, frame);
  const double start = equipment_cpu_seconds(e);
  for (auto _ : state) {
    if (e.raw.write_frame(frame) != vexlor::os::IoResult::kOk ||
        e.raw.read_frame(in) != vexlor::os::IoResult::kOk) {
      state.SkipWithError("round trip failed");
      break;
    }
    benchmark::DoNotOptimize(in);
  }
  report_cpu(state, e, start);
}
BENCHMARK(BM_Raw_Socket_RoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
