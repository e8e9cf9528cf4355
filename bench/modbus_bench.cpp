// The Modbus TCP driver next to plain libmodbus, against the device simulator (a separate
// process on 127.0.0.1), each operation beside its floor in the same run:
//   - one scan of 1,000 holding registers and 2,000 coils (as 1,000 analog and 2,000 digital
//     points, grouped into 8 + 1 requests, values stored in the database) against the same
//     requests made in a plain libmodbus loop (goal: at most 1.1 times);
//   - a raw write (VMMAP_Analog_Write) through the running driver program until the device
//     acknowledged it, against a plain libmodbus write of the same register (goal: 1.5 times)
//     and against the same plain write relayed by a bare thread over one local frame each way;
//   - a change on the device until the point holds it, with the driver program scanning every
//     20 ms, against one plain round trip (goal: at most the period plus one round trip; the
//     counters give the mean and the longest).
#include <benchmark/benchmark.h>
#include <modbus/modbus.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vexlor/vexlor.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_instance.h"
#include "modbus/driver.h"
#include "os/local_endpoint.h"

namespace {

constexpr int kPeriodMs = 20;

struct Child {
  pid_t pid = -1;
  std::string first_line;
  bool start(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe(out) != 0) return false;
    pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') first_line.push_back(c);
    close(out[0]);
    return pid > 0;
  }
  ~Child() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

// The device, the database with its two drivers (SCAN: scanned here; IO: served by the driver
// program) and a plain client of the same device.
struct Setup {
  vexlor::bench::BenchInstance instance{"modbus"};
  Child device, program;
  Vexlor::VMMAP mmap;
  Vexlor::MMAP_STRU* db = nullptr;
  modbus_t* plain = nullptr;
  int io_point = -1;  // analog point of IO: holding register 3000, read and written
  int port = 0;
  bool ok = false;

