// Scheduler block items through the shared library next to their floor: an exported function of
// another shared library that only loads or stores the same field. The items check their
// indices and find their block in the attached database; the floor does neither.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench_instance.h"
#include "floor/floor.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;

namespace {

struct BenchDatabase {
  vexlor::bench::BenchInstance instance{"scheduler-bench"};
  BenchDatabase() {
    const std::string config = std::string(std::getenv("VEXLOR_RUNTIME_DIR")) + "/sch.toml";
    std::ofstream(config) << "modules = [ { id = \"PM1\", kind = \"PM\" } ]\n"
                             "functions = [ { name = \"BENCH\" } ]\n";
    const std::string command =
        std::string(VEXLOR_TOOLS_DIR) + "/vexlor-db create " + config + " > /dev/null";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cannot create the database\n");
  }
};

void start(benchmark::State& state) {
  static BenchDatabase database;
  if (MMAP_DB() == nullptr) VHub_Initial("BENCH");
  if (MMAP_DB() == nullptr) state.SkipWithError("no database");
}

void BM_VSCH_Get_PM_Slot_Count(benchmark::State& state) {
  start(state);
  VSCH_Set_PM_Slot_Count(3, 25);
  for (auto _ : state) benchmark::DoNotOptimize(VSCH_Get_PM_Slot_Count(3));
}
BENCHMARK(BM_VSCH_Get_PM_Slot_Count);

// Four indices, each checked, before the same load.
void BM_VSCH_Get_Wafer_Cluster_PM_Side(benchmark::State& state) {
  start(state);
  for (auto _ : state) benchmark::DoNotOptimize(VSCH_Get_Wafer_Cluster_PM_Side(5, 24, 19, 19));
}
BENCHMARK(BM_VSCH_Get_Wafer_Cluster_PM_Side);

void BM_floor_load_i32(benchmark::State& state) {
  start(state);
  const int32_t* field = &MMAP_DB()->sch_pm->PM_Slot_Count[3];
  for (auto _ : state) benchmark::DoNotOptimize(floor_load_i32(field));
}
BENCHMARK(BM_floor_load_i32);

void BM_VSCH_Set_Wafer_Flow_Module_InTime(benchmark::State& state) {
  start(state);
  double t = 0;
  for (auto _ : state) benchmark::DoNotOptimize(VSCH_Set_Wafer_Flow_Module_InTime(2, 3, 4, t += 1));
}
BENCHMARK(BM_VSCH_Set_Wafer_Flow_Module_InTime);

void BM_floor_store_f64(benchmark::State& state) {
  start(state);
  double* field = &MMAP_DB()->sch_wafer->Wafer_Flow_Module_InTime[2][3][4];
  double t = 0;
  for (auto _ : state) floor_store_f64(field, t += 1);
}
BENCHMARK(BM_floor_store_f64);

}  // namespace

BENCHMARK_MAIN();
