// Point lookup: search order, normalisation, messages, the families, the name cache, caller
// name tables and the lazy point caches. Modules: finding by name or ID, the by-point getters
// and their index check, alarm bases, annotations, per-kind sides and the lists.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frame/context.h"
#include "points/point_cache.h"
#include "points/typed_fixture.h"

using namespace Vexlor;
using vexlor::test::Texts;
namespace d = vexlor::detail;

namespace {

Texts texts(const d::ConsoleCapture& capture) {
  return vexlor::test::red_texts(capture, "PM1_PROCESS");
}

// Where VIO_Find puts `name`: its table letter and point ("D2", "L0"), "-" when it fails.
std::string found(const char* name) {
  int point = -1;
  IO_TYPE type = IO_NONE;
  if (!VIO_Find(&point, &type, true, name)) return "-";
  return (type >= IO_D && type <= IO_L ? "DASFL"[type] : '?') + std::to_string(point);
}

// The point of `type` VIO_Find_Point gives for `name`, -2 when it fails.
int point_of(const char* name, IO_TYPE type = IO_D) {
  int point = -2;
  return VIO_Find_Point(&point, type, true, name) ? point : -2;
}

class Lookup : public vexlor::test::EquipmentTest {
 protected:
  void SetUp() override {
    b_.add_module("PM1", "Chamber A", MODULE_PM, 0, 41);
    b_.add_module("TM1", "Robot", MODULE_TM, 0, 21);
    b_.add_module("PM2", "PM2 chamber", MODULE_PM, 1, 42);  // its name holds its ID
    b_.add_module("", "Empty", MODULE_BM, 0, 0);
    // D0-D4: D1 is also an analog name, D2 the same name as D0 at a higher index.
    for (const char* name : {"PM1.Valve", "PM1.Pressure", "pm1.valve", "PM1.Ready", "PM3.Ready"})
      b_.add_digital(name);
    b_.add_analog("PM1.Pressure");   // A0
    b_.add_analog("PM10.Pressure");  // A1
    b_.add_string("PM1.Recipe");     // S0
    // F0-F2 with their levels.
    for (const auto& [name, level] :
         {std::pair{"PM1_PROCESS", 5}, {"HIGH_LEVEL", 9}, {"LOW_LEVEL", 5}}) {
      b_.function(b_.add_function(name)).level = level;
    }
    b_.add_alarm(41001, "PM1_VALVE", "Valve|阀");  // L0
    b_.add_alarm(21005, "TM1_ARM", "Arm|臂");      // L1
  }
  void start() { EquipmentTest::start("PM1_PROCESS"); }
};

}  // namespace

