// Carrier wafer sizes from the carrier type enumerations, size codes, module strings and the
// scheduler's module identity.
#include <string>
#include <utility>
#include <vector>

#include "named/named_fixture.h"
#include "os/local_address.h"

namespace vexlor::test {
namespace {

using namespace Vexlor;

class CarrierSizes : public NamedAccess {
 protected:
  // Carrier modules 1-3 with carrier types: sizes in two spellings, a type without sizes, and a
  // size beyond 12 inches; CM4 exists without a carrier type point.
  void SetUp() override {
    for (int side = 0; side < 4; ++side) {
      b_.add_module("CM" + std::to_string(side + 1), "LP" + std::to_string(side + 1), MODULE_CM,
                    side, side + 1);
    }
    b_.add_module("PM2", "ETCH2", MODULE_PM, 1, 9);
    const int two = b_.add_enum("TwoSizes");
    b_.add_enum_item(two, "8Inch|8英寸", 0);
    b_.add_enum_item(two, "12 inch|12英寸", 1);
    const int none = b_.add_enum("NoSize");
    b_.add_enum_item(none, "Open", 0);
    const int bad = b_.add_enum("BadSize");
    int value = 0;
    for (const char* size : {"4Inch", "16Inch", "2Inch", "3Inch", "6Inch"}) {
      b_.add_enum_item(bad, size, value++);
    }
    const int enums[] = {two, none, bad};
    for (int cm = 0; cm < 3; ++cm) {
      const int p = b_.add_digital("CM" + std::to_string(cm + 1) + ".Carrier");
      b_.digital(p).enum_point = enums[cm];
      b_.digital(p).max = 9;
    }
    b_.add_digital("CTC.Language");  // texts come in the equipment's language
    publish();
  }
};

TEST(CarrierSizeCodes, ConvertBothWaysAndZeroOtherwise) {
  for (const auto& [inches, code] :
       {std::pair{2, 2}, {3, 4}, {4, 8}, {6, 32}, {8, 64}, {12, 128}}) {
    EXPECT_EQ(VModule_Size_Conv_To_Inch(inches), code) << inches;
    EXPECT_EQ(VModule_Inch_Conv_To_Size(code), inches) << code;
  }
  for (int other : {0, 1, 5, 16, -2}) {
    EXPECT_EQ(VModule_Size_Conv_To_Inch(other), 0) << other;
    EXPECT_EQ(VModule_Inch_Conv_To_Size(other), 0) << other;
  }
}

TEST_F(CarrierSizes, SizesModuleStringsAndIdentity) {
  detail::ConsoleCapture capture;
  VDigital_Write_Mem(0, 1);
  int size = 7;
  EXPECT_TRUE(VModule_Get_CM_Wafer_Size(0, size));
  EXPECT_EQ(size, 12);
  EXPECT_EQ(VModule_Get_CM_Wafer_Size(0), 12);

  size = 7;
  EXPECT_FALSE(VModule_Get_CM_Wafer_Size(1, size));  // "Open" names no size
  EXPECT_EQ(size, 7);
  VDigital_Write_Mem(2, 1);
  EXPECT_FALSE(VModule_Get_CM_Wafer_Size(2, size));  // 16 inches is out of range
  EXPECT_EQ(size, 16);
  EXPECT_FALSE(VModule_Get_CM_Wafer_Size(6, size));
  EXPECT_EQ(VModule_Get_CM_Wafer_Size(-1), 0);
  EXPECT_EQ(
      error_log_texts(capture),
      (std::vector<std::string>{
          "CM2 当前 Wafer_Size设置:0 , Carrier判断:7 , 解析获取失败![代码行:Vexlor::"
          "VModule_Get_CM_Wafer_Size:N]",
          "CM3 当前 Wafer_Size设置:16 , Carrier判断:16 , 解析获取失败![代码行:Vexlor::"
          "VModule_Get_CM_Wafer_Size:N]",
          "CM_Side:6 超限，不能获得Wafer_Size![代码行:Vexlor::VModule_Get_CM_Wafer_Size:N]",
          "CM_Side:-1 超限，不能获得Wafer_Size![代码行:Vexlor::VModule_Get_CM_Wafer_Size:N]"}));

  // Every size of every carrier: one line for the carrier without type point, one log line.
  capture.clear();
  int sizes[6][3];
  int counts[6];
  for (auto& row : sizes) row[0] = row[1] = row[2] = -5;
  EXPECT_FALSE(VModule_Get_CM_Wafer_Size(sizes, counts));
  EXPECT_EQ((std::vector<int>(counts, counts + 6)), (std::vector<int>{2, 0, 3, 0, 0, 0}));
  EXPECT_EQ((std::vector<int>{sizes[0][0], sizes[0][1], sizes[2][0], sizes[2][1], sizes[2][2]}),
            (std::vector<int>{8, 12, 4, 2, 3}));
  EXPECT_EQ((std::vector<int>{sizes[1][0], sizes[3][0], sizes[5][2]}), (std::vector<int>{0, 0, 0}));
  const std::string parse_error =
      "Wafer Size 解析错误! 请确定IO CMx.Carrier 与 CTC.WaferSize 是否存在 且 WaferSize枚举是否一致 "
      ", 枚举值格式必须是 整数 或 整数+Inch ";
  EXPECT_EQ(tagged_texts(capture),
            (std::vector<std::string>{
                "IO_NAME:CM4.Carrier - IO_TYPE:IO_UNKNOWN未识别. [代码行:Vexlor::VIO_Find:N]",
                "获取IO失败:CM4.Carrier", "[ERR] " + parse_error}));
  EXPECT_EQ(error_log_texts(capture), std::vector<std::string>{parse_error});
  EXPECT_EQ(VModule_Get_String(MODULE_PM, 1), "PM2(ETCH2)");
  EXPECT_EQ(VModule_Get_String(MODULE_CM, 3), "CM4(LP4)");
  EXPECT_EQ(VModule_Get_String(4, 0), "");
  EXPECT_STREQ(VSCH_Get_Module_ID(MODULE_CM, 0), "CM1");
  EXPECT_STREQ(VSCH_Get_Module_Name(MODULE_PM, 1), "ETCH2");
  EXPECT_STREQ(VSCH_Get_Module_Name(MODULE_PM, -1), "");
  EXPECT_STREQ(VSCH_Get_Module_ID(-1, 0), "");
  EXPECT_STREQ(VSCH_Get_Module_Name(4, 0), "");
  EXPECT_STREQ(VSCH_Get_Module_Name(MODULE_PM, 100), "");
  VHub_Release();
  EXPECT_EQ(VModule_Get_String(MODULE_PM, 1), "");
  EXPECT_STREQ(VSCH_Get_Module_Name(MODULE_PM, 1), "");
}

// The machine's address, also written to FA.Local_IP.
TEST_F(NamedAccess, LocalAddressIsAskedForAndWrittenToItsPoint) {
  b_.add_string("FA.Local_IP");
  publish();
  in_child([] {
    char expected[16] = "";
    vexlor::os::local_ipv4_address(expected, sizeof expected);
    EXPECT_STREQ(VFA_Get_Local_IP(), expected);
    EXPECT_STREQ(VString_Read_Mem(0), expected);
  });
}

}  // namespace
}  // namespace vexlor::test
