// The function table: index checks, fields, the registration stack, status names, the
// virtual-flag line, resolution by name, the own index and the parent chain.
#include "functions/function_table.h"

#include <functional>
#include <string>
#include <vector>

#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::test::console_texts;
using vexlor::test::red_texts;
using vexlor::test::bad_index_lines;

namespace {

// Configured functions; N = 4, so the table holds indices 0 to 15 and slot 4 is the main form.
constexpr int kN = 4;
constexpr int kProc = 0;
constexpr int kSched = 1;
constexpr int kShared = 3;

class FunctionTable : public vexlor::test::EquipmentTest {
 protected:
  void SetUp() override {
    b_.add_module("PM1", "Chamber A", MODULE_PM, 0, 11);
    for (const char* name : {"CTC.Language", "CTC.UserLevel", "SHARED"}) b_.add_digital(name);
    for (const char* name : {"PM1_PROC", "SCHED", "TMC", "SHARED"}) b_.add_function(name);
    b_.set_main_form("GUI_MAIN");
    start();
  }
  static MEM_FUNCTION_SP_STRU& sp(int i) { return MMAP_DB()->function_sp[i]; }
  static MEM_FUNCTION_RT_STRU& rt(int i) { return MMAP_DB()->function_rt[i]; }
};

// An indexed operation: true when it gave its failure value (setters: always; they must write
// nothing and report).
struct IndexedOperation {
  const char* name;
  std::function<bool(int)> failed;
};

// Getters compared with their failure value; setters count as failed (they write nothing).
// clang-format off
#define GET(f, failure) {#f, [](int i) { return f(i) == failure; }}
#define GET_TEXT(f) {#f, [](int i) { return *f(i) == '\0'; }}
#define SET(f, value) {#f, [](int i) { return f(i, value), true; }}
const std::vector<IndexedOperation>& indexed_operations() {
  static const std::vector<IndexedOperation> ops = {
      GET_TEXT(VFunction_Get_Name), GET(VFunction_Get_Level, 0), GET(VFunction_Get_Load_Style, -1),
      GET_TEXT(VFunction_Get_Load_Arg_Param), GET_TEXT(VFunction_Get_Load_Run_Param),
      GET_TEXT(VFunction_Get_Path), GET_TEXT(VFunction_Get_Annotation),
      GET_TEXT(VFunction_Get_Append), GET(VFunction_Get_Pool_Count, 0),
      GET(VFunction_Get_Virtual_Flag, false), GET(VFunction_Get_Run_Status, SYS_ABORTED),
      GET(VFunction_Get_Event_Status, SYS_ABORTED), GET(VFunction_Get_Abort_Flag, false),
      GET(VFunction_Get_Free_Flag, false), GET(VFunction_Get_Manual_Flag, false),
      GET(VFunction_Get_Exit_Flag, false), GET_TEXT(VFunction_Get_Regist_Info),
      SET(VFunction_Set_Name, "X"), SET(VFunction_Set_Level, 1),
      SET(VFunction_Set_Virtual_Flag, true), SET(VFunction_Set_Run_Status, SYS_RUNNING),
      SET(VFunction_Set_Event_Status, SYS_RUNNING), SET(VFunction_Set_Abort_Flag, true),
      SET(VFunction_Set_Free_Flag, true), SET(VFunction_Set_Manual_Flag, true),
      SET(VFunction_Set_Exit_Flag, true), SET(VFunction_Set_Annotation, "X"),
      SET(VFunction_Set_Append, "X"), SET(VFunction_Set_Pool_Count, 3),
      SET(VFunction_Set_Regist_Info, "X")};
  // clang-format on
  return ops;
}

}  // namespace

TEST_F(FunctionTable, EveryIndexedOperationChecksItsIndex) {
  // Not attached: the failure value without a report.
  {
    d::ConsoleCapture capture;
    for (const IndexedOperation& op : indexed_operations()) EXPECT_TRUE(op.failed(0)) << op.name;
    EXPECT_TRUE(console_texts(capture).empty());
  }
  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  const MEM_FUNCTION_RT_STRU last_before = rt(kN + 11);
  for (const IndexedOperation& op : indexed_operations()) {
    SCOPED_TRACE(op.name);
    const int count = kN + 12;
    for (const auto& [index, line] : bad_index_lines("Function Func_Point", count, op.name)) {
      d::ConsoleCapture capture;
      EXPECT_TRUE(op.failed(index)) << index;
      EXPECT_EQ(red_texts(capture, "PM1_PROC"), std::vector<std::string>{line});
    }
    // The last slot is accepted.
    d::ConsoleCapture capture;
    op.failed(count - 1);
    EXPECT_TRUE(console_texts(capture).empty());
  }
  // The probes above wrote into the last extra slot; nothing beyond it was touched, which
  // ASan would report. The slot itself now holds what the setters wrote.
  EXPECT_STRNE(rt(kN + 11).regist_info, last_before.regist_info);
}

