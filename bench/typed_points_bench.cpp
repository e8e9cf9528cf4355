// Typed point access next to what it wraps: the value-slot reads next to raw loads of the same
// slot, a digital read by a cached name next to a std::map find of that name, and an
// uncontended string write under the point's named mutex next to the plain write.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "bench_instance.h"
#include "config/builder.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
using vexlor::config::DatabaseBuilder;

namespace {

constexpr int kPoints = 1000;
constexpr int kProbe = 777;

// A private instance with 1,000 points of each kind, published once.
struct BenchDatabase {
  vexlor::bench::BenchInstance instance{"typed-bench"};
  BenchDatabase() {
    DatabaseBuilder b;
    char name[64];
    for (int i = 0; i < kPoints; ++i) {
      std::snprintf(name, sizeof name, "PM1.DI_%04d", i);
      b.add_digital(name);
      std::snprintf(name, sizeof name, "PM1.AI_%04d", i);
      b.add_analog(name);
      std::snprintf(name, sizeof name, "PM1.SI_%04d", i);
      b.add_string(name);
    }
    b.add_function("BENCH");
    std::string error;
    if (!b.publish(true, "typed_points_bench", &error)) std::fprintf(stderr, "%s\n", error.c_str());
  }
};

void start() {
  static BenchDatabase database;
  if (MMAP_DB() == nullptr) VHub_Initial("BENCH");
}

void BM_VDigital_Read_Mem(benchmark::State& state) {
  start();
  for (auto _ : state) benchmark::DoNotOptimize(VDigital_Read_Mem(kProbe));
}
BENCHMARK(BM_VDigital_Read_Mem);

void BM_VAnalog_Read_Mem(benchmark::State& state) {
  start();
  for (auto _ : state) benchmark::DoNotOptimize(VAnalog_Read_Mem(kProbe));
}
BENCHMARK(BM_VAnalog_Read_Mem);

// The same choice of slot value as the value-slot read, made on the tables directly.
template <auto Records, auto Slots>
void raw_load(benchmark::State& state) {
  start();
  const MMAP_STRU* db = MMAP_DB();
  for (auto _ : state) {
    benchmark::DoNotOptimize(db);
    const auto& slot = (db->*Slots)[kProbe];
    const auto value = (db->*Records)[kProbe].idrv_point != VEXLOR_UNUSED_POINT ? slot.read_value
                                                                                : slot.write_value;
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(raw_load<&MMAP_STRU::digital_sp, &MMAP_STRU::digital_val>)->Name("BM_RawLoad_Digital");
BENCHMARK(raw_load<&MMAP_STRU::analog_sp, &MMAP_STRU::analog_val>)->Name("BM_RawLoad_Analog");

void BM_VDigital_Read_CachedName(benchmark::State& state) {
  start();
  char name[64];
  for (int i = 0; i < kPoints; ++i) {  // a name cache as full as the std::map below
    std::snprintf(name, sizeof name, "PM1.DI_%04d", i);
    VDigital_Read(name);
  }
  for (auto _ : state) benchmark::DoNotOptimize(VDigital_Read("PM1.DI_0777"));
}
BENCHMARK(BM_VDigital_Read_CachedName);

void BM_StdMap_Find(benchmark::State& state) {
  std::map<std::string, IO_MAP, std::less<>> cache;
  char name[64];
  for (int i = 0; i < kPoints; ++i) {
    std::snprintf(name, sizeof name, "PM1.DI_%04d", i);
    cache[name] = IO_MAP{i, IO_D};
  }
  const char* probe = "PM1.DI_0777";
  for (auto _ : state) {
    benchmark::DoNotOptimize(probe);
    auto it = cache.find(std::string_view(probe));
    benchmark::DoNotOptimize(it->second.point);
  }
}
BENCHMARK(BM_StdMap_Find);

void BM_VString_Write_Mutex(benchmark::State& state) {
  start();
  for (auto _ : state) benchmark::DoNotOptimize(VString_Write_Mutex(kProbe, "LOT-0001"));
}
BENCHMARK(BM_VString_Write_Mutex);

void BM_VString_Write(benchmark::State& state) {
  start();
  for (auto _ : state) benchmark::DoNotOptimize(VString_Write(kProbe, "LOT-0001"));
}
BENCHMARK(BM_VString_Write);

}  // namespace

BENCHMARK_MAIN();
