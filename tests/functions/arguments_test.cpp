// Argument texts: declared arguments unpacked (well-formed and malformed texts, exact records
// and red lines), packed and read back, checked; run parameters unpacked with their bounds.
#include "vexlor/arguments.h"

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "points/typed_fixture.h"

using namespace Vexlor;
using vexlor::test::Texts;
namespace d = vexlor::detail;

namespace {

constexpr int U = VEXLOR_UNUSED_POINT;
const MODULE_TYPE kNoKind = static_cast<MODULE_TYPE>(-1);

// Alarm points in table order.
constexpr int kCtc3 = 0, kCtc4 = 1, kPm3 = 2, kPm4 = 3;

class Arguments : public vexlor::test::EquipmentTest {
 protected:
  void SetUp() override {
    b_.add_module("PM1", "PM1", MODULE_PM, 0, 11);
    b_.add_module("TM1", "TM1", MODULE_TM, 0, -1);  // no alarm block
    b_.add_alarm(3, "CTC_3", "ctc 3");
    b_.add_alarm(4, "CTC_4", "ctc 4");
    b_.add_alarm(11003, "PM1_3", "pm 3");
    b_.add_alarm(11004, "PM1_4", "pm 4");
    b_.add_function("ARGS");
    start("ARGS");
  }
};

Texts red_lines(const d::ConsoleCapture& capture) {
  return vexlor::test::red_texts(capture, "ARGS");
}

ARG_PARAM_INFO_STRU group(std::string module, MODULE_TYPE kind, int side, std::string head,
                          int ctrl, std::vector<int32_t> alarms, Texts texts) {
  return {std::move(module), kind, side, std::move(head), ctrl, std::move(alarms),
          std::move(texts)};
}

ARG_PARAM_INFO_STRU ctc(std::string head, int ctrl = U, std::vector<int32_t> alarms = {},
                        Texts texts = {}) {
  return group("CTC", kNoKind, -1, std::move(head), ctrl, std::move(alarms), std::move(texts));
}

ARG_PARAM_INFO_STRU pm1(std::string head, int ctrl = U, std::vector<int32_t> alarms = {},
                        Texts texts = {}) {
  return group("PM1", MODULE_PM, 0, std::move(head), ctrl, std::move(alarms), std::move(texts));
}

// Every field of every group compared.
void expect_same(const std::vector<ARG_PARAM_INFO_STRU>& got,
                 const std::vector<ARG_PARAM_INFO_STRU>& want) {
  auto fields = [](const std::vector<ARG_PARAM_INFO_STRU>& groups) {
    Texts out;
    for (const auto& g : groups) {
      out.push_back(
          testing::PrintToString(std::make_tuple(g.module_name, g.module_kind, g.module_side,
                                                 g.io_head, g.ctrl_mode, g.alarm_points, g.texts)));
    }
    return out;
  };
  EXPECT_EQ(fields(got), fields(want));
}

}  // namespace