TEST_F(FunctionTable, FieldsRegistrationStackStatusNamesAndResolutionByName) {
  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  // Texts are cut to their fields; statuses are stored as their values.
  const int slot = kN + 11;
  VFunction_Set_Name(slot, std::string(70, 'n').c_str());
  VFunction_Set_Annotation(slot, std::string(200, 'a').c_str());
  VFunction_Set_Append(slot, std::string(300, 'p').c_str());
  VFunction_Set_Run_Status(slot, SYS_ERRCODE5);
  VFunction_Set_Manual_Flag(slot, true);
  EXPECT_EQ(std::string(sp(slot).name), std::string(63, 'n'));
  EXPECT_EQ(std::string(sp(slot).annotation), std::string(127, 'a'));
  EXPECT_EQ(std::string(sp(slot).append), std::string(255, 'p'));
  EXPECT_EQ(rt(slot).run_status, 105);
  EXPECT_EQ(rt(slot).manual_flag + 2 * rt(slot).abort_flag + 4 * rt(slot).exit_flag, 1);

  // Fields written by the configuration or by another routine are read in place.
  std::snprintf(sp(kSched).path, 256, "C:\\bin\\sched.exe");
  sp(kSched).load_style = 3;
  rt(kSched).exit_flag = 1;
  EXPECT_EQ(VFunction_Get_Load_Arg_Param(kSched), sp(kSched).load_arg_param);
  EXPECT_STREQ(VFunction_Get_Path(kSched), "C:\\bin\\sched.exe");
  EXPECT_EQ(VFunction_Get_Load_Style(kSched), 3);
  EXPECT_TRUE(VFunction_Get_Exit_Flag(kSched) && !VFunction_Get_Free_Flag(kSched));
  EXPECT_STREQ(VFunction_Get_Name(kN), "GUI_MAIN");
  EXPECT_EQ(VFunction_Get_Run_Status(kN), SYS_KILLED);

  // The own forms act on the routine's own slot; the own name comes from the context.
  VFunction_Set_Level(9);
  VFunction_Set_Name("RENAMED");
  EXPECT_EQ(sp(kProc).level, 9);
  EXPECT_STREQ(VFunction_Get_Name(kProc), "RENAMED");
  EXPECT_STREQ(VFunction_Get_Name(), "PM1_PROC");
  VFunction_Set_Regist_Info(kSched, "");
  EXPECT_STREQ(VFunction_Get_Regist_Info(kSched), "-");
  // Newest first; the oldest end is cut at 63 characters.
  const std::string x60(60, 'x'), y80(80, 'y');
  // clang-format off
  const std::pair<const char*, std::string> steps[] = {
      {"A", "A"}, {"B", "B/A"}, {"", "-/B/A"}, {nullptr, "-/-/B/A"}, {x60.c_str(), x60 + "/-/"},
      {y80.c_str(), std::string(63, 'y')}};
  // clang-format on
  for (const auto& [info, stack] : steps) {
    VFunction_Set_Regist_Info(info);
    EXPECT_EQ(std::string(VFunction_Get_Regist_Info()), stack);
  }
  const std::pair<int, const char*> names[] = {
      {0, "SYS_AVAILABLE"}, {5, "SYS_WAITTING"},  {8, "SYS_SKIP"},       {9, "SYS_UNKNOWN"},
      {99, "SYS_UNKNOWN"},  {100, "SYS_ERRCODE"}, {101, "SYS_ERRCODE1"}, {109, "SYS_ERRCODE9"},
      {110, "SYS_UNKNOWN"}, {-1, "SYS_UNKNOWN"},
  };
  for (const auto& [value, name] : names) EXPECT_STREQ(d::status_name(value), name) << value;

  // One poll of SCHED's run status: the status and every line written, console then file.
  auto poll = [](auto who, std::string* out) {
    d::ConsoleCapture capture;
    const int status = VFunction_Get_Run_Status(who);
    out->clear();
    for (const auto& l : capture.lines()) {
      *out += (l.channel == d::LineChannel::kConsole ? "" : "file ") + l.tag + " " + l.text + "\n";
    }
    return status;
  };
  auto vir_line = [](const std::string& status) {
    const std::string line =
        "[VIR] Vexlor::VFunction_Get_Run_Status:SCHED , VIRTUAL_FLAG = true , "
        "return " +
        status + ".\n";
    return line + "file " + line;
  };
  std::string lines;
  VFunction_Set_Run_Status(kSched, SYS_ERRCODE3);
  EXPECT_EQ(poll(kSched, &lines), SYS_ERRCODE3);
  EXPECT_EQ(lines, "");
  VFunction_Set_Virtual_Flag(kSched, true);
  EXPECT_EQ(poll(kSched, &lines), SYS_ERRCODE3);
  EXPECT_EQ(lines, vir_line("SYS_ERRCODE3"));
  VFunction_Set_Run_Status(kSched, static_cast<FUNC_STATUS>(42));
  EXPECT_EQ(poll("sched", &lines), 42);
  EXPECT_EQ(lines, vir_line("SYS_UNKNOWN"));
  // With LOG_VIR off the poll writes nothing.
  VSystem_Set_Log_Status(LOG_VIR, LOG_STATUS_OFF);
  EXPECT_EQ(poll(kSched, &lines), 42);
  EXPECT_EQ(lines, "");
  VFunction_Set_Run_Status(kShared, SYS_SUCCESS);
  // "SHARED" is a digital point first: the generic lookup caches it as IO_D.
  EXPECT_EQ(IO_Map_Find("SHARED").type, IO_D);
  d::ConsoleCapture capture;
  EXPECT_EQ(VFunction_Get_Run_Status("SHARED"), SYS_SUCCESS);
  // The function lookup replaced the entry with the function.
  const IO_MAP entry = IO_Map_Find("SHARED");
  EXPECT_EQ(entry.type, IO_F);
  EXPECT_EQ(entry.point, kShared);
  EXPECT_TRUE(console_texts(capture).empty());
}

