// The function table's polled getters next to what they wrap: VFunction_Get_Run_Status and
// VFunction_Get_Abort_Flag by index next to a raw load of the same shared field, and the
// by-name status through the name cache.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_instance.h"
#include "config/builder.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
using vexlor::config::DatabaseBuilder;

namespace {

constexpr int kFunctions = 200;
constexpr int kTarget = 150;

// A private instance with 200 functions, published once, with the routine started.
struct BenchDatabase {
  vexlor::bench::BenchInstance instance{"ftable-bench"};
  BenchDatabase() {
    DatabaseBuilder b;
    char name[64];
    for (int i = 0; i < kFunctions; ++i) {
      std::snprintf(name, sizeof name, "PM%d_PROC", i + 1);
      b.add_function(name);
    }
    std::string error;
    if (!b.publish(true, "function_table_bench", &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
    }
    VHub_Initial("PM1_PROC");
    VFunction_Set_Run_Status(kTarget, SYS_RUNNING);
  }
  ~BenchDatabase() { VHub_Release(); }
};

void start() { static BenchDatabase db; }

void BM_Raw_Run_Status_Load(benchmark::State& state) {
  start();
  const MEM_FUNCTION_RT_STRU* rt = MMAP_DB()->function_rt;
  int index = kTarget;
  for (auto _ : state) {
    benchmark::DoNotOptimize(index);
    int32_t status = rt[index].run_status;
    benchmark::DoNotOptimize(status);
  }
}
BENCHMARK(BM_Raw_Run_Status_Load);

void BM_VFunction_Get_Run_Status(benchmark::State& state) {
  start();
  int index = kTarget;
  for (auto _ : state) {
    benchmark::DoNotOptimize(index);
    FUNC_STATUS status = VFunction_Get_Run_Status(index);
    benchmark::DoNotOptimize(status);
  }
}
BENCHMARK(BM_VFunction_Get_Run_Status);

void BM_VFunction_Get_Abort_Flag(benchmark::State& state) {
  start();
  int index = kTarget;
  for (auto _ : state) {
    benchmark::DoNotOptimize(index);
    bool flag = VFunction_Get_Abort_Flag(index);
    benchmark::DoNotOptimize(flag);
  }
}
BENCHMARK(BM_VFunction_Get_Abort_Flag);

void BM_VFunction_Get_Run_Status_By_Name(benchmark::State& state) {
  start();
  const char* name = "PM151_PROC";
  for (auto _ : state) {
    benchmark::DoNotOptimize(name);
    FUNC_STATUS status = VFunction_Get_Run_Status(name);
    benchmark::DoNotOptimize(status);
  }
}
BENCHMARK(BM_VFunction_Get_Run_Status_By_Name);

}  // namespace

BENCHMARK_MAIN();
