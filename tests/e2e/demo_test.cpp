// The README's main command end to end: the equipment session script against this build.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

namespace {

std::string run(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *status = ::pclose(pipe);
  return out;
}

}  // namespace

TEST(Demo, SessionPostsTheAlarmTakesTheAnswerAndLeavesNothingBehind) {
  char templ[] = "/tmp/vexlor-e2e.XXXXXX";
  const std::string tmp = ::mkdtemp(templ);
  const std::string build = std::filesystem::path(VEXLOR_TOOLS_DIR).parent_path().string();
  int status = -1;
  const std::string out = run("cd " VEXLOR_SOURCE_DIR " && NO_COLOR=1 TMPDIR=" + tmp +
                                  " timeout 120 bash scripts/run_equipment.sh " + build + " 2>&1",
                              &status);
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;

  // The alarm as the operator listed it, the answer, and the routine finishing.
  EXPECT_NE(out.find("6008  1      PM2     PM2_VALVE_FAIL  Valve did not reach its "
                     "position(PM2.VentValve: pump-down step failed)"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("alarm 6008 answered RETRY"), std::string::npos) << out;
  EXPECT_NE(out.find("[PM2_PUMP_DOWN] PM2.RoughValve = Open"), std::string::npos) << out;
  EXPECT_NE(out.find("[PM2_PUMP_DOWN] pump-down of PM2 finished"), std::string::npos) << out;
  EXPECT_NE(out.find("== PM2_PUMP_DOWN ended with exit status 0"), std::string::npos) << out;
  EXPECT_NE(out.find("no alarms posted"), std::string::npos) << out;

  // Nothing is left: no session folder (database, mutexes, endpoints, logs) and no manager.
  EXPECT_TRUE(std::filesystem::is_empty(tmp)) << out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex("vexlor-manager running \\(pid ([0-9]+)\\)")));
  EXPECT_NE(::kill(std::stoi(m[1]), 0), 0);
  std::filesystem::remove_all(tmp);
}
