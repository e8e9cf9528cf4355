// The Modbus TCP driver against the device simulator, a separate libmodbus server process on
// 127.0.0.1: values of every data type and order, request grouping counted by the device,
// refused writes, link loss and return through the manager's driver process, and mappings
// vexlor-db refuses.
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vexlor/instance_state.h>
#include <vexlor/vexlor.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "db/driver_link.h"
#include "os/local_endpoint.h"
#include "support/instance.h"

namespace {

// The day's driver.log below the instance's drive root ("" when there is none).
std::string driver_log(const vexlor::test::PrivateInstance& instance) {
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(instance.drive_root(), ec), end;
       !ec && it != end; it.increment(ec)) {
    if (it->path().filename() == "driver.log") return vexlor::test::slurp(it->path().string());
  }
  return {};
}

// How often `what` occurs in `text`.
std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}


using vexlor::test::PrivateInstance;
using vexlor::test::slurp;
using vexlor::test::wait_until;

std::string build(const std::string& path) { return std::string(VEXLOR_BUILD_DIR "/") + path; }

// A program run in the background, ended with kill -9 by the test.
struct Background {
  pid_t pid = -1;
  std::string first_line;
  // With `first_line`, waits for the program's first output line.
  bool start(const std::vector<std::string>& argv, bool wait_line = false) {
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
    while (wait_line && read(out[0], &c, 1) == 1 && c != '\n') first_line.push_back(c);
    close(out[0]);
    return pid > 0;
  }
  void end() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  ~Background() { end(); }
};

struct Device : Background {
  int port = 0;
  std::string counts;
  bool start(const std::vector<std::string>& args, int fixed_port = 0) {
    std::vector<std::string> argv = {build("drivers/vexlor-modbus-sim"), "--port",
                                     std::to_string(fixed_port)};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!Background::start(argv, true)) return false;
    return std::sscanf(first_line.c_str(), "port %d", &port) == 1;
  }
  // Read requests the device answered so far (requests of every client).
  long reads() const {
    long requests = 0, r = 0, w = 0;
    std::sscanf(slurp(counts).c_str(), "%ld %ld %ld", &requests, &r, &w);
    return r;
  }
  std::vector<uint16_t> registers(int address, int count) const {
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    std::vector<uint16_t> regs(count, 0xdead);
    if (ctx != nullptr && modbus_connect(ctx) == 0)
      modbus_read_registers(ctx, address, count, regs.data());
    modbus_close(ctx);
    modbus_free(ctx);
    return regs;
  }
};

void write_file(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

struct Db {
  Vexlor::VMMAP mmap;
  Vexlor::MMAP_STRU* db = nullptr;
  bool attach() {
    db = mmap.VMMAP_Initial("modbus-test") ? mmap.DB() : nullptr;
    return db != nullptr;
  }
  int digital(const char* name) {
    for (int i = 0; i < db->system_block->digital_count; ++i) {
      if (std::strcmp(db->digital_sp[i].name, name) == 0) return i;
    }
    return -1;
  }
  int analog(const char* name) {
    for (int i = 0; i < db->system_block->analog_count; ++i) {
      if (std::strcmp(db->analog_sp[i].name, name) == 0) return i;
    }
    return -1;
  }
};

const char* kPoints = R"(
digital = [
  { name = "D.Coil", input_driver = "MB", output_driver = "MB", in_params = { table = "coil", address = 0 }, out_params = { table = "coil", address = 0 } },
  { name = "D.Bit15", input_driver = "MB", output_driver = "MB", in_params = { table = "holding_register", address = 10, type = "bit", bit = 15 }, out_params = { table = "holding_register", address = 10, type = "bit", bit = 15 } },
  { name = "D.Neg", min = -100, max = 100, input_driver = "MB", output_driver = "MB", in_params = { table = "holding_register", address = 11, type = "int16" }, out_params = { table = "holding_register", address = 11, type = "int16" } },
  { name = "D.Refused", min = 0, max = 100, input_driver = "MB", output_driver = "MB", in_params = { table = "holding_register", address = 200 }, out_params = { table = "holding_register", address = 200 } },
]
analog = [
  { name = "A.F32", input_driver = "MB", in_params = { table = "holding_register", address = 20, type = "float32", order = "ABCD" } },
  { name = "A.F32W", input_driver = "MB", output_driver = "MB", in_params = { table = "holding_register", address = 22, type = "float32", order = "CDAB" }, out_params = { table = "holding_register", address = 22, type = "float32", order = "CDAB" } },
  { name = "A.F64", input_driver = "MB", in_params = { table = "holding_register", address = 24, type = "float64", order = "DCBA" } },
  { name = "A.I32", input_driver = "MB", in_params = { table = "holding_register", address = 28, type = "int32", order = "BADC" } },
  { name = "A.U32", input_driver = "MB", in_params = { table = "holding_register", address = 30, type = "uint32" } },
  { name = "A.Scaled", input_driver = "MB", output_driver = "MB", in_params = { table = "holding_register", address = 32, scale = 0.1, offset = -5 }, out_params = { table = "holding_register", address = 32, scale = 0.1, offset = -5 } },
  { name = "A.Input", input_driver = "MB", in_params = { table = "input_register", address = 0, type = "int16" } },
]
string = [
  { name = "S.Id", input_driver = "MB", output_driver = "MB", in_param = { table = "holding_register", address = 40, length = 6 }, out_param = { table = "holding_register", address = 40, length = 6 } },
]
)";

