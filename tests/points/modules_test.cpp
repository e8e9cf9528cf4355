// Modules: finding by name or ID, the by-point getters and their index check, alarm bases,
// annotations, per-kind sides and the lists.
#include <cstring>
#include <string>
#include <vector>

#include "points/typed_fixture.h"

using namespace Vexlor;
namespace d = vexlor::detail;

namespace {

class Modules : public vexlor::test::EquipmentTest {
 protected:
  void SetUp() override {
    b_.add_module("PM1", "Chamber A", MODULE_PM, 0, 41, "etch");
    b_.add_module("CHA", "PM1", MODULE_PM, 1, 42, "ash");  // its name is the other's ID
    b_.add_module("TM1", "Robot", MODULE_TM, 0, 21);
    b_.add_module("TM11", "Far Robot", MODULE_TM, 10, 31);  // beyond the 10 TM sides searched
    b_.add_module("LP1", "Port 1", MODULE_CM, 0, 11);
    b_.add_function("SCHEDULER");
  }
  void start() { EquipmentTest::start("SCHEDULER"); }
};

}  // namespace

TEST_F(Modules, SilentBeforeStartUpThenFindPrefersNamesGettersIndexCheckSidesAndLists) {
  d::ConsoleCapture capture;
  MODULE_MAP map{};
  EXPECT_FALSE(VModule_Find(&map, "PM1"));
  EXPECT_STREQ(VModule_Get_ID(0), "");
  EXPECT_STREQ(VModule_Get_Name("PM1"), "");
  EXPECT_EQ(VModule_Get_Alarm_Base(0), 0);
  EXPECT_EQ(VModule_Get_Alarm_Base("PM1"), 0);
  EXPECT_EQ(VModule_Get_Annotation(0, 0), nullptr);
  EXPECT_STREQ(VModule_Get_Annotation("PM1"), "");
  EXPECT_EQ(VModule_Get_TM_Side("Robot"), -1);
  std::vector<std::string> list{"stale"};
  VModule_Get_Name_List(list);
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(capture.lines().empty());
  start();
  // Find prefers names; the getters follow.
  ASSERT_TRUE(VModule_Find(&map, "Chamber A"));  // module 0, whose ID "PM1" is module 1's name
  EXPECT_EQ(map.side, 0);
  map = {-5, MODULE_CM};
  ASSERT_TRUE(VModule_Find(&map, "PM1"));  // the name of module 1 beats the ID of module 0
  EXPECT_EQ(map.side, 1);
  EXPECT_EQ(map.kind, MODULE_PM);
  ASSERT_TRUE(VModule_Find(&map, "TM1"));
  EXPECT_EQ(map.side, 0);
  EXPECT_EQ(map.kind, MODULE_TM);
  // Cached under the name and the ID: answers survive a change of the records.
  std::strcpy(MMAP_DB()->module_sp[2].name, "Renamed");
  ASSERT_TRUE(VModule_Find(&map, "Robot"));
  EXPECT_EQ(map.kind, MODULE_TM);
  map = {-5, MODULE_CM};
  EXPECT_FALSE(VModule_Find(&map, "pm1"));  // exact text only
  EXPECT_FALSE(VModule_Find(&map, ""));
  EXPECT_FALSE(VModule_Find(&map, nullptr));
  EXPECT_EQ(map.side, -5);
  EXPECT_TRUE(VModule_Find(nullptr, "Chamber A"));
  std::strcpy(MMAP_DB()->module_sp[2].name, "Robot");  // back, for the getters

  EXPECT_STREQ(VModule_Get_ID("PM1"), "CHA");
  EXPECT_STREQ(VModule_Get_Name("PM1"), "Chamber A");
  EXPECT_STREQ(VModule_Get_NameF("TM%d", 1), "Robot");
  EXPECT_STREQ(VModule_Get_ID("nobody"), "");
  EXPECT_STREQ(VModule_Get_Name(static_cast<const char*>(nullptr)), "");
  EXPECT_EQ(VModule_Get_Alarm_Base("PM1"), 42);
  EXPECT_EQ(VModule_Get_Alarm_Base("TM1"), 21);
  EXPECT_EQ(VModule_Get_Alarm_Base("nobody"), VEXLOR_UNUSED_POINT);
  EXPECT_STREQ(VModule_Get_ID(4), "LP1");
  EXPECT_STREQ(VModule_Get_Name(2), "Robot");
  EXPECT_EQ(VModule_Get_Alarm_Base(3), 31);

  capture.clear();
  EXPECT_STREQ(VModule_Get_ID(-1), "");
  EXPECT_STREQ(VModule_Get_Name(VEXLOR_UNUSED_POINT), "");
  EXPECT_EQ(VModule_Get_Alarm_Base(5), 0);
  EXPECT_EQ(vexlor::test::red_texts(capture, "SCHEDULER"),
            (std::vector<std::string>{
                "Module Module_Point  = ERROR_IO_POINT.[代码行:Vexlor::VModule_Get_ID:N]",
                "Module Module_Point = UNUSE_IO_POINT.[代码行:Vexlor::VModule_Get_Name:N]",
                "Module Module_Point = 5 , 超限.[代码行:Vexlor::VModule_Get_Alarm_Base:N]",
            }));
  EXPECT_STREQ(VModule_Get_Annotation(MODULE_PM, 1), "ash");
  EXPECT_STREQ(VModule_Get_Annotation("Chamber A"), "etch");
  for (const char* none : {VModule_Get_Annotation("nobody"), VModule_Get_Annotation(4, 0),
                           VModule_Get_Annotation(0, 100), VModule_Get_Annotation(-1, -1)}) {
    EXPECT_STREQ(none, "");
  }

  // Name first, then ID; unconfigured sides have empty names.
  EXPECT_EQ((std::vector<int>{VModule_Get_PM_Side("PM1"), VModule_Get_PM_Side("CHA"),
                              VModule_Get_TM_Side("Robot"), VModule_Get_TM_Side("Far Robot"),
                              VModule_Get_CM_Side("LP1"), VModule_Get_BM_Side("LP1"),
                              VModule_Get_PM_Side(""), VModule_Get_PM_Side(nullptr)}),
            (std::vector<int>{1, 1, 0, -1, 0, -1, -1, -1}));

  list = {"stale"};
  VModule_Get_ID_List(list);
  EXPECT_EQ(list, (std::vector<std::string>{"PM1", "CHA", "TM1", "TM11", "LP1"}));
  VModule_Get_Name_List(list);
  EXPECT_EQ(list, (std::vector<std::string>{"Chamber A", "PM1", "Robot", "Far Robot", "Port 1"}));

}
