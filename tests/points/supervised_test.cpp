// Supervised point operations: a routine (PM1_PROC, forked) fails through an offline driver,
// the IO engine is asked about the interlock, and the operator (this process) answers.
#include "points/supervised.h"

#include <sys/mman.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "alarms/alarm_fixture.h"
#include "fifo/manager_process.h"

using namespace Vexlor;
using vexlor::test::spawn_child;
using vexlor::test::Texts;
using vexlor::test::wait_child;
using vexlor::test::wait_until;
namespace s = vexlor::detail::supervised;

namespace {

constexpr int kOutput = 0, kInput = 1;                        // drivers
constexpr int kValve = 0, kSensor = 1, kDoor = 2, kGate = 3;  // digital points
constexpr int kFlow = 0, kGauge = 1, kMfc = 2, kTemp = 3;     // analog points
constexpr int kRecipe = 0, kHostText = 1, kDetail = 2, kEmpty = 3, kNote = 4, kCause = 5;
constexpr int kRoutine = 1;  // PM1_PROC; OPERATOR is 0

// The reading routine's raw reads and the value it got, in memory shared across the fork.
struct ReadShare {
  std::atomic<int> reads{0};
  int value = -1;
};
ReadShare* const g_share = new (::mmap(nullptr, sizeof(ReadShare), PROT_READ | PROT_WRITE,
                                       MAP_SHARED | MAP_ANONYMOUS, -1, 0)) ReadShare();

// The digital supervised read with every raw read counted.
struct CountedDigital : s::DigitalPoint {
  static bool read(int index, int* out) {
    g_share->reads.fetch_add(1);
    return s::DigitalPoint::read(index, out);
  }
};

std::string read_line(const char* kind, int index) {
  return std::string("EngineRead kind=") + kind +
         " param=P7 command=R1 index=" + std::to_string(index) + " argument=- sender=PM1_PROC";
}
const std::string kPosted =
    "EngineWriteG kind=$L param=P1 command=W1 index=0 argument=- sender=PM1_PROC";

class Supervised : public vexlor::test::AlarmTest {
 protected:
  // Drivers OUT and IN start offline; PM1.Gate (digital) and PM1.MFC (analog) are refused by
  // the setpoint interlock.
  void SetUp() override {
    auto& b = builder();
    b.add_driver("OUT", 3);
    b.add_driver("IN", 3);
    b.driver(kOutput).params[kDriverParamOffline] = 1;
    b.driver(kInput).params[kDriverParamOffline] = 1;
    b.digital(b.add_digital("PM1.Valve")).odrv_point = kOutput;
    b.digital(b.add_digital("PM1.Sensor")).idrv_point = kInput;
    b.add_digital("PM1.Door");
    b.digital(b.add_digital("PM1.Gate")).odrv_point = kOutput;
    b.analog(b.add_analog("PM1.Flow")).odrv_point = kOutput;
    b.analog(b.add_analog("PM1.Gauge")).idrv_point = kInput;
    b.analog(b.add_analog("PM1.MFC")).odrv_point = kOutput;
    b.add_analog("PM1.Temp");
    b.string_point(b.add_string("PM1.Recipe")).odrv_point = kOutput;
    b.string_point(b.add_string("PM1.HostText")).idrv_point = kInput;
    b.add_string("PM1.Detail", "Check cable|检查电缆");
    b.add_string("PM1.Empty");
    b.add_string("PM1.Note");
    b.add_string("PM1.Cause", "Leak");
    b.add_function("OPERATOR");
    b.add_function("PM1_PROC");
    b.add_alarm(41001, "PM1_VALVE", "Valve open fail|阀门打开失败");
    publish();
    const std::string config = instance_.runtime_dir() + "/interlocks.toml";
    std::ofstream(config) << "interlocks = [\n"
                             "  { point = \"PM1.Gate\", kind = \"digital\", answer = \"1\" },\n"
                             "  { point = \"PM1.MFC\", kind = \"analog\", answer = \"2\" },\n"
                             "]\n";
    ASSERT_TRUE(manager_.start({"--config", config}));
  }

  // A routine left waiting by a failed assertion is ended, so it never outlives its test.
  void TearDown() override {
    for (pid_t pid : children_) wait_child(pid, 0);  // kills one still running
    AlarmTest::TearDown();
  }

  // Forks the routine PM1_PROC running `body` (its exit status is what body returns), starts
  // up as OPERATOR and waits for the routine's first alarm.
  bool alarm_from(int (*body)()) {
    before_ = posts_heard();
    since_ = manager_.record().size();
    child_ = spawn_child([body] {
      if (!VHub_Initial("PM1_PROC")) return 100;
      const int result = body();
      VHub_Release();
      return result;
    });
    children_.push_back(child_);
    return VHub_Initial("OPERATOR") && managed_after(before_);
  }
  // Waits for the alarm of the routine's next pass.
  bool next_alarm() { return managed_after(++before_); }

