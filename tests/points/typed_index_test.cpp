// What the digital, analog and string families share: index checks, text field widths, record
// copies and the reset request to the IO engine.
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "fifo/manager_process.h"
#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using namespace vexlor::test;

namespace {

// One indexed operation: its name, kind word, whether it checks the index itself (the raw
// forms leave it to the shared-database layer and print nothing), and a call that returns
// true when the operation gave its failure value.
struct IndexedOperation {
  std::string name;
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

template <typename V>
V sample() {
  return static_cast<V>(1);
}
template <>
const char* sample<const char*>() {
  return "X";
}

#define OP(kind, name, expr) {"V" #kind "_" #name, #kind, [](int i) { return (expr); }}
#define RAW(kind, name, expr) {"V" #kind "_" #name, #kind, [](int i) { return (expr); }, false}
#define SETTER(kind, name, ...) OP(kind, name, done([&] { V##kind##_##name(i, __VA_ARGS__); }))
// A call that fills the text `t`, its result and the text it must leave.
#define TEXT(kind, name, call, result, text) \
  OP(kind, name, gives_text([&](char* t) { return call; }, result, text))

// Every operation the field tables generate, with the failure values the tables give.
const std::vector<IndexedOperation>& indexed_operations() {
  static const std::vector<IndexedOperation> ops = {
#define ROW_POINT_FAMILY(Kind, Value, Record)                                         \
  SETTER(Kind, Write_Mem, sample<Value>()), SETTER(Kind, Set_Write_Mem, sample<Value>()), \
      SETTER(Kind, Set_Read_Mem, sample<Value>()),                                       \
      OP(Kind, Get_Read_Status, !V##Kind##_Get_Read_Status(i)),                          \
      OP(Kind, Get_Write_Status, !V##Kind##_Get_Write_Status(i)),                        \
      SETTER(Kind, Set_Status, true), OP(Kind, Reset_Shape, !V##Kind##_Reset_Shape(i)),  \
      OP(Kind, Get_Shape, [&] { Record r{}; return !V##Kind##_Get_Shape(i, &r); }()),    \
      OP(Kind, Set_Shape, !V##Kind##_Set_Shape(i, Record{})),
#define ROW_TEXT_FIELD(Kind, Item, member, chars) \
  OP(Kind, Get_##Item, empty(V##Kind##_Get_##Item(i))), SETTER(Kind, Set_##Item, "X"),
#define ROW_GET_FIELD(Kind, Item, Type, member, failure) \
  OP(Kind, Get_##Item, V##Kind##_Get_##Item(i) == (failure)),
#define ROW_VALUE_FIELD(Kind, Item, Type, SetType, member, failure) \
  ROW_GET_FIELD(Kind, Item, Type, member, failure) SETTER(Kind, Set_##Item, sample<SetType>()),
#define ROW_PARAM_FIELD(Kind, Item, member, count)                                         \
  OP(Kind, Get_##Item, untouched([&](int* o) { V##Kind##_Get_##Item(i, o); })),               \
      OP(Kind, Set_##Item, done([&] { const int in[4] = {1, 2, 3, 4}; V##Kind##_Set_##Item(i, in); })),
#define ROW_TAG_FIELD(Kind, Item, member, chars) \
  OP(Kind, Get_##Item, empty(V##Kind##_Get_##Item(i, 0))), SETTER(Kind, Set_##Item, 0, "X"),
#define ROW_DRIVER_NAME(Kind, Item, member) OP(Kind, Get_##Item, empty(V##Kind##_Get_##Item(i))),
#include "points/table_rows.h"
#include <vexlor/points/digital_fields.def>
#include "points/table_rows.h"
#include <vexlor/points/analog_fields.def>
#include "points/table_rows.h"
#include <vexlor/points/string_fields.def>
#undef ROW_POINT_FAMILY
#undef ROW_TEXT_FIELD
#undef ROW_VALUE_FIELD
#undef ROW_GET_FIELD
#undef ROW_PARAM_FIELD
#undef ROW_TAG_FIELD
#undef ROW_DRIVER_NAME
      // The hand-written operations.
      // clang-format off
      OP(Digital, Read_Mem, VDigital_Read_Mem(i) == -99999999),
      OP(Analog, Read_Mem, VAnalog_Read_Mem(i) == -99999999.99),
      OP(String, Read_Mem, empty(VString_Read_Mem(i))),
      OP(Digital, Write_Str, !VDigital_Write_Str(i, "1")),
      TEXT(Digital, Read_Str, VDigital_Read_Str(i, t), false, "-99999999"),
      TEXT(Analog, Read_Str, VAnalog_Read_Str(i, t), false, "-99999999.99"),
      TEXT(Digital, Read_Mem_Str, VDigital_Read_Mem_Str(i, t) == -99999999, true, "-99999999"),
      TEXT(Analog, Read_Mem_Str, VAnalog_Read_Mem_Str(i, t) == 1.0, true, "-99999999.99"),
      OP(Analog, Write_Str, !VAnalog_Write_Str(i, "1")),
      OP(Digital, Write_Mem_Str, !VDigital_Write_Mem_Str(i, "1")),
      OP(Analog, Write_Mem_Str, !VAnalog_Write_Mem_Str(i, "1")),
      TEXT(Digital, Get_Enum_S_Data, VDigital_Get_Enum_S_Data(i, 1, t), false, "unchanged"),
      TEXT(Digital, Get_Enum_S_Data2, VDigital_Get_Enum_S_Data2(i, 1, t), false, "unchanged"),
      OP(Digital, Get_Enum_SData_All, [&] { Texts texts;
         return !VDigital_Get_Enum_SData_All(i, 0, texts) && texts.empty(); }()),
      OP(Digital, Get_Enum_SData_All, [&] { char** texts = nullptr; int count = -5;
         return !VDigital_Get_Enum_SData_All(i, 0, texts, count) && !texts && count == -5; }()),
      SETTER(String, Write_MemF, "%s", "X"), OP(String, Write_Mutex, !VString_Write_Mutex(i, "X")),
      OP(String, WriteF_Mutex, !VString_WriteF_Mutex(i, "%s", "X")),
      TEXT(String, Read_Mutex, VString_Read_Mutex(i, t), false, "unchanged"),
      SETTER(String, Write_Message, "X"), SETTER(String, Write_MessageF, "%s", "X"),
      // The raw forms.
      RAW(Digital, Read, VDigital_Read(i) == 0), RAW(Analog, Read, VAnalog_Read(i) == 0),
      RAW(Digital, Read, [&] { bool ok = true; return VDigital_Read(i, &ok) == 0 && !ok; }()),
      RAW(Analog, Read, [&] { bool ok = true; return VAnalog_Read(i, &ok) == 0 && !ok; }()),
      RAW(Digital, Read, [&] { int v = 5; return !VDigital_Read(i, &v) && v == 5; }()),
      RAW(Analog, Read, [&] { double v = 5; return !VAnalog_Read(i, &v) && v == 5; }()),
      RAW(Digital, Write, !VDigital_Write(i, 1)), RAW(Analog, Write, !VAnalog_Write(i, 1)),
      RAW(Digital, Write_Pulse, !VDigital_Write_Pulse(i, 0)),
      RAW(String, Read, empty(VString_Read(i))), RAW(String, Write, !VString_Write(i, "X")),
      RAW(String, Read, [&] { bool ok = true; return empty(VString_Read(i, &ok)) && !ok; }()),
      RAW(String, Read,
          gives_text([&](char* t) { return VString_Read(i, t); }, false, "unchanged")),
      RAW(String, WriteF, !VString_WriteF(i, "%s", "X")),
      // clang-format on
  };
  return ops;
}

// Every byte of the point tables and their value slots, and where `byte` stands in them.
std::string table_bytes(const MMAP_STRU& db, const char* byte = nullptr, std::size_t* at = nullptr) {
  const MEM_SYSTEM_STRU& s = *db.system_block;
  const std::pair<const void*, std::size_t> tables[] = {
      {db.digital_sp, sizeof(MEM_DIGITAL_SP_STRU) * s.digital_count},
      {db.digital_val, sizeof(MEM_DIGITAL_VAL_STRU) * s.digital_count},
      {db.analog_sp, sizeof(MEM_ANALOG_SP_STRU) * s.analog_count},
      {db.analog_val, sizeof(MEM_ANALOG_VAL_STRU) * s.analog_count},
      {db.string_sp, sizeof(MEM_STRING_SP_STRU) * s.string_count},
      {db.string_val, sizeof(MEM_STRING_VAL_STRU) * s.string_count},
  };
  std::string bytes;
  for (const auto& [base, size] : tables) {
    const char* first = static_cast<const char*>(base);
    if (at != nullptr && byte >= first && byte < first + size) *at = bytes.size() + (byte - first);
    bytes.append(first, size);
  }
  return bytes;
}

int count_of(const std::string& kind) {
  if (kind == "Digital") return VSystem_Get_Digital_Count();
  if (kind == "Analog") return VSystem_Get_Analog_Count();
  return VSystem_Get_String_Count();
}

}  // namespace

TEST_F(TypedPoints, EveryIndexedOperationChecksItsIndex) {
  const std::string before = table_bytes(db());
  ASSERT_EQ(indexed_operations().size(), 176u);  // the three tables expanded
  for (const IndexedOperation& op : indexed_operations()) {
    for (const auto& [index, line] :
         bad_index_lines(std::string(op.kind) + " IO_Point", count_of(op.kind), op.name)) {
      SCOPED_TRACE(op.name + " at " + std::to_string(index));
      d::ConsoleCapture capture;
      EXPECT_TRUE(op.failed(index));
      EXPECT_EQ(red_texts(capture, "PM1_PROC"), op.reports ? Texts{line} : Texts{});
      EXPECT_TRUE(table_bytes(db()) == before) << "an operation with a bad index wrote";
    }
  }
  // Not attached: the failure values, silently, for every index.
  VHub_Release();
  d::ConsoleCapture capture;
  for (const IndexedOperation& op : indexed_operations()) EXPECT_TRUE(op.failed(0)) << op.name;
  EXPECT_TRUE(console_texts(capture).empty());
  // The failure values the tables give are the documented ones.
  EXPECT_EQ((std::vector<int>{VDigital_Get_Min(0), VDigital_Get_Max(0), VDigital_Get_Init(0),
                              VDigital_Get_Enum_Point(0), VDigital_Get_IDrv_Point(0),
                              VDigital_Get_ODrv_Point(0), VAnalog_Get_Decimal(0),
                              VAnalog_Get_IDrv_Point(0), VAnalog_Get_ODrv_Point(0),
                              VString_Get_IDrv_Point(0), VString_Get_ODrv_Point(0)}),
            (std::vector<int>{-999999, 999999, -99999999, -1, -1, -1, 2, -99999999, -99999999,
                              -99999999, -99999999}));
  EXPECT_EQ((std::vector<double>{VAnalog_Get_Min(0), VAnalog_Get_Max(0), VAnalog_Get_Init(0)}),
            (std::vector<double>{-99999999.99, 99999999.0, -99999999.99}));
}

TEST_F(TypedPoints, TextFieldsAndWholeRecords) {
  struct TextField {
    const char* name;
    std::function<void(int, const char*)> set;
    std::function<const char*(int)> get;
    std::size_t kept;
    int point;
  };
  const int point_of[] = {kValve, kPressure, kRecipe};  // by kind: Digital, Analog, String
  const auto kind = [&](const char* k) { return point_of[k[0] == 'D' ? 0 : k[0] == 'A' ? 1 : 2]; };
  const std::vector<TextField> fields = {
#define ROW_POINT_FAMILY(...)
#define ROW_VALUE_FIELD(...)
#define ROW_GET_FIELD(...)
#define ROW_PARAM_FIELD(...)
#define ROW_DRIVER_NAME(...)
#define ROW_TEXT_FIELD(Kind, Item, member, chars)                              \
  {"V" #Kind "_Set_" #Item, [](int i, const char* t) { V##Kind##_Set_##Item(i, t); }, \
   [](int i) { return V##Kind##_Get_##Item(i); }, chars, kind(#Kind)},
#define ROW_TAG_FIELD(Kind, Item, member, chars)                                     \
  {"V" #Kind "_Set_" #Item, [](int i, const char* t) { V##Kind##_Set_##Item(i, 0, t); }, \
   [](int i) { return V##Kind##_Get_##Item(i, 0); }, chars, kind(#Kind)},              \
      {"V" #Kind "_Set_" #Item, [](int i, const char* t) { V##Kind##_Set_##Item(i, 3, t); }, \
       [](int i) { return V##Kind##_Get_##Item(i, 3); }, chars, kind(#Kind)},
#include "points/table_rows.h"
#include <vexlor/points/digital_fields.def>
#include "points/table_rows.h"
#include <vexlor/points/analog_fields.def>
#include "points/table_rows.h"
#include <vexlor/points/string_fields.def>
  };
  ASSERT_EQ(fields.size(), 21u);
  const std::map<std::string, std::size_t> documented = {
      {"Name", 63},   {"Unit", 15},     {"Annotation", 127}, {"Tag_Type", 15},
      {"Append", 255}, {"Tag_Name", 31}, {"Init", 1023}};
  std::string long_text;
  for (int i = 0; i < 2000; ++i) long_text += static_cast<char>('a' + i % 26);
  for (const TextField& f : fields) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(f.kept, documented.at(std::strstr(f.name, "_Set_") + 5));
    const std::string before = table_bytes(db());
    f.set(f.point, long_text.c_str());
    EXPECT_EQ(std::string(f.get(f.point)), long_text.substr(0, f.kept));
    // Only the field's own bytes (the text and its terminator) changed in all six tables.
    std::size_t at = std::string::npos;
    std::string after = table_bytes(db(), f.get(f.point), &at);
    ASSERT_NE(at, std::string::npos);
    after.replace(at, f.kept + 1, before.substr(at, f.kept + 1));
    EXPECT_TRUE(after == before);
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
  // The record of one point, renamed, written over another: every byte arrives.
  auto copy = [](auto get, auto set, auto* table, int from, int to) {
    std::remove_pointer_t<decltype(table)> record{};
    ASSERT_TRUE(get(from, &record));
    EXPECT_EQ(std::memcmp(&record, &table[from], sizeof record), 0);
    std::strcpy(record.name, "PM2.Copy");
    ASSERT_TRUE(set(to, record));
    EXPECT_EQ(std::memcmp(&record, &table[to], sizeof record), 0);
  };
  copy(VDigital_Get_Shape, VDigital_Set_Shape, db().digital_sp, kValve, kCount);
  copy(VAnalog_Get_Shape, VAnalog_Set_Shape, db().analog_sp, kPressure, kTemp);
  copy(VString_Get_Shape, VString_Set_Shape, db().string_sp, kRecipe, kLog);
  EXPECT_FALSE(VDigital_Get_Shape(kValve, nullptr));
}

TEST_F(TypedPoints, ResetShapeAsksTheIoEngine) {
  ManagerProcess manager;
  ASSERT_TRUE(manager.start());
  const std::size_t first = manager.record().size();
  EXPECT_TRUE(VDigital_Reset_Shape(kSensor));
  EXPECT_TRUE(VAnalog_Reset_Shape(kTemp));
  EXPECT_TRUE(VString_Reset_Shape(kHostText));
  const Texts expected = {
      "EngineWriteG kind=$D param=P6 command=W1 index=3 argument=- sender=PM1_PROC",
      "EngineWriteG kind=$A param=P6 command=W1 index=1 argument=- sender=PM1_PROC",
      "EngineWriteG kind=$S param=P6 command=W1 index=3 argument=- sender=PM1_PROC",
  };
  Texts lines;
  ASSERT_TRUE(wait_until(
      [&] { return (lines = manager.record(static_cast<int>(first))).size() >= expected.size(); },
      10));
  EXPECT_EQ(lines, expected);
  // Without the engine the request is still made and reported as sent.
  manager.stop();
  EXPECT_TRUE(VDigital_Reset_Shape(kSensor));
}
