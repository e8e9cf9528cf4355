// Exported functions given null pointers, over-long texts and out-of-range values return
// their failure values and never crash, both before start-up and attached.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/builder.h"
#include "util/console_sink.h"
#include "support/instance.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
using vexlor::config::DatabaseBuilder;

namespace {

// Every call below must return its failure value; run twice: unattached, then attached.
void call_everything_with_bad_input() {
  const std::string long_name(5000, 'N');
  int point = 7;
  IO_TYPE type = IO_D;
  EXPECT_FALSE(VIO_Find(nullptr, nullptr, nullptr));
  EXPECT_FALSE(VIO_Find(&point, &type, true, long_name.c_str()));
  EXPECT_FALSE(VIO_FindF(&point, &type, nullptr));
  // Outputs that are null are skipped; the lookup itself still runs.
  VIO_Find_Point(nullptr, IO_D, "CTC.Language");
  EXPECT_FALSE(VIO_Find_Point(&point, static_cast<IO_TYPE>(99), true, "CTC.Language"));
  EXPECT_FALSE(VIO_Find_Type(nullptr, nullptr));
  EXPECT_FALSE(VIO_Find_Point1(nullptr, IO_D, 3, 1, "PM%d.X"));
  std::vector<int> row;
  EXPECT_TRUE(VIO_Find_Point1(&row, IO_D, -5, 1, nullptr));  // nothing to find
  EXPECT_FALSE(VIO_Find_Point2(nullptr, IO_D, 2, 1, 2, 1, "PM%d.X%d"));
  EXPECT_EQ(IO_Map_Find(nullptr).type, IO_NONE);
  EXPECT_FALSE(VIO_Set_IO_Map_List(static_cast<IO_Name_String_Map*>(nullptr)));
  EXPECT_FALSE(VModule_Name_To_ID(nullptr));
  EXPECT_FALSE(VModule_ID_To_Name(nullptr));
  EXPECT_FALSE(VIO_Replace_Char(nullptr));
  VModule_Find(nullptr, "PM1");
  EXPECT_STREQ(VModule_Get_ID(static_cast<const char*>(nullptr)), "");
  const char* annotation = VModule_Get_Annotation(99, 12345);  // null only when unattached
  EXPECT_TRUE(annotation == nullptr || *annotation == '\0');
  EXPECT_EQ(VModule_Get_PM_Side(long_name.c_str()), -1);
  EXPECT_FALSE(VEnum_Find_Point(nullptr, nullptr));
  EXPECT_EQ(VEnum_Get_DData(0, 99999), 0);
  EXPECT_STREQ(VEnum_Get_SData(0, -1), "");
  int* values = nullptr;
  int count = 3;
  VEnum_Free_DData_All(values, count);
  char** texts = nullptr;
  VEnum_Free_SData_All(texts, count);
  EXPECT_FALSE(VDriver_Find_Point(nullptr, nullptr));
  VDriver_Get_Param(0, nullptr);
  VDriver_Set_Param(0, nullptr);
  VSystem_Log(LOG_ERR, nullptr);
  VSystem_Log(nullptr, static_cast<LOG_TYPE>(-3), "x");
  VDriver_Log(nullptr, LOG_DBG, nullptr);
  VGui_Err_Log(nullptr, nullptr);
  VSystem_Set_Log_Status(static_cast<LOG_TYPE>(1000), LOG_STATUS_BOTH);
  VSystem_Set_User_Name(nullptr);
  VSystem_Set_User_Name(long_name.c_str());
  VSystem_Set_Group_Name(nullptr);
  EXPECT_EQ(VFunction_Get_Run_Status(static_cast<const char*>(nullptr)), SYS_ABORTED);
  EXPECT_EQ(VFunction_Get_Point(static_cast<const char*>(nullptr)), -1);
  VFunction_Set_Name(123456, nullptr);
  VFunction_Set_Regist_Info(nullptr);
  VFunction_Set_Parent_Points(nullptr);
  VFunction_Set_Parent_Points(long_name.c_str());
  VFunction_Get_Parent_Points(static_cast<std::vector<int>**>(nullptr));
  EXPECT_TRUE(VTimer_Wait_Seconds(-1.0));  // nothing to wait for, nothing interrupted
}

}  // namespace

TEST(BadInput, NullsAndOutOfRangeValuesNeverCrash) {
  vexlor::test::PrivateInstance instance("bad-input");
  vexlor::detail::ConsoleCapture capture;
  call_everything_with_bad_input();

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
  call_everything_with_bad_input();
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
  // The user name was cut to its field, never written past it.
  EXPECT_EQ(std::string(VSystem_Get_User_Name()).size(), 63u);
  VHub_Release();
}
