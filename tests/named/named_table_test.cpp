// Every row of the named point and host link item tables, at the first and last index, resolves
// its point in the standard vocabulary without a lookup line; the row count and signatures.
#include <map>
#include <set>
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

// Named items (singles, indexed groups, items with steps of their own, the indexed
// CTC_PM_RECIPE) and host items (link settings, data variables, load ports).
static_assert(std::size(kRows) == (173 + 139 + 6 + 1) + (16 + 60 + 13));

// Signatures: one per kind and row shape (the rest expand alike), and the hand-written ones.
#define SIG(ret, name, ...) \
  reinterpret_cast<const void*>(static_cast<ret (*)(__VA_ARGS__)>(&Vexlor::name))
// clang-format off
[[maybe_unused]] const void* const kSignatures[] = {
    SIG(int, VIO_Get_CTC_EnvSts, ), SIG(bool, VIO_Set_CTC_EnvSts, int),
    SIG(double, VIO_Get_CTC_Rbx_Rotation, int), SIG(bool, VIO_Set_CTC_Rbx_Rotation, int, double),
    SIG(const char*, VIO_Get_GEM_PMx_LotIDy, int, int),
    SIG(bool, VIO_Set_GEM_PMx_LotIDy, int, int, const char*),
    SIG(double, VIO_Get_CTC_Rbx_Extension, int, int), SIG(const char*, VFA_Get_Remote_IP, ),
    SIG(bool, VFA_Set_Remote_IP, const char*), SIG(int, VFA_Get_DVID_PortID, ),
    SIG(int, VFA_Get_LP_Mode, int, bool*), SIG(bool, VFA_Set_LP_Mode, int, int),
    SIG(const char*, VFA_Get_LP_RFID, int, bool*),
    SIG(bool, VIO_Set_CTC_MessageF, const char*, ...),
    SIG(bool, VIO_Set_PM_Process_MessageF, int, const char*, ...),
    SIG(int, VModule_Get_CM_Wafer_Size, int), SIG(bool, VModule_Get_CM_Wafer_Size, int, int&),
    SIG(bool, VModule_Get_CM_Wafer_Size, int[6][3], int[6]),
    SIG(int, VModule_Size_Conv_To_Inch, int), SIG(int, VModule_Inch_Conv_To_Size, int),
    SIG(std::string, VModule_Get_String, int, int), SIG(const char*, VSCH_Get_Module_ID, int, int),
    SIG(const char*, VSCH_Get_Module_Name, int, int)};
// clang-format on

// The last index of a row dimension the test equipment has.
int last_index(int size, const std::string& format, const std::string& rule) {
  if (size == 6) return kCarrierModules - 1;
  if (size == 10) return kTransferModules - 1;
  if (size == 75) return rule == "SUFFIX" ? 29 : 74;  // the slot suffix table names 30 slots
  if (size != 100) return size - 1;
  return (format.find("BM") != std::string::npos ? kBufferModules : kProcessModules) - 1;
}

using NamedTable = StandardEquipment;

// Getters first: the items whose getter names another point than the setter are checked too.
// The library resolves the two settings items CTC_Language and CTC_UserLevel itself whenever a
// routine starts, so the test process's caches of them already hold points of other tests'
// databases; their names are checked in the vocabulary itself.
TEST_F(NamedTable, EveryRowReachesItsPointInTheStandardVocabulary) {
  in_child([] {
    detail::ConsoleCapture capture;
    for (bool setter : {false, true}) {
      for (const TableRow& row : kRows) {
        if (std::string(row.item) == "CTC_Language" || std::string(row.item) == "CTC_UserLevel")
          continue;
        for (int i : {0, row.n > 0 ? last_index(row.n, row.format, row.rule) : 0}) {
          for (int j : {0, row.m > 0 ? last_index(row.m, row.format, row.rule) : 0}) {
            if (setter) {
              EXPECT_TRUE(row.set(i, j)) << row.item << "(" << i << ", " << j << ")";
            } else {
              row.get(i, j);
            }
          }
        }
      }
      EXPECT_EQ(console_texts(capture), std::vector<std::string>{})
          << (setter ? "setters" : "getters");
    }
  });
  std::vector<std::string> names;
  for (const config::VocabularyPoint& p : config::standard_vocabulary(b_)) {
    if (p.name == "CTC.Language" || p.name == "CTC.UserLevel") names.push_back(p.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"CTC.Language", "CTC.UserLevel"}));
}

// No two items name their points with one format: only an item's own getter and setter, and
// the host items that go through a GEM item's cache (no format of their own), share points.
TEST(NamedItems, NoTwoItemsShareAPointNameFormat) {
  std::map<std::string, std::set<std::string>> items_of;
  // clang-format off
#define VEXLOR_NAMED_POINT(item, kind, name, mode) items_of[name].insert("VIO " #item);
#define VEXLOR_NAMED_ROW(item, kind, n, rule, format, mode) items_of[format].insert("VIO " #item);
#define VEXLOR_NAMED_GRID(item, kind, n, m, rule, format, mode) items_of[format].insert("VIO " #item);
#define VEXLOR_NAMED_SETTER_NAME(item, format) items_of[format].insert("VIO " #item);
#include <vexlor/named/named_points.def>
#define VEXLOR_HOST_POINT(item, kind, name, mode) items_of[name].insert("VFA " #item);
#define VEXLOR_HOST_LP(item, kind, get_format, set_format) \
  items_of[get_format].insert("VFA LP_" #item);                \
  items_of[set_format].insert("VFA LP_" #item);
#include <vexlor/host/host_items.def>
  // clang-format on
  std::vector<std::string> shared;
  for (const auto& [format, items] : items_of) {
    if (items.size() > 1) shared.push_back(format + ": " + *items.begin() + ", " + *items.rbegin());
  }
  EXPECT_EQ(shared, std::vector<std::string>{});
  EXPECT_EQ(items_of.size(), 399u);  // every format of the two tables
}

}  // namespace
}  // namespace vexlor::test
