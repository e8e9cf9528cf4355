// Null pointers, over-long texts and out-of-range values: failure values, no crash, and the
// shared image left as it was, byte for byte.
#include <string>
#include <vector>

#include "db/db_image.h"
#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::config::DatabaseBuilder;

namespace {

// The attached image, header and tables.
std::string image_bytes() {
  const MMAP_STRU& db = *MMAP_DB();
  const char* base = reinterpret_cast<const char*>(db.system_block) - d::kImageHeaderSize;
  return std::string(base, d::image_header(db).total_size);
}

// The captured lines as "console|file <tag> [<source>] <text>", line numbers as "N".
std::vector<std::string> lines_of(const d::ConsoleCapture& capture) {
  std::vector<std::string> lines;
  for (const auto& line : capture.lines()) {
    lines.push_back(std::string(line.channel == d::LineChannel::kConsole ? "console " : "file ") +
                    line.tag + " [" + line.source + "] " + vexlor::test::without_line(line.text));
  }
  return lines;
}

// Every call refuses its input; `attached`: the lookups run despite a null output find a point.
void call_everything_with_bad_input(bool attached) {
  const std::string long_name(5000, 'N');
  int point = 7;
  IO_TYPE type = IO_D;
  EXPECT_FALSE(VIO_Find(nullptr, nullptr, nullptr));
  EXPECT_FALSE(VIO_Find(&point, &type, true, long_name.c_str()));
  EXPECT_FALSE(VIO_FindF(&point, &type, nullptr));
  // Outputs that are null are skipped; the lookup itself still runs.
  EXPECT_EQ(VIO_Find_Point(nullptr, IO_D, "CTC.Language"), attached);
  EXPECT_EQ(VModule_Find(nullptr, "PM1"), attached);
  EXPECT_FALSE(VIO_Find_Point(&point, static_cast<IO_TYPE>(99), true, "CTC.Language"));
  EXPECT_FALSE(VIO_Find_Type(nullptr, nullptr));
  EXPECT_FALSE(VIO_Find_Point1(nullptr, IO_D, 3, 1, "PM%d.X"));
  std::vector<int> row;
  EXPECT_TRUE(VIO_Find_Point1(&row, IO_D, -5, 1, nullptr));  // nothing to find
  EXPECT_TRUE(row.empty());
  EXPECT_FALSE(VIO_Find_Point2(nullptr, IO_D, 2, 1, 2, 1, "PM%d.X%d"));
  EXPECT_EQ(IO_Map_Find(nullptr).type, IO_NONE);
  EXPECT_FALSE(VIO_Set_IO_Map_List(static_cast<IO_Name_String_Map*>(nullptr)));
  EXPECT_FALSE(VModule_Name_To_ID(nullptr));
  EXPECT_FALSE(VModule_ID_To_Name(nullptr));
  EXPECT_FALSE(VIO_Replace_Char(nullptr));
  EXPECT_STREQ(VModule_Get_ID(static_cast<const char*>(nullptr)), "");
  const char* annotation = VModule_Get_Annotation(99, 12345);  // null only when unattached
  EXPECT_TRUE(annotation == nullptr || *annotation == '\0');
  EXPECT_EQ(VModule_Get_PM_Side(long_name.c_str()), -1);
  EXPECT_FALSE(VEnum_Find_Point(nullptr, nullptr));
  EXPECT_EQ(VEnum_Get_DData(0, 99999), 0);
  EXPECT_STREQ(VEnum_Get_SData(0, -1), "");
  int* values = nullptr;
  char** texts = nullptr;
  int count = 3;
  VEnum_Free_DData_All(values, count);
  VEnum_Free_SData_All(texts, count);
  EXPECT_TRUE(values == nullptr && texts == nullptr && count == 3);
  EXPECT_FALSE(VDriver_Find_Point(nullptr, nullptr));
  VDriver_Get_Param(0, nullptr);
  VDriver_Set_Param(0, nullptr);
  VSystem_Set_Log_Status(static_cast<LOG_TYPE>(1000), LOG_STATUS_BOTH);
  EXPECT_EQ(VSystem_Get_Log_Status(static_cast<LOG_TYPE>(1000)),
            attached ? LOG_STATUS_OFF : LOG_STATUS_SECOND);
  VSystem_Set_Group_Name(nullptr);
  EXPECT_STREQ(VSystem_Get_Group_Name(), "");
  EXPECT_EQ(VFunction_Get_Run_Status(static_cast<const char*>(nullptr)), SYS_ABORTED);
  EXPECT_EQ(VFunction_Get_Point(static_cast<const char*>(nullptr)), -1);
  VFunction_Set_Name(123456, nullptr);
  std::vector<int>* parents = nullptr;
  VFunction_Get_Parent_Points(static_cast<std::vector<int>**>(nullptr));
  VFunction_Get_Parent_Points(&parents);
  EXPECT_EQ(parents == nullptr, !attached);
  EXPECT_TRUE(VTimer_Wait_Seconds(-1.0));  // nothing to wait for, nothing interrupted
  // Log lines with null texts or sources, or a type outside the table.
  VSystem_Log(LOG_ERR, nullptr);
  VSystem_Log(nullptr, static_cast<LOG_TYPE>(-3), "x");
  VDriver_Log(nullptr, LOG_DBG, nullptr);
  VGui_Err_Log(nullptr, nullptr);
}

}  // namespace

