// Supervised point operations between real processes: a routine (PM1_PROC, a forked child)
// writes or reads through an offline simulated driver, the library asks the IO engine
// (vexlor-manager) about the setpoint interlock and manages the alarm, and the operator (this
// process) answers it. Also the quick reads before the first alarm, the exit and abort flags,
// bad input, and the wait for a digital value.
#include "points/supervised.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "alarms/alarm_fixture.h"
#include "fifo/manager_process.h"

using namespace Vexlor;
using vexlor::test::spawn_child;
using vexlor::test::wait_child;
using vexlor::test::wait_until;
namespace s = vexlor::detail::supervised;

namespace {

// Drivers.
constexpr int kOutput = 0, kInput = 1;
// Digital points.
constexpr int kValve = 0, kSensor = 1, kDoor = 2, kGate = 3;
// Analog points.
constexpr int kFlow = 0, kGauge = 1, kMfc = 2, kTemp = 3;
// String points.
constexpr int kRecipe = 0, kHostText = 1, kDetail = 2, kEmpty = 3, kNote = 4, kCause = 5;
// Functions.
constexpr int kRoutine = 1;  // PM1_PROC; OPERATOR is 0

constexpr char kOwn[] = "sender=PM1_PROC";

// What the reading routine shares with the operator across the fork (anonymous shared
// memory): its raw reads so far and the value it got.
struct ReadShare {
  std::atomic<int> reads{0};
  int value = -1;
};
ReadShare* g_share = nullptr;

// The digital supervised read with every raw read counted.
struct CountedDigital : s::DigitalPoint {
  static bool read(int index, int* out) {
    g_share->reads.fetch_add(1);
    return s::DigitalPoint::read(index, out);
  }
};

class Supervised : public vexlor::test::AlarmTest {
 protected:
  // Output driver OUT and input driver IN start offline; PM1.Gate (digital) and PM1.MFC
  // (analog) are refused by the setpoint interlock.
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

  // Forks the routine PM1_PROC running `body`; its exit status is what body returns.
  pid_t routine(int (*body)()) {
    const pid_t pid = spawn_child([body] {
      if (!VHub_Initial("PM1_PROC")) return 100;
      const int result = body();
      VHub_Release();
      return result;
    });
    children_.push_back(pid);
    return pid;
  }

  // A routine left waiting by a failed assertion is ended, so it never outlives its test.
  void TearDown() override {
    for (pid_t pid : children_) {
      if (::waitpid(pid, nullptr, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
      }
    }
    AlarmTest::TearDown();
  }

  // The IO engine requests of the routine from record line `since` on.
  std::vector<std::string> engine_requests(std::size_t since) const {
    std::vector<std::string> out;
    const auto record = manager_.record();
    for (std::size_t i = since; i < record.size(); ++i) {
      const std::string& line = record[i];
      if (line.rfind("Engine", 0) == 0 && line.find(kOwn) != std::string::npos) {
        out.push_back(line);
      }
    }
    return out;
  }
  std::size_t record_size() const { return manager_.record().size(); }

  // The routine's posts of the alarm the IO engine heard; -1 when the record cannot be read.
  int posts_heard() const {
    std::vector<std::string> record;
    if (!vexlor::fifo::query_record(vexlor::os::kManagerEndpoint, 0, &record, nullptr, 10000)) {
      return -1;
    }
    int n = 0;
    for (const std::string& line : record) {
      n += line == "EngineWriteG kind=$L param=P1 command=W1 index=0 argument=- sender=PM1_PROC";
    }
    return n;
  }
  // Waits until the routine waits for the operator: the alarm is posted and the IO engine heard
  // more posts than `before` (the notice is the last step of a post). The post type is not
  // waited for: an answering process resets it to 0 after its answer, which may land after a
  // quick re-post.
  bool managed_after(int before) const {
    return wait_until([&] { return VAlarm_Status(0) == ALM_PAUSED && posts_heard() > before; }, 20);
  }

  static std::string append() { return MMAP_DB()->alarm_rt[0].append; }

  static void set_offline(int driver, bool offline) {
    int params[10];
    VDriver_Get_Param(driver, params);
    params[kDriverParamOffline] = offline ? 1 : 0;
    VDriver_Set_Param(driver, params);
  }

  // How often `line` occurs in today's system.log.
  int log_count(const std::string& line) const {
    const std::string log = system_log();
    int n = 0;
    for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
      ++n;
    }
    return n;
  }