TEST_F(FunctionTable, ParentChainOwnIndexFunctionPointsAndAnUnsetIndexSetOnce) {
  std::vector<int>* list = nullptr;
  std::string text = "stale";
  VFunction_Set_Parent_Points("1");  // no context: nothing
  VFunction_Get_Parent_Points(&list);
  VFunction_Get_Parent_Points(text);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(text, "");
  EXPECT_STREQ(VFunction_Get_Parent_Points(), "");
  EXPECT_TRUE(VFunction_Get_Parent_Name_List().empty());

  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  VFunction_Set_Parent_Points("2&1");
  VFunction_Get_Parent_Points(&list);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(*list, (std::vector<int>{2, 1}));
  EXPECT_STREQ(VFunction_Get_Parent_Points(), "2&1");
  VFunction_Get_Parent_Points(text);
  EXPECT_EQ(text, "2&1");
  EXPECT_EQ(VFunction_Get_Parent_Name_List(), (std::vector<std::string>{"TMC", "SCHED"}));

  // The list is the context's own: it follows later changes.
  const struct {
    const char* text;
    std::vector<int> parents;
  } chains[] = {
      {"7&5", {7, 5}}, {"4&", {4}},   {"x&3", {0, 3}},     {"1&&2", {1, 0, 2}},
      {"", {}},        {nullptr, {}}, {"15&-2", {15, -2}},
  };
  for (const auto& c : chains) {
    VFunction_Set_Parent_Points(c.text);
    EXPECT_EQ(*list, c.parents) << (c.text ? c.text : "null");
    EXPECT_STREQ(VFunction_Get_Parent_Points(), c.text ? c.text : "");
  }
  VFunction_Set_Parent_Points("1&16");
  d::ConsoleCapture capture;
  EXPECT_EQ(VFunction_Get_Parent_Name_List(), (std::vector<std::string>{"SCHED", ""}));
  ASSERT_EQ(console_texts(capture).size(), 1u);
  VFunction_Reset_Parent_Points();
  EXPECT_TRUE(list->empty());
  EXPECT_STREQ(VFunction_Get_Parent_Points(), "");

  // The own index, function points and an unset index set once.
  VHub_Release();
  EXPECT_EQ(VFunction_Get_Point(), -1);
  EXPECT_EQ(VFunction_Get_Point("SCHED"), -1);
  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  EXPECT_EQ(VFunction_Get_Point(), kProc);
  EXPECT_EQ(VFunction_Get_Point("sched"), kSched);
  for (const char* name : {"GUI_MAIN", "", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(VFunction_Get_Point(name), -1);
  }
  // Names are normalised: a bracketed module name and "$" keys.
  EXPECT_EQ(VFunction_Get_Point("[Chamber A]_PROC"), kProc);
  ASSERT_TRUE(VIO_Replace_Char_Set(1, "PM1"));
  EXPECT_EQ(VFunction_Get_Point("$1_PROC"), kProc);
  VHub_Release();

  // An unset own index is set once.
  capture.clear();
  VFunction_Set_Point(2);  // no context: nothing
  EXPECT_FALSE(VHub_Initial("NOT_CONFIGURED"));
  EXPECT_EQ(VFunction_Get_Point(), VEXLOR_UNUSED_POINT);
  capture.clear();
  VFunction_Set_Point(-3);
  EXPECT_EQ(VFunction_Get_Point(), -3);
  VFunction_Set_Point(kSched);
  EXPECT_EQ(VFunction_Get_Point(), kSched);
  VFunction_Set_Point(kProc);
  EXPECT_EQ(VFunction_Get_Point(), kSched);
  EXPECT_EQ(console_texts(capture), (std::vector<std::string>{
                                        "Function Point : -3 不能是负值",
                                        "Function Point由系统分配和设置, 用户不能设置",
                                    }));
}