  Setup() {
    if (!device.start({VEXLOR_BUILD_DIR "/drivers/vexlor-modbus-sim", "--port", "0"})) return;
    if (std::sscanf(device.first_line.c_str(), "port %d", &port) != 1) return;
    const std::string dir = std::getenv("VEXLOR_RUNTIME_DIR");
    const std::string cfg = dir + "/modbus.toml";
    {
      std::ofstream f(cfg);
      const std::string common = "host = \"127.0.0.1\", port = " + std::to_string(port) +
                                 ", period_ms = " + std::to_string(kPeriodMs) + ", timeout_ms = 1000";
      f << "drivers = [ { name = \"SCAN\", type = 100, " << common << " }, { name = \"IO\", type = 100, "
        << common << " } ]\nanalog = [\n";
      for (int i = 0; i < 1000; ++i) {
        f << "  { name = \"HR" << i << "\", min = 0, max = 65535, input_driver = \"SCAN\", in_params = "
          << "{ table = \"holding_register\", address = " << i << " } },\n";
      }
      f << "  { name = \"IO.Value\", min = 0, max = 65535, input_driver = \"IO\", output_driver = \"IO\", "
           "in_params = { table = \"holding_register\", address = 3000 }, out_params = { table = "
           "\"holding_register\", address = 3000 } },\n]\ndigital = [\n";
      for (int i = 0; i < 2000; ++i) {
        f << "  { name = \"CO" << i << "\", input_driver = \"SCAN\", in_params = { table = \"coil\", address = "
          << i << " } },\n";
      }
      f << "]\n[system]\nsimulation = false\nhistory_path = \"Z:\\\\History\"\n";
    }
    const std::string create = VEXLOR_BUILD_DIR "/tools/vexlor-db create " + cfg + " >/dev/null 2>&1";
    if (std::system(create.c_str()) != 0) return;
    db = mmap.VMMAP_Initial("modbus_bench") ? mmap.DB() : nullptr;
    if (db == nullptr) return;
    io_point = 1000;
    if (!program.start({VEXLOR_BUILD_DIR "/drivers/vexlor-modbus", "IO"})) return;
    for (int i = 0; i < 500 && !(vexlor::os::endpoint_served("driver.1") && db->analog_val[io_point].read_status == 1); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    plain = modbus_new_tcp("127.0.0.1", port);
    ok = db->analog_val[io_point].read_status == 1 && plain != nullptr && modbus_connect(plain) == 0;
  }
  ~Setup() {
    if (plain != nullptr) {
      modbus_close(plain);
      modbus_free(plain);
    }
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

void BM_Driver_Scan_1000Registers_2000Coils(benchmark::State& state) {
  Setup& s = setup();
  if (!s.ok) return state.SkipWithError("no device or database");
  vexlor::drivers::modbus::Driver driver(s.db, 0);
  if (!driver.connect_device()) return state.SkipWithError("cannot connect");
  for (auto _ : state) driver.scan();
  if (s.db->analog_val[999].read_status != 1 || s.db->digital_val[1999].read_status != 1) {
    state.SkipWithError("the scan stored nothing");
  }
}
BENCHMARK(BM_Driver_Scan_1000Registers_2000Coils)->UseRealTime();

void BM_Plain_Requests_1000Registers_2000Coils(benchmark::State& state) {
  Setup& s = setup();
  if (!s.ok) return state.SkipWithError("no device or database");
  std::vector<uint16_t> regs(125);
  std::vector<uint8_t> bits(2000);
  for (auto _ : state) {
    for (int start = 0; start < 1000; start += 125) {
      if (modbus_read_registers(s.plain, start, 125, regs.data()) != 125) state.SkipWithError("read");
    }
    if (modbus_read_bits(s.plain, 0, 2000, bits.data()) != 2000) state.SkipWithError("read");
  }
}
BENCHMARK(BM_Plain_Requests_1000Registers_2000Coils)->UseRealTime();

void BM_Driver_RawWrite_ToAcknowledgment(benchmark::State& state) {
  Setup& s = setup();
  if (!s.ok) return state.SkipWithError("no device or database");
  double v = 0;
  for (auto _ : state) {
    v = v == 0 ? 1 : 0;
    if (!s.mmap.VMMAP_Analog_Write(s.io_point, v)) state.SkipWithError("write refused");
  }
}
BENCHMARK(BM_Driver_RawWrite_ToAcknowledgment)->UseRealTime();

void BM_Plain_Write(benchmark::State& state) {
  Setup& s = setup();
  if (!s.ok) return state.SkipWithError("no device or database");
  uint16_t v = 0;
  for (auto _ : state) {
    v = v == 0 ? 1 : 0;
    if (modbus_write_register(s.plain, 3000, v) != 1) state.SkipWithError("write");
  }
}
BENCHMARK(BM_Plain_Write)->UseRealTime();

// What any driver kept out of the routine's process pays at least: the same plain write made
// by a bare relay thread that one local frame asks and one frame answers (no mapping, no
// statistics, no database). The driver's write is compared with this too, to tell the hop's
// cost from the driver's own.
void BM_Plain_RelayedWrite(benchmark::State& state) {
  Setup& s = setup();
  if (!s.ok) return state.SkipWithError("no device or database");
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return state.SkipWithError("socketpair");
  modbus_t* relay_ctx = modbus_new_tcp("127.0.0.1", s.port);
  if (relay_ctx == nullptr || modbus_connect(relay_ctx) != 0) {
    ::close(pair[0]);
    ::close(pair[1]);
    return state.SkipWithError("relay cannot connect");
  }
  std::thread relay([&] {
    uint16_t v = 0;
    while (::read(pair[1], &v, sizeof v) == sizeof v) {
      const char ok = modbus_write_register(relay_ctx, 3000, v) == 1 ? 1 : 0;
      if (::write(pair[1], &ok, 1) != 1) break;
    }
  });
  uint16_t v = 0;
  for (auto _ : state) {
    v = v == 0 ? 1 : 0;
    char ok = 0;
    if (::write(pair[0], &v, sizeof v) != sizeof v || ::read(pair[0], &ok, 1) != 1 || ok != 1) {
      state.SkipWithError("relayed write");
      break;
    }
  }
  ::shutdown(pair[0], SHUT_RDWR);
  relay.join();
  ::close(pair[0]);
  ::close(pair[1]);
  modbus_close(relay_ctx);
  modbus_free(relay_ctx);
}
BENCHMARK(BM_Plain_RelayedWrite)->UseRealTime();

// From the device's change (acknowledged to the plain client) until the point holds the value.
void BM_Driver_DeviceChange_ToPointValue(benchmark::State& state) {
  Setup& s = setup();
  if (!s.ok) return state.SkipWithError("no device or database");
  uint16_t v = 100;
  double longest = 0, total = 0;
  int step = 0;
  for (auto _ : state) {
    ++v;
    // Changes spread over the scan period (a change right after the point took the last one
    // would always wait a whole period); the wait is not counted.
    std::this_thread::sleep_for(std::chrono::microseconds((step++ * 7919) % (kPeriodMs * 1000)));
    const auto start = std::chrono::steady_clock::now();
    if (modbus_write_register(s.plain, 3000, v) != 1) state.SkipWithError("write");
    while (s.db->analog_val[s.io_point].read_value != v) {
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(2)) {
        state.SkipWithError("the point never took the value");
        break;
      }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    longest = std::max(longest, seconds);
    total += seconds;
  }
  state.counters["period_ms"] = kPeriodMs;
  state.counters["mean_ms"] = total * 1000 / static_cast<double>(state.iterations());
  state.counters["longest_ms"] = longest * 1000;
}
BENCHMARK(BM_Driver_DeviceChange_ToPointValue)->UseManualTime()->Iterations(200);

void BM_Plain_RoundTrip(benchmark::State& state) {
  Setup& s = setup();
  if (!s.ok) return state.SkipWithError("no device or database");
  uint16_t r = 0;
  for (auto _ : state) {
    if (modbus_read_registers(s.plain, 3000, 1, &r) != 1) state.SkipWithError("read");
  }
}
BENCHMARK(BM_Plain_RoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
