// Type-independent access: values as texts by name and by point and type, the search order
// and the name cache rules of access by name, the messages, and data-log point lists.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "frame/context.h"
#include "points/name_cache.h"
#include "points/typed_fixture.h"
#include "util/vdb.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::config::DatabaseBuilder;
using vexlor::test::Texts;

namespace {

Texts red_texts(const d::ConsoleCapture& capture) {
  return vexlor::test::red_texts(capture, "BYNAME_TOOL");
}

// The cached entry of a name: {-5, -5} when there is none.
IO_MAP cached(const char* name) {
  IO_MAP map{-5, static_cast<IO_TYPE>(-5)};
  d::name_cache_find(*d::context(), name, &map);
  return map;
}

void set_cached(const char* name, IO_MAP map) {
  d::name_cache_store(d::name_cache_session(*d::context()), name, map);
}

class ByName : public vexlor::test::EquipmentTest {
 protected:
  void SetUp() override {
    std::snprintf(b_.system().database_path, sizeof b_.system().database_path, "Z:\\Db");
    const int close_open = b_.add_enum("CloseOpen");
    b_.add_enum_item(close_open, "Close|关", 0);
    b_.add_enum_item(close_open, "Open|开", 1);
    b_.add_digital("PM1.Valve");  // D0
    b_.digital(0).enum_point = close_open;
    b_.add_digital("PM1.Dual");     // D1: also an analog name
    b_.add_analog("PM1.Pressure");  // A0
    b_.analog(0).decimal = 3;
    b_.add_analog("PM1.Dual", 2.5);                 // A1
    b_.add_string("PM1.Recipe");                    // S0
    b_.add_function("BYNAME_TOOL");                 // F0: no point
    b_.add_alarm(5001, "PM1_ALARM", "Alarm|报警");  // found by VIO_Find as "5001"
  }
  void start() { EquipmentTest::start("BYNAME_TOOL"); }
};

}  // namespace

TEST_F(ByName, ValuesTravelAsTextsThroughTheTypedAccess) {
  start();
  // Analog: written from text, read back with six decimals; `ok` is left alone on success.
  EXPECT_TRUE(VIO_Write("PM1.Pressure", "12.5", false));
  EXPECT_DOUBLE_EQ(VAnalog_Read(0), 12.5);
  bool ok = false;
  EXPECT_EQ(VIO_Read("PM1.Pressure", &ok, false), "12.500000");
  EXPECT_FALSE(ok);
  EXPECT_FALSE(VIO_Write("PM1.Pressure", "12,5", false));  // not a number: the typed write refuses
  EXPECT_TRUE(VIO_Write("PM1.Pressure", "-0.1234567", true));
  EXPECT_EQ(VIO_Read("PM1.Pressure", nullptr, true), "-0.123457");

  // Digital: the decimal value by name; a write accepts numbers and enumeration texts.
  EXPECT_TRUE(VIO_Write("PM1.Valve", "Open", false));
  EXPECT_EQ(VDigital_Read(0), 1);
  EXPECT_EQ(VIO_Read("PM1.Valve", nullptr, false), "1");
  EXPECT_FALSE(VIO_Write("PM1.Valve", "", false));

  // String: the text as it is.
  EXPECT_TRUE(VIO_Write("PM1.Recipe", "Etch 3|刻蚀", false));
  EXPECT_EQ(VIO_Read("PM1.Recipe", nullptr, false), "Etch 3|刻蚀");

  // By point and type: the typed text forms (enumeration text, the point's decimals).
  char buffer[1024];
  EXPECT_TRUE(VIO_Read(0, IO_D, buffer));
  EXPECT_STREQ(buffer, "Open");
  EXPECT_TRUE(VIO_Write(0, IO_A, "7.25"));
  EXPECT_TRUE(VIO_Read(0, IO_A, buffer));
  EXPECT_STREQ(buffer, "7.250");

  // Functions, alarms and unknown types: false, buffer untouched, nothing written.
  d::ConsoleCapture capture;
  std::strcpy(buffer, "untouched");
  for (IO_TYPE type : {IO_F, IO_L, IO_NONE, static_cast<IO_TYPE>(7)}) {
    EXPECT_FALSE(VIO_Read(0, type, buffer)) << type;
    EXPECT_STREQ(buffer, "untouched") << type;
    EXPECT_FALSE(VIO_Write(0, type, "0")) << type;
  }
  EXPECT_FALSE(VIO_Read(0, IO_A, nullptr));
  EXPECT_TRUE(capture.console_lines().empty());
  EXPECT_EQ(VDigital_Read(0), 1);
}

