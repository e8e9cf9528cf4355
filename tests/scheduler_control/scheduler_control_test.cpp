// Scheduler calls and control against real processes: vexlor-manager serves test_routine
// programs under the scheduler's routine names, this process calls them as CALLER, the
// operator writes pause flags and answers alarms with the console tool, and forked processes
// contend for a transfer module's run lock.
//
// The calls' caches live for the process, so every test here uses the same equipment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "config/builder.h"
#include "config/loader.h"
#include "fifo/fifo_server.h"
#include "fifo/manager_process.h"
#include "os/local_endpoint.h"
#include "support/instance.h"
#include "util/console_sink.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
using vexlor::test::wait_until;

namespace {

constexpr char kConsoleTool[] = VEXLOR_TOOLS_DIR "/vexlor";

// Function indices, in configuration order.
constexpr int kEap = 1, kProcessPm1 = 2, kInterfaceTm1 = 4, kMaintBm3 = 5, kProcessLog2 = 6,
              kMaintTop = 7;

std::string config_text() {
  const std::string routine = VEXLOR_TEST_ROUTINE;
  auto served = [&routine](const char* name, const char* extra = "") {
    return std::string("  { name = \"") + name + "\", command = [\"" + routine + "\", \"" + name +
           "\"]" + extra + " },\n";
  };
  std::string text = "functions = [\n  { name = \"CALLER\" },\n";
  text += served("EAP_ENGINE", ", start = \"startup\"");
  text += served("SCHEDULER_PROCESS_PM1");
  text += "  { name = \"SCHEDULER_PROCESS_PM2\", virtual = true },\n";
  text += served("SCHEDULER_INTERFACE_TM1");
  text += served("SCHEDULER_MAINT_BM3");
  text += served("PM2.PROCESS_LOG", ", start = \"startup\"");
  text += served("MAINT_TOP");
  text +=
      "]\nmodules = [\n"
      "  { id = \"TM1\", name = \"VTM\", kind = \"TM\", side = 0, alarm_base = 1 },\n"
      "  { id = \"PM1\", name = \"ETCH1\", kind = \"PM\", side = 0, alarm_base = 2 },\n"
      "]\nalarms = [\n";
  for (int id : {5001, 5002}) {
    text += "  { id = " + std::to_string(id) + ", name = \"SCH_" + std::to_string(id) +
            "\", text = \"Robot alarm|机械手报警\", choices = [[\"RETRY\", \"Retry\"], "
            "[\"IGNORE\", \"Ignore\"], [\"ABORT\", \"Abort\"]] },\n";
  }
  return text + "]\n[system]\nstandard_vocabulary = true\n";
}

class SchedulerControl : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string config = instance_.runtime_dir() + "/equipment.toml";
    std::ofstream(config) << config_text();
    vexlor::config::DatabaseBuilder builder;
    std::string error;
    ASSERT_TRUE(vexlor::config::load_configuration(config, builder, &error, nullptr)) << error;
    ASSERT_TRUE(builder.publish(true, "scheduler_control_test", &error)) << error;
    const int fd = ::open((instance_.runtime_dir() + "/manager.err").c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC, 0600);
    manager_ = vexlor::test::exec_manager({"--quiet", "--config", config}, fd);
    ::close(fd);
    ASSERT_TRUE(wait_until(
        [] {
          return vexlor::fifo::query_record(vexlor::os::kEngineEndpoint, 0, nullptr, nullptr, 500);
        },
        10));
    ASSERT_TRUE(VHub_Initial("CALLER"));
  }

  void TearDown() override {
    VHub_Release();
    ::kill(manager_, SIGTERM);
    EXPECT_EQ(vexlor::test::wait_child(manager_, 10), 0);
    vexlor::config::remove_database(nullptr);
  }

  // Console lines as "<colour> text" (R red, Y yellow, P plain) and log lines as "[TAG] text",
  // the source line of "[...:N]" positions replaced by N.
  static std::vector<std::string> lines(const vexlor::detail::ConsoleCapture& capture) {
    using vexlor::detail::LineColour;
    std::vector<std::string> out;
    for (const auto& l : capture.console_lines()) {
      std::string t = l.text;
      for (const char* mark : {"[代码行:", "[位置:"}) {
        const std::size_t at = t.find(mark);
        if (at == std::string::npos) continue;
        const std::size_t end = t.find(']', at);
        t = t.substr(0, t.rfind(':', end) + 1) + "N" + t.substr(end);
      }
      const char* colour = l.colour == LineColour::kRed      ? "R "
                           : l.colour == LineColour::kYellow ? "Y "
                           : l.tag.empty()                   ? "P "
                                                             : "";
      out.push_back(colour + (l.tag.empty() ? "" : l.tag + " ") + t);
    }
    return out;
  }

  // Writes a point as the operator does, from another process.
  void operator_sets(const char* point, int value) {
    auto run = vexlor::test::run_tool(kConsoleTool, {"set", point, std::to_string(value)},
                                      instance_.runtime_dir());
    EXPECT_EQ(run.code, 0) << run.out << run.err;
  }

  std::string message_of(int index) {
    char message[512] = "";
    VFunction_Dnload_Message(index, message);
    return message;
  }

  vexlor::test::PrivateInstance instance_{"schctl"};
  pid_t manager_ = -1;
};

