// vexlor-manager as a process: one per instance, interlock answers from the equipment
// configuration, clean stop, service under a flood of stalled connections, bounded record and
// rotated log.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <vexlor/vfifo.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/builder.h"
#include "fifo/manager_process.h"
#include "os/instance.h"
#include "os/local_endpoint.h"
#include "support/instance.h"

namespace {

using Vexlor::VFIFO;
using vexlor::test::ManagerProcess;
using vexlor::test::PrivateInstance;
using vexlor::test::run_tool;
using vexlor::test::slurp;
constexpr const char* kManager = vexlor::test::kManagerTool;

TEST(ManagerProcess, SecondManagerOnSameInstanceIsRefused) {
  PrivateInstance instance("mgr-second");
  ManagerProcess first;
  ASSERT_TRUE(first.start());
  const vexlor::test::ToolRun second = run_tool(kManager, {"--quiet"}, instance.runtime_dir());
  EXPECT_EQ(second.code, 1);
  EXPECT_EQ(second.err, "vexlor-manager: another vexlor-manager already serves instance \"" +
                            instance.name() + "\"\n");
  // The refused one touched nothing: the first still serves.
  VFIFO fifo;
  ASSERT_TRUE(fifo.VFIFO_Initial("R"));
  EXPECT_TRUE(fifo.VFIFO_Gui_MainForm("SHOW", ""));
  EXPECT_EQ(first.record(), std::vector<std::string>{"GuiMainForm command=SHOW text= sender=R"});

  // A manager on another instance runs side by side.
  instance.use(instance.name() + "-other");
  ManagerProcess other;
  EXPECT_TRUE(other.start({"--no-gui"}));
  EXPECT_EQ(other.stop(), 0);
  instance.use(instance.name());

  // SIGTERM: exit 0, endpoints and lock files removed; a killed one leaves files that the
  // next manager replaces.
  EXPECT_EQ(first.stop(), 0);
  for (const char* role : {"manager", "engine", "gui"}) {
    const std::string path = vexlor::os::endpoint_path(role);
    EXPECT_FALSE(std::filesystem::exists(path) || std::filesystem::exists(path + ".lock")) << path;
  }
  ASSERT_TRUE(first.start());
  first.kill9();
  EXPECT_TRUE(std::filesystem::exists(vexlor::os::endpoint_path("manager")));
  ASSERT_TRUE(first.start());
  EXPECT_TRUE(fifo.VFIFO_Gui_MainForm("HIDE", ""));
  EXPECT_EQ(first.record(), std::vector<std::string>{"GuiMainForm command=HIDE text= sender=R"});
}

// A bad interlock table stops the start and leaves nothing serving; a good one answers the
// interlock queries.
TEST(ManagerInterlocks, BadTablesStopTheStartAGoodOneAnswersQueries) {
  PrivateInstance instance("mgr-ilk");
  vexlor::config::DatabaseBuilder b;
  b.add_digital("PM1.Gas1_Valve");
  b.add_digital("PM1.Gas2_Valve");
  b.add_digital("pm1.gas2_valve");  // same name, later: the first match wins
  b.add_analog("PM1.MFC1_Set");
  std::string error;
  ASSERT_TRUE(b.publish(false, "manager_test", &error)) << error;
  const std::string config = instance.runtime_dir() + "/equipment.toml";
  // Bad tables, each with its error.
  const std::pair<std::string, std::string> bad[] = {
      {"interlocks = [ { point = \"PM1.Nope\", kind = \"digital\", answer = \"1\" } ]\n",
       ":1: interlocks[0].point: unknown digital point \"PM1.Nope\""},
      {"interlocks = [ { point = \"PM1.Gas1_Valve\", kind = \"string\" } ]\n",
       ":1: interlocks[0].kind: must be \"digital\" or \"analog\""},
      {"interlocks = [\n  { point = \"PM1.Gas1_Valve\", kind = \"digital\", answer = \"yes\" "
       "}\n]\n",
       ":2: interlocks[0].answer: not a decimal number: \"yes\""},
      {"interlocks = [ { point = \"PM1.Gas1_Valve\", kind = \"digital\", colour = 1 } ]\n",
       ":1: interlocks[0].colour: unknown key"},
      {"interlocks = 3\n", ":1: interlocks: not an array"},
  };
  for (const auto& [toml, message] : bad) {
    std::ofstream(config) << toml;
    const auto r = run_tool(kManager, {"--quiet", "--config", config}, instance.runtime_dir());
    EXPECT_EQ(r.code, 1) << toml;
    EXPECT_EQ(r.err, "vexlor-manager: " + config + message + "\n");
  }
  const std::string dir = vexlor::os::endpoint_dir(false);
  EXPECT_TRUE(!std::filesystem::exists(dir) || std::filesystem::is_empty(dir));

  std::ofstream(config) << "interlocks = [\n"
                           "  { point = \"PM1.GAS2_VALVE\", kind = \"digital\", answer = \"1\" },\n"
                           "  { point = \"PM1.MFC1_Set\", kind = \"analog\", answer = \"27\" },\n"
                           "  { point = \"PM1.Gas1_Valve\", kind = \"digital\", answer = \"0\" },\n"
                           "]\n";
  ManagerProcess manager;
  ASSERT_TRUE(manager.start({"--config", config}));
  VFIFO fifo;
  ASSERT_TRUE(fifo.VFIFO_Initial("PM1_PROC"));
  auto ask = [&](const char* kind, const char* param, int index) {
    char buffer[64] = "unset";
    const bool ok = fifo.VFIFO_Engine_Read(kind, param, "R1", index, "-", buffer, sizeof buffer);
    return ok ? std::string(buffer) : "failed";
  };
  EXPECT_EQ(ask("$D", "P7", 1), "1");   // PM1.Gas2_Valve (case-insensitive name)
  EXPECT_EQ(ask("$D", "P7", 2), "0");   // the later duplicate is not the configured point
  EXPECT_EQ(ask("$D", "P7", 0), "0");   // configured "0": not intercepted
  EXPECT_EQ(ask("$A", "P7", 0), "27");  // analog point 0
  EXPECT_EQ(ask("$A", "P7", 1), "0");   // analog index 1 is not configured
  EXPECT_EQ(ask("$D", "P6", 1), "0");   // not an interlock query
  EXPECT_EQ(ask("$S", "P7", 1), "0");
  EXPECT_EQ(manager.record().size(), 7u);
  EXPECT_EQ(manager.stop(), 0);
  vexlor::config::remove_database(nullptr);
}

// Without --config the manager says at start what it will not do; a run request that reaches
// nobody says why the caller's wait will fail and which configuration entry to change, once
// for each function.
TEST(ManagerExplains, MissingConfigurationAndFunctionsNobodyServes) {
  PrivateInstance instance("mgr-explain");
  vexlor::config::DatabaseBuilder b;
  b.add_function("PM1_PUMP_DOWN");
  b.add_function("PM1_VENT");
  std::string error;
  ASSERT_TRUE(b.publish(false, "manager_test", &error)) << error;
  const std::string config = instance.runtime_dir() + "/equipment.toml";
  const std::string errors = instance.runtime_dir() + "/manager.err";
  VFIFO fifo;
  ASSERT_TRUE(fifo.VFIFO_Initial("PM1_PROC"));
  const std::string nobody = "vexlor-manager: no process serves PM1_PUMP_DOWN and ";
  const std::string waits =
      "; its callers' waits find no run mutex \"PM1_PUMP_DOWN_RUN\" and end SYS_ABORTED "
      "(\"MutexRun创建失败\" in their log); ";
  // Runs PM1_PUMP_DOWN twice under a manager started with `args`; its stderr.
  auto stderr_of_two_runs = [&](const std::vector<std::string>& args) {
    ManagerProcess manager;
    if (!manager.start(args, errors)) return std::string("did not start");
    EXPECT_TRUE(fifo.VFIFO_Function_Run("PM1_PUMP_DOWN", "PUMP", "0"));
    EXPECT_TRUE(fifo.VFIFO_Function_Run("PM1_PUMP_DOWN", "PUMP", "0"));
    EXPECT_EQ(manager.stop(), 0);
    return slurp(errors);
  };

  std::ofstream(config) << "functions = [\n  { name = \"PM1_VENT\" },\n  { name = "
                           "\"pm1_pump_down\" },\n]\n";
  EXPECT_EQ(stderr_of_two_runs({"--config", config}),
            nobody + "its configuration entry has no `command`" + waits +
                "start it by hand or add command = [...] to functions[1] in " + config + "\n");

  std::ofstream(config, std::ios::trunc) << "functions = [ { name = \"PM1_VENT\" } ]\n";
  EXPECT_EQ(stderr_of_two_runs({"--config", config}),
            nobody + config + " has no functions entry for it" + waits +
                "start it by hand or add { name = \"PM1_PUMP_DOWN\", command = [...] } to "
                "functions in " +
                config + "\n");

  EXPECT_EQ(stderr_of_two_runs({}),
            "vexlor-manager: no --config: it starts no routine programs and has no interlock "
            "table (every interlock query answers \"not refused\"); routines must be started by "
            "hand\n" +
                nobody +
                "vexlor-manager was started without --config, so it starts no routine programs" +
                waits +
                "start it by hand, or start vexlor-manager with --config FILE and give the "
                "function's entry a command = [...]\n");
  vexlor::config::remove_database(nullptr);
}

// Connections that start a frame and stall: a normal client is still served within its usual
// time-out, and every stalled connection is closed once the frame time-out has passed.
TEST(ManagerUnderLoad, StalledPartialFramesDoNotStopService) {
  PrivateInstance instance("mgr-flood");
  ManagerProcess manager;
  ASSERT_TRUE(manager.start());
  std::vector<vexlor::os::LocalStream> stalled(300);
  const char partial[8] = {'\x40', 0, 0, 0, 'a', 'b', 'c', 'd'};  // 64 bytes announced, 4 sent
  for (auto& s : stalled) {
    ASSERT_TRUE(s.connect(vexlor::os::kManagerEndpoint, nullptr));
    ASSERT_EQ(::write(static_cast<int>(s.native()), partial, sizeof partial), 8);
  }
  VFIFO fifo;
  ASSERT_TRUE(fifo.VFIFO_Initial("NORMAL"));
  EXPECT_TRUE(fifo.VFIFO_Function_Run("PM1", "R", "1"));
  std::string frame;
  for (auto& s : stalled) {
    ASSERT_TRUE(s.set_timeout_ms(20000));  // only a connection kept open runs into this
    EXPECT_EQ(s.read_frame(frame), vexlor::os::IoResult::kClosed);
  }
  EXPECT_EQ(manager.record(),
            std::vector<std::string>{"FunctionRun function=PM1 param=R argument=1 sender=NORMAL"});
}

// At the connection bound the longest idle connection makes room for a new client.
TEST(ManagerUnderLoad, ConnectionBoundClosesTheLongestIdle) {
  PrivateInstance instance("mgr-bound");
  ManagerProcess manager;
  ASSERT_TRUE(manager.start({"--max-connections", "4", "--frame-timeout-ms", "300"}));
  std::vector<vexlor::os::LocalStream> idle(4);
  for (auto& s : idle) ASSERT_TRUE(s.connect(vexlor::os::kEngineEndpoint, nullptr));
  VFIFO fifo;
  ASSERT_TRUE(fifo.VFIFO_Initial("LATE"));
  EXPECT_TRUE(fifo.VFIFO_Engine_Write("$F", "P8", "W1", 2, "-"));
  std::vector<pollfd> fds;
  for (auto& s : idle) fds.push_back({static_cast<int>(s.native()), POLLIN, 0});
  EXPECT_EQ(::poll(fds.data(), fds.size(), 1000), 1);  // exactly one was closed
  EXPECT_EQ(fds[0].revents & POLLIN, POLLIN);          // the first one connected
}

// The record keeps the newest lines within its byte bound, numbered from the first request;
// manager.log rotates at its size into three older files and is 0660 whatever the umask.
TEST(ManagerUnderLoad, RecordAndLogStayBounded) {
  PrivateInstance instance("mgr-record");
  ManagerProcess manager;
  mode_t old_mask = ::umask(077);
  bool started = manager.start({"--record-bytes", "1000", "--log-bytes", "2000"});
  ::umask(old_mask);
  ASSERT_TRUE(started);
  VFIFO fifo;
  ASSERT_TRUE(fifo.VFIFO_Initial("REC"));
  std::vector<std::string> all;
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(fifo.VFIFO_Engine_Write("$F", "P8", "W1", i, "-"));
    all.push_back("EngineWrite kind=$F param=P8 command=W1 index=" + std::to_string(i) +
                  " argument=- sender=REC");
  }
  // Lines 287..299 are 13 x 72 bytes with their newlines; one more would pass 1000.
  EXPECT_EQ(manager.record(), std::vector<std::string>(all.end() - 13, all.end()));
  EXPECT_EQ(manager.record(295), std::vector<std::string>(all.begin() + 295, all.end()));
  EXPECT_EQ(manager.stop(), 0);

  const std::string log = vexlor::os::instance_dir() + "/manager.log";
  std::string logged;
  for (const char* suffix : {".3", ".2", ".1", ""}) {
    struct stat st;
    ASSERT_EQ(::stat((log + suffix).c_str(), &st), 0) << suffix;
    EXPECT_EQ(st.st_mode & 0777, 0660u) << suffix;
    EXPECT_LE(st.st_size, 2000) << suffix;
    if (suffix[0] != '\0') {
      EXPECT_GT(st.st_size, 2000 - 72) << suffix;  // full up to one line
    }
    logged += slurp(log + suffix);
  }
  EXPECT_FALSE(std::filesystem::exists(log + ".4"));
  std::string expected;
  for (const auto& line : all) expected += line + "\n";
  ASSERT_GT(logged.size(), 6000u);
  EXPECT_EQ(expected.substr(expected.size() - logged.size()), logged);
  EXPECT_EQ(expected[expected.size() - logged.size() - 1], '\n');  // whole lines only
}

}  // namespace