  static int posts_heard() { return vexlor::test::alarm_posts_heard("PM1_PROC", 0); }
  // The routine waits for the operator: the alarm is posted and the IO engine heard more posts
  // than `before` (the notice is a post's last step). The post type is not waited for: an
  // answering process resets it to 0, which may land after a quick re-post.
  static bool managed_after(int before) {
    return wait_until([&] { return VAlarm_Status(0) == ALM_PAUSED && posts_heard() > before; }, 20);
  }

  // The routine's IO engine requests since its start.
  Texts engine_requests() const {
    Texts out;
    const auto record = manager_.record();
    for (std::size_t i = since_; i < record.size(); ++i) {
      if (record[i].rfind("Engine", 0) == 0 &&
          record[i].find("sender=PM1_PROC") != std::string::npos)
        out.push_back(record[i]);
    }
    return out;
  }

  static std::string append() { return MMAP_DB()->alarm_rt[0].append; }

  static void set_offline(int driver, bool offline) {
    MMAP_DB()->driver_sp[driver].params[kDriverParamOffline] = offline ? 1 : 0;
  }

  vexlor::test::ManagerProcess manager_;
  std::vector<pid_t> children_;
  pid_t child_ = -1;
  int before_ = 0;
  std::size_t since_ = 0;
};

// Each operator answer to a digital write through an offline output driver.
TEST_F(Supervised, DigitalWriteActsOnTheOperatorsAnswer) {
  struct Round {
    ALARM_STYLE first;  // the first answer; ALM_WAIT is followed by an ALM_RETRY
    bool online;        // the driver is put online before the (last) answer
    int status;
    int value;
  };
  const Round rounds[] = {{ALM_RETRY, true, SYS_SUCCESS, 1},
                          {ALM_IGNORE, false, SYS_SUCCESS, 0},
                          {ALM_ABORT, false, SYS_ABORTED, 0},
                          {ALM_WAIT, true, SYS_SUCCESS, 1}};
  const Texts pass{read_line("$D", kValve), kPosted};
  for (const Round& r : rounds) {
    SCOPED_TRACE(r.first);
    ASSERT_TRUE(
        alarm_from([] { return int{VDigital_Write_True(kValve, 1, 0, "Open fail|打开失败")}; }));
    EXPECT_EQ(VAlarm_Get_Post_Type(0), 2);  // managed: the routine waits for the answer
    EXPECT_EQ(VAlarm_Queue_Count(), 1);
    EXPECT_EQ(append(), "PM1.ValveOpen fail|PM1.Valve打开失败");
    EXPECT_EQ(VAlarm_Get_Code_Position(0), std::string("PM1_PROC"));
    // The interlock is asked before each post.
    EXPECT_EQ(engine_requests(), pass);
    if (r.first == ALM_WAIT) {
      ASSERT_TRUE(VAlarm_Handle(0, ALM_WAIT));
      ASSERT_TRUE(next_alarm());  // written again, failed, asked again
      EXPECT_EQ(engine_requests(), (Texts{pass[0], pass[1], pass[0], pass[1]}));
    }
    if (r.online) set_offline(kOutput, false);
    ASSERT_TRUE(VAlarm_Handle(0, r.first == ALM_WAIT ? ALM_RETRY : r.first));
    EXPECT_EQ(wait_child(child_, 20), r.status);
    EXPECT_EQ(VDigital_Read_Mem(kValve), r.value);
    EXPECT_EQ(VAlarm_Queue_Count(), 0);
    set_offline(kOutput, true);
    VDigital_Write_Mem(kValve, 0);
    VHub_Release();
  }
  EXPECT_EQ(log_count("[ALM] [PM1_PROC] DIO:PM1.Valve 写入重试 , 报警选项:ALM_WAIT 按Retry处理.\n"),
            1);
  EXPECT_EQ(log_count("按Retry处理."), 1);
  Texts answers;  // five posts, five answers
  for (const auto& row : log_rows()) answers.push_back(row.item.answer);
  EXPECT_EQ(answers, (Texts{"", "ALM_RETRY", "", "ALM_IGNORE", "", "ALM_ABORT", "", "ALM_WAIT", "",
                            "ALM_RETRY"}));
}

// The alarm texts of failed writes and the IO engine requests behind them: the interlock's
// interception text (digital with a blank after the '|'), a detail index outside the table
// falling back to "Write Failed.|写入失败.", string writes asking no interlock.
TEST_F(Supervised, FailedWritesCarryTheirTexts) {
  struct Case {
    int (*body)();
    std::string request;  // the interlock request before the post; "" for none
    const char* append;
  };
  const std::string gate = read_line("$D", kGate), mfc = read_line("$A", kMfc);
  const Case cases[] = {
      {[] { return int{VDigital_Write_True(kGate, 1, 0, "Open fail|打开失败")}; }, gate,
       "PM1.GateOpen failSetpoint Interlocking interception.|PM1.Gate打开失败 互锁拦截."},
      {[] { return int{VAnalog_Write_True(kMfc, 5.0, 0, "Flow fail|流量失败")}; }, mfc,
       "PM1.MFCFlow failSetpoint Interlocking interception.|PM1.MFC流量失败互锁拦截."},
      {[] { return int{VDigital_Write_True(kGate, 1, 0, kDetail)}; }, gate,
       "PM1.GateSetpoint Interlocking interception.|PM1.Gate 互锁拦截."},
      {[] { return int{VAnalog_Write_True(kMfc, 5.0, 0, kDetail)}; }, mfc,
       "PM1.MFCSetpoint Interlocking interception.|PM1.MFC互锁拦截."},
      {[] { return int{VAnalog_Write_True(kFlow, 2.5, 0, 99)}; }, read_line("$A", kFlow),
       "PM1.FlowWrite Failed.|PM1.Flow写入失败."},
      {[] { return int{VAnalog_Write_True(kFlow, 2.5, 0, kDetail)}; }, read_line("$A", kFlow),
       "PM1.FlowCheck cable|PM1.Flow检查电缆"},
      {[] { return int{VDigital_Write_True(kValve, 1, 0, kCause)}; }, read_line("$D", kValve),
       "PM1.ValveWrite Failed.Leak|PM1.Valve写入失败.详细信息:Leak"},
      {[] { return int{VDigital_Write_True(kValve, 1, 0, -1)}; }, read_line("$D", kValve),
       "PM1.ValveWrite Failed.|PM1.Valve写入失败."},
      {[] { return int{VString_Write_True(kRecipe, "R1", 0, kDetail)}; }, "",
       "PM1.RecipeWrite Failed.Check cable|PM1.Recipe写入失败.检查电缆"},
      {[] { return int{VString_Write_True(kRecipe, "R1", 0, kEmpty)}; }, "",
       "PM1.RecipeWrite Failed.|PM1.Recipe写入失败."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.append);
    ASSERT_TRUE(alarm_from(c.body));
    EXPECT_EQ(append(), c.append);
    EXPECT_EQ(engine_requests(), (c.request.empty() ? Texts{kPosted} : Texts{c.request, kPosted}));
    ASSERT_TRUE(VAlarm_Abort(0));
    EXPECT_EQ(wait_child(child_, 20), SYS_ABORTED);
    VHub_Release();
  }
  // The alarm log keeps the append in each language's own parentheses.
  const auto rows = log_rows();
  ASSERT_EQ(rows.size(), 20u);
  EXPECT_EQ(rows[0].item.log_text,
            "Valve open fail(PM1.GateOpen failSetpoint Interlocking interception.)|"
            "阀门打开失败(PM1.Gate打开失败 互锁拦截.)");
  EXPECT_EQ(rows[1].item.answer, "ALM_ABORT");
}

// A failed read is retried twice 0.1 s apart before the first alarm, and once more after each
// answer plus two quick reads before the next alarm.
TEST_F(Supervised, ReadMakesThreeReadsBeforeEachAlarm) {
  ASSERT_NE(static_cast<void*>(g_share), MAP_FAILED);
  ASSERT_TRUE(alarm_from([] {
    int value = -1;
    const FUNC_STATUS status = s::read_loop<CountedDigital>(
        kSensor, &value, 0, s::Detail::of_text("Sensor fail|传感器失败"));
    g_share->value = value;
    return int{status};
  }));
  EXPECT_EQ(g_share->reads.load(), 3);
  EXPECT_EQ(append(), "PM1.SensorSensor fail|PM1.Sensor传感器失败");
  ASSERT_TRUE(VAlarm_Retry(0));  // still offline: one read, two quick reads, the next alarm
  ASSERT_TRUE(next_alarm());
  EXPECT_EQ(g_share->reads.load(), 6);
  VDigital_Set_Read_Mem(kSensor, 1);
  set_offline(kInput, false);
  ASSERT_TRUE(VAlarm_Retry(0));
  EXPECT_EQ(wait_child(child_, 20), SYS_SUCCESS);
  EXPECT_EQ(g_share->reads.load(), 7);
  EXPECT_EQ(g_share->value, 1);
  EXPECT_EQ(engine_requests(), (Texts{kPosted, kPosted}));  // no interlock
}

// 0 when the read succeeded and delivered `want`.
template <typename T>
int delivered(FUNC_STATUS status, const T* got, T want) {
  return status == SYS_SUCCESS && *got == want ? 0 : 1;
}

// Reads of each kind and the string write: their alarm texts, no interlock asked, the log line
// of an answer other than retry, ignore or abort (retried), and the value after a retry.
TEST_F(Supervised, OtherAnswersAreLoggedAndRetried) {
  struct Case {
    int (*body)();  // 0 when the operation succeeded with the expected value
    const char* append;
    ALARM_STYLE answer;
    void (*arrive)();  // the value the driver delivers once online
    int driver;
    const char* line;
  };
  const Case cases[] = {
      {[] {
         int v{};
         return delivered(VDigital_Read_True(kSensor, &v, 0, kDetail), &v, 1);
       },
       "PM1.SensorRead Failed.Check cable|PM1.Sensor读取失败.检查电缆", ALM_WAIT,
       [] { VDigital_Set_Read_Mem(kSensor, 1); }, kInput,
       "[ALM] [PM1_PROC] DIO:PM1.Sensor 读取重试 , 报警选项:ALM_WAIT 按Retry处理.\n"},
      {[] {
         double v{};
         return delivered(VAnalog_Read_True(kGauge, &v, 0, kEmpty), &v, 7.25);
       },
       "PM1.GaugeRead Failed.|PM1.Gauge读取失败.", ALM_ENABLE,
       [] { VAnalog_Set_Read_Mem(kGauge, 7.25); }, kInput,
       "[ALM] [PM1_PROC] AIO:PM1.Gauge 读取重试 , 报警选项:ALM_ENABLE 按Retry处理.\n"},
      {[] {
         char t[1024] = {};
         const FUNC_STATUS status = VString_Read_True(kHostText, t, 0, "Host|主机");
         return status == SYS_SUCCESS && std::string(t) == "HELLO" ? 0 : 1;
       },
       "PM1.HostTextHost|PM1.HostText主机", ALM_CLEAR,
       [] { VString_Set_Read_Mem(kHostText, "HELLO"); }, kInput,
       "[ALM] [PM1_PROC] SIO:PM1.HostText 读取重试 , 报警选项:ALM_CLEAR 按Retry处理.\n"},
      {[] { return int{VString_Write_TrueF(kRecipe, "R1", 0, "Recipe %d", 3)} - SYS_SUCCESS; },
       "PM1.RecipeRecipe 3", ALM_STOP, [] {}, kOutput,
       "[ALM] [PM1_PROC] SIO:PM1.Recipe 写入重试 , 报警选项:ALM_STOP 按Retry处理.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.append);
    ASSERT_TRUE(alarm_from(c.body));
    EXPECT_EQ(append(), c.append);
    ASSERT_TRUE(VAlarm_Handle(0, c.answer));
    ASSERT_TRUE(next_alarm());
    c.arrive();
    set_offline(c.driver, false);
    ASSERT_TRUE(VAlarm_Retry(0));
    EXPECT_EQ(wait_child(child_, 20), 0);
    EXPECT_EQ(engine_requests(), (Texts{kPosted, kPosted}));
    EXPECT_EQ(log_count(c.line), 1);
    if (c.driver == kOutput) {
      EXPECT_STREQ(VString_Read_Mem(kRecipe), "R1");
    }
    set_offline(c.driver, true);
    VHub_Release();
  }
}

// Quick success touches no alarm; the exit flag ends supervision with success, the abort flag
// with SYS_ABORTED; bad alarm points, nulls and long texts are safe; the digital wait.
TEST_F(Supervised, QuickSuccessStopFlagsBadInputAndDigitalWaits) {
  // Not started up: nothing to post, so the operations abort instead of waiting.
  EXPECT_EQ(VDigital_Write_True(kValve, 1, 0, "x"), SYS_ABORTED);
  EXPECT_EQ(VDigital_Read_True(kSensor, nullptr, 0, "x"), SYS_ABORTED);
  EXPECT_FALSE(VDigital_Wait(kDoor, 0, 1, nullptr));

  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  const int32_t status_before = MMAP_DB()->alarm_rt[0].status;
  since_ = manager_.record().size();

  EXPECT_EQ(VDigital_Write_TrueF(kDoor, 1, 0, "Door %d", 2), SYS_SUCCESS);
  int value = -1;
  EXPECT_EQ(VDigital_Read_True(kDoor, &value, 0, kDetail), SYS_SUCCESS);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(VDigital_Write_Pulse(kDoor, 1, 0, "pulse"), SYS_SUCCESS);
  EXPECT_EQ(VDigital_Read_Mem(kDoor), 0);
  EXPECT_EQ(VAnalog_Write_True(kTemp, 21.5, 0, kDetail), SYS_SUCCESS);
  double temp = 0;
  EXPECT_EQ(VAnalog_Read_TrueF(kTemp, &temp, 0, "%s", "t"), SYS_SUCCESS);
  EXPECT_EQ(temp, 21.5);
  EXPECT_EQ(VString_Write_True(kNote, "lot 7", 0, "x"), SYS_SUCCESS);
  char text[1024] = {};
  EXPECT_EQ(VString_Read_True(kNote, text, 0, kDetail), SYS_SUCCESS);
  EXPECT_STREQ(text, "lot 7");
  VFunction_Set_Exit_Flag(true);
  EXPECT_EQ(VDigital_Write_True(kValve, 1, 0, "x"), SYS_SUCCESS);
  EXPECT_EQ(VAnalog_Read_True(kGauge, nullptr, 0, kDetail), SYS_SUCCESS);
  EXPECT_EQ(VString_Write_True(kRecipe, "R", 0, "x"), SYS_SUCCESS);
  VFunction_Set_Exit_Flag(false);
  EXPECT_EQ(VAlarm_Queue_Count(), 0);
  EXPECT_EQ(MMAP_DB()->alarm_rt[0].status, status_before);
  EXPECT_EQ(VAlarm_Get_Post_Type(0), 0);
  EXPECT_TRUE(engine_requests().empty());

  VFunction_Set_Abort_Flag(true);
  value = 5;
  EXPECT_EQ(VDigital_Read_True(kSensor, &value, 0, "x"), SYS_ABORTED);
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(log_rows().empty());  // no alarm so far
  // A write posts, then its wait is interrupted: the routine itself answers ALM_ABORT. The
  // caller's text is cut to 511 characters.
  EXPECT_EQ(VDigital_Write_TrueF(kValve, 1, 0, "%s", std::string(600, 'x').c_str()), SYS_ABORTED);
  EXPECT_EQ(append(), "PM1.Valve" + std::string(502, 'x'));
  EXPECT_EQ(VAlarm_Status(0), ALM_ABORT);
  EXPECT_EQ(VAlarm_Queue_Count(), 0);
  EXPECT_EQ(VDigital_Write_Pulse(kValve, 1, 0, "pulse"), SYS_ABORTED);
  VFunction_Set_Abort_Flag(false);

  EXPECT_EQ(VDigital_Write_True(kValve, 1, 999, "x"), SYS_ABORTED);  // no such alarm
  EXPECT_EQ(VDigital_Read_True(kDoor, nullptr, 0, static_cast<const char*>(nullptr)), SYS_SUCCESS);
  const char* no_format = nullptr;
  EXPECT_EQ(VDigital_Write_TrueF(kDoor, 1, 0, no_format), SYS_SUCCESS);
  VString_Write_Mem(kNote, "old");
  EXPECT_EQ(VString_Write_True(kNote, nullptr, 0, kDetail), SYS_SUCCESS);
  EXPECT_STREQ(VString_Read_Mem(kNote), "");
  EXPECT_EQ(VString_Read_True(kNote, nullptr, 0, -5), SYS_SUCCESS);

  VDigital_Write_Mem(kDoor, 1);
  EXPECT_TRUE(VDigital_Wait(kDoor, 1, 5, nullptr));
  EXPECT_FALSE(VDigital_Wait(kDoor, 0, 0, nullptr));    // time-out
  EXPECT_FALSE(VDigital_Wait(kSensor, 0, 5, nullptr));  // the read fails
  std::thread writer([] {                               // the value arrives while the routine waits
    VTime_MSleep(50);
    VDigital_Write_Mem(kDoor, 0);
  });
  EXPECT_TRUE(VDigital_Wait(kDoor, 0, 60, nullptr));
  writer.join();
  vexlor::detail::ConsoleCapture capture;
  VFunction_Set_Exit_Flag(kRoutine, true);  // told to exit while waiting
  EXPECT_FALSE(VDigital_Wait(kDoor, 1, 60, nullptr));
  VFunction_Set_Exit_Flag(kRoutine, false);
  EXPECT_EQ(vexlor::test::alarm_lines(capture),
            (Texts{"[CIM] Vexlor::VTimer_Wait_Seconds 收到退出信号，返回 false"}));
}

}  // namespace