  vexlor::test::ManagerProcess manager_;
  std::vector<pid_t> children_;
};

std::string read_line(const char* kind, int index) {
  return std::string("EngineRead kind=") + kind +
         " param=P7 command=R1 index=" + std::to_string(index) + " argument=- sender=PM1_PROC";
}
const std::string kPosted =
    "EngineWriteG kind=$L param=P1 command=W1 index=0 argument=- sender=PM1_PROC";

TEST_F(Supervised, AccessThatSucceedsAtOnceTouchesNoAlarm) {
  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  const int32_t status_before = MMAP_DB()->alarm_rt[0].status;
  const std::size_t since = record_size();

  EXPECT_EQ(VDigital_Write_True(kDoor, 1, 0, "Door fail|门失败"), SYS_SUCCESS);
  EXPECT_EQ(VDigital_Read_Mem(kDoor), 1);
  EXPECT_EQ(VDigital_Write_True(kDoor, 0, 0, kDetail), SYS_SUCCESS);
  EXPECT_EQ(VDigital_Write_TrueF(kDoor, 1, 0, "Door %d", 2), SYS_SUCCESS);
  int value = -1;
  EXPECT_EQ(VDigital_Read_True(kDoor, &value, 0, "x"), SYS_SUCCESS);
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

  // Nothing posted, nothing asked of the IO engine.
  EXPECT_EQ(VAlarm_Queue_Count(), 0);
  EXPECT_EQ(MMAP_DB()->alarm_rt[0].status, status_before);
  EXPECT_EQ(VAlarm_Get_Post_Type(0), 0);
  EXPECT_TRUE(engine_requests(since).empty());
  EXPECT_TRUE(log_rows().empty());
}

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
  for (const Round& r : rounds) {
    SCOPED_TRACE(r.first);
    const int before = posts_heard();
    const std::size_t since = record_size();
    const pid_t child =
        routine([] { return int{VDigital_Write_True(kValve, 1, 0, "Open fail|打开失败")}; });
    ASSERT_TRUE(VHub_Initial("OPERATOR"));
    ASSERT_TRUE(managed_after(before));
    // The queue holds it, the append joins the point name and the caller's text, and the IO
    // engine was asked about the interlock before it heard the post.
    EXPECT_EQ(VAlarm_Get_Post_Type(0), 2);  // managed: the routine waits for the answer
    EXPECT_EQ(VAlarm_Queue_Count(), 1);
    int point = -1;
    EXPECT_TRUE(VAlarm_Queue_Point(0, &point, nullptr));
    EXPECT_EQ(point, 0);
    EXPECT_EQ(append(), "PM1.ValveOpen fail|PM1.Valve打开失败");
    EXPECT_EQ(VAlarm_Get_Code_Position(0), std::string("PM1_PROC"));
    EXPECT_EQ(engine_requests(since), (std::vector<std::string>{read_line("$D", kValve), kPosted}));

    if (r.first == ALM_WAIT) {
      ASSERT_TRUE(VAlarm_Handle(0, ALM_WAIT));
      ASSERT_TRUE(managed_after(before + 1));  // written again, failed, asked again
      EXPECT_EQ(engine_requests(since),
                (std::vector<std::string>{read_line("$D", kValve), kPosted, read_line("$D", kValve),
                                          kPosted}));
    }
    if (r.online) set_offline(kOutput, false);
    ASSERT_TRUE(VAlarm_Handle(0, r.first == ALM_WAIT ? ALM_RETRY : r.first));
    EXPECT_EQ(wait_child(child, 20), r.status);
    EXPECT_EQ(VDigital_Read_Mem(kValve), r.value);
    EXPECT_EQ(VAlarm_Queue_Count(), 0);

    set_offline(kOutput, true);
    VDigital_Write_Mem(kValve, 0);
    VHub_Release();
  }
  EXPECT_EQ(log_count("[ALM] [PM1_PROC] DIO:PM1.Valve 写入重试 , 报警选项:ALM_WAIT 按Retry处理.\n"),
            1);
  EXPECT_EQ(log_count("按Retry处理."), 1);
  // Five posts, five answers.
  EXPECT_EQ(log_rows().size(), 10u);
}

