// A resolved named point getter through the shared library next to its floor: an exported
// function of another shared library that only loads the same value slot. Both calls cross
// the dynamic linker's table once. The database is created by the equipment tool from a small
// configuration, so this program links only the shared library.
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
  vexlor::bench::BenchInstance instance{"named-bench"};
  BenchDatabase() {
    const std::string config = std::string(std::getenv("VEXLOR_RUNTIME_DIR")) + "/named.toml";
    std::ofstream(config) << "modules = [ { id = \"PM1\", kind = \"PM\" } ]\n"
                             "functions = [ { name = \"BENCH\" } ]\n"
                             "digital = [ { name = \"CTC.EnvSts\", init = 1 } ]\n"
                             "[system]\nstandard_vocabulary = true\n";
    const std::string command =
        std::string(VEXLOR_TOOLS_DIR) + "/vexlor-db create " + config + " > /dev/null";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cannot create the database\n");
  }
};

void start() {
  static BenchDatabase database;
  if (MMAP_DB() == nullptr) VHub_Initial("BENCH");
}

void BM_VIO_Get_CTC_EnvSts(benchmark::State& state) {
  start();
  if (VIO_Get_CTC_EnvSts() != 1) state.SkipWithError("CTC.EnvSts did not resolve");
  for (auto _ : state) benchmark::DoNotOptimize(VIO_Get_CTC_EnvSts());
}
BENCHMARK(BM_VIO_Get_CTC_EnvSts);

// A grid item: two indices into its cache before the same read.
void BM_VIO_Get_CTC_PMx_Wafer_Number(benchmark::State& state) {
  start();
  if (VIO_Get_CTC_PMx_Wafer_Number(0, 1) != 0) state.SkipWithError("did not resolve");
  for (auto _ : state) benchmark::DoNotOptimize(VIO_Get_CTC_PMx_Wafer_Number(0, 1));
}
BENCHMARK(BM_VIO_Get_CTC_PMx_Wafer_Number);

void BM_floor_load_i32(benchmark::State& state) {
  start();
  int index = -1;
  VIO_Find_Point(&index, IO_D, "CTC.EnvSts");
  const int32_t* slot = &MMAP_DB()->digital_val[index].write_value;
  for (auto _ : state) benchmark::DoNotOptimize(floor_load_i32(slot));
}
BENCHMARK(BM_floor_load_i32);

}  // namespace

BENCHMARK_MAIN();
