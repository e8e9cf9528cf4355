// Analog points: texts in the point's decimal places, text parsing of the raw and value-slot
// writes, the driver and no-driver read rules, refused writes, and the limits' types.
#include <string>
#include <utility>

#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using namespace vexlor::test;

TEST_F(TypedPoints, AnalogTextsParsedNumbersReadsAndRefusedWrites) {
  char text[64];
  ASSERT_TRUE(VAnalog_Write(kPressure, 12.3456));
  for (const auto& [decimal, expected] : {std::pair<int, const char*>{0, "12"}, {3, "12.346"},
                                          {8, "12.34560000"}, {9, "12.35"}, {-1, "12.35"}}) {
    VAnalog_Set_Decimal(kPressure, decimal);
    EXPECT_TRUE(VAnalog_Read_Str(kPressure, text));
    EXPECT_STREQ(text, expected) << decimal;
    EXPECT_EQ(VAnalog_Read_Mem_Str(kPressure, text), 1.0);  // never the value
    EXPECT_STREQ(text, expected) << decimal;
  }
  // A read through an offline driver: false and the failure value's text.
  EXPECT_FALSE(VAnalog_Read_Str(kDeadAnalog, text));
  EXPECT_STREQ(text, "-99999999.99");
  // The name form resolves once into the caller's int.
  int index = VEXLOR_UNUSED_POINT;
  VAnalog_Set_Decimal(kPressure, 1);
  EXPECT_TRUE(VAnalog_Read_Name_Str(&index, text, "PM%d.Pressure", 1));
  EXPECT_EQ(index, kPressure);
  EXPECT_STREQ(text, "12.3");
  EXPECT_TRUE(VAnalog_Write_Name_Str(&index, "-7.25", "ignored"));
  EXPECT_EQ(VAnalog_Read(kPressure), -7.25);
  d::ConsoleCapture capture;
  // The raw write takes only decimal numbers within the limits, and fails silently otherwise.
  const struct {
    const char* text;
    bool written;
    double value;
  } raw[] = {{"1e2", true, 100.0},     {"-2.5", true, -2.5},   {"12 bar", false, -2.5},
             {"", false, -2.5},        {nullptr, false, -2.5}, {"5000", false, -2.5}};
  for (const auto& r : raw) {
    EXPECT_EQ(VAnalog_Write_Str(kPressure, r.text), r.written) << (r.text ? r.text : "null");
    EXPECT_EQ(VAnalog_Read(kPressure), r.value) << (r.text ? r.text : "null");
  }
  // The value-slot write takes what the C library makes of the text, 0.0 for no number, and
  // ignores the limits.
  for (const auto& [text, value] :
       {std::pair<const char*, double>{"12 bar", 12.0}, {"5000", 5000.0}, {"bar", 0.0}}) {
    EXPECT_TRUE(VAnalog_Write_Mem_Str(kPressure, text));
    EXPECT_EQ(VAnalog_Read_Mem(kPressure), value) << text;
  }
  EXPECT_TRUE(capture.lines().empty());

  // Reads and refused writes.
  db().system_block->simulation = 0;
  VAnalog_Set_Read_Mem(kTemp, 21.5);  // an input driver: reads give what it delivered
  EXPECT_TRUE(VAnalog_Write(kTemp, 80.0));
  VAnalog_Set_Write_Mem(kTemp, 90.0);
  EXPECT_EQ(VAnalog_Read_Mem(kTemp), 21.5);
  EXPECT_EQ(VAnalog_Read(kTemp), 21.5);
  // Limits: set from whole numbers, read as double; the raw write honours them.
  VAnalog_Set_Max(kPressure, 10);
  VAnalog_Set_Min(kPressure, -10);
  EXPECT_EQ(VAnalog_Get_Max(kPressure), 10.0);
  EXPECT_EQ(VAnalog_Get_Min(kPressure), -10.0);
  EXPECT_TRUE(VAnalog_Write(kPressure, 10.0));
  EXPECT_FALSE(VAnalog_Write(kPressure, 10.001));
  EXPECT_FALSE(VAnalog_Write("PM1.Pressure", -10.5));
  EXPECT_EQ(VAnalog_Read("PM1.Pressure"), 10.0);
  // Offline drivers.
  EXPECT_FALSE(VAnalog_Write(kDeadAnalog, 1.0));
  double value = 4.0;
  EXPECT_FALSE(VAnalog_Read(kDeadAnalog, &value));
  EXPECT_EQ(value, 4.0);
  // Parameters: three values each way, the input ones untouched.
  const int params[3] = {4, 5, 6};
  VAnalog_Set_OParam(kTemp, params);
  int out[3] = {};
  VAnalog_Get_OParam(kTemp, out);
  EXPECT_EQ(out[0] + out[1] * 10 + out[2] * 100, 654);
  EXPECT_EQ(db().analog_sp[kTemp].iparam[2], 0);
}
