// The Modbus session of the demo end to end: scripts/run_equipment.sh --modbus against this
// build, process module 1 on the device simulator the script starts and ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "support/session_script.h"

namespace {

bool alive(int pid) { return ::kill(pid, 0) == 0; }

}  // namespace

TEST(ModbusDemo, WaferThroughPm1OnTheDeviceAndNothingLeftBehind) {
  char templ[] = "/tmp/vexlor-mbdemo.XXXXXX";
  const std::string tmp = ::mkdtemp(templ);
  int status = -1;
  const std::string out = vexlor::test::run_command(
      "cd " VEXLOR_SOURCE_DIR " && NO_COLOR=1 VEXLOR_DEMO_HOST_PORT=" +
          vexlor::test::free_loopback_port() + " TMPDIR=" + tmp +
          " timeout 150 bash scripts/run_equipment.sh " VEXLOR_BUILD_DIR " --modbus 2>&1",
      &status);
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;

  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      out, m, std::regex("vexlor-modbus-sim on 127\\.0\\.0\\.1:([0-9]+) \\(pid ([0-9]+)\\)")))
      << out;
  const std::string port = m[1];
  const int device_pid = std::stoi(m[2]);
  for (const std::string line : {
           "== Operator: the drivers (PM1_PLC is served by vexlor-modbus)",
           // The wafer's trip through PM1, whose pump-down wrote the device's coils.
           "[SCHEDULER_INTERFACE_TM1] place into PM1 slot 1 with arm A",
           "[PM1_PUMP_DOWN] PM1.RoughValve = Open",
           "[PM1_PUMP_DOWN] PM1.Pump = On",
           "[PM1_PUMP_DOWN] PM1.VentValve = Close",
           "[PM1_PUMP_DOWN] PM1.Pressure_Setpoint = 0.0500 Torr",
           "[PM1_PUMP_DOWN] pump-down of PM1 finished",
           "== SCHEDULER_ENGINE ended with exit status 0",
           "PM1     PM1   1     1      CM1     0       CID01",
           "== PM2_PROCESS ended with exit status 0",
       }) {
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  }
  // PM1's vent ran last: its valves as the controller holds them.
  EXPECT_TRUE(std::regex_search(out, std::regex("PM1\\.RoughValve +digital +Close +- +ok\n")))
      << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("PM1\\.VentValve +digital +Open +- +ok\n"))) << out;
  // The drivers at the end: PM1_PLC online with the device's port, and its statistics.
  EXPECT_TRUE(std::regex_search(
      out, std::regex("PM1_PLC +100 +online +2130706433," + port + ",1,100,500,5007,0,0,0,0")))
      << out;
  EXPECT_TRUE(std::regex_search(
      out,
      std::regex("PM1_PLC: reads [1-9][0-9]* ok, writes [1-9][0-9]* ok, 0 I/O errors; I/O "
                 "[0-9.]+ ms, longest [0-9.]+ ms; cycles .*; online since 20[0-9-]+ [0-9:]+\n")))
      << out;

  // Nothing is left: the session folder, and no process of the session's instance (manager,
  // routines, driver program, panel); the device simulator is gone too.
  EXPECT_TRUE(std::filesystem::is_empty(tmp)) << out;
  EXPECT_FALSE(alive(device_pid));
  ASSERT_TRUE(std::regex_search(out, m, std::regex("created instance \"(demo-[0-9]+)\"")));
  const std::string instance = "VEXLOR_INSTANCE=" + m[1].str();
  std::string left;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream environ(entry.path() / "environ", std::ios::binary);
    std::string env((std::istreambuf_iterator<char>(environ)), std::istreambuf_iterator<char>());
    std::ifstream stat(entry.path() / "stat");
    std::string pid, comm, state;
    stat >> pid >> comm >> state;
    if (state != "Z" && env.find(instance + '\0') != std::string::npos)
      left += pid + " " + comm + "\n";
  }
  EXPECT_EQ(left, "") << out;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("vexlor-manager running \\(pid ([0-9]+)\\)")));
  EXPECT_FALSE(alive(std::stoi(m[1])));
  std::filesystem::remove_all(tmp);
}