// A write refused by the setpoint interlock carries its interception text: the digital text
// with a blank after the '|', the analog one without; the detail-string overload replaces the
// caller's text with it.
TEST_F(Supervised, InterlockedWritesCarryTheInterceptionText) {
  struct Case {
    int (*body)();
    const char* request;
    const char* append;
  };
  const Case cases[] = {
      {[] { return int{VDigital_Write_True(kGate, 1, 0, "Open fail|打开失败")}; }, "$D",
       "PM1.GateOpen failSetpoint Interlocking interception.|PM1.Gate打开失败 互锁拦截."},
      {[] { return int{VAnalog_Write_True(kMfc, 5.0, 0, "Flow fail|流量失败")}; }, "$A",
       "PM1.MFCFlow failSetpoint Interlocking interception.|PM1.MFC流量失败互锁拦截."},
      {[] { return int{VDigital_Write_True(kGate, 1, 0, kDetail)}; }, "$D",
       "PM1.GateSetpoint Interlocking interception.|PM1.Gate 互锁拦截."},
      {[] { return int{VAnalog_Write_True(kMfc, 5.0, 0, kDetail)}; }, "$A",
       "PM1.MFCSetpoint Interlocking interception.|PM1.MFC互锁拦截."},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    const int before = posts_heard();
    const std::size_t since = record_size();
    const pid_t child = routine(c.body);
    ASSERT_TRUE(VHub_Initial("OPERATOR"));
    ASSERT_TRUE(managed_after(before));
    EXPECT_EQ(append(), c.append);
    const int index = c.request[1] == 'D' ? kGate : kMfc;
    EXPECT_EQ(engine_requests(since),
              (std::vector<std::string>{read_line(c.request, index), kPosted}));
    ASSERT_TRUE(VAlarm_Abort(0));
    EXPECT_EQ(wait_child(child, 20), SYS_ABORTED);
    VHub_Release();
    ++n;
  }
  // The alarm log keeps the append in each language's own parentheses.
  const auto rows = log_rows();
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[0].item.log_text,
            "Valve open fail(PM1.GateOpen failSetpoint Interlocking interception.)|"
            "阀门打开失败(PM1.Gate打开失败 互锁拦截.)");
  EXPECT_EQ(rows[1].item.answer, "ALM_ABORT");
}

// Detail strings: the digital write formats the detail text into both languages; the analog
// write puts the detail text in the caller's place, one alarm per pass; a detail index outside
// the string table falls back to "Write Failed.|写入失败.".
TEST_F(Supervised, DetailStringWritesManageOneAlarmPerPass) {
  {
    const int before = posts_heard();
    const std::size_t since = record_size();
    const pid_t child = routine([] { return int{VAnalog_Write_True(kFlow, 2.5, 0, kDetail)}; });
    ASSERT_TRUE(VHub_Initial("OPERATOR"));
    ASSERT_TRUE(managed_after(before));
    EXPECT_EQ(append(), "PM1.FlowCheck cable|PM1.Flow检查电缆");
    ASSERT_TRUE(VAlarm_Retry(0));  // still offline: a second pass
    ASSERT_TRUE(managed_after(before + 1));
    EXPECT_EQ(append(), "PM1.FlowCheck cable|PM1.Flow检查电缆");
    ASSERT_TRUE(VAlarm_Ignore(0));
    EXPECT_EQ(wait_child(child, 20), SYS_SUCCESS);
    EXPECT_EQ(VAnalog_Read_Mem(kFlow), 0.0);  // ignored: never written
    EXPECT_EQ(engine_requests(since), (std::vector<std::string>{read_line("$A", kFlow), kPosted,
                                                                read_line("$A", kFlow), kPosted}));
    const auto rows = log_rows();
    ASSERT_EQ(rows.size(), 4u);
    for (int i : {0, 2}) {
      EXPECT_EQ(rows[i].item.log_text,
                "Valve open fail(PM1.FlowCheck cable)|阀门打开失败(PM1.Flow检查电缆)");
      EXPECT_EQ(rows[i].item.answer, "");
    }
    EXPECT_EQ(rows[1].item.answer, "ALM_RETRY");
    EXPECT_EQ(rows[3].item.answer, "ALM_IGNORE");
    VHub_Release();
  }
  struct Case {
    int (*body)();
    const char* append;
  };
  const Case cases[] = {
      {[] { return int{VAnalog_Write_True(kFlow, 2.5, 0, 99)}; },
       "PM1.FlowWrite Failed.|PM1.Flow写入失败."},
      {[] { return int{VDigital_Write_True(kValve, 1, 0, kCause)}; },
       "PM1.ValveWrite Failed.Leak|PM1.Valve写入失败.详细信息:Leak"},
      {[] { return int{VDigital_Write_True(kValve, 1, 0, -1)}; },
       "PM1.ValveWrite Failed.|PM1.Valve写入失败."},
      {[] { return int{VString_Write_True(kRecipe, "R1", 0, kDetail)}; },
       "PM1.RecipeWrite Failed.Check cable|PM1.Recipe写入失败.检查电缆"},
      {[] { return int{VString_Write_True(kRecipe, "R1", 0, kEmpty)}; },
       "PM1.RecipeWrite Failed.|PM1.Recipe写入失败."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.append);
    const int before = posts_heard();
    const pid_t child = routine(c.body);
    ASSERT_TRUE(VHub_Initial("OPERATOR"));
    ASSERT_TRUE(managed_after(before));
    EXPECT_EQ(append(), c.append);
    ASSERT_TRUE(VAlarm_Abort(0));
    EXPECT_EQ(wait_child(child, 20), SYS_ABORTED);
    VHub_Release();
  }
}

