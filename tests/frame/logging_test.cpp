// Logging: category tags and colours, the two switches, the sources before and after
// start-up, and the daily files written for real.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config/builder.h"
#include "util/console_sink.h"
#include "frame/context.h"
#include "util/paths.h"
#include "os/clock.h"
#include "support/instance.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::config::DatabaseBuilder;
using vexlor::test::PrivateInstance;

namespace {

class Logging : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/vexlor-drive.XXXXXX";
    root_ = ::mkdtemp(templ);
    ::setenv("VEXLOR_DRIVE_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    VHub_Release();
    ::unsetenv("VEXLOR_DRIVE_ROOT");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  // Starts "PM1_PUMP" on a database with history path `history`.
  void start(const char* history = "Z:\\History") {
    DatabaseBuilder b;
    std::snprintf(b.system().history_path, 256, "%s", history);
    b.add_function("PM1_PUMP");
    std::string error;
    ASSERT_TRUE(b.publish(true, "logging_test", &error)) << error;
    ASSERT_TRUE(VHub_Initial("PM1_PUMP"));
  }
  static std::string today(const char* file) {
    return std::string(VSystem_Get_History_Full_Path()) + "/" + file;
  }
  static std::string read(const std::string& system_path) {
    std::ifstream in(d::map_system_path(system_path.c_str()), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  PrivateInstance instance_{"logging"};
  std::string root_;
};

}  // namespace

TEST_F(Logging, BeforeStartUpTheSourceIsUndefinedAndTheDefaultPathIsUsed) {
  d::ConsoleCapture capture;
  VSystem_Log(LOG_DBG, "value %d", 5);
  VDriver_Log("DIO", LOG_EVT, "drv %s", "up");
  VSystem_Log("CALLER", LOG_CIM, "cim");
  VGui_Err_Log("ignored", "gui %d", 1);
  EXPECT_EQ(VSystem_Get_Log_Status(LOG_ALM), LOG_STATUS_SECOND);
  EXPECT_STREQ(VSystem_Get_History_Path(), "Z:\\History");

  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 6u);
  // VSystem_Log: console and file, source "未定义".
  EXPECT_EQ(lines[0].channel, d::LineChannel::kConsole);
  EXPECT_EQ(lines[0].attribute, 31);
  EXPECT_EQ(lines[0].tag, "[DBG]");
  EXPECT_EQ(lines[0].source, "未定义");
  EXPECT_EQ(lines[0].text, "value 5");
  EXPECT_EQ(lines[1].channel, d::LineChannel::kLogFile);
  EXPECT_EQ(lines[1].path, d::map_system_path(today("system.log").c_str()));
  // With a source: the file line only.
  EXPECT_EQ(lines[2].channel, d::LineChannel::kLogFile);
  EXPECT_EQ(lines[2].source, "DIO");
  EXPECT_EQ(lines[2].tag, "[EVT]");
  EXPECT_EQ(lines[2].path, d::map_system_path(today("driver.log").c_str()));
  EXPECT_EQ(lines[3].channel, d::LineChannel::kLogFile);
  EXPECT_EQ(lines[3].source, "CALLER");
  EXPECT_EQ(lines[3].path, d::map_system_path(today("system.log").c_str()));
  // The GUI log: both, colour 12, source "GUI".
  EXPECT_EQ(lines[4].channel, d::LineChannel::kConsole);
  EXPECT_EQ(lines[4].attribute, 12);
  EXPECT_EQ(lines[4].tag, "[ERR]");
  EXPECT_EQ(lines[4].source, "GUI");
  EXPECT_EQ(lines[5].path, d::map_system_path(today("gui_error.log").c_str()));

  const std::string system_log = read(today("system.log"));
  EXPECT_NE(system_log.find(" [DBG] [未定义] value 5\n"), std::string::npos) << system_log;
  EXPECT_NE(system_log.find(" [CIM] [CALLER] cim\n"), std::string::npos);
  EXPECT_NE(read(today("driver.log")).find(" [EVT] [DIO] drv up\n"), std::string::npos);
  EXPECT_NE(read(today("gui_error.log")).find(" [ERR] [GUI] gui 1\n"), std::string::npos);
}

TEST_F(Logging, SwitchesSelectConsoleAndFileAndAreSharedThroughTheSystemBlock) {
  start();
  const std::string file = d::map_system_path(today("system.log").c_str());
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
    EXPECT_EQ(capture.console_lines().size(), c.console ? 1u : 0u);
    auto files = capture.file_lines();
    ASSERT_EQ(files.size(), c.file ? 1u : 0u);
    if (c.file) {
      EXPECT_EQ(files[0].path, file);
      EXPECT_EQ(files[0].source, "PM1_PUMP");
    }
    // The GUI log ignores the switches.
    capture.clear();
    VGui_Err_Log(nullptr, "gui");
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[0].source, "PM1_PUMP");
  }
  // Other categories kept their switches; only LOG_DBG changed.
  EXPECT_EQ(VSystem_Get_Log_Status(LOG_ERR), LOG_STATUS_BOTH);
  const std::string text = read(today("system.log"));
  EXPECT_EQ(text.find("status 0"), std::string::npos);
  EXPECT_EQ(text.find("status 2"), std::string::npos);
  EXPECT_NE(text.find(" [DBG] [PM1_PUMP] status 1\n"), std::string::npos);
  EXPECT_NE(text.find(" [DBG] [PM1_PUMP] status 3\n"), std::string::npos);
}

TEST_F(Logging, TagsColoursAndTypesOutsideTheTable) {
  start();
  d::ConsoleCapture capture;
  const int colours[] = {224, 79, 31, 223, 176, 112};
  const char* tags[] = {"[ALM]", "[ERR]", "[DBG]", "[CIM]", "[EVT]", "[VIR]"};
  for (int t = 0; t < 6; ++t) VSystem_Log(static_cast<LOG_TYPE>(t), "t%d", t);
  auto console = capture.console_lines();
  ASSERT_EQ(console.size(), 6u);
  for (int t = 0; t < 6; ++t) {
    EXPECT_EQ(console[t].attribute, colours[t]);
    EXPECT_EQ(console[t].tag, tags[t]);
    EXPECT_EQ(console[t].text, "t" + std::to_string(t));
  }
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
  EXPECT_EQ(std::string(folder) + "/system.log", "Z:\\History\\2025\\03\\05/system.log");

  start("D:\\Equip\\Hist");
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