TEST_F(Arguments, DeclaredTextsUnpackAndCheckPrintsOneLinePerMissingPart) {
  const std::string kAlarm7 = "ALARM_ID:7未识别. [代码行:Vexlor::VAlarm_Find_Point:N]";
  const std::string kBadId = "[声明参数解析] MODULE:CTC ALARM_ID: 解析失败";
  const std::string kNoMap = "[声明参数解析] MODULE: 获取MODULE_MAP失败";
  const ARG_PARAM_INFO_STRU nothing = group("", kNoKind, -1, "", U, {}, {});
  const struct {
    const char* text;
    bool ok;
    std::vector<ARG_PARAM_INFO_STRU> groups;
    Texts lines;
  } cases[] = {
      // clang-format off
      {"CTC|A1$3&-$2", true, {ctc("A1", 2, {kCtc3, U})}, {}},
      {"CTC", true, {ctc("")}, {}},
      {"PM1|H1$3&4$2,H2", true, {pm1("H1", 2, {kPm3, kPm4}), pm1("H2")}, {}},
      {"PM1|H1$3$1$a&b&c,H2$-$-$t", true,
       {pm1("H1", 1, {kPm3}, {"a", "b", "c"}), pm1("H2", 0, {U}, {"t"})}, {}},
      // Placeholders of the IO head and the control mode read as written: "-" and mode 0.
      {"-|-$-$-$x", true, {group("-", kNoKind, -1, "-", 0, {U}, {"x"})}, {}},
      {"CTC|", true, {ctc("")}, {}},
      {"CTC|a,,b", true, {ctc("a"), ctc(""), ctc("b")}, {}},
      // Further tokens and fields are ignored.
      {"CTC|A$4$-7$x$extra|ignored|too", true, {ctc("A", -7, {kCtc4}, {"x"})}, {}},
      {"CTC|A1$0&x&3", false, {ctc("A1", U, {-1, -1, kCtc3})},
       {"[声明参数解析] MODULE:CTC ALARM_ID:0 解析失败",
        "[声明参数解析] MODULE:CTC ALARM_ID:x 解析失败"}},
      {"CTC|A1$7", false, {ctc("A1", U, {-1})},
       {kAlarm7, "[声明参数解析] MODULE:CTC ALARM_ID: CTC|7 未识别"}},
      // An ID beyond the int32 range is not looked up.
      {"PM1|A1$99999999999", false, {pm1("A1", U, {-1})},
       {"[声明参数解析] MODULE:PM1 ALARM_ID: PM1|99999999999 未识别"}},
      // An unknown module keeps alarm base 0: alarm 3 is the CTC alarm.
      {"NOPE|H1$3", false, {group("NOPE", kNoKind, -1, "H1", U, {kCtc3}, {})},
       {"[声明参数解析] MODULE:NOPE 获取MODULE_MAP失败"}},
      {"TM1|H", false, {group("TM1", MODULE_TM, 0, "H", U, {}, {})},
       {"[声明参数解析] MODULE:TM1 获取ALARM_BASE失败"}},
      {"", false, {nothing}, {kNoMap}},
      {nullptr, false, {nothing}, {kNoMap}},
      {"|||", false, {nothing}, {kNoMap}},
      // An empty alarm list is one unreadable entry; an empty text list one empty text.
      {"CTC|$$$", false, {ctc("", 0, {-1}, {""})}, {kBadId}},
      {"CTC|&&&$&", false, {ctc("&&&", U, {-1, -1}, {})}, {kBadId, kBadId}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    std::vector<ARG_PARAM_INFO_STRU> out = {ctc("stale")};
    d::ConsoleCapture capture;
    EXPECT_EQ(VFunction_Unpacking_Arg_Param(c.text, out), c.ok);
    expect_same(out, c.groups);
    EXPECT_EQ(red_lines(capture), c.lines);
  }
  ARG_PARAM_INFO_STRU empty;
  {
    d::ConsoleCapture capture;
    EXPECT_FALSE(VFunction_Check_Arg_Param(empty, true, true, 1, true));
    EXPECT_EQ(
        red_lines(capture),
        (Texts{"[声明参数有效性检查] MODULE_NAME未配置", "[声明参数有效性检查] IO_HEAD未配置",
               "[声明参数有效性检查] ALARM_ID配置缺少", "[声明参数有效性检查] CTRL_MODE未配置"}));
  }
  ARG_PARAM_INFO_STRU full = pm1("H1", 0, {kPm3, U});
  d::ConsoleCapture capture;
  EXPECT_TRUE(VFunction_Check_Arg_Param(full, true, true, 2, true));
  EXPECT_TRUE(VFunction_Check_Arg_Param(empty, false, false, 0, false));
  EXPECT_FALSE(VFunction_Check_Arg_Param(full, false, false, 3, false));
  EXPECT_EQ(red_lines(capture), Texts{"[声明参数有效性检查] ALARM_ID配置缺少"});
}

TEST_F(Arguments, PackedTextsReadBackAndAlarmsWithoutId) {
  const struct {
    std::vector<ARG_PARAM_INFO_STRU> in;
    const char* text;
    std::vector<ARG_PARAM_INFO_STRU> back;  // what unpacking the text gives
  } cases[] = {
      {{pm1("H1", 2, {kPm3, kPm4}), pm1("H2")},
       "PM1|H1$3&4$2,H2",
       {pm1("H1", 2, {kPm3, kPm4}), pm1("H2")}},
      {{ctc("A1", 2, {kCtc3, U})}, "CTC|A1$3&-$2", {ctc("A1", 2, {kCtc3, U})}},
      {{ctc("A", 0, {}, {"t1", "", "t3"})},
       "CTC|A$-$0$t1&&t3",
       {ctc("A", 0, {U}, {"t1", "", "t3"})}},
      // Empty fields before a non-empty one become "-" and read back as such: the head "-",
      // one "no alarm" entry and control mode 0.
      {{ctc("", U, {}, {"t"})}, "CTC|-$-$-$t", {ctc("-", 0, {U}, {"t"})}},
      {{ctc(""), ctc("B")}, "CTC|,B", {ctc(""), ctc("B")}},
      // Only the first record's module is written.
      {{pm1("H1", 1), ctc("H2", 2)}, "PM1|H1$-$1,H2$-$2", {pm1("H1", 1, {U}), pm1("H2", 2, {U})}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<ARG_PARAM_INFO_STRU> in = c.in;
    std::string out;
    d::ConsoleCapture capture;
    EXPECT_TRUE(VFunction_Packaging_Arg_Param(in, out));
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_EQ(out, c.text);
    std::vector<ARG_PARAM_INFO_STRU> back;
    EXPECT_TRUE(VFunction_Unpacking_Arg_Param(out.c_str(), back));
    expect_same(back, c.back);
  }
  std::vector<ARG_PARAM_INFO_STRU> in = {ctc("H", U, {-1, kPm4, 9999})};
  std::string out = "pre:";
  d::ConsoleCapture capture;
  EXPECT_FALSE(VFunction_Packaging_Arg_Param(in, out));
  EXPECT_EQ(out, "pre:CTC|H$0&4&0");
  EXPECT_EQ(red_lines(capture),
            (Texts{"Alarm Alarm_Point  = ERROR_IO_POINT.[代码行:Vexlor::VAlarm_Get_ID:N]",
                   "[声明参数组包] MODULE:CTC 获取ALARM_ID失败,int = -1",
                   "Alarm Alarm_Point = 9999 , 超限.[代码行:Vexlor::VAlarm_Get_ID:N]",
                   "[声明参数组包] MODULE:CTC 获取ALARM_ID失败,int = 9999"}));

  std::vector<ARG_PARAM_INFO_STRU> none;
  out = "kept";
  EXPECT_FALSE(VFunction_Packaging_Arg_Param(none, out));
  EXPECT_EQ(out, "kept");
}

TEST_F(Arguments, RunParametersAndTheOneRecordFormThenTheDetachedLibrary) {
  const std::string long_command(200, 'C');
  const std::string long_arg(40, 'a');
  std::string args49 = "CMD";
  Texts list49;
  for (int i = 0; i < 49; ++i) list49.push_back(std::to_string(i)), args49 += "," + list49.back();
  const std::string args50 = args49 + ",49";
  const std::string over_long = "X," + std::string(5000, 'y') + " 1 A";
  const std::vector<int> none(9, -1);
  const struct {
    std::string text;
    bool ok;
    std::string command;
    Texts args;
    int arg_count, code;
    std::vector<int> fields;
    int switch_flag;
  } cases[] = {
      // clang-format off
      {"CMD,a,b 12 A/1/2/3/4/5/6/7/8 SWITCH", true, "CMD", {"a", "b"}, 2, 12,
       {0, 0, 1, 3, 4, 5, 6, 7, 8}, 1},
      {"CMD", true, "CMD", {}, 0, -1, none, 0},
      {"CMD,", true, "CMD", {}, 0, -1, none, 0},
      // Fields 1 to 4 are converted even when empty.
      {"CMD 7", true, "CMD", {}, 0, 7, {-65, -1, -1, 0, -1, -1, -1, -1, -1}, 0},
      {"CMD,,x 7 C/3//4 then_switch_on", true, "CMD", {"", "x"}, 2, 7,
       {2, 2, -1, 4, -1, -1, -1, -1, -1}, 1},
      {"CMD 1 B/2/3/4/5/6/7/8/9/10", true, "CMD", {}, 0, 1, {1, 1, 2, 4, 5, 6, 7, 8, 9}, 0},
      {"CMD x A/1234567890123456789/-2147483648/z", true, "CMD", {}, 0, 0,
       {0, 2147483646, INT32_MIN, 0, -1, -1, -1, -1, -1}, 0},
      {long_command + "," + long_arg, true, std::string(127, 'C'), {std::string(31, 'a')}, 1, -1,
       none, 0},
      // The first part is read up to 1023 bytes; the rest still follows it.
      {over_long, true, "X", {std::string(31, 'y')}, 1, 1, {0, -1, -1, 0, -1, -1, -1, -1, -1}, 0},
      {args49, true, "CMD", list49, 49, -1, none, 0},
      {args50 + " 5 A", false, "CMD", {}, 50, -1, none, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    RUN_PARAM_INFO_STRU out;
    std::memset(&out, 0x5A, sizeof out);
    EXPECT_EQ(VFunction_Unpacking_Run_Param(c.text.c_str(), out), c.ok);
    EXPECT_EQ(out.command, c.command);
    EXPECT_EQ(out.arg_count, c.arg_count);
    for (std::size_t i = 0; i < c.args.size(); ++i) EXPECT_EQ(out.args[i], c.args[i]) << i;
    for (int i = out.arg_count; i < 50; ++i) EXPECT_EQ(out.args[i][0], '\0') << i;
    EXPECT_EQ(out.code, c.code);
    EXPECT_EQ(std::vector<int>({out.field1, out.field2, out.field3, out.field4, out.field5,
                                out.field6, out.field7, out.field8, out.field9}),
              c.fields);
    EXPECT_EQ(out.switch_flag, c.switch_flag);
  }
  for (const char* text : {"", static_cast<const char*>(nullptr)}) {
    RUN_PARAM_INFO_STRU out;
    std::memset(&out, 0x5A, sizeof out);
    const RUN_PARAM_INFO_STRU before = out;
    d::ConsoleCapture capture;
    EXPECT_FALSE(VFunction_Unpacking_Run_Param(text, out));
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
    const auto files = capture.file_lines();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].tag, "[ERR]");
    EXPECT_EQ(files[0].source, "ARGS");
    EXPECT_EQ(files[0].text, "运行参数为空!");
  }

  // The one-record form of the declared arguments, then the library detached.
  ARG_PARAM_INFO_STRU one = ctc("kept", 5);
  EXPECT_TRUE(VFunction_Unpacking_Arg_Param("PM1|H1$3,H2", one));
  expect_same({one}, {pm1("H1", U, {kPm3})});
  {
    d::ConsoleCapture capture;
    EXPECT_FALSE(VFunction_Unpacking_Arg_Param("CTC|A$0", one));
  }
  expect_same({one}, {pm1("H1", U, {kPm3})});  // unchanged on failure

  VHub_Release();
  d::ConsoleCapture capture;
  std::vector<ARG_PARAM_INFO_STRU> out = {ctc("stale")};
  EXPECT_FALSE(VFunction_Unpacking_Arg_Param("CTC|A1$3", out));
  expect_same(out, {ctc("stale")});  // untouched
  ARG_PARAM_INFO_STRU empty;
  EXPECT_FALSE(VFunction_Check_Arg_Param(empty, true, true, 1, true));
  EXPECT_TRUE(capture.lines().empty());
}
