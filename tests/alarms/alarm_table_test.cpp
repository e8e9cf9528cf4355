// The alarm table: lookup forms and cache, field accessors and their index checks, the texts,
// appends and captions in each language.
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "alarms/alarm_fixture.h"
#include "frame/context.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::test::alarm_lines;
using vexlor::test::Texts;

namespace {

class AlarmTable : public vexlor::test::AlarmTest {
 protected:
  void SetUp() override {
    auto& b = builder();
    b.add_function("OPERATOR");
    b.add_digital("CTC.Language");
    b.add_module("PM1", "Chamber A", MODULE_PM, 2, 12);
    b.add_module("TM1", "Robot", MODULE_TM, 0, 21);
    valve_ = b.add_alarm(12005, "PM1_VALVE", "Valve open fail|阀门打开失败");  // L0
    b.alarm(valve_).module_point = 0;
    b.alarm(valve_).level = 1;
    std::strcpy(b.alarm(valve_).description, "Check the air supply");
    b.add_alarm_choice(valve_, ALM_RETRY, "Retry|重试");
    b.add_alarm_choice(valve_, ALM_IGNORE, "Ignore|");
    b.add_alarm_choice(valve_, ALM_ABORT, "Abort");
    english_ = b.add_alarm(21001, "TM1_ARM", "Arm stuck");  // L1: no '|', no choices
    publish();
    ASSERT_TRUE(VHub_Initial("OPERATOR"));
  }
  int valve_ = -1, english_ = -1;
};

TEST_F(AlarmTable, LookupFormsCacheUnconfiguredIdsFieldsAndIndexChecks) {
  d::ConsoleCapture capture;
  int point = 99;
  // The point found, or -2 when the lookup failed.
  auto found = [&point](bool ok) { return ok ? point : -2; };
  EXPECT_EQ(found(VAlarm_Find_Point(&point, 12005)), valve_);
  EXPECT_EQ(found(VAlarm_Find_Point(&point, "PM1", 5)), valve_);  // alarm base 12: ID 12005
  EXPECT_EQ(found(VAlarm_Find_Point(&point, "Chamber A", 5)), valve_);
  EXPECT_EQ(found(VAlarm_Find_Point(&point, MODULE_PM, 2, 5)), valve_);  // bases[PM][2] = 12
  EXPECT_EQ(found(VAlarm_Find_Point(&point, MODULE_TM, 0, 1)), english_);

  // Unknown module: -1 and no message. A negative slot has base 0, so ID = number.
  point = 99;
  EXPECT_FALSE(VAlarm_Find_Point(&point, "PM9", 5));
  EXPECT_EQ(point, -1);
  EXPECT_TRUE(capture.console_lines().empty());
  EXPECT_FALSE(VAlarm_Find_Point(&point, MODULE_PM, -1, 5));
  EXPECT_FALSE(VAlarm_Find_Point(&point, static_cast<MODULE_TYPE>(7), 500, 6));

  // Unconfigured IDs are not cached: one red line per call.
  EXPECT_FALSE(VAlarm_Find_Point(&point, 12099));
  EXPECT_FALSE(VAlarm_Find_Point(&point, 12099));
  EXPECT_EQ(point, -1);
  EXPECT_EQ(alarm_lines(capture),
            (Texts{"ALARM_ID:5未识别. [代码行:Vexlor::VAlarm_Find_Point:N]",
                   "ALARM_ID:6未识别. [代码行:Vexlor::VAlarm_Find_Point:N]",
                   "ALARM_ID:12099未识别. [代码行:Vexlor::VAlarm_Find_Point:N]",
                   "ALARM_ID:12099未识别. [代码行:Vexlor::VAlarm_Find_Point:N]"}));

  // A known ID is answered from the cache: a changed definition is not scanned again.
  MMAP_DB()->alarm_sp[valve_].alarm_id = 77;
  EXPECT_EQ(found(VAlarm_Find_Point(&point, 12005)), valve_);
  MMAP_DB()->alarm_sp[valve_].alarm_id = 12005;

  // Fields and their index checks.
  EXPECT_EQ((std::vector<int>{VAlarm_Get_ID(valve_), VAlarm_Get_Module_Point(valve_),
                              VAlarm_Get_Level(valve_), VAlarm_Get_Recovery_Result_Count(valve_)}),
            (std::vector<int>{12005, 0, 1, 3}));
  EXPECT_TRUE(VAlarm_Get_Used(valve_));
  EXPECT_STREQ(VAlarm_Get_Name(valve_), "PM1_VALVE");
  EXPECT_STREQ(VAlarm_Get_Description(valve_), "Check the air supply");
  ALARM_STYLE choices[8] = {};
  VAlarm_Get_Recovery_Result(valve_, choices);
  EXPECT_EQ(std::vector<ALARM_STYLE>(choices, choices + 4),
            (std::vector<ALARM_STYLE>{ALM_RETRY, ALM_IGNORE, ALM_ABORT, ALM_CLEAR}));

  // One accessor per shape of the index check (macro fields, run-time numbers, texts).
  capture.clear();
  EXPECT_EQ(VAlarm_Get_ID(-1), 0);
  EXPECT_EQ(VAlarm_Get_Module_Point(VEXLOR_UNUSED_POINT), 0);
  EXPECT_EQ(VAlarm_Get_Func_Point(2), VEXLOR_UNUSED_POINT);
  EXPECT_EQ(VAlarm_Get_Post_Type(2), 0);
  char text[512] = "untouched";
  EXPECT_FALSE(VAlarm_Get_Text(2, LANGUAGE_ENGLISH, text));
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(alarm_lines(capture),
            (Texts{"Alarm Alarm_Point  = ERROR_IO_POINT.[代码行:Vexlor::VAlarm_Get_ID:N]",
                   "Alarm Alarm_Point = UNUSE_IO_POINT.[代码行:Vexlor::VAlarm_Get_Module_Point:N]",
                   "Alarm Alarm_Point = 2 , 超限.[代码行:Vexlor::VAlarm_Get_Func_Point:N]",
                   "Alarm Alarm_Point = 2 , 超限.[代码行:Vexlor::VAlarm_Get_Post_Type:N]",
                   "Alarm Alarm_Point = 2 , 超限.[代码行:Vexlor::VAlarm_Get_Text:N]"}));

  // Not attached: failure values, no message.
  capture.clear();
  VHub_Release();
  EXPECT_EQ(VAlarm_Get_ID(valve_), 0);
  EXPECT_STREQ(VAlarm_Get_Name(valve_), "");
  EXPECT_EQ(VAlarm_Status(valve_), ALM_ABORT);
  point = 5;
  EXPECT_FALSE(VAlarm_Find_Point(&point, 12005));
  EXPECT_EQ(point, 5);  // untouched
  EXPECT_TRUE(capture.console_lines().empty());
}

TEST_F(AlarmTable, LanguageSelectionOfTextsAppendsAndCaptions) {
  char text[512];
  // An unknown language reads English; a text without '|' is English only.
  const std::tuple<int, LANGUAGE, const char*> texts[] = {
      {valve_, LANGUAGE_ENGLISH, "Valve open fail"},
      {valve_, LANGUAGE_CHINESE, "阀门打开失败"},
      {valve_, static_cast<LANGUAGE>(5), "Valve open fail"},
      {english_, LANGUAGE_CHINESE, "Arm stuck"}};
  for (const auto& [point, language, want] : texts) {
    ASSERT_TRUE(VAlarm_Get_Text(point, language, text));
    EXPECT_STREQ(text, want);
  }
  EXPECT_FALSE(VAlarm_Get_Text(valve_, LANGUAGE_ENGLISH, nullptr));

  // Appends: a Chinese part that is empty falls back to the English part.
  MEM_ALARM_RT_STRU& rt = MMAP_DB()->alarm_rt[valve_];
  std::strcpy(rt.append, "Port 2|");
  ASSERT_TRUE(VAlarm_Get_Append(valve_, LANGUAGE_CHINESE, text));
  EXPECT_STREQ(text, "Port 2");

  // Full text in the system language: parentheses only with an append.
  ASSERT_TRUE(VAlarm_Get_Text_Full(valve_, text));
  EXPECT_STREQ(text, "Valve open fail(Port 2)");
  VSystem_Set_Language(LANGUAGE_CHINESE);
  std::strcpy(rt.append, "Port 2|端口2");
  ASSERT_TRUE(VAlarm_Get_Text_Full(valve_, text));
  EXPECT_STREQ(text, "阀门打开失败(端口2)");
  rt.append[0] = '\0';
  ASSERT_TRUE(VAlarm_Get_Text_Full(valve_, text));
  EXPECT_STREQ(text, "阀门打开失败");

  // A 511-byte English part with an append is cut to 511 bytes.
  MEM_ALARM_SP_STRU& sp = MMAP_DB()->alarm_sp[english_];
  std::memset(sp.text, 'x', 511);
  sp.text[511] = '\0';
  std::strcpy(MMAP_DB()->alarm_rt[english_].append, "tail");
  ASSERT_TRUE(VAlarm_Get_Text_Full(english_, text));
  EXPECT_EQ(std::strlen(text), 511u);
  EXPECT_EQ(std::string(text, 3), "xxx");

  Texts captions{"stale"};
  VAlarm_Get_Recovery_Result_Message(valve_, LANGUAGE_CHINESE, captions);
  EXPECT_EQ(captions, (Texts{"重试", "Ignore", "Abort"}));
  VAlarm_Get_Recovery_Result_Message(valve_, LANGUAGE_ENGLISH, captions);
  EXPECT_EQ(captions, (Texts{"Retry", "Ignore", "Abort"}));
  VAlarm_Get_Recovery_Result_Message(english_, LANGUAGE_ENGLISH, captions);
  EXPECT_TRUE(captions.empty());
  captions = {"stale"};
  d::ConsoleCapture capture;
  VAlarm_Get_Recovery_Result_Message(-1, LANGUAGE_ENGLISH, captions);
  EXPECT_TRUE(captions.empty());
  // The array form hands out malloc'ed texts: ASan finds a missing or double free.
  char** array = nullptr;
  int count = -1;
  VAlarm_Get_Recovery_Result_Message(valve_, LANGUAGE_CHINESE, array, count);
  ASSERT_EQ(count, 3);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(Texts(array, array + 3), (Texts{"重试", "Ignore", "Abort"}));
  VAlarm_Free_Recovery_Result_Message(array, count);
  EXPECT_EQ(array, nullptr);
  VAlarm_Free_Recovery_Result_Message(array, count);  // null: nothing to do

  // No choices: count 0 and no array.
  VAlarm_Get_Recovery_Result_Message(english_, LANGUAGE_ENGLISH, array, count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(array, nullptr);

  // A record whose count is out of range offers at most 8 choices.
  MMAP_DB()->alarm_sp[english_].recovery_count = 1000;
  VAlarm_Get_Recovery_Result_Message(english_, LANGUAGE_ENGLISH, array, count);
  EXPECT_EQ(count, 8);
  for (int i = 0; i < count; ++i) EXPECT_STREQ(array[i], "");
  VAlarm_Free_Recovery_Result_Message(array, count);

  // A bad point sets nothing.
  count = 42;
  VAlarm_Get_Recovery_Result_Message(9, LANGUAGE_ENGLISH, array, count);
  EXPECT_EQ(count, 42);
  EXPECT_EQ(array, nullptr);
}

}  // namespace
