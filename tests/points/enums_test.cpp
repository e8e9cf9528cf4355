// Enumerations: finding, translation both ways in both languages, variants, the list copies
// and their frees; the index check of every enumeration and driver operation.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "points/enum_texts.h"
#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::test::red_texts;

namespace {

using Texts = std::vector<std::string>;
using Values = std::vector<int>;
constexpr int kValve = 0, kCarrier = 1, kEmpty = 2;

class Enums : public vexlor::test::EquipmentTest {
 protected:
  void SetUp() override {
    b_.add_digital("CTC.Language", LANGUAGE_CHINESE);  // the equipment's language
    const int valve = b_.add_enum("Valve");
    b_.add_enum_item(valve, "Close|关闭", 0);
    b_.add_enum_item(valve, "Open|打开", 1);
    b_.add_enum_item(valve, "Moving", 2);
    b_.add_enum_item(valve, "Fault|", 3);  // no Chinese part
    const int size = b_.add_enum("Carrier");
    b_.add_enum_item(size, "8Inch|8英寸|8 Zoll", 64);
    b_.add_enum_item(size, "Auto|Manual", 5);  // its second variant is the next item's text
    b_.add_enum_item(size, "Manual", 6);
    std::strcpy(b_.enumeration(size).texts[7], "Hidden");  // beyond the count: searched only
    b_.enumeration(size).values[7] = 77;
    b_.add_enum("Empty");
    b_.add_enum("VALVE");
    b_.add_driver("DNET", 3);
    b_.add_driver("SERIAL", 5);
    b_.add_function("SCHEDULER");
    start();
  }
};

TEST_F(Enums, FindTranslateAndListCopiesInBothLanguages) {
  ASSERT_TRUE(VHub_Initial("SCHEDULER"));
  d::ConsoleCapture capture;
  int point = 99;
  EXPECT_TRUE(VEnum_Find_Point(&point, "CARRIER"));
  EXPECT_EQ(point, kCarrier);
  EXPECT_TRUE(VEnum_Find_Point(&point, "valve"));  // the first of "Valve" and "VALVE"
  EXPECT_EQ(point, kValve);
  EXPECT_FALSE(VEnum_Find_Point(&point, "Pump"));
  EXPECT_EQ(point, -1);
  EXPECT_FALSE(VEnum_Find_Point(nullptr, nullptr));
  EXPECT_EQ(red_texts(capture, "SCHEDULER"), (Texts{"枚举量:Pump 未识别", "枚举量: 未识别"}));

  EXPECT_STREQ(VEnum_Get_Name(kCarrier), "Carrier");
  EXPECT_STREQ(VEnum_Get_SData(kValve, 1), "Open|打开");
  EXPECT_STREQ(VEnum_Get_SData(kValve, -1), "");
  EXPECT_STREQ(VEnum_Get_SData_By_DData(kValve, 1), "Open|打开");
  EXPECT_STREQ(VEnum_Get_SData_By_DData(kValve, 9), "");
  // Item indices are not checked, never overrun. A text finds its item by either language's
  // part or whole, exact bytes only; the first slot named wins.
  const int none = VEXLOR_UNUSED_POINT;
  EXPECT_EQ(
      (Values{
          VEnum_Get_Data_Count(kValve), VEnum_Get_DData(kCarrier, 7), VEnum_Get_DData(kValve, 60),
          VEnum_Get_DData_By_SData(kValve, "Open"), VEnum_Get_DData_By_SData(kValve, "打开"),
          VEnum_Get_DData_By_SData(kValve, "Open|打开"), VEnum_Get_Index_By_SData(kValve, "关闭"),
          VEnum_Get_DData_By_SData(kCarrier, "8 Zoll"),
          VEnum_Get_DData_By_SData(kCarrier, "Manual"),
          VEnum_Get_Index_By_SData(kCarrier, "Hidden"), VEnum_Get_Index_By_DData(kCarrier, 77),
          VEnum_Get_Index_By_DData(kValve, 9)}),
      (Values{4, 77, 0, 1, 1, 1, 0, 64, 5, 7, 7, none}));
  for (const char* absent : {"open", "打开|Open", "Open|", "Vent"}) {
    EXPECT_EQ(VEnum_Get_DData_By_SData(kValve, absent), none) << absent;
    EXPECT_EQ(VEnum_Get_Index_By_SData(kValve, absent), none) << absent;
  }
  EXPECT_EQ(capture.lines().size(), 2u);
  Texts texts{"kept"};
  VEnum_Get_SData_All(kValve, LANGUAGE_CHINESE, texts);
  EXPECT_EQ(texts, (Texts{"kept", "关闭", "打开", "Moving", "Fault"}));  // else English
  for (int language : {0, 2, -1}) {
    texts.clear();
    VEnum_Get_SData_All(kValve, language, texts);
    EXPECT_EQ(texts, (Texts{"Close", "Open", "Moving", "Fault"})) << language;
  }
  texts.clear();
  VEnum_Get_SData_All(kCarrier, 2, texts);
  EXPECT_EQ(texts, (Texts{"8 Zoll", "Auto", "Manual"}));
  ASSERT_EQ(VSystem_Get_Language(), LANGUAGE_CHINESE);
  texts.clear();
  VEnum_Get_SData_All(kCarrier, texts);
  EXPECT_EQ(texts, (Texts{"8英寸", "Manual", "Manual"}));
  Values values{-3};
  VEnum_Get_DData_All(kCarrier, values);
  VEnum_Get_DData_All(kEmpty, values);
  EXPECT_EQ(values, (Values{-3, 64, 5, 6}));

  int* array = nullptr;
  int count = -1;
  VEnum_Get_DData_All(kValve, array, count);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(Values(array, array + count), (Values{0, 1, 2, 3}));
  VEnum_Free_DData_All(array, count);
  EXPECT_EQ(array, nullptr);
  char** text_array = nullptr;
  VEnum_Get_SData_All(kValve, text_array, count);  // the equipment's language
  ASSERT_EQ(count, 4);
  EXPECT_EQ(Texts(text_array, text_array + count), (Texts{"关闭", "打开", "Moving", "Fault"}));
  VEnum_Free_SData_All(text_array, count);
  EXPECT_EQ(text_array, nullptr);
  // Each text buffer holds 64 bytes; freed with count 0 only the pointer array goes, and the
  // texts are the caller's to release with free().
  VEnum_Get_SData_All(kCarrier, 2, text_array, count);
  std::strcpy(text_array[0], std::string(63, 'x').c_str());
  const std::vector<char*> buffers(text_array, text_array + count);
  VEnum_Free_SData_All(text_array, 0);
  EXPECT_EQ(text_array, nullptr);
  for (char* b : buffers) std::free(b);
  // No items: count 0, pointer untouched.
  int sentinel = 0;
  array = &sentinel;
  VEnum_Get_DData_All(kEmpty, array, count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(array, &sentinel);
}

// One row per indexed operation: its result (or what it left in its outputs) for a bad point.
struct IndexedOperation {
  const char* name;
  bool is_enum;
  std::function<std::string(int)> call;
  std::string failure;
};

template <typename T>
std::string text_of(const T& value) {
  if constexpr (std::is_convertible_v<T, std::string>) {
    return value;
  } else if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>) {
    return std::to_string(value);
  } else {
    std::string s;  // a list
    for (const auto& i : value) s += testing::PrintToString(i) + ",";
    return s;
  }
}

// The outputs of an array form called with a null pointer and a count of 6.
template <typename T, typename Call>
std::string array_outputs(Call call) {
  T* array = nullptr;
  int count = 6;
  call(array, count);
  return std::to_string(count) + (array ? " array" : " null");
}

// A list form's output after the call, starting from `start`.
template <typename T, typename Call>
std::vector<T> list_after(std::vector<T> list, Call call) {
  call(list);
  return list;
}

// clang-format off
#define ROW(is_enum, name, expr, failure) {#name, is_enum, [](int p) { return text_of(expr); }, failure}
// clang-format on

TEST_F(Enums, SilentBeforeStartUpAndTheIndexCheckOfEveryEnumAndDriverOperation) {
  using S = std::string;
  // clang-format off
  const std::vector<IndexedOperation> rows = {
      ROW(true, VEnum_Get_Name, VEnum_Get_Name(p), ""),
      ROW(true, VEnum_Get_Data_Count, VEnum_Get_Data_Count(p), "0"),
      ROW(true, VEnum_Get_DData, VEnum_Get_DData(p, 1), "0"),
      ROW(true, VEnum_Get_SData, VEnum_Get_SData(p, 1), ""),
      ROW(true, VEnum_Get_SData_By_DData, VEnum_Get_SData_By_DData(p, 1), ""),
      ROW(true, VEnum_Get_DData_By_SData, VEnum_Get_DData_By_SData(p, "Open"), "-99999999"),
      ROW(true, VEnum_Get_Index_By_DData, VEnum_Get_Index_By_DData(p, 1), "-99999999"),
      ROW(true, VEnum_Get_Index_By_SData, VEnum_Get_Index_By_SData(p, "Open"), "-99999999"),
      ROW(true, VEnum_Get_DData_All, list_after(Values{8}, [p](Values& v) { VEnum_Get_DData_All(p, v); }), "8,"),
      ROW(true, VEnum_Get_DData_All, array_outputs<int>([p](int*& a, int& n) { VEnum_Get_DData_All(p, a, n); }), "6 null"),
      ROW(true, VEnum_Get_SData_All, list_after(Texts{"x"}, [p](Texts& t) { VEnum_Get_SData_All(p, t); }), "\"x\","),
      ROW(true, VEnum_Get_SData_All, array_outputs<char*>([p](char**& a, int& n) { VEnum_Get_SData_All(p, a, n); }), "6 null"),
      ROW(true, VEnum_Get_SData_All, list_after(Texts{"x"}, [p](Texts& t) { VEnum_Get_SData_All(p, 1, t); }), "\"x\","),
      ROW(true, VEnum_Get_SData_All, array_outputs<char*>([p](char**& a, int& n) { VEnum_Get_SData_All(p, 1, a, n); }), "6 null"),
      ROW(false, VDriver_Get_Name, VDriver_Get_Name(p), ""),
      ROW(false, VDriver_Get_Type, VDriver_Get_Type(p), "0"),
      ROW(false, VDriver_Set_Type, (VDriver_Set_Type(p, DRIVER_TYPE{42}), ""), ""),
      ROW(false, VDriver_Get_Param, list_after(Values(10, 7), [p](Values& v) { VDriver_Get_Param(p, v.data()); }), "7,7,7,7,7,7,7,7,7,7,"),
      ROW(false, VDriver_Set_Param, (VDriver_Set_Param(p, Values{1, 2, 3, 0, 0, 0, 0, 0, 0, 0}.data()), ""), ""),
  };
  // clang-format on
  // Before start-up every operation gives its failure value for any point, silently.
  d::ConsoleCapture capture;
  int point = 5;
  EXPECT_FALSE(VEnum_Find_Point(&point, "Valve"));
  EXPECT_EQ(point, 5);
  for (const IndexedOperation& op : rows) EXPECT_EQ(op.call(0), op.failure) << op.name;
  EXPECT_TRUE(capture.lines().empty());
  ASSERT_TRUE(VHub_Initial("SCHEDULER"));
  const MMAP_STRU* db = MMAP_DB();
  const auto table_bytes = [db] {
    return S(reinterpret_cast<const char*>(db->enum_sp), 4 * sizeof(MEM_ENUM_SP_STRU)) +
           S(reinterpret_cast<const char*>(db->driver_sp), 2 * sizeof(MEM_DRIVER_SP_STRU));
  };
  const S tables_before = table_bytes();
  for (const IndexedOperation& op : rows) {
    const S words = op.is_enum ? "Enum Enum_Point" : "Driver Driver_Point";
    const int count = op.is_enum ? VSystem_Get_Enum_Count() : VSystem_Get_Driver_Count();
    for (const auto& [point, line] : vexlor::test::bad_index_lines(words, count, op.name)) {
      SCOPED_TRACE(S(op.name) + " " + std::to_string(point));
      d::ConsoleCapture capture;
      EXPECT_EQ(op.call(point), op.failure);
      EXPECT_EQ(red_texts(capture, "SCHEDULER"), Texts{line});
    }
  }
  EXPECT_TRUE(table_bytes() == tables_before);
}

// In GBK the second byte of a double-byte character may be 0x7C ('|'); it is no separator.
TEST(EnumTexts, VariantsNeverCutADoubleByteCharacter) {
  const d::Charset gbk = d::Charset::kGbk;
  const std::string wide = "\x81\x7C";
  EXPECT_EQ(d::enum_variant("Open|" + wide, 1, gbk), wide);
  EXPECT_EQ(d::enum_variant(wide + "A", 1, gbk), wide + "A");  // a single variant
  EXPECT_FALSE(d::EnumTextMatcher("\x81", gbk).names(wide + "|x"));
  EXPECT_TRUE(d::EnumTextMatcher("x", gbk).names(wide + "|x"));
  EXPECT_FALSE(d::EnumTextMatcher("A", gbk).names(wide + "A"));
}

}  // namespace
