// The Modbus session of the demo end to end: scripts/run_equipment.sh --modbus against this
// build, process module 1 on the device simulator the script starts and ends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace {

std::string run(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *status = ::pclose(pipe);
  return out;
}

bool alive(int pid) { return ::kill(pid, 0) == 0; }

// A port nobody listens on now, for the session's host link (sessions run side by side).
std::string free_port() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  std::string port = "5000";
  if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = std::to_string(ntohs(address.sin_port));
  }
  if (s >= 0) ::close(s);
  return port;
}

}  // namespace

TEST(ModbusDemo, WaferThroughPm1OnTheDeviceAndNothingLeftBehind) {
  char templ[] = "/tmp/vexlor-mbdemo.XXXXXX";
  const std::string tmp = ::mkdtemp(templ);
  int status = -1;
  const std::string out =
      run("cd " VEXLOR_SOURCE_DIR " && NO_COLOR=1 VEXLOR_DEMO_HOST_PORT=" + free_port() +
              " TMPDIR=" + tmp +
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