std::string config(int port, int period_ms) {
  return std::string(R"(
modules = [ { id = "PM1", kind = "PM", side = 0, alarm_base = 5 } ]
alarms = [ { id = 5001, module = "PM1", level = 1, name = "PM1_MB_LINK", text = "Device link lost|设备通讯中断", choices = [["CLEAR", "Clear|清除"]] } ]
drivers = [ { name = "MB", type = 100, host = "127.0.0.1", port = )") +
         std::to_string(port) + ", unit = 1, period_ms = " + std::to_string(period_ms) +
         ", timeout_ms = 1000, alarm = 5001 } ]\n" + kPoints +
         "[system]\nsimulation = false\nhistory_path = \"Z:\\\\History\"\n";
}

std::vector<std::string> kPresets = {
    "--set", "co:0=1",       "--set", "hr:10=0x8000", "--set",    "hr:11=0xFFFE",
    "--set", "hr:20=0x4148", "--set", "hr:21=0",      "--set",    "hr:22=0",
    "--set", "hr:23=0xBFC0", "--set", "hr:27=0x0A40", "--set",    "hr:28=0xFEFF",
    "--set", "hr:29=0x6079", "--set", "hr:30=0xB2D0", "--set",    "hr:31=0x5E00",
    "--set", "hr:32=1234",   "--set", "ir:0=0x8000",  "--set",    "hr:40=0x4142",
    "--set", "hr:41=0x4344", "--set", "hr:42=0x4546", "--refuse", "hr:200"};

TEST(ModbusDriver, ValuesGroupingWritesAndExceptions) {
  PrivateInstance instance("mb");
  Device device;
  device.counts = instance.runtime_dir() + "/counts";
  std::vector<std::string> args = kPresets;
  args.insert(args.end(), {"--counts", device.counts});
  ASSERT_TRUE(device.start(args));
  const std::string cfg = instance.runtime_dir() + "/mb.toml";
  write_file(cfg, config(device.port, 60000));  // one scan, at connection
  auto created =
      vexlor::test::run_tool(build("tools/vexlor-db"), {"create", cfg}, instance.runtime_dir());
  ASSERT_EQ(created.code, 0) << created.err;

  Background driver;
  ASSERT_TRUE(driver.start({build("drivers/vexlor-modbus"), "MB"}));
  Db d;
  ASSERT_TRUE(d.attach());
  const int text_point = 0;
  // The input register group is read last in a scan: once the device answered it and the
  // driver stored its value, every point was stored. (The database is created with every read
  // status 1; the driver program clears them when it starts, so the status alone is no sign.)
  ASSERT_TRUE(wait_until([&] { return device.reads() >= 6; }, 10));
  ASSERT_TRUE(
      wait_until([&] { return d.db->analog_val[d.analog("A.Input")].read_status == 1; }, 10));
  // coil 0 | hr 10-11 | hr 20-32 | hr 40-42 | hr 200 | ir 0
  EXPECT_EQ(device.reads(), 6);

  int i = 0;
  EXPECT_TRUE(d.mmap.VMMAP_Digital_Read(d.digital("D.Coil"), &i));
  EXPECT_EQ(i, 1);
  EXPECT_TRUE(d.mmap.VMMAP_Digital_Read(d.digital("D.Bit15"), &i));
  EXPECT_EQ(i, 1);
  EXPECT_TRUE(d.mmap.VMMAP_Digital_Read(d.digital("D.Neg"), &i));
  EXPECT_EQ(i, -2);
  EXPECT_FALSE(d.mmap.VMMAP_Digital_Read(d.digital("D.Refused"), &i));  // exception: bad point
  double v = 0;
  EXPECT_TRUE(d.mmap.VMMAP_Analog_Read(d.analog("A.F32"), &v));
  EXPECT_EQ(v, 12.5);
  EXPECT_TRUE(d.mmap.VMMAP_Analog_Read(d.analog("A.F32W"), &v));
  EXPECT_EQ(v, -1.5);
  EXPECT_TRUE(d.mmap.VMMAP_Analog_Read(d.analog("A.F64"), &v));
  EXPECT_EQ(v, 3.25);
  EXPECT_TRUE(d.mmap.VMMAP_Analog_Read(d.analog("A.I32"), &v));
  EXPECT_EQ(v, -100000);
  EXPECT_TRUE(d.mmap.VMMAP_Analog_Read(d.analog("A.U32"), &v));
  EXPECT_EQ(v, 3000000000.0);
  EXPECT_TRUE(d.mmap.VMMAP_Analog_Read(d.analog("A.Scaled"), &v));
  EXPECT_EQ(v, 118.4);
  EXPECT_TRUE(d.mmap.VMMAP_Analog_Read(d.analog("A.Input"), &v));
  EXPECT_EQ(v, -32768);
  char text[1024] = {};
  EXPECT_TRUE(d.mmap.VMMAP_String_Read(text_point, text));
  EXPECT_STREQ(text, "ABCDEF");

  // Writes reach the device encoded exactly, and return only after it acknowledged them.
  EXPECT_TRUE(d.mmap.VMMAP_Analog_Write(d.analog("A.F32W"), -2.75));
  EXPECT_EQ(device.registers(22, 2), (std::vector<uint16_t>{0x0000, 0xC030}));
  EXPECT_TRUE(d.mmap.VMMAP_Digital_Write(d.digital("D.Bit15"), 0));
  EXPECT_TRUE(d.mmap.VMMAP_Digital_Write(d.digital("D.Neg"), -7));
  EXPECT_EQ(device.registers(10, 2), (std::vector<uint16_t>{0x0000, 0xFFF9}));
  EXPECT_TRUE(d.mmap.VMMAP_Analog_Write(d.analog("A.Scaled"), 120.0));
  EXPECT_EQ(device.registers(32, 1), (std::vector<uint16_t>{1250}));
  EXPECT_TRUE(d.mmap.VMMAP_String_Write(text_point, "xyz"));
  EXPECT_EQ(device.registers(40, 3), (std::vector<uint16_t>{0x7879, 0x7A00, 0x0000}));
  EXPECT_STREQ(d.db->string_val[text_point].write_value, "xyz");
  // A text longer than the device's string is refused, nothing stored.
  EXPECT_FALSE(d.mmap.VMMAP_String_Write(text_point, "1234567"));
  EXPECT_STREQ(d.db->string_val[text_point].write_value, "xyz");

  // The device refuses: false, and the point's write value and status stay as they were.
  const int refused = d.digital("D.Refused");
  d.db->digital_val[refused].write_value = 3;
  d.db->digital_val[refused].write_status = 0;
  EXPECT_FALSE(d.mmap.VMMAP_Digital_Write(refused, 5));
  EXPECT_EQ(d.db->digital_val[refused].write_value, 3);
  EXPECT_EQ(d.db->digital_val[refused].write_status, 0);
  // ... and the link and the other points are left alone.
  EXPECT_EQ(d.db->driver_sp[0].params[9], 0);
  EXPECT_TRUE(d.mmap.VMMAP_Digital_Write(d.digital("D.Coil"), 0));
  EXPECT_EQ(device.reads(), 6 + 4);  // the test's own four register reads

  // The program's statistics: five group reads answered, one refused; six writes taken, one
  // refused by the device (the over-long text never reached it).
  std::string status;
  ASSERT_TRUE(vexlor::detail::driver_status(0, &status, 2000));
  for (const char* field :
       {"\"state\":\"online\"", "\"points\":12", "\"requests_per_scan\":6", "\"scans\":1,",
        "\"reads_ok\":5,", "\"writes_ok\":6,", "\"io_errors\":2,", "\"exceptions\":2,"}) {
    EXPECT_NE(status.find(field), std::string::npos) << field << " in " << status;
  }

  // The console shows what the program publishes each second in the runtime folder.
  std::string console;
  ASSERT_TRUE(wait_until(
      [&] {
        console = vexlor::test::run_tool(build("tools/vexlor"), {"drivers", "--json"},
                                         instance.runtime_dir())
                      .out;
        return console.find("\"writes_ok\":6,") != std::string::npos;
      },
      10))
      << console;
  for (const char* field :
       {"{\"index\":0,\"name\":\"MB\",\"type\":100,\"state\":\"online\",",
        "\"statistics\":{\"state\":\"online\",\"online_since\":\"20",
        "\"scans\":1,\"reads_ok\":5,\"writes_ok\":6,\"io_errors\":2,\"exceptions\":2,",
        "\"last_error\":\"\",\"updated\":"}) {
    EXPECT_NE(console.find(field), std::string::npos) << field << " in " << console;
  }
  const std::string table =
      vexlor::test::run_tool(build("tools/vexlor"), {"drivers"}, instance.runtime_dir()).out;
  EXPECT_TRUE(std::regex_search(
      table, std::regex("\nMB: reads 5 ok, writes 6 ok, 2 I/O errors; I/O [0-9]+\\.[0-9]{2} ms, "
                        "longest [0-9]+\\.[0-9]{2} ms; cycles (≤[0-9]+|>500) ms 1; online since "
                        "20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9:]{8}\n$")))
      << table;
}

TEST(ModbusDriver, ManagerDriverProcessLinkLossAndReturn) {
  PrivateInstance instance("mbm");
  Device device;
  ASSERT_TRUE(device.start(kPresets));
  const int port = device.port;
  const std::string cfg = instance.runtime_dir() + "/mb.toml";
  write_file(cfg, config(port, 100));
  auto created =
      vexlor::test::run_tool(build("tools/vexlor-db"), {"create", cfg}, instance.runtime_dir());
  ASSERT_EQ(created.code, 0) << created.err;
  Background manager;
  manager.start({build("tools/vexlor-manager"), "--quiet"});
  Db d;
  ASSERT_TRUE(d.attach());
  const int coil = d.digital("D.Coil");
  // The manager marks the driver offline until its program connected.
  ASSERT_TRUE(wait_until([&] { return vexlor::os::endpoint_served("driver.0"); }, 10));
  ASSERT_TRUE(wait_until([&] { return d.db->driver_sp[0].params[9] == 0; }, 10));
  ASSERT_TRUE(wait_until([&] { return d.db->digital_val[coil].read_status == 1; }, 10));

  // A write and its read-back through the manager's driver process.
  EXPECT_TRUE(d.mmap.VMMAP_Digital_Write(d.digital("D.Neg"), 42));
  int i = 0;
  EXPECT_TRUE(
      wait_until([&] { return d.mmap.VMMAP_Digital_Read(d.digital("D.Neg"), &i) && i == 42; }, 10));

  // The driver program killed: the manager starts it again, and the next write goes to the new
  // program (the connection this process kept to the ended one is replaced on the way).
  auto program = [] {
    long pid = 0;
    for (const vexlor::AttachedRoutine& a : vexlor::inspect_instance().attached) {
      if (a.routine == "DRV_MB") pid = a.pid;
    }
    return pid;
  };
  const long first = program();
  ASSERT_GT(first, 0);
  kill(static_cast<pid_t>(first), SIGKILL);
  EXPECT_TRUE(wait_until(
      [&] {
        const long now = program();
        return now > 0 && now != first && d.db->driver_sp[0].params[9] == 0 &&
               vexlor::os::endpoint_served("driver.0");
      },
      15));
  EXPECT_TRUE(d.mmap.VMMAP_Digital_Write(d.digital("D.Neg"), -3));
  EXPECT_EQ(device.registers(11, 1), (std::vector<uint16_t>{0xFFFD}));

  device.end();
  EXPECT_TRUE(wait_until([&] { return d.db->driver_sp[0].params[9] == 1; }, 10));
  EXPECT_FALSE(d.mmap.VMMAP_Digital_Read(coil, &i));
  EXPECT_FALSE(d.mmap.VMMAP_Digital_Write(coil, 1));
  // The driver's alarm, posted once (just after the offline mark).
  EXPECT_TRUE(wait_until([&] { return d.db->alarm_rt[0].post_type == 1; }, 10));
  Device back;
  ASSERT_TRUE(back.start(kPresets, port));
  EXPECT_TRUE(wait_until([&] { return d.db->driver_sp[0].params[9] == 0; }, 15));
  EXPECT_TRUE(wait_until([&] { return d.db->digital_val[coil].read_status == 1; }, 10));
  const int alarm = 0;
  EXPECT_EQ(d.db->alarm_rt[alarm].post_type, 0);  // cleared on return

  // One line per state change in driver.log: online, the program's end, online (the new
  // program), offline, online.
  const std::string day_log = driver_log(instance);
  auto count = [&](const std::string& what) { return occurrences(day_log, what); };
  EXPECT_EQ(count("] online: 127.0.0.1:" + std::to_string(port) + " unit 1"), 3u) << day_log;
  EXPECT_EQ(count(" [ERR] [MB] driver program ended (signal 9); restart in 1 s\n"), 1u) << day_log;
  EXPECT_EQ(count("] offline: "), 1u) << day_log;
  // The manager ends its driver programs with it.
  kill(manager.pid, SIGTERM);
  waitpid(manager.pid, nullptr, 0);
  manager.pid = -1;
}

// A number field of a driver's status text; -1 when missing.
long status_field(const std::string& status, const std::string& key) {
  const std::size_t at = status.find("\"" + key + "\":");
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + key.size() + 3);
}

TEST(ModbusDriver, RoutineWritesAndReadsBackThroughTheManagersDriverProgram) {
  PrivateInstance instance("mbr");
  Device device;
  ASSERT_TRUE(device.start(kPresets));
  std::string cfg_text = config(device.port, 100);
  cfg_text.insert(cfg_text.find("[system]"),
                  std::string("functions = [ { name = \"IO\", command = [\"") +
                      VEXLOR_TEST_ROUTINE + "\", \"IO\"] } ]\n");
  const std::string cfg = instance.runtime_dir() + "/mb.toml";
  write_file(cfg, cfg_text);
  auto created =
      vexlor::test::run_tool(build("tools/vexlor-db"), {"create", cfg}, instance.runtime_dir());
  ASSERT_EQ(created.code, 0) << created.err;
  Background manager;
  manager.start({build("tools/vexlor-manager"), "--quiet", "--config", cfg});
  Db d;
  ASSERT_TRUE(d.attach());
  ASSERT_TRUE(wait_until([&] { return vexlor::os::endpoint_served("driver.0"); }, 10));
  ASSERT_TRUE(wait_until([&] { return d.db->driver_sp[0].params[9] == 0; }, 10));
  ASSERT_TRUE(
      wait_until([&] { return d.db->digital_val[d.digital("D.Neg")].read_status == 1; }, 10));

  // The routine's write returns once the device took it, and its read right after sees it.
  auto run = [&](const std::string& param) {
    return vexlor::test::run_tool(build("tools/vexlor"), {"run", "IO", param},
                                  instance.runtime_dir());
  };
  auto r = run("WRITE D.Neg -7");
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(device.registers(11, 1), (std::vector<uint16_t>{0xFFF9}));
  r = run("WRITE A.Scaled 120");
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(device.registers(32, 1), (std::vector<uint16_t>{1250}));
  // Refused by the device: the routine's write fails, and the bad point reads nothing.
  r = run("WRITE D.Refused 5");
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  EXPECT_EQ(slurp(instance.runtime_dir() + "/runs.log"),
            "IO WRITE D.Neg -7\nwrote=1 read=1:-7\n"
            "IO WRITE A.Scaled 120\nwrote=1 read=1:120.00\n"
            "IO WRITE D.Refused 5\nwrote=0 read=0:\n");
  kill(manager.pid, SIGTERM);
  waitpid(manager.pid, nullptr, 0);
  manager.pid = -1;
}

TEST(ModbusDriver, SlowDeviceDoesNotDelayAnotherDevicesScan) {
  PrivateInstance instance("mbs");
  Device fast, slow;
  ASSERT_TRUE(fast.start({"--set", "co:0=1"}));
  ASSERT_TRUE(slow.start({"--set", "co:0=1", "--delay-ms", "1500"}));  // slower than its time-out
  const int period_ms = 20, timeout_ms = 1000;
  auto driver = [&](const char* name, int port) {
    return std::string("{ name = \"") + name +
           "\", type = 100, host = \"127.0.0.1\", port = " + std::to_string(port) +
           ", period_ms = " + std::to_string(period_ms) +
           ", timeout_ms = " + std::to_string(timeout_ms) + " }";
  };
  const std::string cfg = instance.runtime_dir() + "/mb.toml";
  write_file(cfg, "drivers = [ " + driver("FAST", fast.port) + ", " + driver("SLOW", slow.port) +
                      " ]\ndigital = [\n"
                      "  { name = \"F.Coil\", input_driver = \"FAST\", in_params = { table = "
                      "\"coil\", address = 0 } },\n"
                      "  { name = \"S.Coil\", input_driver = \"SLOW\", in_params = { table = "
                      "\"coil\", address = 0 } },\n"
                      "]\n[system]\nsimulation = false\nhistory_path = \"Z:\\\\History\"\n");
  auto created =
      vexlor::test::run_tool(build("tools/vexlor-db"), {"create", cfg}, instance.runtime_dir());
  ASSERT_EQ(created.code, 0) << created.err;
  Background manager;
  manager.start({build("tools/vexlor-manager"), "--quiet"});
  ASSERT_TRUE(wait_until(
      [&] {
        return vexlor::os::endpoint_served("driver.0") && vexlor::os::endpoint_served("driver.1");
      },
      10));

  // The moment the slow driver gave up its first request (a whole time-out spent waiting), the
  // fast one has gone on scanning: a fifth of the scans its period allows in that time at least.
  std::string fast_status, slow_status;
  ASSERT_TRUE(wait_until(
      [&] {
        return vexlor::detail::driver_status(1, &slow_status, 2000) &&
               status_field(slow_status, "io_errors") >= 1;
      },
      15))
      << slow_status;
  ASSERT_TRUE(vexlor::detail::driver_status(0, &fast_status, 2000));
  EXPECT_GE(status_field(fast_status, "scans"), timeout_ms / period_ms / 5) << fast_status;
  EXPECT_EQ(status_field(fast_status, "io_errors"), 0) << fast_status;
  EXPECT_NE(fast_status.find("\"state\":\"online\""), std::string::npos) << fast_status;
  EXPECT_EQ(status_field(slow_status, "scans"), 0) << slow_status;
  EXPECT_NE(slow_status.find("\"state\":\"offline\""), std::string::npos) << slow_status;
  // ... and the fast device's point is read, the slow one's is not.
  Db d;
  ASSERT_TRUE(d.attach());
  int v = 0;
  EXPECT_TRUE(d.mmap.VMMAP_Digital_Read(0, &v));
  EXPECT_EQ(v, 1);
  EXPECT_FALSE(d.mmap.VMMAP_Digital_Read(1, &v));
  kill(manager.pid, SIGTERM);
  waitpid(manager.pid, nullptr, 0);
  manager.pid = -1;
}

// libmodbus parses the device's answers (our code only decodes the registers and bits it
// hands over), so the wrong answers are made by the device simulator, not fuzzed here. (It does
// not check an answer's protocol and unit IDs, so the simulator spoils neither.)
TEST(ModbusDriver, WrongAnswersNeverReachAPoint) {
  PrivateInstance instance("mbg");
  Device device;
  device.counts = instance.runtime_dir() + "/counts";
  // Two requests per scan (coil 0 | registers 0-1): the first scan is answered properly, every
  // later answer is wrong and carries 0xBAD0 in every register and 1 in every bit.
  ASSERT_TRUE(device.start({"--set", "hr:0=111", "--set", "hr:1=0xFFFE", "--set", "co:0=0",
                            "--garble-after", "2", "--counts", device.counts}));
  const std::string cfg = instance.runtime_dir() + "/mb.toml";
  write_file(cfg, "drivers = [ { name = \"MB\", type = 100, host = \"127.0.0.1\", port = " +
                      std::to_string(device.port) +
                      ", period_ms = 20, timeout_ms = 100 } ]\n"
                      "digital = [\n"
                      "  { name = \"D.Reg\", min = 0, max = 65535, input_driver = \"MB\", "
                      "output_driver = \"MB\", in_params = { table = \"holding_register\", address "
                      "= 0 }, out_params = { table = \"holding_register\", address = 0 } },\n"
                      "  { name = \"D.Coil\", input_driver = \"MB\", in_params = { table = "
                      "\"coil\", address = 0 } },\n"
                      "]\nanalog = [\n"
                      "  { name = \"A.Neg\", input_driver = \"MB\", in_params = { table = "
                      "\"holding_register\", address = 1, type = \"int16\" } },\n"
                      "]\n[system]\nsimulation = false\nhistory_path = \"Z:\\\\History\"\n");
  auto created =
      vexlor::test::run_tool(build("tools/vexlor-db"), {"create", cfg}, instance.runtime_dir());
  ASSERT_EQ(created.code, 0) << created.err;
  Background driver;
  ASSERT_TRUE(driver.start({build("drivers/vexlor-modbus"), "MB"}));
  Db d;
  ASSERT_TRUE(d.attach());
  ASSERT_TRUE(wait_until(
      [&] {
        return d.db->digital_val[0].read_value == 111 && d.db->analog_val[0].read_value == -2;
      },
      10));
  d.db->digital_val[0].write_value = 7;

  // Five wrong answers (one of each kind); at no moment does a value of theirs show.
  bool seen_wrong = false;
  auto values_kept = [&] {
    const bool kept = d.db->digital_val[0].read_value == 111 &&
                      d.db->digital_val[1].read_value == 0 && d.db->analog_val[0].read_value == -2;
    seen_wrong = seen_wrong || !kept;
    return device.reads() >= 2 + 5 || seen_wrong;
  };
  ASSERT_TRUE(wait_until(values_kept, 30)) << device.reads();
  EXPECT_FALSE(seen_wrong) << d.db->digital_val[0].read_value << " "
                           << d.db->digital_val[1].read_value << " "
                           << d.db->analog_val[0].read_value;
  // A write answered wrongly is refused and stores nothing.
  EXPECT_FALSE(d.mmap.VMMAP_Digital_Write(0, 5));
  EXPECT_EQ(d.db->digital_val[0].write_value, 7);

  std::string status;
  ASSERT_TRUE(vexlor::detail::driver_status(0, &status, 2000));
  EXPECT_EQ(status_field(status, "scans"), 1) << status;
  EXPECT_EQ(status_field(status, "reads_ok"), 2) << status;
  EXPECT_EQ(status_field(status, "writes_ok"), 0) << status;
  EXPECT_GE(status_field(status, "io_errors"), 5) << status;
  EXPECT_NE(status.find("\"state\":\"offline\""), std::string::npos) << status;
  // A device that takes connections but answers wrongly stays offline: the first scan's answer
  // put it online, the first wrong answer offline, and no reconnection since counts as a return
  // (one line each, and reconnections back off).
  const std::string log = driver_log(instance);
  auto count = [&](const std::string& what) { return occurrences(log, what); };
  EXPECT_EQ(count("] online: "), 1u) << log;
  EXPECT_EQ(count("] offline: "), 1u) << log;
}

// Ended: gone, or a zombie nobody reaps yet.
bool ended(pid_t pid) {
  if (kill(pid, 0) != 0) return true;
  std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

TEST(ModbusDriver, ProgramEndsWithItsKilledManagerAndWithItsDatabase) {
  PrivateInstance instance("mbk");
  Device device;
  ASSERT_TRUE(device.start(kPresets));
  const std::string cfg = instance.runtime_dir() + "/mb.toml";
  write_file(cfg, config(device.port, 100));
  auto created =
      vexlor::test::run_tool(build("tools/vexlor-db"), {"create", cfg}, instance.runtime_dir());
  ASSERT_EQ(created.code, 0) << created.err;

  // The manager killed with SIGKILL: its driver program ends by itself.
  Background manager;
  manager.start({build("tools/vexlor-manager"), "--quiet"});
  ASSERT_TRUE(wait_until([&] { return vexlor::os::endpoint_served("driver.0"); }, 10));
  long program = 0;
  ASSERT_TRUE(wait_until(
      [&] {
        for (const vexlor::AttachedRoutine& a : vexlor::inspect_instance().attached) {
          if (a.routine == "DRV_MB") program = a.pid;
        }
        return program > 0;
      },
      10));
  manager.end();
  EXPECT_TRUE(wait_until([&] { return ended(static_cast<pid_t>(program)); }, 10));
  if (!ended(static_cast<pid_t>(program))) kill(static_cast<pid_t>(program), SIGKILL);
  EXPECT_FALSE(vexlor::os::endpoint_served("driver.0"));

  // The database replaced under a running program: it ends, with status 0.
  Background driver;
  ASSERT_TRUE(driver.start({build("drivers/vexlor-modbus"), "MB"}));
  ASSERT_TRUE(wait_until([&] { return vexlor::os::endpoint_served("driver.0"); }, 10));
  auto replaced = vexlor::test::run_tool(
      build("tools/vexlor-db"), {"create", "--force", "--force", cfg}, instance.runtime_dir());
  ASSERT_EQ(replaced.code, 0) << replaced.err;
  int status = -1;
  EXPECT_TRUE(wait_until([&] { return waitpid(driver.pid, &status, WNOHANG) == driver.pid; }, 10));
  driver.pid = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ModbusDriver, MalformedMappingsRefusedWithFileAndLine) {
  PrivateInstance instance("mbc");
  struct Case {
    const char* point;
    const char* message;
  };
  const Case cases[] = {
      {R"(analog = [ { name = "A", input_driver = "MB", in_params = { table = "coil", address = 1, type = "float32" } } ])",
       "mb.toml:3: analog[0].in_params.type: a float32 needs a register table, not \"coil\" (whose "
       "entries are single bits)"},
      {R"(analog = [ { name = "A", input_driver = "MB", in_params = { table = "holding_register", address = 65534, type = "float64" } } ])",
       "mb.toml:3: analog[0].in_params.address: address 65534 with 4 registers reaches past 65535"},
      {R"(string = [ { name = "S", input_driver = "MB", in_param = { table = "holding_register", address = 0, length = 2000 } } ])",
       "mb.toml:3: string[0].in_param.length: value 2000 is out of range 1..1023"},
      {R"(string = [ { name = "S", input_driver = "MB", in_param = { table = "holding_register", address = 0, length = 300 } } ])",
       "mb.toml:3: string[0].in_param.length: a string of 300 characters takes 150 registers, more "
       "than one request carries (125)"},
      {R"(digital = [ { name = "D", output_driver = "MB", out_params = { table = "input_register", address = 0 } } ])",
       "mb.toml:3: digital[0].out_params.table: table \"input_register\" is read-only; a point is "
       "written to a coil or a holding_register"},
      {R"(digital = [ { name = "D", input_driver = "MB", in_params = [1, 2] } ])",
       "mb.toml:3: digital[0].in_params: driver \"MB\" (Modbus TCP) needs a mapping table here"},
      {R"(analog = [ { name = "A", input_driver = "MB", in_params = { table = "holding_register", address = 0, scale = 0 } } ])",
       "mb.toml:3: analog[0].in_params.scale: scale must not be 0"},
  };
  for (const Case& c : cases) {
    const std::string cfg = instance.runtime_dir() + "/mb.toml";
    write_file(
        cfg, std::string("drivers = [ { name = \"MB\", type = 100, host = \"127.0.0.1\" } ]\n\n") +
                 c.point + "\n");
    auto r =
        vexlor::test::run_tool(build("tools/vexlor-db"), {"check", cfg}, instance.runtime_dir());
    EXPECT_EQ(r.code, 1) << c.point;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  const std::string cfg = instance.runtime_dir() + "/mb.toml";
  write_file(cfg, "drivers = [ { name = \"MB\", type = 100, host = \"127.0.0.300\" } ]\n");
  auto r = vexlor::test::run_tool(build("tools/vexlor-db"), {"check", cfg}, instance.runtime_dir());
  EXPECT_NE(r.err.find("mb.toml:1: drivers[0].host: \"127.0.0.300\" is not an IPv4 address (four "
                       "numbers 0 to 255, such as 127.0.0.1)"),
            std::string::npos)
      << r.err;
}

}  // namespace
