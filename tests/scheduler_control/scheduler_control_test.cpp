// Scheduler calls against test_routine programs served by vexlor-manager, pauses and alarms
// answered with the console tool, and the run lock between processes. The calls' caches live
// for the process, so every test here uses the same equipment.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fifo/manager_process.h"
#include "os/named_mutex.h"
#include "support/equipment.h"

using namespace Vexlor;
using vexlor::test::wait_until;

namespace {

constexpr char kConsoleTool[] = VEXLOR_TOOLS_DIR "/vexlor";
constexpr int kEap = 1, kProcessPm1 = 2, kInterfaceTm1 = 4, kMaintBm3 = 5, kProcessLog2 = 6,
              kMaintTop = 7, kSpare = 8;  // function indices, in configuration order

std::string config_text() {
  std::string text = "functions = [\n  { name = \"CALLER\" },\n";
  for (const char* name :
       {"EAP_ENGINE", "SCHEDULER_PROCESS_PM1", "SCHEDULER_PROCESS_PM2", "SCHEDULER_INTERFACE_TM1",
        "SCHEDULER_MAINT_BM3", "PM2.PROCESS_LOG", "MAINT_TOP"}) {
    const std::string n = name;
    text += "  { name = \"" + n + "\", command = [\"" VEXLOR_TEST_ROUTINE "\", \"" + n + "\"]" +
            (n == "SCHEDULER_PROCESS_PM2" ? ", virtual = true" : "") +
            (n == "EAP_ENGINE" || n == "PM2.PROCESS_LOG" ? ", start = \"startup\"" : "") + " },\n";
  }
  text +=
      "  { name = \"SPARE\" },\n]\nmodules = [\n"
      "  { id = \"TM1\", name = \"VTM\", kind = \"TM\", side = 0 },\n"
      "  { id = \"PM1\", name = \"ETCH1\", kind = \"PM\", side = 0 },\n]\nalarms = [\n";
  for (const char* id : {"5001", "5002"}) {
    text += std::string("  { id = ") + id + ", name = \"SCH_" + id +
            "\", text = \"Robot|机械手\", choices = [[\"IGNORE\", \"Ignore\"]] },\n";
  }
  return text + "]\n[system]\nstandard_vocabulary = true\n";
}

class SchedulerControl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vexlor::test::publish_equipment(instance_, config_text(), "scheduler_control"));
    ASSERT_TRUE(manager_.start({"--config", vexlor::test::equipment_file(instance_)}));
    ASSERT_TRUE(VHub_Initial("CALLER"));
  }
  void TearDown() override {
    VHub_Release();
    EXPECT_EQ(manager_.stop(), 0);
    vexlor::config::remove_database(nullptr);
  }

  // Console lines as "R text" (red), "Y text" (yellow) or "[TAG] text" (log), with the source
  // line of a "[代码行:...:N]" or "[位置:...:N]" position replaced by N.
  static std::vector<std::string> lines(const vexlor::detail::ConsoleCapture& capture) {
    std::vector<std::string> out;
    for (const auto& l : capture.console_lines()) {
      std::string mark = l.tag + " ";
      if (l.colour == vexlor::detail::LineColour::kRed) mark = "R ";
      if (l.colour == vexlor::detail::LineColour::kYellow) mark = "Y ";
      out.push_back(mark + vexlor::test::without_line(l.text));
    }
    return out;
  }
  // Runs the operator's console tool from another process.
  void console(const std::vector<std::string>& args) {
    const auto run = vexlor::test::run_tool(kConsoleTool, args, instance_.runtime_dir());
    EXPECT_EQ(run.code, 0) << run.out << run.err;
  }
  static std::string message_of(int index) {
    char message[512] = "";
    VFunction_Dnload_Message(index, message);
    return message;
  }

  vexlor::test::PrivateInstance instance_{"schctl"};
  vexlor::test::ManagerProcess manager_;
};

