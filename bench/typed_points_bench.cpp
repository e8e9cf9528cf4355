// Typed point access through the shared library, beside its floors: each value-slot and field
// accessor next to the same slot loaded or stored by an out-of-line call into a library that
// does nothing else (floor/), access by a cached name next to a std::map find over the same
// names, and an uncontended string write under the point's named mutex next to the plain write.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_instance.h"
#include "bench_publish.h"
#include "floor.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;

namespace {

constexpr int kPoints = 1000;
constexpr int kProbe = 777;

// A private instance with 1,000 points of each kind, published once.
struct BenchDatabase {
  vexlor::bench::BenchInstance instance{"typed-bench"};
  BenchDatabase() {
    vexlor::bench::publish_database(kPoints, kPoints, kPoints, "PM1.DI_%04d", "PM1.AI_%04d",
                                    "PM1.SI_%04d");
  }
};

MMAP_STRU& start() {
  static BenchDatabase database;
  if (MMAP_DB() == nullptr) VHub_Initial("BENCH");
  return *MMAP_DB();
}

// The names of the digital points, visited in turn by the by-name benchmarks.
const std::vector<std::string>& digital_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    char name[64];
    for (int i = 0; i < kPoints; ++i) {
      std::snprintf(name, sizeof name, "PM1.DI_%04d", i);
      v.emplace_back(name);
    }
    return v;
  }();
  return names;
}

// ---- Value slots and fields, each beside its floor -----------------------------------------

void BM_VDigital_Read_Mem(benchmark::State& state) {
  start();
  for (auto _ : state) benchmark::DoNotOptimize(VDigital_Read_Mem(kProbe));
}
BENCHMARK(BM_VDigital_Read_Mem);

void BM_Floor_Load_I32(benchmark::State& state) {
  const int32_t* field = &start().digital_val[kProbe].write_value;
  for (auto _ : state) benchmark::DoNotOptimize(floor_load_i32(field));
}
BENCHMARK(BM_Floor_Load_I32);

void BM_VAnalog_Read_Mem(benchmark::State& state) {
  start();
  for (auto _ : state) benchmark::DoNotOptimize(VAnalog_Read_Mem(kProbe));
}
BENCHMARK(BM_VAnalog_Read_Mem);

void BM_Floor_Load_F64(benchmark::State& state) {
  const double* field = &start().analog_val[kProbe].write_value;
  for (auto _ : state) benchmark::DoNotOptimize(floor_load_f64(field));
}
BENCHMARK(BM_Floor_Load_F64);

void BM_VDigital_Write_Mem(benchmark::State& state) {
  start();
  int value = 0;
  for (auto _ : state) VDigital_Write_Mem(kProbe, ++value & 1);
}
BENCHMARK(BM_VDigital_Write_Mem);

void BM_Floor_Store_I32(benchmark::State& state) {
  int32_t* field = &start().digital_val[kProbe].write_value;
  int value = 0;
  for (auto _ : state) floor_store_i32(field, ++value & 1);
}
BENCHMARK(BM_Floor_Store_I32);

void BM_VAnalog_Write_Mem(benchmark::State& state) {
  start();
  double value = 0.0;
  for (auto _ : state) VAnalog_Write_Mem(kProbe, value += 1.0);
}
BENCHMARK(BM_VAnalog_Write_Mem);

void BM_Floor_Store_F64(benchmark::State& state) {
  double* field = &start().analog_val[kProbe].write_value;
  double value = 0.0;
  for (auto _ : state) floor_store_f64(field, value += 1.0);
}
BENCHMARK(BM_Floor_Store_F64);

// A definition field: the same index check, then the field.
void BM_VDigital_Get_Max(benchmark::State& state) {
  start();
  for (auto _ : state) benchmark::DoNotOptimize(VDigital_Get_Max(kProbe));
}
BENCHMARK(BM_VDigital_Get_Max);

void BM_Floor_Load_I32_Max(benchmark::State& state) {
  const int32_t* field = &start().digital_sp[kProbe].max;
  for (auto _ : state) benchmark::DoNotOptimize(floor_load_i32(field));
}
BENCHMARK(BM_Floor_Load_I32_Max);

// ---- By cached name, beside a std::map find of the same 1,000 names ------------------------

void BM_VDigital_Read_CachedName(benchmark::State& state) {
  start();
  const std::vector<std::string>& names = digital_names();
  for (const std::string& name : names) VDigital_Read(name.c_str());  // every name cached
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(VDigital_Read(names[i].c_str()));
    if (++i == names.size()) i = 0;
  }
}
BENCHMARK(BM_VDigital_Read_CachedName);

void BM_StdMap_Find(benchmark::State& state) {
  const std::vector<std::string>& names = digital_names();
  std::map<std::string, IO_MAP, std::less<>> cache;
  for (std::size_t i = 0; i < names.size(); ++i) cache[names[i]] = IO_MAP{int(i), IO_D};
  std::size_t i = 0;
  for (auto _ : state) {
    auto it = cache.find(std::string_view(names[i].c_str()));
    benchmark::DoNotOptimize(it->second.point);
    if (++i == names.size()) i = 0;
  }
}
BENCHMARK(BM_StdMap_Find);

// ---- String writes ---------------------------------------------------------------------------

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
