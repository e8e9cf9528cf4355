// Digital points: enumeration texts both ways in both languages, the driver and no-driver read
// rules, refused writes, access by name and name caching through the caller's int. Analog
// points: texts in the point's decimal places, text parsing of the raw and value-slot writes,
// the same read rules, refused writes, and the limits' types.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using namespace vexlor::test;

TEST_F(TypedPoints, DigitalTextsReadsWritesPulsesDriversAndLimits) {
  // English: the part before '|'; Chinese: the part after it, or the English part when empty.
  VSystem_Set_Language(LANGUAGE_ENGLISH);
  ASSERT_TRUE(VDigital_Write(kValve, 1));
  EXPECT_EQ(outcome([](char* t) { return VDigital_Read_Str(kValve, t); }), "+Open");
  VSystem_Set_Language(LANGUAGE_CHINESE);
  EXPECT_EQ(outcome([](char* t) { return VDigital_Read_Str(kValve, t); }), "+打开");
  EXPECT_EQ(outcome([](char* t) { return VDigital_Get_Enum_S_Data(kValve, 3, t); }), "+Fault");
  EXPECT_EQ(outcome([](char* t) { return VDigital_Get_Enum_S_Data2(kValve, 0, t); }),
            "+Close|关闭");
  EXPECT_TRUE(VDigital_Get_Enum_S_Data(kValve, 0, nullptr));  // worked out and dropped
  // A value without entry: the number.
  EXPECT_EQ(outcome([](char* t) { return VDigital_Get_Enum_S_Data(kValve, 9, t); }), "-9");
  EXPECT_EQ(outcome([](char* t) { return VDigital_Get_Enum_S_Data2(kValve, -7, t); }), "--7");
  VDigital_Write_Mem(kValve, 9);
  EXPECT_EQ(outcome([](char* t) { return VDigital_Read_Mem_Str(kValve, t) == 9; }), "+9");
  // Every entry in a chosen language; a point without enumeration has none.
  Texts texts;
  EXPECT_TRUE(VDigital_Get_Enum_SData_All(kValve, 1, texts));
  EXPECT_EQ(texts, (Texts{"关闭", "打开", "Moving", "Fault"}));
  EXPECT_FALSE(VDigital_Get_Enum_SData_All(kCount, 1, texts));

  // Text to value: the English part, the Chinese part or the whole entry, letter case ignored;
  // then a decimal number. The value-slot form compares the whole entry byte for byte but the
  // parts ignoring case. Neither an entry nor a number: one error log line, nothing written.
  d::ConsoleCapture capture;
  const struct {
    bool mem;  // the value-slot form
    const char* text;
    int value;  // -1: refused
  } writes[] = {{false, "打开", 1},       {false, "open", 1},      {false, "CLOSE|关闭", 0},
                {false, "Moving", 2},     {false, "Fault", 3},     {false, "7", 7},
                {false, "-0", 0},         {true, "Close|关闭", 0}, {true, "MOVING", 2},
                {false, "Half open", -1}, {true, "CLOSE|关闭", -1}, {false, "", -1}};
  for (const auto& w : writes) {
    VDigital_Write_Mem(kValve, 5);
    EXPECT_EQ(w.mem ? VDigital_Write_Mem_Str(kValve, w.text) : VDigital_Write_Str(kValve, w.text),
              w.value >= 0)
        << w.text;
    EXPECT_EQ(VDigital_Read_Mem(kValve), w.value >= 0 ? w.value : 5) << w.text;
  }
  EXPECT_EQ(error_log_texts(capture),
            (Texts{"[DIO:PM1.Valve] 写入失败 , 未找到枚举:Half open. "
                   "[代码行:Vexlor::VDigital_Write_Str:N]",
                   "[DIO:PM1.Valve] 写入失败. "
                   "未找到枚举:CLOSE|关闭.[代码行:Vexlor::VDigital_Write_Mem_Str:N]"}));
  EXPECT_EQ(console_texts(capture).size(), 2u);  // the console copies of the two log lines
  capture.clear();
  db().system_block->simulation = 0;  // writes reach the read value only without input driver
  // Without input driver the point reads back what was written, in the slot and raw; with one
  // it reads what the driver delivered, even after a write.
  VDigital_Set_Read_Mem(kCount, 11);
  VDigital_Write_Mem(kCount, 5);
  EXPECT_EQ(VDigital_Read_Mem(kCount), 5);
  EXPECT_EQ(VDigital_Read(kCount), 5);
  VDigital_Set_Read_Mem(kSensor, 1);
  VDigital_Set_Status(kSensor, true);
  EXPECT_TRUE(VDigital_Write(kSensor, 0));
  VDigital_Write_Mem(kSensor, 0);
  EXPECT_EQ(VDigital_Read_Mem(kSensor), 1);
  bool ok = false;
  EXPECT_EQ(VDigital_Read(kSensor, &ok), 1);
  EXPECT_TRUE(ok);
  EXPECT_EQ(db().digital_val[kSensor].write_value, 0);
  EXPECT_TRUE(VDigital_Get_Read_Status(kSensor));
  VDigital_Set_Status(kSensor, false);
  EXPECT_FALSE(VDigital_Get_Read_Status(kSensor) || VDigital_Get_Write_Status(kSensor));
  // The driver's name, and none for a point without driver.
  EXPECT_STREQ(VDigital_Get_IDrv_Name(kSensor), "DNET");
  EXPECT_STREQ(VDigital_Get_ODrv_Name(kSensor), "");

  // Limits, raw and from text.
  EXPECT_TRUE(VDigital_Write(kCount, 100));
  EXPECT_FALSE(VDigital_Write(kCount, 101));
  EXPECT_FALSE(VDigital_Write(kCount, -101));
  EXPECT_FALSE(VDigital_Write_Str(kCount, "300"));
  EXPECT_EQ(VDigital_Read(kCount), 100);
  // Offline drivers: reads and writes fail and change nothing; the value slot still works.
  VDigital_Set_Max(kDeadDigital, 5);
  EXPECT_FALSE(VDigital_Write(kDeadDigital, 1));
  EXPECT_FALSE(VDigital_Write_Pulse(kDeadDigital, 1));
  ok = true;
  VDigital_Read(kDeadDigital, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(outcome([](char* t) { return VDigital_Read_Str(kDeadDigital, t); }), "--99999999");
  VDigital_Set_Read_Mem(kDeadDigital, 4);
  EXPECT_EQ(VDigital_Read_Mem(kDeadDigital), 4);
  // A pulse ends at 0; one that cannot write 1 does not try 0.
  EXPECT_TRUE(VDigital_Write_Pulse(kValve, 1));
  EXPECT_EQ(VDigital_Read(kValve), 0);
  VDigital_Set_Min(kValve, 2);
  VDigital_Write_Mem(kValve, 7);
  EXPECT_FALSE(VDigital_Write_Pulse(kValve, 1));
  EXPECT_EQ(VDigital_Read_Mem(kValve), 7);
  EXPECT_TRUE(console_texts(capture).empty());
}

// An empty text names the first of the 60 entries with an empty part: a text without '|' (no
// Chinese part), one ending in '|', then the unused entries. Without enumeration it is no
// number.
TEST_F(TypedPoints, DigitalEmptyTextInTheValueSlotNamesTheFirstEntryWithAnEmptyPart) {
  MEM_ENUM_SP_STRU& valve = db().enum_sp[db().digital_sp[kValve].enum_point];
  valve.values[4] = 6;  // the first unused entry
  // The entry rewritten to a text with both parts before the write (-1: none), the value.
  for (const auto& [entry, value] : {std::pair{-1, 2}, {2, 3}, {3, 6}}) {
    if (entry >= 0) std::snprintf(valve.texts[entry], 64, "%s", "Both|两者");
    VDigital_Write_Mem(kValve, 9);
    EXPECT_TRUE(VDigital_Write_Mem_Str(kValve, "")) << entry;
    EXPECT_EQ(VDigital_Read_Mem(kValve), value) << entry;
  }
  d::ConsoleCapture capture;
  VDigital_Write_Mem(kCount, 9);
  EXPECT_FALSE(VDigital_Write_Mem_Str(kCount, ""));
  EXPECT_FALSE(VDigital_Write_Mem_Str(kValve, nullptr));
  EXPECT_EQ(VDigital_Read_Mem(kCount), 9);
  EXPECT_EQ(VDigital_Read_Mem(kValve), 6);
  EXPECT_EQ(error_log_texts(capture),
            (Texts{"[DIO:PM1.Count] 写入失败. 未找到枚举:.[代码行:Vexlor::VDigital_Write_Mem_Str:N]",
                   "[DIO:PM1.Valve] 写入失败. 未找到枚举:.[代码行:Vexlor::VDigital_Write_Mem_Str:N]"}));
}

TEST_F(TypedPoints, DigitalNameCachingThroughTheCallersIntAndTheSharedNameCache) {
  d::ConsoleCapture capture;
  int index = VEXLOR_UNUSED_POINT, value = 0;
  ASSERT_TRUE(VDigital_Write_Name(&index, 1, "PM%d.Valve", 1));
  EXPECT_EQ(index, kValve);
  char text[64];
  EXPECT_TRUE(VDigital_Read_Name_Str(&index, text, "%s", "ignored once resolved"));
  EXPECT_STREQ(text, "Open");
  EXPECT_TRUE(VDigital_Write_Name_Str(&index, "Close", "%s", "ignored"));
  EXPECT_EQ(VDigital_Read(kValve), 0);
  EXPECT_TRUE(console_texts(capture).empty());
  // A missing name prints once and leaves -1; after that the call fails without a lookup.
  int missing = VEXLOR_UNUSED_POINT;
  EXPECT_FALSE(VDigital_Read_Name(&missing, &value, "PM%d.Valve", 9));
  EXPECT_EQ(missing, VEXLOR_ERROR_POINT);
  EXPECT_FALSE(VDigital_Write_Name_Str(&missing, "Open", "PM%d.Valve", 1));
  EXPECT_FALSE(VDigital_Read_Name(nullptr, &value, "PM1.Valve"));
  EXPECT_EQ(red_texts(capture, "PM1_PROC"),
            Texts{"IO_NAME:PM9.Valve - IO_TYPE:IO_D 未识别. [代码行:Vexlor::VIO_Find_Point:N]"});
  // A name cut at 63 characters.
  int cut = VEXLOR_UNUSED_POINT;
  EXPECT_FALSE(VDigital_Write_Name(&cut, 1, "%s", std::string(100, 'x').c_str()));
  EXPECT_EQ(without_line(console_texts(capture).back()),
            "IO_NAME:" + std::string(63, 'x') +
                " - IO_TYPE:IO_D 未识别. [代码行:Vexlor::VIO_Find_Point:N]");

  // Access by name uses the shared name cache.
  capture.clear();
  ASSERT_TRUE(VDigital_Write("PM1.Valve", 1));
  EXPECT_EQ(VDigital_Read("pm1.valve"), 1);  // names ignore letter case
  // The same name as digital and as analog point: each kind resolves its own, whichever
  // resolved the cached entry last.
  ASSERT_TRUE(VDigital_Write("PM1.Pressure", 1));
  ASSERT_TRUE(VAnalog_Write("PM1.Pressure", 2.5));
  EXPECT_EQ(VDigital_Read("PM1.Pressure"), 1);
  EXPECT_EQ(VAnalog_Read("PM1.Pressure"), 2.5);
  EXPECT_EQ(IO_Map_Find("PM1.Pressure").type, IO_A);
  // A cached entry is used as it is: the name is not looked up again.
  VDigital_Set_Name(kValve, "Renamed");
  EXPECT_EQ(VDigital_Read("PM1.Valve"), 1);
  // A missing name: 0 and false, silently unless asked otherwise; a string point is no
  // digital point.
  bool ok = true;
  EXPECT_EQ(VDigital_Read("PM1.Missing"), 0);
  EXPECT_FALSE(VDigital_Write("PM1.Missing", 1));
  EXPECT_TRUE(console_texts(capture).empty());
  EXPECT_EQ(VDigital_Read("PM1.Missing", &ok, false), 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(red_texts(capture, "PM1_PROC"),
            Texts{"IO_NAME:PM1.Missing - IO_TYPE:IO_D 未识别. [代码行:Vexlor::VIO_Find_Point:N]"});
  ok = true;
  EXPECT_EQ(VDigital_Read("PM1.Recipe", &ok, true), 0);
  EXPECT_FALSE(ok);
}

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
