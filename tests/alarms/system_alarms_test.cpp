// System alarms: the first free alarm of the pool 800..898, an unconfigured pool alarm, and
// the pool all posted.
#include <string>
#include <vector>

#include "alarms/alarm_fixture.h"
#include "config/vocabulary.h"
#include "fifo/manager_process.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::test::alarm_lines;
using vexlor::test::Texts;

namespace {

class SystemAlarms : public vexlor::test::AlarmTest {
 protected:
  // Configures the system alarms first..last (and 899, which is not part of the pool).
  void configure(int first, int last) {
    auto& b = builder();
    b.add_function("OPERATOR");
    for (int id = first; id <= last; ++id) b.add_alarm(id, "SYS_" + std::to_string(id), "System");
    b.add_alarm(899, "SYS_899", "System");
    publish();
    ASSERT_TRUE(manager_.start());
    ASSERT_TRUE(VHub_Initial("OPERATOR"));
    VSystem_Set_Log_Status(LOG_DBG, LOG_STATUS_OFF);
  }
  int point_of(int id) {
    int point = -1;
    EXPECT_TRUE(VAlarm_Find_Point(&point, id));
    return point;
  }
  vexlor::test::ManagerProcess manager_;
};

TEST_F(SystemAlarms, TakesTheFirstFreeAlarmAndStopsAtAnUnconfiguredOne) {
  configure(800, 802);
  ASSERT_TRUE(VAlarm_Post(point_of(800), "earlier"));
  d::ConsoleCapture capture;
  ASSERT_TRUE(VSystem_Alarm_Post("Vexlor::VFunction_Run", 31, "Run refused|运行被拒绝"));
  const int p801 = point_of(801);
  EXPECT_EQ(VAlarm_Status(p801), ALM_PAUSED);
  EXPECT_STREQ(VAlarm_Get_Code_Position(p801), "OPERATOR:Vexlor::VFunction_Run:31");
  char text[512];
  ASSERT_TRUE(VAlarm_Get_Append(p801, LANGUAGE_CHINESE, text));
  EXPECT_STREQ(text, "运行被拒绝");

  ASSERT_TRUE(VSystem_Alarm_Post("f.cpp", 4, "A|甲", "B", "C|丙", "D"));
  ASSERT_TRUE(VAlarm_Get_Append(point_of(802), LANGUAGE_CHINESE, text));
  EXPECT_STREQ(text, "甲B丙D");
  EXPECT_TRUE(alarm_lines(capture).empty());

  // 800..802 posted: 803 is not configured.
  EXPECT_FALSE(VSystem_Alarm_Post("g.cpp", 5, "x", "y"));
  EXPECT_EQ(VSystem_Alarm_Manage("g.cpp", 6, "z"), ALM_ABORT);
  EXPECT_EQ(alarm_lines(capture),
            (Texts{"ALARM_ID:803未识别. [代码行:Vexlor::VAlarm_Find_Point:N]",
                   "[ERR] 系统产生报警ID:803, 但未配置.报警信息:x y.[代码行:g.cpp:5]",
                   "ALARM_ID:803未识别. [代码行:Vexlor::VAlarm_Find_Point:N]",
                   "[ERR] 系统产生报警ID:803, 但未配置.报警信息:z.[代码行:g.cpp:6]"}));
  EXPECT_EQ(VAlarm_Queue_Count(), 3);

  // An answered system alarm is free again.
  ASSERT_TRUE(VAlarm_Clear(p801));
  ASSERT_TRUE(VSystem_Alarm_Post("h.cpp", 7, "again"));
  EXPECT_STREQ(VAlarm_Get_Code_Position(p801), "OPERATOR:h.cpp:7");
}

TEST_F(SystemAlarms, AFullPoolPostsNothing) {
  configure(800, 898);
  for (int id = 800; id <= 898; ++id) ASSERT_TRUE(VSystem_Alarm_Post("f.cpp", 1, "fill"));
  EXPECT_EQ(VAlarm_Queue_Count(), 99);
  EXPECT_EQ(log_rows().size(), 99u);

  d::ConsoleCapture capture;
  EXPECT_FALSE(VSystem_Alarm_Post("h.cpp", 5, "a", "b", "c"));
  EXPECT_EQ(VSystem_Alarm_Manage("h.cpp", 6, "a", "b", "c", "d"), ALM_ABORT);
  EXPECT_EQ(VSystem_Alarm_Manage("h.cpp", 7, "a", "b"), ALM_ABORT);
  EXPECT_EQ(alarm_lines(capture),
            (Texts{"[ERR] 系统产生报警, 但缓存已满.报警信息:a b c.[代码行:h.cpp:5]",
                   "[ERR] 系统产生报警, 但缓存已满.报警信息:a b c d.[代码行:h.cpp:6]",
                   "[ERR] 系统产生报警, 但缓存已满.报警信息:a b.[代码行:h.cpp:7]"}));
  EXPECT_NE(VAlarm_Status(point_of(899)), ALM_PAUSED);
  EXPECT_EQ(VAlarm_Queue_Count(), 99);
  EXPECT_EQ(log_rows().size(), 99u);

  VHub_Release();
  EXPECT_FALSE(VSystem_Alarm_Post("f.cpp", 1, "before start-up"));
  EXPECT_EQ(VSystem_Alarm_Manage("f.cpp", 1, "before start-up"), ALM_ABORT);
}

// The pool `standard_system_alarms` adds: the operator reads a posted one, its fault text and
// its choices in the equipment's display language, English or Chinese.
TEST_F(SystemAlarms, TheStandardPoolSpeaksTheDisplayLanguage) {
  auto& b = builder();
  b.add_function("OPERATOR");
  b.add_digital("CTC.Language");
  ASSERT_EQ(vexlor::config::add_standard_system_alarms(b), 99);
  publish();
  ASSERT_TRUE(manager_.start());
  ASSERT_TRUE(VHub_Initial("OPERATOR"));
  VSystem_Set_Log_Status(LOG_DBG, LOG_STATUS_OFF);
  ASSERT_TRUE(VSystem_Alarm_Post("f.cpp", 7, "Run refused|运行被拒绝"));
  const int p = point_of(800);
  EXPECT_STREQ(VAlarm_Get_Name(p), "SYSTEM_ALARM_800");
  char text[512];
  Texts captions;

  VSystem_Set_Language(LANGUAGE_ENGLISH);
  ASSERT_TRUE(VAlarm_Get_Text_Full(p, text));
  EXPECT_STREQ(text, "System alarm(Run refused)");
  VAlarm_Get_Recovery_Result_Message(p, VSystem_Get_Language(), captions);
  EXPECT_EQ(captions, (Texts{"Retry", "Ignore", "Abort"}));

  VSystem_Set_Language(LANGUAGE_CHINESE);
  ASSERT_TRUE(VAlarm_Get_Text_Full(p, text));
  EXPECT_STREQ(text, "系统报警(运行被拒绝)");
  VAlarm_Get_Recovery_Result_Message(p, VSystem_Get_Language(), captions);
  EXPECT_EQ(captions, (Texts{"重试", "忽略", "中止"}));
}

}  // namespace