// String writes ask no interlock; an answer other than retry, ignore or abort is logged and
// retried.
TEST_F(Supervised, StringWriteRetriesOnAnyOtherAnswer) {
  const int before = posts_heard();
  const std::size_t since = record_size();
  const pid_t child =
      routine([] { return int{VString_Write_TrueF(kRecipe, "R1", 0, "Recipe %d", 3)}; });
  ASSERT_TRUE(VHub_Initial("OPERATOR"));
  ASSERT_TRUE(managed_after(before));
  EXPECT_EQ(append(), "PM1.RecipeRecipe 3");
  ASSERT_TRUE(VAlarm_Handle(0, ALM_STOP));
  ASSERT_TRUE(managed_after(before + 1));
  set_offline(kOutput, false);
  ASSERT_TRUE(VAlarm_Retry(0));
  EXPECT_EQ(wait_child(child, 20), SYS_SUCCESS);
  EXPECT_STREQ(VString_Read_Mem(kRecipe), "R1");
  EXPECT_EQ(engine_requests(since), (std::vector<std::string>{kPosted, kPosted}));
  EXPECT_EQ(
      log_count("[ALM] [PM1_PROC] SIO:PM1.Recipe 写入重试 , 报警选项:ALM_STOP 按Retry处理.\n"), 1);
}

