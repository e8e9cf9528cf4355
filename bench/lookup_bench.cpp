// Point lookup next to what it wraps: the first VIO_Find of the last of 50,000 points next to
// a plain scan of the same name fields, a cached IO_Map_Find next to a std::map find, a
// resolved lazy point cache next to a raw load, and start-up plus release.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "bench_instance.h"
#include "config/builder.h"
#include "points/point_cache.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
using vexlor::config::DatabaseBuilder;

namespace {

constexpr int kPoints = 50000;

// A private instance holding a database of 50,000 digital points, published once.
struct BenchDatabase {
  vexlor::bench::BenchInstance instance{"lookup-bench"};
  std::string last_name;
  BenchDatabase() {
    DatabaseBuilder b;
    char name[64];
    for (int i = 0; i < kPoints; ++i) {
      std::snprintf(name, sizeof name, "PM%d.DI_%05d", i % 100 + 1, i);
      b.add_digital(name);
    }
    last_name = name;
    b.add_function("BENCH");
    std::string error;
    if (!b.publish(true, "lookup_bench", &error)) std::fprintf(stderr, "%s\n", error.c_str());
  }
};

BenchDatabase& database() {
  static BenchDatabase db;
  return db;
}

// Keeps the routine started for the benchmarks that need it.
void start() {
  database();
  if (MMAP_DB() == nullptr) VHub_Initial("BENCH");
}

void BM_VIO_Find_Last(benchmark::State& state) {
  start();
  const std::string& name = database().last_name;
  for (auto _ : state) {
    int point = -1;
    IO_TYPE type = IO_NONE;
    benchmark::DoNotOptimize(VIO_Find(&point, &type, name.c_str()));
    benchmark::DoNotOptimize(point);
  }
}
BENCHMARK(BM_VIO_Find_Last);

void BM_PlainScan_Last(benchmark::State& state) {
  start();
  const std::string& name = database().last_name;
  const MMAP_STRU* db = MMAP_DB();
  for (auto _ : state) {
    int point = -1;
    const int count = db->system_block->digital_count;
    for (int i = 0; i < count; ++i) {
      if (VStr_Compare_L(name.c_str(), db->digital_sp[i].name)) {
        point = i;
        break;
      }
    }
    benchmark::DoNotOptimize(point);
  }
}
BENCHMARK(BM_PlainScan_Last);

void BM_IO_Map_Find_Cached(benchmark::State& state) {
  start();
  const char* name = "PM1.DI_00100";
  IO_Map_Find(name);
  for (auto _ : state) benchmark::DoNotOptimize(IO_Map_Find(name));
}
BENCHMARK(BM_IO_Map_Find_Cached);

void BM_StdMap_Find(benchmark::State& state) {
  std::map<std::string, IO_MAP, std::less<>> map;
  map.emplace("PM1.DI_00100", IO_MAP{100, IO_D});
  const char* name = "PM1.DI_00100";
  for (auto _ : state) {
    auto it = map.find(std::string_view(name));
    benchmark::DoNotOptimize(it->second);
  }
}
BENCHMARK(BM_StdMap_Find);

void BM_PointCache_Resolved(benchmark::State& state) {
  start();
  static vexlor::detail::PointRow<100> row;
  row.get(5, IO_D, "PM%d.DI_%05d", 6, 5);
  for (auto _ : state) benchmark::DoNotOptimize(row.get(5, IO_D, "PM%d.DI_%05d", 6, 5));
}
BENCHMARK(BM_PointCache_Resolved);

void BM_RawLoad(benchmark::State& state) {
  static int32_t slots[100] = {};
  slots[5] = 5;
  int index = 5;
  for (auto _ : state) {
    benchmark::DoNotOptimize(index);
    benchmark::DoNotOptimize(slots[index]);
  }
}
BENCHMARK(BM_RawLoad);

void BM_Initial_Release_50k(benchmark::State& state) {
  database();
  VHub_Release();
  for (auto _ : state) {
    benchmark::DoNotOptimize(VHub_Initial("BENCH"));
    VHub_Release();
  }
}
BENCHMARK(BM_Initial_Release_50k)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