TEST_F(Lookup, MissesPrintTheirLinesUnlessSilentThenSearchOrderAndNormalisation) {
  int point = 123;
  IO_TYPE type = IO_D;
  d::ConsoleCapture capture;
  EXPECT_FALSE(VIO_Find(&point, &type, "PM1.Valve"));  // not started
  EXPECT_FALSE(VIO_Find_Point(&point, IO_D, "PM1.Valve"));
  EXPECT_EQ(point, 123);
  EXPECT_EQ(type, IO_D);
  start();
  EXPECT_FALSE(VIO_Find(&point, &type, "[Robot].Nope"));
  EXPECT_EQ(point, 123);  // a failed search leaves the point
  EXPECT_EQ(type, IO_NONE);
  EXPECT_FALSE(VIO_Find_Point(&point, IO_A, "PM1.Valve"));
  EXPECT_EQ(point, -1);
  EXPECT_FALSE(VIO_Find_Point(&point, static_cast<IO_TYPE>(9), "PM1.Valve"));
  EXPECT_FALSE(VIO_Find(&point, &type, true, "Nope"));
  EXPECT_FALSE(VIO_Find_Point(&point, IO_D, true, "Nope"));
  EXPECT_FALSE(VIO_Find_Type(&type, "Nope"));
  EXPECT_EQ(type, IO_NONE);
  point = 5;
  EXPECT_FALSE(VIO_Find(&point, &type, "Chamber A|99"));  // module known, alarm ID unknown
  EXPECT_EQ(point, -1);
  EXPECT_FALSE(VIO_Find_Point(&point, IO_L, "NoModule|1"));
  EXPECT_EQ(texts(capture),
            (Texts{
                "IO_NAME:TM1.Nope - IO_TYPE:IO_UNKNOWN未识别. [代码行:Vexlor::VIO_Find:N]",
                "IO_NAME:PM1.Valve - IO_TYPE:IO_A 未识别. [代码行:Vexlor::VIO_Find_Point:N]",
                "IO_NAME:PM1.Valve - IO_TYPE:IO_UNKNOWN 未识别. [代码行:Vexlor::VIO_Find_Point:N]",
                "ALARM_ID:41099未识别. [代码行:Vexlor::VAlarm_Find_Point:N]",
                "IO_NAME:Chamber A|99 - IO_TYPE:IO_UNKNOWN未识别. [代码行:Vexlor::VIO_Find:N]",
                "IO_NAME:NoModule|1 - IO_TYPE:IO_L 未识别. [代码行:Vexlor::VIO_Find_Point:N]",
            }));

  // The search order and normalisation.
  const char* const rows[][2] = {
      {"PM1.PRESSURE", "D1"},  // digital before analog, any case
      {"PM1.valve", "D0"},     // the lower index of two equal names
      {"pm1.recipe", "S0"},   {"low_level", "F2"},
      {"21005", "L1"},        // alarms: the leading digits as an ID,
      {"Chamber A|1", "L0"},  // or module|number via the module's alarm base
  };
  for (const auto& r : rows) EXPECT_EQ(found(r[0]), r[1]) << r[0];
  EXPECT_EQ(point_of("PM1.Pressure", IO_A), 0);
  EXPECT_EQ(point_of("TM1|5", IO_L), 1);
  type = IO_NONE;
  ASSERT_TRUE(VIO_Find_Type(&type, "41001xyz"));
  EXPECT_EQ(type, IO_L);
  // The extra slots are not searched as functions.
  point = -7;
  EXPECT_FALSE(VIO_Find_Point(&point, IO_F, true, "GUI_MAINFORM"));
  EXPECT_EQ(point, -1);
  EXPECT_EQ(point_of("[Chamber A].Pressure", IO_A), 0);
  EXPECT_TRUE(VIO_Replace_Char_Set(1, "PM1"));
  EXPECT_TRUE(VIO_Replace_Char_Set(10, "PM10"));
  EXPECT_STREQ(VIO_Replace_Char_Get(10), "PM10");
  EXPECT_STREQ(VIO_Replace_Char_Get(2), "");
  EXPECT_EQ(point_of("$1.Pressure", IO_A), 0);
  // `convert` applied to a copy of `text`: "+" or "-" for its answer, then the buffer.
  char name[64];
  auto apply = [&name](bool (*convert)(char*), const std::string& text) {
    std::strcpy(name, text.c_str());
    const bool changed = convert(name);
    return (changed ? "+" : "-") + std::string(name);
  };
  // "$1" sorts before "$10": "$10.Pressure" becomes "PM10.Pressure" by way of "$1" + "0".
  EXPECT_EQ(apply(VIO_Replace_Char, "$10.Pressure"), "+PM10.Pressure");
  EXPECT_TRUE(VIO_Replace_Char_Set(1, "X"));  // overwritten
  EXPECT_EQ(apply(VIO_Replace_Char, "$10.Pressure"), "+X0.Pressure");
  // A substitution that would reach 64 characters is not applied.
  EXPECT_TRUE(VIO_Replace_Char_Set(7, std::string(60, 'L').c_str()));
  EXPECT_EQ(apply(VIO_Replace_Char, "$7.abc"), "-$7.abc");
  EXPECT_EQ(apply(VIO_Replace_Char, "no key here"), "-no key here");

  // Brackets: the first pair only; malformed pairs and overflow leave the buffer.
  EXPECT_EQ(apply(VModule_Name_To_ID, "[Chamber A].[Robot]"), "+PM1.[Robot]");
  for (const char* bad : {"x]y[z", "[Chamber A", "Chamber A]", "[Unknown].x", "[PM1].x"}) {
    EXPECT_EQ(apply(VModule_Name_To_ID, bad), std::string("-") + bad);
  }
  EXPECT_EQ(apply(VModule_Name_To_ID, "plain.name"), "+plain.name");
  // IDs back to bracketed names, every occurrence; 69 characters would not fit.
  EXPECT_EQ(apply(VModule_ID_To_Name, "PM1.Valve+PM1.Gas/TM1"),
            "+[Chamber A].Valve+[Chamber A].Gas/[Robot]");
  const std::string almost = std::string(58, 'z') + "PM1";
  EXPECT_EQ(apply(VModule_ID_To_Name, almost), "-" + almost);
  // A module whose name holds its own ID, and one without ID, end the replacement.
  EXPECT_EQ(apply(VModule_ID_To_Name, "PM2.x PM2"), "+[PM2 chamber].x [PM2 chamber]");
  VHub_Release();
  std::strcpy(name, "[Chamber A]");
  EXPECT_FALSE(VModule_Name_To_ID(name));
  EXPECT_FALSE(VIO_Replace_Char_Set(1, "x"));
  EXPECT_STREQ(VIO_Replace_Char_Get(1), "");
}

