// Analog points: texts in the point's decimal places, text parsing of the raw and value-slot
// writes, the driver and no-driver read rules, refused writes, and the limits' types.
#include <gtest/gtest.h>

#include <string>

#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using namespace vexlor::test;

TEST_F(TypedPoints, AnalogTextsUseThePointsDecimalPlaces) {
  char text[64];
  ASSERT_TRUE(VAnalog_Write(kPressure, 12.3456));
  const struct {
    int decimal;
    const char* text;
  } formats[] = {{0, "12"}, {3, "12.346"}, {8, "12.34560000"}, {9, "12.35"}, {-1, "12.35"}};
  for (const auto& f : formats) {
    VAnalog_Set_Decimal(kPressure, f.decimal);
    EXPECT_TRUE(VAnalog_Read_Str(kPressure, text));
    EXPECT_STREQ(text, f.text) << f.decimal;
    EXPECT_EQ(VAnalog_Read_Mem_Str(kPressure, text), 1.0);  // never the value
    EXPECT_STREQ(text, f.text) << f.decimal;
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
}

TEST_F(TypedPoints, AnalogTextWritesParseNumbers) {
  d::ConsoleCapture capture;
  // The raw write takes only decimal numbers, and fails silently on anything else.
  EXPECT_TRUE(VAnalog_Write_Str(kPressure, "1e2"));
  EXPECT_EQ(VAnalog_Read(kPressure), 100.0);
  EXPECT_TRUE(VAnalog_Write_Str(kPressure, "-2.5"));
  EXPECT_EQ(VAnalog_Read(kPressure), -2.5);
  EXPECT_FALSE(VAnalog_Write_Str(kPressure, "12 bar"));
  EXPECT_FALSE(VAnalog_Write_Str(kPressure, ""));
  EXPECT_FALSE(VAnalog_Write_Str(kPressure, nullptr));
  EXPECT_FALSE(VAnalog_Write_Str(kPressure, "5000"));  // above max
  EXPECT_EQ(VAnalog_Read(kPressure), -2.5);
  // The value-slot write takes what the C library makes of the text, 0.0 for no number, and
  // ignores the limits.
  EXPECT_TRUE(VAnalog_Write_Mem_Str(kPressure, "12 bar"));
  EXPECT_EQ(VAnalog_Read_Mem(kPressure), 12.0);
  EXPECT_TRUE(VAnalog_Write_Mem_Str(kPressure, "5000"));
  EXPECT_EQ(VAnalog_Read_Mem(kPressure), 5000.0);
  EXPECT_TRUE(VAnalog_Write_Mem_Str(kPressure, "bar"));
  EXPECT_EQ(VAnalog_Read_Mem(kPressure), 0.0);
  EXPECT_TRUE(console_texts(capture).empty());
  EXPECT_TRUE(capture.file_lines().empty());
}

TEST_F(TypedPoints, AnalogReadsAndRefusedWrites) {
  db().system_block->simulation = 0;
  VAnalog_Set_Read_Mem(kTemp, 21.5);
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
