// The shared database: a value-slot read through VMMAP next to a raw load from the mapped
// section, and building a large equipment database.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>
#include <vexlor/vmmap.h>

#include <filesystem>
#include <string>

#include "bench_instance.h"
#include "config/builder.h"

using namespace Vexlor;
using vexlor::config::DatabaseBuilder;

namespace {

vexlor::bench::BenchInstance& bench_instance() {
  static vexlor::bench::BenchInstance instance("database-bench");
  return instance;
}

void fill_large_equipment(DatabaseBuilder& b) {
  int drv = b.add_driver("SIM_DIO", 1);
  char name[64];
  for (int i = 0; i < 20000; ++i) {
    std::snprintf(name, sizeof name, "PM%d.DI_%05d", i % 100 + 1, i);
    int p = b.add_digital(name, i & 1);
    b.digital(p).idrv_point = drv;
    b.digital(p).odrv_point = drv;
  }
  for (int i = 0; i < 10000; ++i) {
    std::snprintf(name, sizeof name, "PM%d.AI_%05d", i % 100 + 1, i);
    b.add_analog(name, i * 0.5);
  }
  for (int i = 0; i < 2000; ++i) {
    std::snprintf(name, sizeof name, "PM%d.SI_%04d", i % 100 + 1, i);
    b.add_string(name, "init");
  }
  for (int i = 0; i < 5000; ++i) {
    std::snprintf(name, sizeof name, "ALARM_%04d", i);
    int a = b.add_alarm(10000 + i, name, "Alarm text|报警文本");
    b.add_alarm_choice(a, ALM_RETRY, "Retry|重试");
    b.add_alarm_choice(a, ALM_ABORT, "Abort|中止");
  }
  for (int i = 0; i < 200; ++i) {
    std::snprintf(name, sizeof name, "ROUTINE_%03d", i);
    b.add_function(name);
  }
}

// Building and publishing 20,000 digital, 10,000 analog, 2,000 string points and 5,000
// alarms, from an empty builder to a published section.
void BM_BuildLargeDatabase(benchmark::State& state) {
  bench_instance();
  for (auto _ : state) {
    DatabaseBuilder b;
    fill_large_equipment(b);
    std::string error;
    if (!b.publish(true, "bench", &error)) state.SkipWithError(error.c_str());
  }
}
BENCHMARK(BM_BuildLargeDatabase)->Unit(benchmark::kMillisecond)->Iterations(5);

struct Attached {
  VMMAP map;
  Attached() {
    bench_instance();
    DatabaseBuilder b;
    fill_large_equipment(b);
    std::string error;
    b.publish(true, "bench", &error);
    map.VMMAP_Initial("BENCH");
  }
};

Attached& attached() {
  static Attached a;
  return a;
}

void BM_VmmapDigitalRead(benchmark::State& state) {
  VMMAP& map = attached().map;
  int value = 0, index = 0;
  for (auto _ : state) {
    map.VMMAP_Digital_Read(index, &value);
    benchmark::DoNotOptimize(value);
    index = (index + 7) % 20000;
  }
}
BENCHMARK(BM_VmmapDigitalRead);

void BM_RawDigitalLoad(benchmark::State& state) {
  MEM_DIGITAL_VAL_STRU* slots = attached().map.DB()->digital_val;
  int value = 0, index = 0;
  for (auto _ : state) {
    value = slots[index].read_value;
    benchmark::DoNotOptimize(value);
    index = (index + 7) % 20000;
  }
}
BENCHMARK(BM_RawDigitalLoad);

}  // namespace

BENCHMARK_MAIN();
