// Alarm post + answer round trips (one pair: VAlarm_Post then VAlarm_Handle with ALM_CLEAR,
// each with its alarm-log row and its "$L" notice to an engine served in this program), in one
// process and in four processes at once, next to their floors: the two bare SQLite inserts of a
// pair's log rows (same table shape, same journal settings), and the alarm mutex taken and
// released twice. The CPU column is the whole process's (the engine thread included): on a
// machine shared with other work it is the figure to compare, the wall time is not.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_instance.h"
#include "config/builder.h"
#include "fifo/fifo_server.h"
#include "os/local_endpoint.h"
#include "os/named_mutex.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;

namespace {

constexpr int kProcesses = 4;
constexpr int kAlarmsPerProcess = 10;
constexpr int kPairsPerChild = 4000;

// A private equipment with functions BENCH, W0..W3 and ten alarms per process, and an engine
// endpoint that accepts every notice.
struct BenchEquipment {
  vexlor::bench::BenchInstance instance{"alarm-bench"};
  vexlor::fifo::EndpointServer engine;
  BenchEquipment() {
    vexlor::config::DatabaseBuilder b;
    b.add_function("BENCH");
    for (int w = 0; w < kProcesses; ++w) b.add_function("W" + std::to_string(w));
    for (int i = 0; i < kProcesses * kAlarmsPerProcess; ++i) {
      b.add_alarm(60000 + i, "BENCH_ALARM", "Bench alarm|基准报警");
    }
    std::string error;
    if (!b.publish(true, "alarm_bench", &error)) std::fprintf(stderr, "%s\n", error.c_str());
    if (!engine.open(vexlor::os::kEngineEndpoint, &error) ||
        !engine.serve([](const vexlor::fifo::Request&) { return vexlor::fifo::Reply{true, {}}; })) {
      std::fprintf(stderr, "engine: %s\n", error.c_str());
    }
  }
};

BenchEquipment& equipment() {
  static BenchEquipment e;  // its instance folder goes when the program ends
  return e;
}

// Attached as `name`, debug lines to the log file only (an equipment's usual setting).
void attach(const char* name) {
  equipment();
  if (MMAP_DB() == nullptr) VHub_Initial(name);
  VSystem_Set_Log_Status(LOG_DBG, LOG_STATUS_SECOND);
}

bool pair(int point) { return VAlarm_Post(point, "bench") && VAlarm_Handle(point, ALM_CLEAR); }

void BM_AlarmPostAnswer_1Process(benchmark::State& state) {
  attach("BENCH");
  int i = 0;
  for (auto _ : state) {
    if (!pair(i)) state.SkipWithError("post or answer failed");
    i = (i + 1) % kAlarmsPerProcess;
  }
  state.counters["pairs_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AlarmPostAnswer_1Process)->UseRealTime()->MeasureProcessCPUTime();

// CPU seconds of this process's waited-for children so far.
double children_cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Each iteration: four routines (W0..W3, own alarms each) post and answer kPairsPerChild pairs
// at once; the rate counts every pair of all four. The routines' CPU per pair (cpu_us_per_pair,
// the engine thread's share not included) is the figure that stays comparable with the one-
// process pair when the machine is shared.
void BM_AlarmPostAnswer_4Processes(benchmark::State& state) {
  attach("BENCH");
  const double cpu_before = children_cpu_seconds();
  for (auto _ : state) {
    std::vector<pid_t> children;
    for (int w = 0; w < kProcesses; ++w) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        VHub_Release();  // the parent's attachment, copied by fork
        const std::string name = "W" + std::to_string(w);
        if (!VHub_Initial(name.c_str())) ::_exit(2);
        int failed = 0;
        for (int n = 0; n < kPairsPerChild; ++n) {
          failed += pair(w * kAlarmsPerProcess + n % kAlarmsPerProcess) ? 0 : 1;
        }
        VHub_Release();
        ::_exit(failed == 0 ? 0 : 1);
      }
      children.push_back(pid);
    }
    for (pid_t pid : children) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("a routine failed");
    }
  }
  const double pairs = static_cast<double>(state.iterations()) * kProcesses * kPairsPerChild;
  state.counters["pairs_per_s"] = benchmark::Counter(pairs, benchmark::Counter::kIsRate);
  state.counters["cpu_us_per_pair"] = (children_cpu_seconds() - cpu_before) * 1e6 / pairs;
}
BENCHMARK(BM_AlarmPostAnswer_4Processes)->UseRealTime()->Iterations(3);

// Floor: the two rows of a pair as bare inserts, prepared once, into a table of the same shape
// in a WAL database file with the same synchronous setting.
void BM_Floor_TwoSqliteInserts(benchmark::State& state) {
  attach("BENCH");
  const std::string file = std::string(std::getenv("VEXLOR_RUNTIME_DIR")) + "/floor.db";
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db,
               "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; CREATE TABLE IF NOT EXISTS "
               "t(row INTEGER PRIMARY KEY AUTOINCREMENT, c1 TEXT, c2 TEXT, c3 TEXT, c4 TEXT, c5 "
               "TEXT, c6 TEXT, c7 TEXT, c8 TEXT, c9 TEXT, c10 TEXT, c11 TEXT);",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t(c1,c2,c3,c4,c5,c6,c7,c8,c9,c10,c11) VALUES(?1,?2,?3,?4,"
                     "?5,?6,?7,?8,?9,?10,?11)", -1, &insert, nullptr);
  const char* text = "Bench alarm|基准报警(bench|bench)";
  for (auto _ : state) {
    for (int row = 0; row < 2; ++row) {
      for (int c = 1; c <= 11; ++c) sqlite3_bind_text(insert, c, text, -1, SQLITE_STATIC);
      if (sqlite3_step(insert) != SQLITE_DONE) state.SkipWithError("insert failed");
      sqlite3_reset(insert);
    }
  }
  sqlite3_finalize(insert);
  sqlite3_close(db);
  state.counters["pairs_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Floor_TwoSqliteInserts)->UseRealTime()->MeasureProcessCPUTime();

// Floor: the alarm mutex taken and released twice (a post and an answer each hold it once).
void BM_Floor_AlarmMutexTwice(benchmark::State& state) {
  attach("BENCH");
  void* mutex = MMAP_DB()->alarm_mutex;
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k) {
      vexlor::os::mutex_wait(mutex, 5000);
      vexlor::os::mutex_release(mutex);
    }
  }
  state.counters["pairs_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                     benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Floor_AlarmMutexTwice)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
