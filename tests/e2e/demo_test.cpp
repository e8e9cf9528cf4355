// The README's main command end to end: the equipment session script against this build.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "support/session_script.h"

namespace {}  // namespace

TEST(Demo, SessionRunsRoutinesUnderTheManagerTakesTheAnswerAndLeavesNothingBehind) {
  char templ[] = "/tmp/vexlor-e2e.XXXXXX";
  const std::string tmp = ::mkdtemp(templ);
  const std::string build = std::filesystem::path(VEXLOR_TOOLS_DIR).parent_path().string();
  int status = -1;
  const std::string out =
      vexlor::test::run_command("cd " VEXLOR_SOURCE_DIR " && NO_COLOR=1 VEXLOR_DEMO_HOST_PORT=" +
                                    vexlor::test::free_loopback_port() + " TMPDIR=" + tmp +
                                    " timeout 120 bash scripts/run_equipment.sh " + build + " 2>&1",
                                &status);
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;

  // The manager started the routines; the process ran its children, told the monitor and
  // the operator, and the operator's Ignore let the refused check request through.
  for (const char* line : {
           "vexlor-manager: routine MAIN_MONITOR served by pid ",
           "[main form] vexlor-panel: main form \"GUI_MAINFORM\" of instance \"demo-",
           "vexlor-manager: routine PM2_PUMP_DOWN served by pid ",
           "[MAIN_MONITOR] event from PM2_PROCESS: PM2_PROCESS START PM2_PUMP_DOWN",
           "[PM2_PROCESS] 上传消息: PM2_PROCESS: PM2_PUMP_DOWN",
           "[PM2_PUMP_DOWN] PM2.RoughValve = Open",
           "[PM2_PUMP_DOWN] pump-down of PM2 finished",
           "[PM2_PROCESS] MAIN_MONITOR已处于SYS_RUNNING运行状态,延时1秒.重试:1/5",
           "800  1      -       SYSTEM_ALARM_800  System alarm(PM2_PROCESS不能调用MAIN_MONITOR "
           "已是SYS_RUNNING运行状态)",
           "alarm 800 answered IGNORE",
           "[PM2_PROCESS] chamber check requested",
           "[PM2_VENT] PM2 is at atmosphere",
           "PM2_PROCESS ended SYS_SUCCESS",
           "== PM2_PROCESS ended with exit status 0",
           "vexlor-manager: routine EAP_ENGINE served by pid ",
           // The wafer's trip: out of LP1, into PM1 (paused once by the operator), home again.
           "[SCHEDULER_INTERFACE_TM1] pick from CM1 slot 1 with arm A",
           "[SCHEDULER_INTERFACE_TM1] place into PM1 slot 1 with arm A",
           "[SCHEDULER_PROCESS_PM1] ( CTC.PM1_PAUSE_FLAG == 0 ) 暂停结束等待.",
           "[SCHEDULER_INTERFACE_TM1] place into CM1 slot 1 with arm A",
           "== SCHEDULER_ENGINE ended with exit status 0",
           "PM1     PM1   1     1      CM1     0       CID01",
           "PM1     PM1   yes      yes    yes      paused  PM1_PUMP_DOWN:SYS_SUCCESS",
           "CM1     LP1   1     1      CM1     0       CID01",
       }) {
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  }
  // The host link journaled the run as the factory host sees it, in order. The alarm feed's two
  // rows come from other processes than the monitor's reports: they may fall anywhere among them.
  EXPECT_TRUE(std::regex_search(
      out, std::regex("PORT_MATERIAL 1\\|1\n.*SUBST_TRACK 5\\|0\\|0\\|CM1\\|1\\|TM1\\|FingerA\n"
                      ".*SUBST_TRACK 6\\|0\\|0\\|TM1\\|FingerA\\|PM1\\|1\n.*PM_STATE 2\\|1\n"
                      ".*PM_STATE 6\\|1\\|1\n.*SUBST_TRACK 8\\|0\\|0\\|PM1\\|1\\|TM1\\|FingerA\n"
                      ".*SUBST_TRACK 7\\|0\\|0\\|TM1\\|FingerA\\|CM1\\|1\n.*PORT_MATERIAL 2\\|1\n"
                      ".*PM2_PROCESS +ok +PM_START +PM_STATE 2\\|2\n"
                      "(.* ALARM_(SET|CLEAR) 800\n){0,2}"
                      ".*MAIN_MONITOR +ok +Report_Alarm_Post +SEND_ALARM_POST 800\n"
                      "(.* ALARM_(SET|CLEAR) 800\n){0,2}"
                      ".*MAIN_MONITOR +ok +Report_Alarm_Clear +SEND_ALARM_CLEAR 800\n"
                      "(.* ALARM_(SET|CLEAR) 800\n){0,2}"
                      ".*PM2_PROCESS +ok +PM_END +PM_STATE 6\\|2\\|1\n")))
      << out;
  // The host link's own alarm reports, from the alarm feed: the post, then the operator's answer.
  EXPECT_TRUE(std::regex_search(out, std::regex("PM2_PROCESS +ok +ALM_PAUSED +ALARM_SET 800\n"
                                                "(.*\n){0,2}.*VEXLOR_CONSOLE +ok +ALM_IGNORE +"
                                                "ALARM_CLEAR 800\n")))
      << out;
  // `vexlor functions` shows the serving processes.
  EXPECT_TRUE(std::regex_search(
      out, std::regex("PM2_PROCESS +SYS_SUCCESS +SYS_AVAILABLE .* configured +[0-9]+ +alive")))
      << out;

  // Nothing is left: no session folder (database, mutexes, endpoints, logs) and no manager.
  EXPECT_TRUE(std::filesystem::is_empty(tmp)) << out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("vexlor-manager running \\(pid ([0-9]+)\\)")));
  EXPECT_NE(::kill(std::stoi(m[1]), 0), 0);
  const std::regex served("served by pid ([0-9]+)");
  int routines = 0;
  for (auto it = std::sregex_iterator(out.begin(), out.end(), served); it != std::sregex_iterator();
       ++it, ++routines) {
    EXPECT_NE(::kill(std::stoi((*it)[1]), 0), 0) << (*it)[0];
  }
  EXPECT_EQ(routines, 10) << out;
  std::filesystem::remove_all(tmp);
}