TEST_F(Lookup, NumberedFamiliesCallerNameTablesAndTheNameIndexAcrossRenames) {
  start();
  d::ConsoleCapture capture;
  std::vector<int> out;
  EXPECT_FALSE(VIO_Find_Point1(&out, IO_D, 3, 1, "PM%d.Ready"));
  EXPECT_EQ(out, (std::vector<int>{3, -1, 4}));
  EXPECT_EQ(texts(capture),
            (Texts{"IO_NAME:PM2.Ready - IO_TYPE:IO_D 未识别. [代码行:Vexlor::VIO_Find_Point:N]"}));
  std::vector<int> one(1, 0);
  EXPECT_TRUE(VIO_Find_Point1(&one, IO_D, "PM{1}.Ready", 1, 3));
  EXPECT_EQ(one, (std::vector<int>{4}));
  EXPECT_TRUE(VIO_Find_Point1F(&one, IO_A, 1, 10, "PM%s.Pressure", "%d"));
  EXPECT_EQ(one, (std::vector<int>{1}));
  // Two numbers: the second placeholder survives the first expansion as "%%d".
  std::vector<std::vector<int>> grid;
  capture.clear();
  EXPECT_FALSE(VIO_Find_Point2(&grid, IO_A, 1, 1, 2, 0, "PM%d%%d.Pressure"));
  EXPECT_EQ(grid, (std::vector<std::vector<int>>{{1, -1}}));
  EXPECT_EQ(texts(capture).size(), 1u);
  EXPECT_FALSE(VIO_Find_Point2(&grid, IO_D, "PM{1}.{2}", 1, 1, 1, 0));
  EXPECT_TRUE(VIO_Find_Point2F(&grid, IO_A, 1, 1, 1, 0, "%s", "PM{1}{2}.Pressure"));
  EXPECT_EQ(grid[0][0], 1);
  // Patterns that are not one-int formats are names, not formats; bad counts do nothing.
  capture.clear();
  EXPECT_FALSE(VIO_Find_Point1(&one, IO_D, 1, 1, "PM%s.%n"));
  EXPECT_EQ(texts(capture),
            (Texts{"IO_NAME:PM%s.%n - IO_TYPE:IO_D 未识别. [代码行:Vexlor::VIO_Find_Point:N]"}));
  EXPECT_TRUE(VIO_Find_Point1(&one, IO_D, 0, 1, "x"));
  EXPECT_FALSE(VIO_Find_Point1(nullptr, IO_D, 1, 1, "x"));
  EXPECT_FALSE(VIO_Find_Point1(&one, IO_D, 2000000000, 1, "x"));
  EXPECT_FALSE(VIO_Find_Point2(&grid, IO_D, 2, 2147483647, 1, 1, "x"));
  VIO_Replace_Char_Set(1, "PM1");
  int valve = -1, gas = -1, high = -1, low = -1, bad = -1, sentinel = -1;
  IO_Name_String_Map table[] = {
      {"$1.Valve", IO_D, &valve},
      {"$1.Gas", IO_D, &gas},
      {"HIGH_LEVEL", IO_F, &high},
      {"LOW_LEVEL", IO_F, &low},
      {"$1.Pressure", static_cast<IO_TYPE>(7), &bad},
      {"", IO_D, &sentinel},
      {"AFTER_END", IO_D, &sentinel},
  };
  capture.clear();
  EXPECT_FALSE(VIO_Set_IO_Map_List(table));
  EXPECT_STREQ(table[0].name, "PM1.Valve");
  EXPECT_EQ((std::vector<int>{valve, gas, high, low, bad, sentinel}),
            (std::vector<int>{0, -1, 1, 2, -1, -1}));
  EXPECT_EQ(table[0].type, IO_D);
  EXPECT_EQ(table[1].type, IO_NONE);
  EXPECT_EQ(texts(capture),
            (Texts{
                "IO_NAME:PM1.Gas - IO_TYPE:IO_UNKNOWN未识别. [代码行:Vexlor::VIO_Find:N]",
                "IO_MAP_TABLE IO_NAME:PM1.Gas - IO_TYPE:IO_UNKNOWN 未识别. "
                "[代码行:Vexlor::VIO_Set_IO_Map_List:N]",
                "FUNCTION优先级过高 , 不能加载 - IO_NAME:HIGH_LEVEL - IO_TYPE:IO_F. "
                "[代码行:Vexlor::VIO_Set_IO_Map_List:N]",
                "IO_MAP_TABLE IO_NAME:PM1.Pressure - IO_TYPE:IO_UNKNOWN未识别. "
                "[代码行:Vexlor::VIO_Set_IO_Map_List:N]",
            }));

  // The vector form, with its own texts; a declared type is replaced by the one found.
  int pressure = -1;
  gas = -1;
  std::vector<IO_Name_String_Map> list = {{"[Chamber A].Pressure", IO_A, &pressure},
                                          {"$1.Gas", IO_D, &gas},
                                          {"HIGH_LEVEL", IO_F, &high},
                                          {"x", static_cast<IO_TYPE>(5), &bad}};
  capture.clear();
  EXPECT_FALSE(VIO_Set_IO_Map_List(list));
  EXPECT_EQ(pressure, 1);
  EXPECT_EQ(list[0].type, IO_D);
  EXPECT_EQ(
      texts(capture),
      (Texts{
          "IO_NAME:PM1.Gas - IO_TYPE:IO_UNKNOWN未识别. [代码行:Vexlor::VIO_Find:N]",
          "IO_MAP_TABLE IO_NAME: PM1.Gas 未识别. [代码行:Vexlor::VIO_Set_IO_Map_List:N]",
          "FUNCTION优先级过高 , 不能加载 - HIGH_LEVEL. [代码行:Vexlor::VIO_Set_IO_Map_List:N]",
          "IO_MAP_TABLE IO_NAME: x - IO_TYPE:IO_UNKNOWN未识别. "
          "[代码行:Vexlor::VIO_Set_IO_Map_List:N]",
      }));

  // A clean table; an unterminated 64-byte name is read as its first 63 bytes.
  IO_Name_String_Map ok[2] = {};
  std::memset(ok[0].name, 'q', 64);
  ok[0].type = IO_D;
  ok[0].point = &gas;
  gas = 0;
  capture.clear();
  EXPECT_TRUE(VIO_Set_IO_Map_List(ok));  // a miss with a point not -1 shows only in VIO_Find
  EXPECT_EQ(texts(capture).size(), 1u);

  // The name index follows renames through the setters and keeps the first match.
  // Two records of one name: the lower index, also after the lower one is renamed and back.
  VDigital_Set_Name(0, "PM1.Gate");
  EXPECT_EQ(found("PM1.VALVE"), "D2");
  EXPECT_EQ(point_of("pm1.gate"), 0);
  MEM_DIGITAL_SP_STRU shape{};
  ASSERT_TRUE(VDigital_Get_Shape(3, &shape));
  std::strcpy(shape.name, "PM1.Gate");  // a second "PM1.Gate", above the first
  ASSERT_TRUE(VDigital_Set_Shape(3, shape));
  EXPECT_EQ(point_of("PM1.GATE"), 0);
  VDigital_Set_Name(0, "PM1.Valve");
  EXPECT_EQ(point_of("PM1.Gate"), 3);
  EXPECT_EQ(found("pm1.valve"), "D0");
  EXPECT_EQ(point_of("PM1.Ready"), -2);  // renamed away
  VAnalog_Set_Name(1, "PM2.Pressure");
  VString_Set_Name(0, "PM1.Menu");
  EXPECT_EQ(found("PM2.Pressure"), "A1");
  EXPECT_EQ(found("PM1.Menu"), "S0");

  // Past what the index holds, lookups scan: every new name is still found, old ones are not.
  char name[64];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(name, sizeof name, "PM1.Renamed%d", i);
    VDigital_Set_Name(4, name);
    ASSERT_EQ(point_of(name), 4) << name;
  }
  EXPECT_EQ(point_of("PM1.Renamed0"), -2);
  EXPECT_EQ(point_of("PM1.Gate"), 3);
}