TEST_F(SchedulerControl, CallsByKindReachTheirRoutines) {
  struct Call {
    const char* what;
    std::function<int()> call;
    int expected;
  };
  char process_log_format[] = "LOG %s";  // older routines pass char* formats
  const std::string over_long = "STATUS 4 " + std::string(600, 'x');
  const std::vector<Call> calls = {
      {"RUN EAP", [] { return VSCH_RUN_F_EAP("STATUS %d", 4); }, SYS_ERROR},
      {"RUN_SET EAP", [] { return int{VSCH_RUN_SET_F_EAP("STATUS %d", 8)}; }, true},
      {"RUN_WAIT EAP", [] { return VSCH_RUN_WAIT_F_EAP(); }, SYS_SKIP},
      {"READ EAP", [] { return VSCH_READ_F_EAP(); }, SYS_SKIP},
      {"RUN EAP, over-long text cut and sent",
       [&] { return VSCH_RUN_F_EAP("%s", over_long.c_str()); }, SYS_ERROR},
      {"RUN PROCESS_PM 0", [] { return VSCH_RUN_F_PROCESS_PM(0, "%s", "STATUS 3"); }, SYS_SUCCESS},
      {"RUN_SET INTERFACE_TM 0", [] { return int{VSCH_RUN_SET_F_INTERFACE_TM(0, "STATUS 4")}; },
       true},
      {"RUN_WAIT INTERFACE_TM 0", [] { return VSCH_RUN_WAIT_F_INTERFACE_TM(0); }, SYS_ERROR},
      {"RUN MAINT_BM 2", [] { return VSCH_RUN_F_MAINT_BM(2, "STATUS %d", 8); }, SYS_SKIP},
      {"READ MAINT_BM 2", [] { return VSCH_READ_F_MAINT_BM(2); }, SYS_SKIP},
      {"READ INTERFACE_CM 6, outside its row", [] { return VSCH_READ_F_INTERFACE_CM(6); },
       SYS_ABORTED},
      {"VIRTUAL PROCESS_PM 1", [] { return int{VSCH_VIRTUAL_F_PROCESS_PM(1)}; }, true},
      {"VIRTUAL PROCESS_PM 0", [] { return int{VSCH_VIRTUAL_F_PROCESS_PM(0)}; }, false},
      {"EVENT EAP", [] { return int{VSCH_EVENT_F_EAP("HELLO %d", 1)}; }, true},
      {"EVENT PROCESS_LOG 1",
       [&] { return int{VSCH_EVENT_F_PROCESS_LOG(1, process_log_format, "a")}; }, true},
      {"EVENT MAIN_MONITOR, missing", [] { return int{VSCH_EVENT_F_MAIN_MONITOR("x")}; }, false},
      {"EVENT MAIN_MONITOR again", [] { return int{VSCH_EVENT_F_MAIN_MONITOR("x")}; }, false},
      {"BUTTON", [] { return VSCH_BUTTON_HANDLER("STATUS %d", 4); }, SYS_ERROR},
      {"IsValid, engine missing", [] { return int{VSCH_IsValid()}; }, false},
      {"IsValid again", [] { return int{VSCH_IsValid()}; }, false},
      {"READ SCHEDULER", [] { return VSCH_READ_F_SCHEDULER(); }, SYS_ABORTED},
  };
  vexlor::detail::ConsoleCapture capture;
  for (const Call& c : calls) EXPECT_EQ(c.call(), c.expected) << c.what;

  // The interface, maintenance and button routines ran free; the others did not.
  EXPECT_FALSE(VFunction_Get_Free_Flag(kEap));
  EXPECT_FALSE(VFunction_Get_Free_Flag(kProcessPm1));
  EXPECT_TRUE(VFunction_Get_Free_Flag(kInterfaceTm1));
  EXPECT_TRUE(VFunction_Get_Free_Flag(kMaintBm3));
  EXPECT_TRUE(VFunction_Get_Free_Flag(kMaintTop));
  // Events arrive with the formatted text.
  EXPECT_TRUE(wait_until([&] { return message_of(kEap) == "event=HELLO 1 from=0 posted=0"; }, 10))
      << message_of(kEap);
  EXPECT_TRUE(
      wait_until([&] { return message_of(kProcessLog2) == "event=LOG a from=0 posted=0"; }, 10))
      << message_of(kProcessLog2);
  // A missing routine is reported once per kind; the scheduler engine on every IsValid. (The
  // run control's own debug and error lines are not this test's business.)
  std::vector<std::string> red;
  for (const auto& line : lines(capture)) {
    if (line.rfind("R ", 0) == 0) red.push_back(line);
  }
  const std::vector<std::string> expected = {
      "R IO_NAME:MAIN_MONITOR - IO_TYPE:IO_F 未识别. [代码行:Vexlor::VIO_Find_Point:N]",
      "R IO_NAME:SCHEDULER_ENGINE - IO_TYPE:IO_F 未识别. [代码行:Vexlor::VIO_Find_Point:N]",
      "R IO_NAME:SCHEDULER_ENGINE - IO_TYPE:IO_F 未识别. [代码行:Vexlor::VIO_Find_Point:N]",
  };
  EXPECT_EQ(red, expected);
}

