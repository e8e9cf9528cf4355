// Logging: category tags and colours, the two switches, the sources before and after
// start-up, and the daily files written for real.
#include <string>
#include <vector>

#include "frame/context.h"
#include "os/clock.h"
#include "support/equipment.h"
#include "util/paths.h"

using namespace Vexlor;
namespace d = vexlor::detail;

namespace {

// Log files land below the private instance's drive root.
class Logging : public vexlor::test::EquipmentTest {
 protected:
  // Starts "PM1_PUMP" on a database with history path `history`.
  void start_pump(const char* history = "Z:\\History") {
    std::snprintf(b_.system().history_path, 256, "%s", history);
    b_.add_function("PM1_PUMP");
    start("PM1_PUMP");
  }
  static std::string today(const char* file) {
    return std::string(VSystem_Get_History_Full_Path()) + "/" + file;
  }
  static std::string read(const std::string& system_path) {
    return vexlor::test::slurp(d::map_system_path(system_path.c_str()));
  }
  // A captured line as "console <attribute> <tag> [<source>] <text>", or for the files
  // "<file of today's folder> <tag> [<source>] <text>".
  static std::vector<std::string> described(const d::ConsoleCapture& capture) {
    const std::string folder = d::map_system_path(VSystem_Get_History_Full_Path()) + "/";
    std::vector<std::string> out;
    for (const auto& l : capture.lines()) {
      std::string where = "console " + std::to_string(l.attribute);
      if (l.channel == d::LineChannel::kLogFile) {
        where = l.path.rfind(folder, 0) == 0 ? l.path.substr(folder.size()) : l.path;
      }
      out.push_back(where + " " + l.tag + " [" + l.source + "] " + l.text);
    }
    return out;
  }
};

}  // namespace

