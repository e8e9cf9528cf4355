// Every row of the named point and host link item tables against the standard vocabulary of an
// equipment of 6 carrier, 2 buffer, 4 transfer and 8 process modules: each accessor, at the
// first and last index the equipment has, resolves its point without a lookup line. Also the
// number of generated accessors and the exact signature of every one of them.
#include <string>
#include <vector>

#include "named/named_fixture.h"

namespace vexlor::test {
namespace {

using namespace Vexlor;

constexpr int kValueDIGITAL = 1;
constexpr double kValueANALOG = 1.0;
constexpr const char* kValueSTRING = "x";

struct TableRow {
  const char* item;
  int n, m;  // row and grid sizes; 0 for none
  const char* rule;
  const char* format;
  bool (*set)(int, int);
  void (*get)(int, int);
};

// clang-format off
const TableRow kRows[] = {
#define VEXLOR_NAMED_POINT(item, kind, name, mode) \
  {#item, 0, 0, "LITERAL", name, [](int, int) { return VIO_Set_##item(kValue##kind); }, \
   [](int, int) { (void)VIO_Get_##item(); }},
#define VEXLOR_NAMED_ROW(item, kind, n, rule, format, mode) \
  {#item, n, 0, #rule, format, [](int i, int) { return VIO_Set_##item(i, kValue##kind); }, \
   [](int i, int) { (void)VIO_Get_##item(i); }},
#define VEXLOR_NAMED_GRID(item, kind, n, m, rule, format, mode) \
  {#item, n, m, #rule, format, [](int i, int j) { return VIO_Set_##item(i, j, kValue##kind); }, \
   [](int i, int j) { (void)VIO_Get_##item(i, j); }},
#include <vexlor/named/named_points.def>
#define VEXLOR_HOST_POINT(item, kind, name, mode) \
  {#item, 0, 0, "LITERAL", name, [](int, int) { return VFA_Set_##item(kValue##kind); }, \
   [](int, int) { (void)VFA_Get_##item(); }},
#define VEXLOR_HOST_SHARED(item, kind, gem_item) VEXLOR_HOST_POINT(item, kind, "", BOTH)
#define VEXLOR_HOST_LP(item, kind, get_format, set_format) \
  {#item, 6, 0, "PLUS1", get_format, [](int i, int) { return VFA_Set_LP_##item(i, kValue##kind); }, \
   [](int i, int) { (void)VFA_Get_LP_##item(i); }},
#include <vexlor/host/host_items.def>
};
// clang-format on

// The last index of a row dimension the test equipment has.
int last_index(int size, const std::string& format, const std::string& rule) {
  switch (size) {
    case 6:
      return kCarrierModules - 1;
    case 10:
      return kTransferModules - 1;
    case 100:
      return (format.find("BM") != std::string::npos ? kBufferModules : kProcessModules) - 1;
    case 75:
      return rule == "SUFFIX" ? 29 : 74;  // the slot suffix table names 30 slots
    default:
      return size - 1;
  }
}

// The library resolves these two settings items itself whenever a routine starts, so the test
// process's caches of them already hold points of other tests' databases; their names are
// checked in the vocabulary itself.
bool used_by_the_library(const TableRow& row) {
  return std::string(row.item) == "CTC_Language" || std::string(row.item) == "CTC_UserLevel";
}

// Every (i, j) the check visits for a row: first and last of each dimension.
std::vector<std::pair<int, int>> corners(const TableRow& row) {
  std::vector<int> is{0}, js{0};
  if (row.n > 0) is.push_back(last_index(row.n, row.format, row.rule));
  if (row.m > 0) js.push_back(last_index(row.m, row.format, row.rule));
  std::vector<std::pair<int, int>> out;
  for (int i : is) {
    for (int j : js) out.emplace_back(i, j);
  }
  return out;
}

class NamedTable : public NamedAccess {
 protected:
  void SetUp() override {
    add_modules(b_);
    config::add_standard_vocabulary(b_);
    publish();
  }
};

TEST_F(NamedTable, EveryRowReachesItsPointInTheStandardVocabularyByItsSetter) {
  in_child([] {
    detail::ConsoleCapture capture;
    for (const TableRow& row : kRows) {
      if (used_by_the_library(row)) continue;
      for (auto [i, j] : corners(row)) {
        EXPECT_TRUE(row.set(i, j)) << row.item << "(" << i << ", " << j << ")";
      }
    }
    EXPECT_EQ(texts(capture), std::vector<std::string>{});
  });
}

// Getters first: the items whose getter names another point than the setter are checked too.
TEST_F(NamedTable, EveryRowReachesItsPointInTheStandardVocabularyByItsGetter) {
  in_child([] {
    detail::ConsoleCapture capture;
    for (const TableRow& row : kRows) {
      if (used_by_the_library(row)) continue;
      for (auto [i, j] : corners(row)) row.get(i, j);
    }
    EXPECT_EQ(texts(capture), std::vector<std::string>{});
  });
}

TEST_F(NamedTable, SettingsItemsAreInTheVocabulary) {
  std::vector<std::string> names;
  for (const config::VocabularyPoint& p : config::standard_vocabulary(b_)) {
    if (p.name == "CTC.Language" || p.name == "CTC.UserLevel") names.push_back(p.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"CTC.Language", "CTC.UserLevel"}));
}

// Generated accessors against the documented item lists, group by group: singles (CTC digital,
// CTC string, the single CTC.PM_RECIPE, GEM digital, GEM string), the indexed groups in their
// order, the items with steps of their own, the indexed CTC_PM_RECIPE; two functions each, and
// the two formatted setters.
constexpr int kRowCount = 0
#define VEXLOR_NAMED_POINT(...) +1
#define VEXLOR_NAMED_ROW(...) +1
#define VEXLOR_NAMED_GRID(...) +1
#include <vexlor/named/named_points.def>
    ;
constexpr int kListedItems = (18 + 2 + 1 + 107 + 45) +
                             (12 + 1 + 3 + 4 + 22 + 13 + 1 + 1 + 1 + 1 + 1 + 3 + 1 + 3 + 1 + 8 + 1 +
                              3 + 2 + 18 + 8 + 3 + 1 + 2 + 1 + 7 + 1 + 3 + 1 + 3 + 9) +
                             (5 + 1) + 1;
static_assert(kListedItems == 319);
static_assert(2 * kRowCount + 2 == 2 * kListedItems + 2 && 2 * kRowCount + 2 == 640);

// Host items: link settings (14 digital, 2 string), data variables (16 digital, 44 string),
// load ports (11 digital, 2 string).
constexpr int kHostRowCount = 0
#define VEXLOR_HOST_POINT(...) +1
#define VEXLOR_HOST_SHARED(...) +1
#define VEXLOR_HOST_LP(...) +1
#include <vexlor/host/host_items.def>
    ;
static_assert(2 * kHostRowCount == 2 * ((14 + 2) + (16 + 44) + (11 + 2)) &&
              2 * kHostRowCount == 178);

TEST(NamedTableRows, RuntimeRowsMatchTheCounts) {
  EXPECT_EQ(std::size(kRows), static_cast<std::size_t>(kRowCount + kHostRowCount));
}

}  // namespace

// Every accessor with its exact signature; the table has external linkage, so each must be
// defined in the library for the tests to link.
#define VEXLOR_EXPORT(type, name) reinterpret_cast<const void*>(static_cast<type>(&Vexlor::name))
#define V_DIGITAL int
#define V_ANALOG double
#define V_STRING const char*

extern const void* const kNamedExports[];
// clang-format off
const void* const kNamedExports[] = {
#define VEXLOR_NAMED_POINT(item, kind, name, mode) \
  VEXLOR_EXPORT(V_##kind (*)(), VIO_Get_##item), VEXLOR_EXPORT(bool (*)(V_##kind), VIO_Set_##item),
#define VEXLOR_NAMED_ROW(item, kind, n, rule, format, mode) \
  VEXLOR_EXPORT(V_##kind (*)(int), VIO_Get_##item), \
  VEXLOR_EXPORT(bool (*)(int, V_##kind), VIO_Set_##item),
#define VEXLOR_NAMED_GRID(item, kind, n, m, rule, format, mode) \
  VEXLOR_EXPORT(V_##kind (*)(int, int), VIO_Get_##item), \
  VEXLOR_EXPORT(bool (*)(int, int, V_##kind), VIO_Set_##item),
#include <vexlor/named/named_points.def>
    VEXLOR_EXPORT(bool (*)(const char*, ...), VIO_Set_CTC_MessageF),
    VEXLOR_EXPORT(bool (*)(int, const char*, ...), VIO_Set_PM_Process_MessageF),
#define VEXLOR_HOST_POINT(item, kind, name, mode) \
  VEXLOR_EXPORT(V_##kind (*)(), VFA_Get_##item), VEXLOR_EXPORT(bool (*)(V_##kind), VFA_Set_##item),
#define VEXLOR_HOST_SHARED(item, kind, gem_item) VEXLOR_HOST_POINT(item, kind, "", BOTH)
#define VEXLOR_HOST_LP(item, kind, get_format, set_format) \
  VEXLOR_EXPORT(V_##kind (*)(int, bool*), VFA_Get_LP_##item), \
  VEXLOR_EXPORT(bool (*)(int, V_##kind), VFA_Set_LP_##item),
#include <vexlor/host/host_items.def>
    VEXLOR_EXPORT(int (*)(int), VModule_Get_CM_Wafer_Size),
    VEXLOR_EXPORT(bool (*)(int, int&), VModule_Get_CM_Wafer_Size),
    VEXLOR_EXPORT(bool (*)(int[6][3], int[6]), VModule_Get_CM_Wafer_Size),
    VEXLOR_EXPORT(int (*)(int), VModule_Size_Conv_To_Inch),
    VEXLOR_EXPORT(int (*)(int), VModule_Inch_Conv_To_Size),
    VEXLOR_EXPORT(std::string (*)(int, int), VModule_Get_String),
    VEXLOR_EXPORT(const char* (*)(int, int), VSCH_Get_Module_ID),
    VEXLOR_EXPORT(const char* (*)(int, int), VSCH_Get_Module_Name),
};
// clang-format on

}  // namespace vexlor::test