TEST_F(SchedulerControl, CrossProcessPauseIsAcknowledgedAndResumedByTheOperator) {
  const char* const pm_paused = "( CTC.PM1_PAUSE_FLAG == 1 ) 暂停并等待.";
  const char* const pm_resumed = "( CTC.PM1_PAUSE_FLAG == 0 ) 暂停结束等待.";
  const struct {
    const char* point;
    std::function<bool()> wait;
    std::function<int()> flag;
    bool manager_abort;  // only the transfer module's wait stops on it
    bool go_on;
    std::vector<std::string> lines;
  } cases[] = {
      {"CTC.TM1_PAUSE_FLAG",
       [] { return VSCH_TM_PAUSE_WAIT(0); },
       [] { return VIO_Get_CTC_TM_PAUSE_FLAG(0); },
       false,
       true,
       {"Y ( CTC.TM1_PAUSE_FLAG == 1 ) 暂停并等待.",
        "Y ( CTC.TM1_PAUSE_FLAG == 0 ) 暂停结束等待."}},
      {"CTC.PM1_PAUSE_FLAG",
       [] { return VSCH_PM_PAUSE_WAIT(0); },
       [] { return VIO_Get_CTC_PM_PAUSE_FLAG(0); },
       true,
       true,
       {std::string("Y ") + pm_resumed}},
      {"CTC.TM1_PAUSE_FLAG",
       [] { return VSCH_TM_PAUSE_WAIT(0); },
       [] { return VIO_Get_CTC_TM_PAUSE_FLAG(0); },
       true,
       false,
       {}},
  };
  // A free routine's sleeps ignore the manager abort, so only the wait's own check sees it.
  VFunction_Set_Free_Flag(true);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.point);
    operator_sets(c.point, 1);
    VSystem_Abort_Manager_Set(c.manager_abort);
    // The operator resumes once the waiting routine has acknowledged the pause.
    std::thread resume([&] {
      if (c.go_on && wait_until([&] { return c.flag() == 2; }, 20)) operator_sets(c.point, 0);
    });
    vexlor::detail::ConsoleCapture capture;
    EXPECT_EQ(c.wait(), c.go_on);
    resume.join();
    VSystem_Abort_Manager_Set(false);
    EXPECT_EQ(c.flag(), 0);
    EXPECT_EQ(lines(capture), c.lines);
  }
  // The process module announced both ends on its process message.
  const std::string rolling = VIO_Get_PM_Process_Message(0);
  EXPECT_LT(rolling.find(pm_paused), rolling.find(pm_resumed)) << rolling;
  EXPECT_NE(rolling.find(pm_resumed), std::string::npos) << rolling;
  EXPECT_STREQ(VString_Read("ETCH1_Process_Message0"), pm_resumed);
  // Nothing paused: no wait, no line.
  vexlor::detail::ConsoleCapture capture;
  EXPECT_TRUE(VSCH_PM_PAUSE_WAIT(0));
  EXPECT_TRUE(lines(capture).empty());
}

