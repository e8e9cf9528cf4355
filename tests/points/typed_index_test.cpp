// The index check of every indexed operation of the digital, analog and string families, and
// what the three families share: text fields cut at their widths, whole-record copies and the
// reset request to the IO engine.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fifo/manager_process.h"
#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::test::console_texts;
using vexlor::test::red_texts;
using vexlor::test::TypedPoints;

namespace {

// One indexed operation: its name, kind word, whether it checks the index itself (the raw
// forms leave it to the shared-database layer and print nothing), and a call that returns
// true when the operation gave its failure value.
struct IndexedOperation {
  const char* name;
  const char* kind;
  std::function<bool(int)> failed;
  bool reports = true;
};

bool empty(const char* text) { return text != nullptr && text[0] == '\0'; }

template <typename F>
bool done(F&& call) {
  call();
  return true;
}

bool untouched(const std::function<void(int*)>& get) {
  int out[4] = {7, 7, 7, 7};
  get(out);
  return out[0] == 7 && out[1] == 7 && out[2] == 7 && out[3] == 7;
}

// Text outputs must hold the failure value's text.
bool gives_text(const std::function<bool(char*)>& call, bool result, const char* text) {
  char buffer[1024] = "unchanged";
  return call(buffer) == result && std::strcmp(buffer, text) == 0;
}

#define OP(kind, name, expr)                                 \
  {                                                          \
    "V" #kind "_" #name, #kind, [](int i) { return (expr); } \
  }
#define RAW(kind, name, expr)                                       \
  {                                                                 \
    "V" #kind "_" #name, #kind, [](int i) { return (expr); }, false \
  }
#define SETTER(kind, name, ...) OP(kind, name, done([&] { V##kind##_##name(i, __VA_ARGS__); }))

// The fields every kind has, with the same failure values.
#define COMMON_FIELDS(kind, Record)                                                                \
  OP(kind, Get_Name, empty(V##kind##_Get_Name(i))), SETTER(kind, Set_Name, "X"),                   \
      OP(kind, Get_Annotation, empty(V##kind##_Get_Annotation(i))),                                \
      SETTER(kind, Set_Annotation, "X"), OP(kind, Get_Tag_Type, empty(V##kind##_Get_Tag_Type(i))), \
      SETTER(kind, Set_Tag_Type, "X"), OP(kind, Get_Append, empty(V##kind##_Get_Append(i))),       \
      SETTER(kind, Set_Append, "X"), OP(kind, Get_Tag_Name, empty(V##kind##_Get_Tag_Name(i, 0))),  \
      SETTER(kind, Set_Tag_Name, 0, "X"),                                                          \
      OP(kind, Get_IParam, untouched([&](int* o) { V##kind##_Get_IParam(i, o); })),                \
      OP(kind, Get_OParam, untouched([&](int* o) { V##kind##_Get_OParam(i, o); })),                \
      OP(kind, Set_IParam, done([&] {                                                              \
           const int in[4] = {1, 2, 3, 4};                                                         \
           V##kind##_Set_IParam(i, in);                                                            \
         })),                                                                                      \
      OP(kind, Set_OParam, done([&] {                                                              \
           const int in[4] = {1, 2, 3, 4};                                                         \
           V##kind##_Set_OParam(i, in);                                                            \
         })),                                                                                      \
      OP(kind, Get_IDrv_Type, V##kind##_Get_IDrv_Type(i) == 0),                                    \
      OP(kind, Get_ODrv_Type, V##kind##_Get_ODrv_Type(i) == 0),                                    \
      SETTER(kind, Set_IDrv_Type, DRIVER_TYPE{1}), SETTER(kind, Set_ODrv_Type, DRIVER_TYPE{1}),    \
      SETTER(kind, Set_IDrv_Point, 0), SETTER(kind, Set_ODrv_Point, 0),                            \
      OP(kind, Get_IDrv_Name, empty(V##kind##_Get_IDrv_Name(i))),                                  \
      OP(kind, Get_ODrv_Name, empty(V##kind##_Get_ODrv_Name(i))),                                  \
      OP(kind, Get_SIntlk_Use, !V##kind##_Get_SIntlk_Use(i)),                                      \
      OP(kind, Get_VIntlk_Use, !V##kind##_Get_VIntlk_Use(i)), SETTER(kind, Set_SIntlk_Use, true),  \
      SETTER(kind, Set_VIntlk_Use, true), OP(kind, Get_Tag_Flag, !V##kind##_Get_Tag_Flag(i)),      \
      SETTER(kind, Set_Tag_Flag, true), OP(kind, Get_Mode, V##kind##_Get_Mode(i) == -1),           \
      OP(kind, Get_Read_Status, !V##kind##_Get_Read_Status(i)),                                    \
      OP(kind, Get_Write_Status, !V##kind##_Get_Write_Status(i)), SETTER(kind, Set_Status, true),  \
      OP(kind, Reset_Shape, !V##kind##_Reset_Shape(i)),                                            \
      OP(kind, Get_Shape,                                                                          \
         [&] {                                                                                     \
           Record r{};                                                                             \
           return !V##kind##_Get_Shape(i, &r);                                                     \
         }()),                                                                                     \
      OP(kind, Set_Shape, [&] {                                                                    \
        Record r{};                                                                                \
        return !V##kind##_Set_Shape(i, r);                                                         \
      }())

// The rows the two number kinds share: raw access, value slot, texts, unit and limits.
#define NUMBER_ROWS(kind, Value, failure, failure_text)                                            \
  OP(kind, Read_Mem, V##kind##_Read_Mem(i) == failure), SETTER(kind, Write_Mem, 1),                \
      SETTER(kind, Set_Write_Mem, 1), SETTER(kind, Set_Read_Mem, 1),                               \
      OP(kind, Read_Str,                                                                           \
         gives_text([&](char* t) { return V##kind##_Read_Str(i, t); }, false, failure_text)),      \
      OP(kind, Write_Str, !V##kind##_Write_Str(i, "1")),                                           \
      OP(kind, Write_Mem_Str, !V##kind##_Write_Mem_Str(i, "1")),                                   \
      OP(kind, Get_Unit, empty(V##kind##_Get_Unit(i))), SETTER(kind, Set_Unit, "X"),               \
      SETTER(kind, Set_Min, 1), SETTER(kind, Set_Max, 1), RAW(kind, Read, V##kind##_Read(i) == 0), \
      RAW(kind, Read,                                                                              \
          [&] {                                                                                    \
            bool ok = true;                                                                        \
            return V##kind##_Read(i, &ok) == 0 && !ok;                                             \
          }()),                                                                                    \
      RAW(kind, Read,                                                                              \
          [&] {                                                                                    \
            Value v = 5;                                                                           \
            return !V##kind##_Read(i, &v) && v == 5;                                               \
          }()),                                                                                    \
      RAW(kind, Write, !V##kind##_Write(i, 1))

const std::vector<IndexedOperation>& indexed_operations() {
  static const std::vector<IndexedOperation> ops = {
      COMMON_FIELDS(Digital, MEM_DIGITAL_SP_STRU),
      COMMON_FIELDS(Analog, MEM_ANALOG_SP_STRU),
      COMMON_FIELDS(String, MEM_STRING_SP_STRU),
      NUMBER_ROWS(Digital, int, -99999999, "-99999999"),
      NUMBER_ROWS(Analog, double, -99999999.99, "-99999999.99"),
      // Digital.
      OP(Digital, Read_Mem_Str,
         gives_text([&](char* t) { return VDigital_Read_Mem_Str(i, t) == -99999999; }, true,
                    "-99999999")),
      OP(Digital, Get_Enum_S_Data,
         gives_text([&](char* t) { return VDigital_Get_Enum_S_Data(i, 1, t); }, false,
                    "unchanged")),
      OP(Digital, Get_Enum_S_Data2,
         gives_text([&](char* t) { return VDigital_Get_Enum_S_Data2(i, 1, t); }, false,
                    "unchanged")),
      OP(Digital, Get_Enum_SData_All,
         [&] {
           std::vector<std::string> texts;
           return !VDigital_Get_Enum_SData_All(i, 0, texts) && texts.empty();
         }()),
      OP(Digital, Get_Enum_SData_All,
         [&] {
           char** texts = nullptr;
           int count = -5;
           return !VDigital_Get_Enum_SData_All(i, 0, texts, count) && !texts && count == -5;
         }()),
      OP(Digital, Get_Min, VDigital_Get_Min(i) == -999999),
      OP(Digital, Get_Max, VDigital_Get_Max(i) == 999999),
      OP(Digital, Get_Enum_Point, VDigital_Get_Enum_Point(i) == -1),
      OP(Digital, Get_IDrv_Point, VDigital_Get_IDrv_Point(i) == -1),
      OP(Digital, Get_ODrv_Point, VDigital_Get_ODrv_Point(i) == -1),
      OP(Digital, Get_Init, VDigital_Get_Init(i) == -99999999),
      SETTER(Digital, Set_Init, 1),
      RAW(Digital, Write_Pulse, !VDigital_Write_Pulse(i, 0)),
      // Analog.
      OP(Analog, Read_Mem_Str,
         gives_text([&](char* t) { return VAnalog_Read_Mem_Str(i, t) == 1.0; }, true,
                    "-99999999.99")),
      OP(Analog, Get_Min, VAnalog_Get_Min(i) == -99999999.99),
      OP(Analog, Get_Max, VAnalog_Get_Max(i) == 99999999.0),
      OP(Analog, Get_Decimal, VAnalog_Get_Decimal(i) == 2),
      SETTER(Analog, Set_Decimal, 4),
      OP(Analog, Get_IDrv_Point, VAnalog_Get_IDrv_Point(i) == -99999999),
      OP(Analog, Get_ODrv_Point, VAnalog_Get_ODrv_Point(i) == -99999999),
      OP(Analog, Get_Init, VAnalog_Get_Init(i) == -99999999.99),
      SETTER(Analog, Set_Init, 1.5),
      // String.
      OP(String, Read_Mem, empty(VString_Read_Mem(i))),
      SETTER(String, Write_Mem, "X"),
      SETTER(String, Set_Write_Mem, "X"),
      SETTER(String, Set_Read_Mem, "X"),
      SETTER(String, Write_MemF, "%s", "X"),
      OP(String, Write_Mutex, !VString_Write_Mutex(i, "X")),
      OP(String, WriteF_Mutex, !VString_WriteF_Mutex(i, "%s", "X")),
      OP(String, Read_Mutex,
         gives_text([&](char* t) { return VString_Read_Mutex(i, t); }, false, "unchanged")),
      SETTER(String, Write_Message, "X"),
      SETTER(String, Write_MessageF, "%s", "X"),
      OP(String, Get_Init, empty(VString_Get_Init(i))),
      SETTER(String, Set_Init, "X"),
      OP(String, Get_IDrv_Point, VString_Get_IDrv_Point(i) == -99999999),
      OP(String, Get_ODrv_Point, VString_Get_ODrv_Point(i) == -99999999),
      RAW(String, Read, empty(VString_Read(i))),
      RAW(String, Read,
          [&] {
            bool ok = true;
            return empty(VString_Read(i, &ok)) && !ok;
          }()),
      RAW(String, Read,
          gives_text([&](char* t) { return VString_Read(i, t); }, false, "unchanged")),
      RAW(String, Write, !VString_Write(i, "X")),
      RAW(String, WriteF, !VString_WriteF(i, "%s", "X")),
  };
  return ops;
}

// Every byte of the point tables and their value slots.
std::string table_bytes(const MMAP_STRU& db) {
  const MEM_SYSTEM_STRU& s = *db.system_block;
  std::string bytes;
  auto add = [&](const void* p, std::size_t n) { bytes.append(static_cast<const char*>(p), n); };
  add(db.digital_sp, sizeof(MEM_DIGITAL_SP_STRU) * s.digital_count);
  add(db.digital_val, sizeof(MEM_DIGITAL_VAL_STRU) * s.digital_count);
  add(db.analog_sp, sizeof(MEM_ANALOG_SP_STRU) * s.analog_count);
  add(db.analog_val, sizeof(MEM_ANALOG_VAL_STRU) * s.analog_count);
  add(db.string_sp, sizeof(MEM_STRING_SP_STRU) * s.string_count);
  add(db.string_val, sizeof(MEM_STRING_VAL_STRU) * s.string_count);
  return bytes;
}

// Where a byte of one of the six tables stands in table_bytes().
std::size_t offset_in_tables(const MMAP_STRU& db, const char* byte) {
  const MEM_SYSTEM_STRU& s = *db.system_block;
  const struct {
    const void* base;
    std::size_t size;
  } tables[] = {
      {db.digital_sp, sizeof(MEM_DIGITAL_SP_STRU) * s.digital_count},
      {db.digital_val, sizeof(MEM_DIGITAL_VAL_STRU) * s.digital_count},
      {db.analog_sp, sizeof(MEM_ANALOG_SP_STRU) * s.analog_count},
      {db.analog_val, sizeof(MEM_ANALOG_VAL_STRU) * s.analog_count},
      {db.string_sp, sizeof(MEM_STRING_SP_STRU) * s.string_count},
      {db.string_val, sizeof(MEM_STRING_VAL_STRU) * s.string_count},
  };
  std::size_t offset = 0;
  for (const auto& t : tables) {
    const char* base = static_cast<const char*>(t.base);
    if (byte >= base && byte < base + t.size) return offset + static_cast<std::size_t>(byte - base);
    offset += t.size;
  }
  return std::string::npos;
}

int count_of(const std::string& kind) {
  if (kind == "Digital") return VSystem_Get_Digital_Count();
  if (kind == "Analog") return VSystem_Get_Analog_Count();
  return VSystem_Get_String_Count();
}

}  // namespace

TEST_F(TypedPoints, EveryIndexedOperationChecksItsIndex) {
  const std::string before = table_bytes(db());
  for (const IndexedOperation& op : indexed_operations()) {
    const int count = count_of(op.kind);
    const struct {
      int index;
      std::string line;
    } bad[] = {
        {-1,
         std::string(op.kind) + " IO_Point  = ERROR_IO_POINT.[代码行:Vexlor::" + op.name + ":N]"},
        {-99999999,
         std::string(op.kind) + " IO_Point = UNUSE_IO_POINT.[代码行:Vexlor::" + op.name + ":N]"},
        {count, std::string(op.kind) + " IO_Point = " + std::to_string(count) +
                    " , 超限.[代码行:Vexlor::" + op.name + ":N]"},
    };
    for (const auto& b : bad) {
      SCOPED_TRACE(std::string(op.name) + " at " + std::to_string(b.index));
      d::ConsoleCapture capture;
      EXPECT_TRUE(op.failed(b.index));
      EXPECT_EQ(red_texts(capture, "PM1_PROC"),
                op.reports ? std::vector<std::string>{b.line} : std::vector<std::string>{});
      EXPECT_TRUE(table_bytes(db()) == before) << "an operation with a bad index wrote";
    }
  }

  // Not attached: the failure values, silently, for every index.
  VHub_Release();
  d::ConsoleCapture capture;
  for (const IndexedOperation& op : indexed_operations()) {
    EXPECT_TRUE(op.failed(0)) << op.name;
  }
  EXPECT_TRUE(console_texts(capture).empty());
}

namespace {

// A text setter and its getter, with the documented number of characters kept.
struct TextField {
  const char* name;
  std::function<void(int, const char*)> set;
  std::function<const char*(int)> get;
  std::size_t kept;
  int point;
};

#define TEXT_FIELD(kind, item, kept, point)                                            \
  TextField {                                                                          \
    "V" #kind "_Set_" #item, [](int i, const char* t) { V##kind##_Set_##item(i, t); }, \
        [](int i) { return V##kind##_Get_##item(i); }, kept, point                     \
  }
#define TAG_FIELD(kind, slot, point)                                                             \
  TextField {                                                                                    \
    "V" #kind "_Set_Tag_Name", [](int i, const char* t) { V##kind##_Set_Tag_Name(i, slot, t); }, \
        [](int i) { return V##kind##_Get_Tag_Name(i, slot); }, 31, point                         \
  }

// The text fields every kind has, with the same widths; both ends of the tag slots.
#define COMMON_TEXT_FIELDS(kind, point)                                            \
  TEXT_FIELD(kind, Name, 63, point), TEXT_FIELD(kind, Annotation, 127, point),     \
      TEXT_FIELD(kind, Tag_Type, 15, point), TEXT_FIELD(kind, Append, 255, point), \
      TAG_FIELD(kind, 0, point), TAG_FIELD(kind, 3, point)

}  // namespace

TEST_F(TypedPoints, EveryTextFieldIsCutAtItsWidthAndLeavesItsNeighboursAlone) {
  using vexlor::test::kPressure;
  using vexlor::test::kRecipe;
  using vexlor::test::kValve;
  const TextField fields[] = {
      COMMON_TEXT_FIELDS(Digital, kValve),   TEXT_FIELD(Digital, Unit, 15, kValve),
      COMMON_TEXT_FIELDS(Analog, kPressure), TEXT_FIELD(Analog, Unit, 15, kPressure),
      COMMON_TEXT_FIELDS(String, kRecipe),   TEXT_FIELD(String, Init, 1023, kRecipe),
  };
  std::string long_text;
  for (int i = 0; i < 2000; ++i) long_text += static_cast<char>('a' + i % 26);
  for (const TextField& f : fields) {
    SCOPED_TRACE(f.name);
    const std::string before = table_bytes(db());
    f.set(f.point, long_text.c_str());
    EXPECT_EQ(std::string(f.get(f.point)), long_text.substr(0, f.kept));
    // Only the field's own bytes (the text and its terminator) changed in all six tables.
    const std::size_t at = offset_in_tables(db(), f.get(f.point));
    std::string expected = before;
    expected.replace(at, f.kept + 1, long_text.substr(0, f.kept) + '\0');
    EXPECT_TRUE(table_bytes(db()) == expected);
    f.set(f.point, nullptr);
    EXPECT_STREQ(f.get(f.point), "");
  }
  // A Chinese character is never cut in half: 15 bytes hold five 3-byte characters.
  VDigital_Set_Unit(kValve, "一二三四五六");
  EXPECT_STREQ(VDigital_Get_Unit(kValve), "一二三四五");
  // Tag slots outside 0..3: an empty text, nothing stored, no line.
  d::ConsoleCapture capture;
  VDigital_Set_Tag_Name(kValve, 4, "X");
  VDigital_Set_Tag_Name(kValve, -1, "X");
  EXPECT_STREQ(VDigital_Get_Tag_Name(kValve, 4), "");
  EXPECT_STREQ(VString_Get_Tag_Name(kRecipe, -1), "");
  EXPECT_TRUE(console_texts(capture).empty());
}

TEST_F(TypedPoints, WholeRecordsCopyOutAndInForEveryKind) {
  using vexlor::test::kCount;
  using vexlor::test::kPressure;
  using vexlor::test::kTemp;
  using vexlor::test::kValve;
  // Digital: the record of one point written over another, field by field visible.
  MEM_DIGITAL_SP_STRU digital{};
  ASSERT_TRUE(VDigital_Get_Shape(kValve, &digital));
  EXPECT_EQ(std::memcmp(&digital, &db().digital_sp[kValve], sizeof digital), 0);
  std::strcpy(digital.name, "PM2.Valve");
  digital.init = 42;
  digital.tag_flag = 1;
  ASSERT_TRUE(VDigital_Set_Shape(kCount, digital));
  EXPECT_STREQ(VDigital_Get_Name(kCount), "PM2.Valve");
  EXPECT_EQ(VDigital_Get_Init(kCount), 42);
  EXPECT_TRUE(VDigital_Get_Tag_Flag(kCount));
  EXPECT_FALSE(VDigital_Get_Shape(kValve, nullptr));

  MEM_ANALOG_SP_STRU analog{};
  ASSERT_TRUE(VAnalog_Get_Shape(kPressure, &analog));
  analog.max = 12.5;
  analog.decimal = 7;
  ASSERT_TRUE(VAnalog_Set_Shape(kTemp, analog));
  EXPECT_EQ(VAnalog_Get_Max(kTemp), 12.5);
  EXPECT_EQ(VAnalog_Get_Decimal(kTemp), 7);
  EXPECT_STREQ(VAnalog_Get_Name(kTemp), "PM1.Pressure");
}

TEST_F(TypedPoints, ResetShapeAsksTheIoEngine) {
  vexlor::test::ManagerProcess manager;
  ASSERT_TRUE(manager.start());
  const std::size_t first = manager.record().size();
  EXPECT_TRUE(VDigital_Reset_Shape(vexlor::test::kSensor));
  EXPECT_TRUE(VAnalog_Reset_Shape(vexlor::test::kTemp));
  EXPECT_TRUE(VString_Reset_Shape(vexlor::test::kHostText));
  const std::vector<std::string> expected = {
      "EngineWriteG kind=$D param=P6 command=W1 index=3 argument=- sender=PM1_PROC",
      "EngineWriteG kind=$A param=P6 command=W1 index=1 argument=- sender=PM1_PROC",
      "EngineWriteG kind=$S param=P6 command=W1 index=3 argument=- sender=PM1_PROC",
  };
  std::vector<std::string> lines;
  ASSERT_TRUE(vexlor::test::wait_until(
      [&] {
        lines = manager.record(static_cast<int>(first));
        return lines.size() >= expected.size();
      },
      10));
  EXPECT_EQ(lines, expected);

  // Without the engine the request is still made and reported as sent.
  manager.stop();
  EXPECT_TRUE(VDigital_Reset_Shape(vexlor::test::kSensor));
}