TEST_F(Lookup, LazyPointCachesResolveOnceAndTheNameCacheAnswersByTheExactText) {
  d::PointSlot valve;
  d::PointRow<4> ready;
  d::PointGrid<2, 3> grid;
  EXPECT_EQ(valve.get(IO_D, "PM1.Valve"), VEXLOR_UNUSED_POINT);  // not started: retried later
  start();
  d::ConsoleCapture capture;
  EXPECT_EQ(valve.get(IO_D, "PM1.Valve"), 0);
  std::strcpy(MMAP_DB()->digital_sp[0].name, "Renamed");  // resolved once, never checked again
  EXPECT_EQ(valve.get(IO_D, "PM1.Valve"), 0);

  EXPECT_EQ(ready.get(0, IO_D, "PM%d.Ready", 1), 3);
  EXPECT_EQ(ready.get(1, IO_D, "PM%d.Ready", 2), -1);
  EXPECT_EQ(ready.get(1, IO_D, "PM%d.Ready", 2), -1);  // no second search, no second line
  EXPECT_EQ(ready.get(4, IO_D, "PM%d.Ready", 5), -1);  // out of range
  EXPECT_EQ(ready.peek(2), VEXLOR_UNUSED_POINT);
  EXPECT_EQ(texts(capture),
            (Texts{"IO_NAME:PM2.Ready - IO_TYPE:IO_D 未识别. [代码行:Vexlor::VIO_Find_Point:N]"}));

  int calls = 0;
  auto lookup = [&](int* out) {
    ++calls;
    VIO_Find_PointF(out, IO_A, "PM%d.Pressure", 10);
  };
  EXPECT_EQ(grid.get_with(1, 2, lookup), 1);
  EXPECT_EQ(grid.get_with(1, 2, lookup), 1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(grid.get(2, 0, IO_A, "x"), -1);
  // A name without arguments is a name, not a format.
  d::PointSlot percent;
  capture.clear();
  EXPECT_EQ(percent.get(IO_D, "100%s.x"), -1);
  EXPECT_EQ(texts(capture),
            (Texts{"IO_NAME:100%s.x - IO_TYPE:IO_D 未识别. [代码行:Vexlor::VIO_Find_Point:N]"}));

  // The name cache answers by the exact text and does not cache misses.
  capture.clear();
  IO_MAP m = IO_Map_Find("PM1.Recipe");
  EXPECT_EQ(m.point, 0);
  EXPECT_EQ(m.type, IO_S);
  // Renaming the point in shared memory does not reach a cached name.
  std::strcpy(MMAP_DB()->string_sp[0].name, "Renamed");
  m = IO_Map_Find("PM1.Recipe");
  EXPECT_EQ(m.point, 0);
  EXPECT_EQ(m.type, IO_S);
  m = IO_Map_Find("pm1.recipe");  // another text: searched, not found any more
  EXPECT_EQ(m.point, VEXLOR_UNUSED_POINT);
  EXPECT_EQ(m.type, IO_NONE);
  IO_Map_Find("pm1.recipe");
  EXPECT_EQ(texts(capture).size(), 2u);  // a miss is searched again
  EXPECT_EQ(IO_Map_Find(nullptr).point, VEXLOR_UNUSED_POINT);
  VHub_Release();
  EXPECT_EQ(IO_Map_Find("PM1.Recipe").point, VEXLOR_UNUSED_POINT);
}

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