TEST_F(SchedulerControl, CallsByKindReachTheirRoutinesAndAlarmShortcutsPostByAlarmId) {
  char log_format[] = "LOG %s";  // older routines pass char* formats
  const std::string over_long = "STATUS 4 " + std::string(600, 'x');
  const struct {
    const char* what;
    std::function<int()> call;
    int expected;
  } calls[] = {
      {"RUN EAP", [] { return VSCH_RUN_F_EAP("STATUS %d", 4); }, SYS_ERROR},
      {"RUN_SET EAP", [] { return int{VSCH_RUN_SET_F_EAP("STATUS %d", 8)}; }, true},
      {"RUN_WAIT EAP", [] { return VSCH_RUN_WAIT_F_EAP(); }, SYS_SKIP},
      {"RUN EAP, text cut", [&] { return VSCH_RUN_F_EAP("%s", over_long.c_str()); }, SYS_ERROR},
      {"RUN PROCESS_PM 0", [] { return VSCH_RUN_F_PROCESS_PM(0, "%s", "STATUS 3"); }, SYS_SUCCESS},
      {"RUN_SET INTERFACE_TM 0", [] { return int{VSCH_RUN_SET_F_INTERFACE_TM(0, "STATUS 4")}; }, 1},
      {"RUN_WAIT INTERFACE_TM 0", [] { return VSCH_RUN_WAIT_F_INTERFACE_TM(0); }, SYS_ERROR},
      {"RUN MAINT_BM 2", [] { return VSCH_RUN_F_MAINT_BM(2, "STATUS %d", 8); }, SYS_SKIP},
      {"READ MAINT_BM 2", [] { return VSCH_READ_F_MAINT_BM(2); }, SYS_SKIP},
      {"READ INTERFACE_CM 6, beyond", [] { return VSCH_READ_F_INTERFACE_CM(6); }, SYS_ABORTED},
      {"VIRTUAL PROCESS_PM 1", [] { return int{VSCH_VIRTUAL_F_PROCESS_PM(1)}; }, true},
      {"VIRTUAL PROCESS_PM 0", [] { return int{VSCH_VIRTUAL_F_PROCESS_PM(0)}; }, false},
      {"EVENT EAP", [] { return int{VSCH_EVENT_F_EAP("HELLO %d", 1)}; }, true},
      {"EVENT PROCESS_LOG 1", [&] { return int{VSCH_EVENT_F_PROCESS_LOG(1, log_format, "a")}; }, 1},
      {"EVENT MAIN_MONITOR", [] { return int{VSCH_EVENT_F_MAIN_MONITOR("x")}; }, false},
      {"EVENT MAIN_MONITOR again", [] { return int{VSCH_EVENT_F_MAIN_MONITOR("x")}; }, false},
      {"BUTTON", [] { return VSCH_BUTTON_HANDLER("STATUS %d", 4); }, SYS_ERROR},
      {"IsValid", [] { return int{VSCH_IsValid()}; }, false},
      {"IsValid again", [] { return int{VSCH_IsValid()}; }, false},
      {"READ SCHEDULER", [] { return VSCH_READ_F_SCHEDULER(); }, SYS_ABORTED},
  };
  vexlor::detail::ConsoleCapture capture;
  for (const auto& c : calls) EXPECT_EQ(c.call(), c.expected) << c.what;
  // The engine configured since: the SCHEDULER calls keep their failed lookup, IsValid looks
  // again into the same slot, and from then on they reach the engine.
  std::snprintf(MMAP_DB()->function_sp[kSpare].name, 64, "SCHEDULER_ENGINE");
  VFunction_Set_Run_Status(kSpare, SYS_SKIP);
  EXPECT_EQ(VSCH_READ_F_SCHEDULER(), SYS_ABORTED);
  EXPECT_TRUE(VSCH_IsValid());
  EXPECT_EQ(VSCH_READ_F_SCHEDULER(), SYS_SKIP);

  // The interface, maintenance and button routines ran free, the others did not.
  for (int f : {kEap, kProcessPm1}) EXPECT_FALSE(VFunction_Get_Free_Flag(f)) << f;
  for (int f : {kInterfaceTm1, kMaintBm3, kMaintTop}) EXPECT_TRUE(VFunction_Get_Free_Flag(f)) << f;
  EXPECT_TRUE(wait_until([] { return message_of(kEap) == "event=HELLO 1 from=0 posted=0"; }, 10));
  EXPECT_TRUE(
      wait_until([] { return message_of(kProcessLog2) == "event=LOG a from=0 posted=0"; }, 10));
  // A missing routine is reported once per kind, the scheduler engine on every IsValid. (The
  // run control's own lines are not this test's business.)
  std::vector<std::string> red;
  for (const auto& line : lines(capture)) {
    if (line.rfind("R ", 0) == 0) red.push_back(line);
  }
  const std::string missing = " - IO_TYPE:IO_F 未识别. [代码行:Vexlor::VIO_Find_Point:N]";
  const std::vector<std::string> expected = {"R IO_NAME:MAIN_MONITOR" + missing,
                                             "R IO_NAME:SCHEDULER_ENGINE" + missing,
                                             "R IO_NAME:SCHEDULER_ENGINE" + missing};
  EXPECT_EQ(red, expected);

  // The alarm shortcuts post and manage by alarm ID.
  int point = -1;
  char append[512] = "";
  ASSERT_TRUE(VAlarm_Find_Point(&point, 5001));
  EXPECT_TRUE(VSCH_ALARM_POST(5001, "Wafer %d lost", 3));
  EXPECT_TRUE(VAlarm_Get_Append(point, LANGUAGE(0), append));
  EXPECT_STREQ(append, "Wafer 3 lost");
  EXPECT_TRUE(VAlarm_Handle(point, ALM_CLEAR));
  EXPECT_TRUE(VSCH_ALARM_POST(5001, "robot.cpp", 42, "Arm %c", 'B'));
  EXPECT_EQ(VAlarm_ID_Status(5001), ALM_PAUSED);
  EXPECT_TRUE(VAlarm_Get_Append(point, LANGUAGE(0), append));
  EXPECT_STREQ(append, "Arm B");
  EXPECT_STREQ(MMAP_DB()->alarm_rt[point].code_position, "CALLER:robot.cpp:42");
  std::thread operator_answers([this] {
    ASSERT_TRUE(wait_until([] { return VAlarm_ID_Status(5002) == ALM_PAUSED; }, 30));
    console({"answer", "5002", "ignore"});
  });
  EXPECT_EQ(VSCH_ERROR_HANDLER(5002, "Door %s", "open"), ALM_IGNORE);
  operator_answers.join();

  capture.clear();  // an unknown ID: the lookup's line, then its own
  EXPECT_FALSE(VSCH_ALARM_POST(9999, "x"));
  EXPECT_FALSE(VSCH_ALARM_POST(9999, "robot.cpp", 1, "x"));
  EXPECT_EQ(VSCH_ERROR_HANDLER(9999, "x"), ALM_ABORT);
  std::vector<std::string> unknown;
  for (int call = 0; call < 3; ++call) {
    unknown.push_back("R ALARM_ID:9999未识别. [代码行:Vexlor::VAlarm_Find_Point:N]");
    unknown.push_back("[ERR] AlarmID:9999 Cannot Find AlarmPoint.");
  }
  EXPECT_EQ(lines(capture), unknown);
}