TEST_F(SchedulerControl, AlarmShortcutsPostAndManageByAlarmId) {
  int point = -1;
  ASSERT_TRUE(VAlarm_Find_Point(&point, 5001));
  char append[512] = "";
  EXPECT_TRUE(VSCH_ALARM_POST(5001, "Wafer %d lost", 3));
  EXPECT_EQ(VAlarm_ID_Status(5001), ALM_PAUSED);
  EXPECT_TRUE(VAlarm_Get_Append(point, LANGUAGE(0), append));
  EXPECT_STREQ(append, "Wafer 3 lost");
  EXPECT_TRUE(VAlarm_Handle(point, ALM_CLEAR));
  EXPECT_TRUE(VSCH_ALARM_POST(5001, "robot.cpp", 42, "Arm %c", 'B'));
  EXPECT_TRUE(VAlarm_Get_Append(point, LANGUAGE(0), append));
  EXPECT_STREQ(append, "Arm B");
  EXPECT_STREQ(MMAP_DB()->alarm_rt[point].code_position, "CALLER:robot.cpp:42");

  // The operator answers a managed alarm from the console.
  std::thread operator_answers([this] {
    ASSERT_TRUE(wait_until([] { return VAlarm_ID_Status(5002) == ALM_PAUSED; }, 30));
    auto run =
        vexlor::test::run_tool(kConsoleTool, {"answer", "5002", "ignore"}, instance_.runtime_dir());
    EXPECT_EQ(run.code, 0) << run.out << run.err;
  });
  EXPECT_EQ(VSCH_ERROR_HANDLER(5002, "Door %s", "open"), ALM_IGNORE);
  operator_answers.join();

  // An unknown ID: the lookup's line, then the shortcut's own.
  vexlor::detail::ConsoleCapture capture;
  EXPECT_FALSE(VSCH_ALARM_POST(9999, "x"));
  EXPECT_FALSE(VSCH_ALARM_POST(9999, "robot.cpp", 1, "x"));
  EXPECT_EQ(VSCH_ERROR_HANDLER(9999, "x"), ALM_ABORT);
  std::vector<std::string> expected;
  for (int call = 0; call < 3; ++call) {
    expected.push_back("R ALARM_ID:9999未识别. [代码行:Vexlor::VAlarm_Find_Point:N]");
    expected.push_back("[ERR] AlarmID:9999 Cannot Find AlarmPoint.");
  }
  EXPECT_EQ(lines(capture), expected);
}

// Three processes take transfer module 1's run lock in turn: the second gets it when the first
// unlocks, the third when the second is killed holding it.
TEST_F(SchedulerControl, CrossProcessTmRunMutexPassesOnUnlockAndOnKill) {
  VHub_Release();  // no library thread of this process runs at the forks
  int ready[2], command[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(command), 0);
  // Each holder reports its letter once it owns the lock.
  auto holder = [&](char letter, bool unlock_on_command) {
    return vexlor::test::spawn_child([&, letter, unlock_on_command] {
      if (!VSCH_TM_Mutex_Lock(0)) return 1;
      if (::write(ready[1], &letter, 1) != 1) return 2;
      if (!unlock_on_command) {
        for (;;) ::pause();
      }
      char c = 0;
      if (::read(command[0], &c, 1) != 1) return 3;
      return VSCH_TM_Mutex_Unlock(0) ? 0 : 4;
    });
  };
  // The next letter reported within `seconds`, or 0.
  auto next_owner = [&](double seconds) {
    pollfd p{ready[0], POLLIN, 0};
    char c = 0;
    if (::poll(&p, 1, static_cast<int>(seconds * 1000)) == 1 && ::read(ready[0], &c, 1) == 1) {
      return c;
    }
    return char{0};
  };

  const pid_t a = holder('A', true);
  ASSERT_EQ(next_owner(10), 'A');
  const pid_t b = holder('B', false);
  EXPECT_EQ(next_owner(0.3), 0);  // B waits while A holds it
  ASSERT_EQ(::write(command[1], "u", 1), 1);
  EXPECT_EQ(next_owner(10), 'B');
  EXPECT_EQ(vexlor::test::wait_child(a, 10), 0);
  const pid_t c = holder('C', true);
  EXPECT_EQ(next_owner(0.3), 0);
  ::kill(b, SIGKILL);
  EXPECT_EQ(next_owner(10), 'C');
  EXPECT_EQ(vexlor::test::wait_child(b, 10), 128 + SIGKILL);
  ASSERT_EQ(::write(command[1], "u", 1), 1);
  EXPECT_EQ(vexlor::test::wait_child(c, 10), 0);
  for (int fd : {ready[0], ready[1], command[0], command[1]}) ::close(fd);

  // This process never locked transfer module 4; module 11 has no lock at all.
  vexlor::detail::ConsoleCapture capture;
  EXPECT_FALSE(VSCH_TM_Mutex_Unlock(3));
  EXPECT_FALSE(VSCH_TM_Mutex_Lock(10));
  const std::vector<std::string> expected = {
      "R TM4 Run Mutex运行互斥锁为空.释放失败.[位置:Vexlor::VSCH_TM_Mutex_Unlock:N]"};
  EXPECT_EQ(lines(capture), expected);
}

}  // namespace