TEST_F(ByName, DigitalFirstAndTheCacheRules) {
  start();
  // A name in the digital and the analog table is the digital point, whatever was cached.
  EXPECT_DOUBLE_EQ(VAnalog_Read("PM1.Dual"), 2.5);  // typed access caches it as analog
  EXPECT_EQ(cached("PM1.Dual").type, IO_A);
  EXPECT_TRUE(VIO_Write("PM1.Dual", "1", false));
  EXPECT_EQ(VDigital_Read(1), 1);
  EXPECT_DOUBLE_EQ(VAnalog_Read(1), 2.5);
  EXPECT_EQ(VIO_Read("PM1.Dual", nullptr, false), "1");
  EXPECT_EQ(cached("PM1.Dual").point, 1);
  EXPECT_EQ(cached("PM1.Dual").type, IO_D);

  // An analog entry is searched again every time (a stale point does not survive)...
  set_cached("PM1.Pressure", IO_MAP{1, IO_A});
  EXPECT_TRUE(VIO_Write("PM1.Pressure", "4.75", false));
  EXPECT_DOUBLE_EQ(VAnalog_Read(0), 4.75);
  EXPECT_DOUBLE_EQ(VAnalog_Read(1), 2.5);
  EXPECT_EQ(cached("PM1.Pressure").point, 0);
  EXPECT_EQ(cached("PM1.Pressure").type, IO_A);
  set_cached("PM1.Recipe", IO_MAP{0, IO_A});
  EXPECT_TRUE(VIO_Write("PM1.Recipe", "Ashing", false));
  EXPECT_EQ(cached("PM1.Recipe").type, IO_S);
  EXPECT_STREQ(VString_Read(0), "Ashing");
  EXPECT_DOUBLE_EQ(VAnalog_Read(0), 4.75);

  // ...while a digital entry is used as it is, keyed by the exact text given.
  set_cached("Valve alias", IO_MAP{0, IO_D});
  EXPECT_TRUE(VIO_Write("Valve alias", "Open", false));
  EXPECT_EQ(VIO_Read("Valve alias", nullptr, false), "1");
  EXPECT_EQ(cached("pm1.valve").type, -5);
  EXPECT_EQ(VIO_Read("pm1.valve", nullptr, false), "1");
  EXPECT_EQ(cached("pm1.valve").type, IO_D);
}