// Every documented call with its documented type (taking its address does not build otherwise).
#define ONE(type, name) reinterpret_cast<void (*)()>(static_cast<type>(&name))
#define NO_I
#define ROW_I int,
#define FIVE(K, I, W)                                                                         \
  ONE(FUNC_STATUS (*)(I const char*, ...), VSCH_RUN_F_##K),                                   \
      ONE(bool (*)(I const char*, ...), VSCH_RUN_SET_F_##K),                                  \
      ONE(FUNC_STATUS (*)(W), VSCH_RUN_WAIT_F_##K), ONE(FUNC_STATUS (*)(W), VSCH_READ_F_##K), \
      ONE(bool (*)(I const char*, ...), VSCH_EVENT_F_##K)
#define FIVE_ROW(K) FIVE(K, ROW_I, int)
// clang-format off
[[maybe_unused]] void (*const kDocumentedCalls[])() = {
    FIVE(EAP, NO_I, ), FIVE(SCHEDULER, NO_I, ), FIVE_ROW(INTERFACE_CM), FIVE_ROW(INTERFACE_BM),
    FIVE_ROW(INTERFACE_TM), FIVE_ROW(INTERFACE_PM), FIVE_ROW(MAINT_CM), FIVE_ROW(MAINT_BM),
    FIVE_ROW(MAINT_TM), FIVE_ROW(MAINT_PM), FIVE_ROW(PROCESS_PM),
    ONE(bool (*)(const char*, ...), VSCH_EVENT_F_MAIN_MONITOR),
    ONE(bool (*)(int, char*, ...), VSCH_EVENT_F_PROCESS_LOG),
    ONE(bool (*)(int), VSCH_VIRTUAL_F_PROCESS_PM)};
// clang-format on

TEST_F(SchedulerControl, CrossProcessPauseAndTmRunMutex) {
  const std::string pm_paused = "( CTC.PM1_PAUSE_FLAG == 1 ) 暂停并等待.";
  const std::string pm_resumed = "( CTC.PM1_PAUSE_FLAG == 0 ) 暂停结束等待.";
  const auto tm_wait = [] { return VSCH_TM_PAUSE_WAIT(0); };
  const auto tm_flag = [] { return VIO_Get_CTC_TM_PAUSE_FLAG(0); };
  const struct {
    const char* point;
    std::function<bool()> wait;
    std::function<int()> flag;
    bool manager_abort, go_on;
    std::vector<std::string> lines;
  } cases[] = {
      // clang-format off
      {"CTC.TM1_PAUSE_FLAG", tm_wait, tm_flag, false, true,
       {"Y ( CTC.TM1_PAUSE_FLAG == 1 ) 暂停并等待.",
        "Y ( CTC.TM1_PAUSE_FLAG == 0 ) 暂停结束等待."}},
      // Only the transfer module's wait stops on the manager abort.
      {"CTC.PM1_PAUSE_FLAG", [] { return VSCH_PM_PAUSE_WAIT(0); },
       [] { return VIO_Get_CTC_PM_PAUSE_FLAG(0); }, true, true, {"Y " + pm_resumed}},
      {"CTC.TM1_PAUSE_FLAG", tm_wait, tm_flag, true, false, {}},
      // clang-format on
  };
  VFunction_Set_Free_Flag(true);  // a free routine's sleeps ignore the manager abort
  for (const auto& c : cases) {
    SCOPED_TRACE(c.point);
    console({"set", c.point, "1"});
    VSystem_Abort_Manager_Set(c.manager_abort);
    std::thread resume([&] {  // once the routine has acknowledged the pause
      if (c.go_on && wait_until([&] { return c.flag() == 2; }, 20)) console({"set", c.point, "0"});
    });
    vexlor::detail::ConsoleCapture capture;
    EXPECT_EQ(c.wait(), c.go_on);
    resume.join();
    VSystem_Abort_Manager_Set(false);
    EXPECT_EQ(c.flag(), 0);
    EXPECT_EQ(lines(capture), c.lines);
  }
  // A flag that cannot be read (-99999999) keeps the wait going: it is announced, and here
  // only the manager abort ends it.
  {
    int flag = -1;
    ASSERT_TRUE(VIO_Find_Point(&flag, IO_D, "CTC.TM1_PAUSE_FLAG"));
    MMAP_DB()->digital_val[flag].read_value = VEXLOR_UNUSED_POINT;
    MMAP_DB()->digital_val[flag].write_value = VEXLOR_UNUSED_POINT;
    vexlor::detail::ConsoleCapture capture;
    auto yellow = [&] {
      std::vector<std::string> out;
      for (const auto& line : lines(capture)) {
        if (line.rfind("Y ", 0) == 0) out.push_back(line);
      }
      return out;
    };
    std::thread stop([&] {
      wait_until([&] { return !yellow().empty(); }, 20);
      VSystem_Abort_Manager_Set(true);
    });
    EXPECT_FALSE(VSCH_TM_PAUSE_WAIT(0));
    stop.join();
    VSystem_Abort_Manager_Set(false);
    EXPECT_EQ(yellow(), (std::vector<std::string>{
                            "Y ( CTC.TM1_PAUSE_FLAG == -99999999 ) 暂停并等待.",
                            "Y ( CTC.TM1_PAUSE_FLAG == -99999999 ) 暂停结束等待（退出）."}));
    EXPECT_EQ(VIO_Get_CTC_TM_PAUSE_FLAG(0), 0);  // reset on the way out
  }

  // The process module announced both ends on its rolling process message.
  const std::string rolling = VIO_Get_PM_Process_Message(0);
  EXPECT_LT(rolling.find(pm_paused), rolling.find(pm_resumed)) << rolling;
  EXPECT_EQ(VString_Read("ETCH1_Process_Message0"), pm_resumed);

  // Three processes take transfer module 1's run lock in turn: the second gets it when the
  // first unlocks, the third when the second is killed holding it.
  VHub_Release();  // no library thread of this process runs at the forks
  int owner[2], unlock[2];
  ASSERT_EQ(::pipe(owner), 0);
  ASSERT_EQ(::pipe(unlock), 0);
  auto holder = [&](char letter, bool unlocks) {  // reports its letter once it owns the lock
    return vexlor::test::spawn_child([&, letter, unlocks] {
      char c = letter;
      if (!VSCH_TM_Mutex_Lock(0) || ::write(owner[1], &c, 1) != 1) return 1;
      while (!unlocks) ::pause();
      return ::read(unlock[0], &c, 1) == 1 && VSCH_TM_Mutex_Unlock(0) ? 0 : 2;
    });
  };
  auto next_owner = [&](int ms) {  // the next letter reported within ms, or 0
    pollfd p{owner[0], POLLIN, 0};
    char c = 0;
    return ::poll(&p, 1, ms) == 1 && ::read(owner[0], &c, 1) == 1 ? c : char{0};
  };
  const pid_t a = holder('A', true);
  ASSERT_EQ(next_owner(10000), 'A');
  // The lock is the system mutex of that name: a handle opened by the name finds it held.
  const vexlor::os::MutexHandle by_name = vexlor::os::mutex_open("TM01_RUN_LOCKING_MUTEX");
  ASSERT_NE(by_name, nullptr);
  EXPECT_EQ(vexlor::os::mutex_wait(by_name, 0), vexlor::os::kWaitTimeout);
  const pid_t b = holder('B', false);
  EXPECT_EQ(next_owner(300), 0);  // B waits while A holds it
  ASSERT_EQ(::write(unlock[1], "u", 1), 1);
  EXPECT_EQ(next_owner(10000), 'B');
  EXPECT_EQ(vexlor::test::wait_child(a, 10), 0);
  const pid_t c = holder('C', true);
  EXPECT_EQ(next_owner(300), 0);
  ::kill(b, SIGKILL);
  EXPECT_EQ(next_owner(10000), 'C');
  EXPECT_EQ(vexlor::test::wait_child(b, 10), 128 + SIGKILL);
  ASSERT_EQ(::write(unlock[1], "u", 1), 1);
  EXPECT_EQ(vexlor::test::wait_child(c, 10), 0);
  for (int fd : {owner[0], owner[1], unlock[0], unlock[1]}) ::close(fd);
  EXPECT_EQ(vexlor::os::mutex_wait(by_name, 0), vexlor::os::kWaitObject0);  // free again
  EXPECT_TRUE(vexlor::os::mutex_release(by_name));
  EXPECT_TRUE(vexlor::os::mutex_close(by_name));

  vexlor::detail::ConsoleCapture capture;  // never locked here; module 11 has no lock at all
  EXPECT_FALSE(VSCH_TM_Mutex_Unlock(3));
  EXPECT_FALSE(VSCH_TM_Mutex_Lock(10));
  const std::vector<std::string> expected = {
      "R TM4 Run Mutex运行互斥锁为空.释放失败.[位置:Vexlor::VSCH_TM_Mutex_Unlock:N]"};
  EXPECT_EQ(lines(capture), expected);
}

}  // namespace