// A failed read is retried twice 0.1 s apart before the first alarm, and once more after each
// answer plus two quick reads before the next alarm.
TEST_F(Supervised, ReadMakesThreeReadsBeforeEachAlarm) {
  void* shared =
      ::mmap(nullptr, sizeof(ReadShare), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  g_share = new (shared) ReadShare();

  const int before = posts_heard();
  const std::size_t since = record_size();
  const pid_t child = routine([] {
    int value = -1;
    const FUNC_STATUS status = s::read_loop<CountedDigital>(
        kSensor, &value, 0, s::Detail::of_text("Sensor fail|传感器失败"));
    g_share->value = value;
    return int{status};
  });
  ASSERT_TRUE(VHub_Initial("OPERATOR"));
  ASSERT_TRUE(managed_after(before));
  EXPECT_EQ(g_share->reads.load(), 3);
  EXPECT_EQ(append(), "PM1.SensorSensor fail|PM1.Sensor传感器失败");
  ASSERT_TRUE(VAlarm_Retry(0));  // still offline: one read, two quick reads, the next alarm
  ASSERT_TRUE(managed_after(before + 1));
  EXPECT_EQ(g_share->reads.load(), 6);
  VDigital_Set_Read_Mem(kSensor, 1);
  set_offline(kInput, false);
  ASSERT_TRUE(VAlarm_Retry(0));
  EXPECT_EQ(wait_child(child, 20), SYS_SUCCESS);
  EXPECT_EQ(g_share->reads.load(), 7);
  EXPECT_EQ(g_share->value, 1);
  // Reads ask no interlock.
  EXPECT_EQ(engine_requests(since), (std::vector<std::string>{kPosted, kPosted}));
  g_share->~ReadShare();
  ::munmap(shared, sizeof(ReadShare));
  g_share = nullptr;
}

// The reads of each kind: their alarm texts with a detail string, the log line of another
// answer, and the value delivered after a retry.
TEST_F(Supervised, ReadsCarryTheirTextsAndDeliverTheValue) {
  {
    const int before = posts_heard();
    const pid_t child = routine([] {
      int value = -1;
      const FUNC_STATUS status = VDigital_Read_True(kSensor, &value, 0, kDetail);
      return status == SYS_SUCCESS ? value : 50 + int{status};
    });
    ASSERT_TRUE(VHub_Initial("OPERATOR"));
    ASSERT_TRUE(managed_after(before));
    EXPECT_EQ(append(), "PM1.SensorRead Failed.Check cable|PM1.Sensor读取失败.检查电缆");
    ASSERT_TRUE(VAlarm_Handle(0, ALM_WAIT));
    ASSERT_TRUE(managed_after(before + 1));
    VDigital_Set_Read_Mem(kSensor, 1);
    set_offline(kInput, false);
    ASSERT_TRUE(VAlarm_Retry(0));
    EXPECT_EQ(wait_child(child, 20), 1);
    set_offline(kInput, true);
    VHub_Release();
  }
  EXPECT_EQ(
      log_count("[ALM] [PM1_PROC] DIO:PM1.Sensor 读取重试 , 报警选项:ALM_WAIT 按Retry处理.\n"), 1);
  {
    const int before = posts_heard();
    const pid_t child = routine([] {
      double value = 0;
      const FUNC_STATUS status = VAnalog_Read_True(kGauge, &value, 0, kEmpty);
      return status == SYS_SUCCESS && value == 7.25 ? 0 : 1;
    });
    ASSERT_TRUE(VHub_Initial("OPERATOR"));
    ASSERT_TRUE(managed_after(before));
    EXPECT_EQ(append(), "PM1.GaugeRead Failed.|PM1.Gauge读取失败.");
    ASSERT_TRUE(VAlarm_Handle(0, ALM_ENABLE));
    ASSERT_TRUE(managed_after(before + 1));
    VAnalog_Set_Read_Mem(kGauge, 7.25);
    set_offline(kInput, false);
    ASSERT_TRUE(VAlarm_Retry(0));
    EXPECT_EQ(wait_child(child, 20), 0);
    set_offline(kInput, true);
    VHub_Release();
  }
  EXPECT_EQ(
      log_count("[ALM] [PM1_PROC] AIO:PM1.Gauge 读取重试 , 报警选项:ALM_ENABLE 按Retry处理.\n"), 1);
  {
    const int before = posts_heard();
    const pid_t child = routine([] {
      char text[1024] = {};
      const FUNC_STATUS status = VString_Read_True(kHostText, text, 0, "Host|主机");
      return status == SYS_SUCCESS && std::string(text) == "HELLO" ? 0 : 1;
    });
    ASSERT_TRUE(VHub_Initial("OPERATOR"));
    ASSERT_TRUE(managed_after(before));
    EXPECT_EQ(append(), "PM1.HostTextHost|PM1.HostText主机");
    ASSERT_TRUE(VAlarm_Handle(0, ALM_CLEAR));
    ASSERT_TRUE(managed_after(before + 1));
    VString_Set_Read_Mem(kHostText, "HELLO");
    set_offline(kInput, false);
    ASSERT_TRUE(VAlarm_Retry(0));
    EXPECT_EQ(wait_child(child, 20), 0);
    VHub_Release();
  }
  EXPECT_EQ(
      log_count("[ALM] [PM1_PROC] SIO:PM1.HostText 读取重试 , 报警选项:ALM_CLEAR 按Retry处理.\n"),
      1);
}

// The routine's exit flag ends supervision with success before any alarm; its abort flag ends a
// read's quick retries and a write's wait for the operator with SYS_ABORTED; a bad alarm point
// aborts; null pointers and long texts are safe.
TEST_F(Supervised, StopFlagsAndBadInputEndSupervision) {
  // Not started up: nothing to post, so the operations abort instead of waiting.
  EXPECT_EQ(VDigital_Write_True(kValve, 1, 0, "x"), SYS_ABORTED);
  EXPECT_EQ(VDigital_Read_True(kSensor, nullptr, 0, "x"), SYS_ABORTED);
  EXPECT_FALSE(VDigital_Wait(kDoor, 0, 1, nullptr));

  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  VFunction_Set_Exit_Flag(true);
  EXPECT_EQ(VDigital_Write_True(kValve, 1, 0, "x"), SYS_SUCCESS);
  EXPECT_EQ(VAnalog_Read_True(kGauge, nullptr, 0, kDetail), SYS_SUCCESS);
  EXPECT_EQ(VString_Write_True(kRecipe, "R", 0, "x"), SYS_SUCCESS);
  EXPECT_EQ(VAlarm_Queue_Count(), 0);
  EXPECT_TRUE(log_rows().empty());
  VFunction_Set_Exit_Flag(false);

  VFunction_Set_Abort_Flag(true);
  int value = 5;
  EXPECT_EQ(VDigital_Read_True(kSensor, &value, 0, "x"), SYS_ABORTED);
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(log_rows().empty());  // the quick reads stopped before any alarm
  // A write posts, then its wait for the answer is interrupted: the alarm is answered with
  // ALM_ABORT by the routine itself. The caller's text is cut to 511 characters.
  EXPECT_EQ(VDigital_Write_TrueF(kValve, 1, 0, "%s", std::string(600, 'x').c_str()), SYS_ABORTED);
  EXPECT_EQ(append(), "PM1.Valve" + std::string(502, 'x'));
  EXPECT_EQ(VAlarm_Status(0), ALM_ABORT);
  EXPECT_EQ(VAlarm_Queue_Count(), 0);
  EXPECT_EQ(VDigital_Write_Pulse(kValve, 1, 0, "pulse"), SYS_ABORTED);
  VFunction_Set_Abort_Flag(false);

  {
    vexlor::detail::ConsoleCapture capture;
    EXPECT_EQ(VDigital_Write_True(kValve, 1, 999, "x"), SYS_ABORTED);
    const auto lines = vexlor::test::alarm_lines(capture);
    const std::string bad = "Alarm Alarm_Point = 999 , 超限.[代码行:Vexlor::VAlarm_Post_Here:N]";
    EXPECT_NE(std::find(lines.begin(), lines.end(), bad), lines.end());
  }
  EXPECT_EQ(VDigital_Read_True(kDoor, nullptr, 0, static_cast<const char*>(nullptr)), SYS_SUCCESS);
  const char* no_format = nullptr;
  EXPECT_EQ(VDigital_Write_TrueF(kDoor, 1, 0, no_format), SYS_SUCCESS);
  VString_Write_Mem(kNote, "old");
  EXPECT_EQ(VString_Write_True(kNote, nullptr, 0, kDetail), SYS_SUCCESS);
  EXPECT_STREQ(VString_Read_Mem(kNote), "");
  EXPECT_EQ(VString_Read_True(kNote, nullptr, 0, -5), SYS_SUCCESS);
}

TEST_F(Supervised, WaitForADigitalValue) {
  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  VDigital_Write_Mem(kDoor, 1);
  EXPECT_TRUE(VDigital_Wait(kDoor, 1, 5, nullptr));
  EXPECT_FALSE(VDigital_Wait(kDoor, 0, 0, nullptr));    // time-out
  EXPECT_FALSE(VDigital_Wait(kSensor, 0, 5, nullptr));  // the read fails
  // The value arrives while the routine waits.
  std::thread writer([] {
    VTime_MSleep(50);
    VDigital_Write_Mem(kDoor, 0);
  });
  EXPECT_TRUE(VDigital_Wait(kDoor, 0, 60, nullptr));
  writer.join();
  // Told to exit while waiting.
  vexlor::detail::ConsoleCapture capture;
  VFunction_Set_Exit_Flag(kRoutine, true);
  EXPECT_FALSE(VDigital_Wait(kDoor, 1, 60, nullptr));
  VFunction_Set_Exit_Flag(kRoutine, false);
  EXPECT_EQ(
      vexlor::test::alarm_lines(capture),
      (std::vector<std::string>{"[CIM] Vexlor::VTimer_Wait_Seconds 收到退出信号，返回 false"}));
}

}  // namespace