TEST(BadInput, NullsAndOutOfRangeValuesNeverCrashOrChangeAnything) {
  vexlor::test::PrivateInstance instance("bad-input");
  d::ConsoleCapture capture;
  call_everything_with_bad_input(false);
  // Before start-up only the log calls write: empty lines of an undefined source.
  EXPECT_EQ(lines_of(capture), (std::vector<std::string>{
                                   "console [ERR] [未定义] ", "file [ERR] [未定义] ",
                                   "file [DBG] [] ", "console [ERR] [GUI] ", "file [ERR] [GUI] "}));

  DatabaseBuilder b;
  b.add_digital("CTC.Language");
  b.digital(b.add_digital("CTC.UserLevel", 9)).max = 9;
  b.add_function("BAD_INPUT");
  b.add_module("PM1", "PM1", MODULE_PM, 0, 5);
  int e = b.add_enum("OnOff");
  b.add_enum_item(e, "Off|关", 0);
  b.add_driver("DIO");
  std::string error;
  ASSERT_TRUE(b.publish(false, "bad_input", &error)) << error;
  ASSERT_TRUE(VHub_Initial("BAD_INPUT"));
  capture.clear();
  const std::string before = image_bytes();
  call_everything_with_bad_input(true);
  // Counts rewritten in shared memory never lead a reader past its table.
  MEM_SYSTEM_STRU& sys = *MMAP_DB()->system_block;
  sys.digital_count = 1000000;
  sys.function_count = 1000000;
  VDigital_Write_Mem(500000, 1);  // reported and refused, nothing written
  EXPECT_EQ(VDigital_Read_Mem(999999), VEXLOR_UNUSED_POINT);
  EXPECT_EQ(VFunction_Get_Run_Status(999999), SYS_ABORTED);
  int point = 0;
  EXPECT_FALSE(VIO_Find_Point(&point, IO_D, true, "NO.SUCH.POINT"));
  EXPECT_EQ(VFunction_Get_Point("NO_SUCH_ROUTINE"), -1);
  sys.digital_count = 2;
  sys.function_count = 1;
  EXPECT_TRUE(image_bytes() == before) << "the shared image changed";
  const std::string own = "console  [BAD_INPUT] ";
  EXPECT_EQ(lines_of(capture),
            (std::vector<std::string>{
                own + "IO_NAME: - IO_TYPE:IO_UNKNOWN未识别. [代码行:Vexlor::VIO_Find:N]",
                own + "IO_NAME: - IO_TYPE:IO_UNKNOWN未识别. [代码行:Vexlor::VIO_Find:N]",
                own + "枚举量: 未识别", own + "驱动量: 未识别",
                own + "Function Func_Point = 123456 , 超限.[代码行:Vexlor::VFunction_Set_Name:N]",
                "console [ERR] [BAD_INPUT] ", "file [ERR] [BAD_INPUT] ", "console [DBG] [] ",
                "file [DBG] [] ", "console [ERR] [BAD_INPUT] ", "file [ERR] [BAD_INPUT] ",
                own + "Digital IO_Point = 500000 , 超限.[代码行:Vexlor::VDigital_Write_Mem:N]",
                own + "Digital IO_Point = 999999 , 超限.[代码行:Vexlor::VDigital_Read_Mem:N]",
                own + "Function Func_Point = 999999 , "
                      "超限.[代码行:Vexlor::VFunction_Get_Run_Status:N]"}));

  // Over-long and null texts where the call accepts them: cut to the field, or "-".
  VSystem_Set_User_Name(std::string(5000, 'u').c_str());
  EXPECT_EQ(std::string(VSystem_Get_User_Name()), std::string(63, 'u'));
  VSystem_Set_Group_Name("maint");
  VSystem_Set_Group_Name(nullptr);
  EXPECT_STREQ(VSystem_Get_Group_Name(), "");
  VFunction_Set_Parent_Points(std::string(5000, '7').c_str());
  VFunction_Set_Parent_Points(nullptr);
  EXPECT_STREQ(VFunction_Get_Parent_Points(), "");
  VHub_Release();
}