TEST_F(ByName, UnknownNamesFailWithTheirLinesUnlessSilent) {
  d::ConsoleCapture capture;
  // Before start-up every name is unknown.
  bool ok = true;
  EXPECT_EQ(VIO_Read("PM1.Pressure", &ok, true), "");
  EXPECT_FALSE(ok);
  EXPECT_FALSE(VIO_Write("PM1.Pressure", "1", true));
  EXPECT_TRUE(capture.console_lines().empty());

  start();
  ok = true;
  EXPECT_EQ(VIO_Read("PM9.Nothing", &ok, true), "");
  EXPECT_FALSE(ok);
  EXPECT_FALSE(VIO_Write("PM9.Nothing", "12.5", true));
  EXPECT_TRUE(capture.console_lines().empty());

  // Functions and alarms are no points here, though VIO_Find knows them.
  ok = true;
  EXPECT_EQ(VIO_Read("PM9.Nothing", &ok, false), "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(VIO_Read("BYNAME_TOOL", nullptr, false), "");
  EXPECT_FALSE(VIO_Write("5001", "1", false));
  EXPECT_FALSE(VIO_Write("PM9.Nothing", "12.5", false));
  EXPECT_EQ(VIO_Read(nullptr, nullptr, false), "");
  EXPECT_FALSE(VIO_Write(nullptr, nullptr, false));
  EXPECT_EQ(red_texts(capture),
            (Texts{
                "IO_NAME:PM9.Nothing 未识别. [代码行:Vexlor::VIO_Read:N]",
                "IO_NAME:BYNAME_TOOL 未识别. [代码行:Vexlor::VIO_Read:N]",
                "IO:5001未识别,写值:1失败[代码行:Vexlor::VIO_Write:N]",
                "IO:PM9.Nothing未识别,写值:12.5失败[代码行:Vexlor::VIO_Write:N]",
                "IO_NAME: 未识别. [代码行:Vexlor::VIO_Read:N]",
                "IO:未识别,写值:失败[代码行:Vexlor::VIO_Write:N]",
            }));
  // Misses are not cached.
  EXPECT_EQ(cached("PM9.Nothing").type, -5);
}

TEST_F(ByName, DataLogListResolvesEveryItemAndKeepsTheMisses) {
  ASSERT_TRUE(d::write_datalog_tables(
      d::vdb_file_for("Z:\\Db"),
      {{"PM1_TRACE", {"PM1.Pressure", "PM9.Missing", "PM1.Valve", "NoSuch", "pm1.recipe"}},
       {"PM1_OK", {"PM1.Dual", "PM1.Recipe"}}},
      true, nullptr));
  start();
  d::ConsoleCapture capture;
  std::vector<DataLog_IO_Item> list(3);
  EXPECT_FALSE(VIO_Find_DataLog_IO_List("PM1_TRACE", list));
  EXPECT_EQ(red_texts(capture),
            (Texts{
                "IO_NAME:PM9.Missing - IO_TYPE:IO_UNKNOWN未识别. [代码行:Vexlor::VIO_Find:N]",
                "IO_NAME:NoSuch - IO_TYPE:IO_UNKNOWN未识别. [代码行:Vexlor::VIO_Find:N]",
            }));
  // Every item is kept, in order; a miss has no point and no type.
  using Items = std::vector<std::tuple<std::string, int32_t, IO_TYPE>>;
  auto items = [&list] {
    Items out;
    for (const auto& i : list) out.emplace_back(i.name, i.point, i.type);
    return out;
  };
  EXPECT_EQ(items(), (Items{{"PM1.Pressure", 0, IO_A},
                            {"PM9.Missing", -99999999, IO_NONE},
                            {"PM1.Valve", 0, IO_D},
                            {"NoSuch", -99999999, IO_NONE},
                            {"pm1.recipe", 0, IO_S}}));
  // Digital before analog, as VIO_Find searches.
  EXPECT_TRUE(VIO_Find_DataLog_IO_List("pm1_ok", list));
  EXPECT_EQ(items(), (Items{{"PM1.Dual", 1, IO_D}, {"PM1.Recipe", 0, IO_S}}));
  EXPECT_EQ(red_texts(capture).size(), 2u);  // no line of its own
  capture.clear();

  // A table that cannot be read: one line and an empty list.
  EXPECT_FALSE(VIO_Find_DataLog_IO_List("PM2_TRACE", list));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(red_texts(capture),
            (Texts{"获取 DataLog IO 错误. [代码行:Vexlor::VIO_Find_DataLog_IO_List:N]"}));
}

TEST_F(ByName, NameCacheServesConcurrentResolversAndStartsEmptyAfterRelease) {
  constexpr int kNames = 600;  // enough for the cache to grow while it is read
  auto name_of = [](int i) { return "T." + std::to_string(i); };
  for (int i = 0; i < kNames; ++i) b_.add_digital(name_of(i));  // D2 onwards
  start();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (int k = 0; k < kNames; ++k) {
          const int i = (k * 7 + t * 151) % kNames;  // each thread in its own order
          const std::string name = name_of(i);
          const IO_MAP map = IO_Map_Find(name.c_str());
          if (map.point != i + 2 || map.type != IO_D) ++wrong;
          bool ok = false;
          VDigital_Read(name.c_str(), &ok, false);
          if (!ok) ++wrong;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(cached("T.599").point, 601);

  // A new attachment starts with an empty cache: names resolve against the new database.
  VHub_Release();
  DatabaseBuilder other;
  other.add_digital("T.599");
  other.add_function("BYNAME_TOOL");
  std::string error;
  ASSERT_TRUE(other.publish(true, "by_name_test", &error)) << error;
  ASSERT_TRUE(VHub_Initial("BYNAME_TOOL"));
  EXPECT_EQ(cached("T.599").type, -5);
  d::ConsoleCapture capture;
  EXPECT_EQ(IO_Map_Find("T.599").point, 0);
  EXPECT_EQ(IO_Map_Find("T.598").point, VEXLOR_UNUSED_POINT);
  EXPECT_EQ(red_texts(capture),
            (Texts{"IO_NAME:T.598 - IO_TYPE:IO_UNKNOWN未识别. [代码行:Vexlor::VIO_Find:N]"}));
}