TEST_F(Logging, SourcesSwitchesTagsColoursAndTypesOutsideTheTable) {
  d::ConsoleCapture capture;
  VSystem_Log(LOG_DBG, "value %d", 5);
  VDriver_Log("DIO", LOG_EVT, "drv %s", "up");
  VSystem_Log("CALLER", LOG_CIM, "cim");
  VGui_Err_Log("ignored", "gui %d", 1);
  EXPECT_EQ(VSystem_Get_Log_Status(LOG_ALM), LOG_STATUS_SECOND);
  EXPECT_STREQ(VSystem_Get_History_Path(), "Z:\\History");

  // VSystem_Log: console and file, source "未定义"; with a source: the file only; the GUI log:
  // both, colour 12, source "GUI".
  EXPECT_EQ(described(capture),
            (std::vector<std::string>{
                "console 31 [DBG] [未定义] value 5", "system.log [DBG] [未定义] value 5",
                "driver.log [EVT] [DIO] drv up", "system.log [CIM] [CALLER] cim",
                "console 12 [ERR] [GUI] gui 1", "gui_error.log [ERR] [GUI] gui 1"}));
  const std::string system_log = read(today("system.log"));
  EXPECT_NE(system_log.find(" [DBG] [未定义] value 5\n"), std::string::npos) << system_log;
  EXPECT_NE(system_log.find(" [CIM] [CALLER] cim\n"), std::string::npos);
  EXPECT_NE(read(today("driver.log")).find(" [EVT] [DIO] drv up\n"), std::string::npos);
  EXPECT_NE(read(today("gui_error.log")).find(" [ERR] [GUI] gui 1\n"), std::string::npos);
  start_pump();
  struct Case {
    LOG_STATUS status;
    bool console, file;
  };
  for (Case c : {Case{LOG_STATUS_OFF, false, false}, Case{LOG_STATUS_SECOND, false, true},
                 Case{LOG_STATUS_FIRST, true, false}, Case{LOG_STATUS_BOTH, true, true}}) {
    SCOPED_TRACE(c.status);
    VSystem_Set_Log_Status(LOG_DBG, c.status);
    EXPECT_EQ(VSystem_Get_Log_Status(LOG_DBG), c.status);
    EXPECT_EQ(MMAP_DB()->system_block->log_switch_first[LOG_DBG], c.console ? 1 : 0);
    EXPECT_EQ(MMAP_DB()->system_block->log_switch_second[LOG_DBG], c.file ? 1 : 0);
    d::ConsoleCapture capture;
    VSystem_Log(LOG_DBG, "status %d", c.status);
    VGui_Err_Log(nullptr, "gui");  // ignores the switches
    std::vector<std::string> expected;
    const std::string text = "[DBG] [PM1_PUMP] status " + std::to_string(c.status);
    if (c.console) expected.push_back("console 31 " + text);
    if (c.file) expected.push_back("system.log " + text);
    expected.push_back("console 12 [ERR] [PM1_PUMP] gui");
    expected.push_back("gui_error.log [ERR] [PM1_PUMP] gui");
    EXPECT_EQ(described(capture), expected);
  }
  // Other categories kept their switches; only LOG_DBG changed.
  EXPECT_EQ(VSystem_Get_Log_Status(LOG_ERR), LOG_STATUS_BOTH);
  const std::string text = read(today("system.log"));
  EXPECT_EQ(text.find("status 0"), std::string::npos);
  EXPECT_EQ(text.find("status 2"), std::string::npos);
  EXPECT_NE(text.find(" [DBG] [PM1_PUMP] status 1\n"), std::string::npos);
  EXPECT_NE(text.find(" [DBG] [PM1_PUMP] status 3\n"), std::string::npos);
  capture.clear();
  for (int t = 0; t < 6; ++t) VSystem_Log(static_cast<LOG_TYPE>(t), "t%d", t);
  std::vector<std::string> console;
  for (const auto& l : capture.console_lines())
    console.push_back(std::to_string(l.attribute) + " " + l.tag + " " + l.text);
  EXPECT_EQ(console, (std::vector<std::string>{"224 [ALM] t0", "79 [ERR] t1", "31 [DBG] t2",
                                               "223 [CIM] t3", "176 [EVT] t4", "112 [VIR] t5"}));
  capture.clear();
  for (int t : {6, 7, -1, 8, 1000000}) {
    VSystem_Log(static_cast<LOG_TYPE>(t), "none");
    VSystem_Log("S", static_cast<LOG_TYPE>(t), "none");
    VDriver_Log("S", static_cast<LOG_TYPE>(t), "none");
    VSystem_Set_Log_Status(static_cast<LOG_TYPE>(t), LOG_STATUS_BOTH);
  }
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_EQ(VSystem_Get_Log_Status(static_cast<LOG_TYPE>(1000000)), LOG_STATUS_OFF);
  EXPECT_EQ(VSystem_Get_Log_Status(static_cast<LOG_TYPE>(-5)), LOG_STATUS_OFF);
  // Bytes 6 and 7 of the switches exist and can be set; nothing beyond them was touched.
  EXPECT_EQ(VSystem_Get_Log_Status(static_cast<LOG_TYPE>(7)), LOG_STATUS_BOTH);
  EXPECT_EQ(MMAP_DB()->system_block->cm_count, 0);
}

TEST_F(Logging, DailyFolderFollowsTheHistoryPathAndTheDate) {
  char folder[256];
  d::format_daily_folder(folder, sizeof folder, "Z:\\History", 2025, 3, 5);
  EXPECT_STREQ(folder, "Z:\\History\\2025\\03\\05");

  start_pump("D:\\Equip\\Hist");
  EXPECT_STREQ(VSystem_Get_History_Path(), "D:\\Equip\\Hist");
  for (int attempt = 0; attempt < 3; ++attempt) {  // retried only across midnight
    const vexlor::os::LocalTime now = vexlor::os::local_time();
    d::format_daily_folder(folder, sizeof folder, "D:\\Equip\\Hist", now.year, now.month, now.day);
    if (std::string(VSystem_Get_History_Full_Path()) == folder) break;
  }
  EXPECT_STREQ(VSystem_Get_History_Full_Path(), folder);
  VSystem_Log(LOG_ERR, "written %s", "here");
  EXPECT_NE(read(std::string(folder) + "/system.log").find(" [ERR] [PM1_PUMP] written here\n"),
            std::string::npos);
}
