// `vexlor gui` as a real child process: it takes the main-form slot and its start lock, shows
// every command of the GUI bridge as one line (JSON and text), answers SHOW/HIDE and ends on
// an exit request, its exit flag or --count, leaving the slot SYS_KILLED.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "config/builder.h"
#include "fifo/manager_process.h"
#include "support/instance.h"
#include "util/console_sink.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
namespace d = vexlor::detail;

namespace vexlor::test {
namespace {

constexpr char kConsole[] = VEXLOR_TOOLS_DIR "/vexlor";
constexpr int kN = 1;  // the main-form slot

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class GuiConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    config::DatabaseBuilder b;
    b.add_function("ROUTINE");
    std::string error;
    ASSERT_TRUE(b.publish(true, "gui_test", &error)) << error;
    ASSERT_TRUE(VHub_Initial("ROUTINE"));
    ASSERT_TRUE(manager_.start({"--no-gui"}));
  }
  void TearDown() override {
    if (gui_ > 0) wait_child(gui_, 1);
    VHub_Release();
  }

  // Starts `vexlor ARGS...` in the background, its stdout into a file, and waits until it runs.
  bool start_gui(const std::vector<std::string>& args) {
    gui_ = spawn_child([&] {
      ::dup2(::open(out_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      std::vector<char*> argv{const_cast<char*>(kConsole)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      return ::execv(kConsole, argv.data()), 127;
    });
    return wait_until([] { return VFunction_Get_Run_Status(kN) == SYS_RUNNING; }, 20);
  }
  int finish_gui() {
    const int code = wait_child(gui_, 20);
    gui_ = -1;
    return code;
  }
  std::string out_path() const { return instance_.runtime_dir() + "/gui-out.txt"; }

  PrivateInstance instance_{"guicon"};
  ManagerProcess manager_;
  pid_t gui_ = -1;
};

}  // namespace

TEST_F(GuiConsole, ShowsEachCommandAsAJsonLineAndEndsOnExit) {
  ASSERT_TRUE(start_gui({"gui", "--json", "--count", "20"}));
  // A second main form is refused while this one runs: the tool, and a routine starting
  // under the main form's name.
  const ToolRun second = run_tool(kConsole, {"gui"}, instance_.runtime_dir());
  EXPECT_EQ(second.code, 1);
  EXPECT_EQ(second.err, "vexlor: the main form \"GUI_MAINFORM\" of instance \"" + instance_.name() +
                            "\" is already running\n");
  {
    d::ConsoleCapture capture;
    EXPECT_FALSE(VHub_Initial("GUI_MAINFORM"));
    ASSERT_EQ(capture.file_lines().size(), 1u);
    EXPECT_EQ(capture.file_lines()[0].text,
              "VHub_Initial 检测已启动,处于锁禁状态, 不能再启动,请排查锁禁文件是否异常.");
  }
  ASSERT_TRUE(VHub_Initial("ROUTINE"));

  std::vector<std::string> none, three = {"a", "b", "c"};
  VFunction_Set_Parent_Points("4");  // the exit request carries it
  // The last record is not the list form: no fields. The exit goes through the manager.
  EXPECT_EQ((std::vector<bool>{VGui_MainForm_Hide(), VGui_Display_Message("Pump \"down\" done"),
                               VGui_Send_EventF("SLOT_%02d", 7), VGui_Send_Record("r", none),
                               VGui_Send_Record("r", three), VGui_Send_Record("2|a"),
                               VGui_MainForm_Show(), VGui_MainForm_Exit()}),
            std::vector<bool>(8, true));
  EXPECT_EQ(finish_gui(), 0);

  const std::regex stamp(R"(^\{"time":"\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}",)");
  std::vector<std::string> shown;
  for (const std::string& line : lines_of(slurp(out_path()))) {
    EXPECT_TRUE(std::regex_search(line, stamp)) << line;
    shown.push_back(std::regex_replace(line, stamp, "{"));
  }
  const std::string from = R"("sender":"ROUTINE",)";
  EXPECT_EQ(shown,
            (std::vector<std::string>{
                R"({"command":"HIDE",)" + from + R"("text":"","visible":false})",
                R"({"command":"MESSAGE",)" + from + R"("text":"Pump \"down\" done"})",
                R"({"command":"EVENT",)" + from + R"("text":"SLOT_07"})",
                R"({"command":"RECORD",)" + from + R"("text":"0|","fields":[]})",
                R"({"command":"RECORD",)" + from + R"("text":"3|a,b,c","fields":["a","b","c"]})",
                R"({"command":"RECORD",)" + from + R"("text":"2|a"})",
                R"({"command":"SHOW",)" + from + R"("text":"","visible":true})",
                R"({"command":"EXIT",)" + from + R"("text":"0&4"})"}));
  EXPECT_EQ(manager_.record(),
            std::vector<std::string>{
                "FunctionExit function=GUI_MAINFORM param=- argument=0&4 sender=ROUTINE"});

  // Gone: the slot is SYS_KILLED, messages are skipped, and the start lock is free again.
  EXPECT_EQ(VFunction_Get_Run_Status(kN), SYS_KILLED);
  EXPECT_FALSE(VFunction_Check_Locker(kN));
  d::ConsoleCapture capture;
  EXPECT_FALSE(VGui_Display_Message("late"));
  EXPECT_TRUE(VGui_MainForm_Exit());
}

TEST_F(GuiConsole, TextLinesUntilCountOrExitFlagAndNoneBesideAGuiServingManager) {
  ASSERT_TRUE(start_gui({"gui", "--count", "2"}));
  EXPECT_TRUE(VGui_Display_Message("line\nbreak"));
  EXPECT_TRUE(VGui_Send_Event("E1"));
  EXPECT_EQ(finish_gui(), 0);
  {
    d::ConsoleCapture capture;  // the count was reached: the main form has gone
    EXPECT_FALSE(VGui_Send_Event("E2"));
    EXPECT_EQ(capture.file_lines().size(), 1u);
  }
  const std::vector<std::string> lines = lines_of(slurp(out_path()));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "main form \"GUI_MAINFORM\" of instance \"" + instance_.name() +
                          "\": showing commands (2), Ctrl-C to stop");
  const std::regex stamp(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}  )");
  EXPECT_EQ(std::regex_replace(lines[1], stamp, ""), "MESSAGE  [ROUTINE]  line\\nbreak");
  EXPECT_EQ(std::regex_replace(lines[2], stamp, ""), "EVENT    [ROUTINE]  E1");

  // The exit flag of the slot ends an unlimited main form too.
  ASSERT_TRUE(start_gui({"gui", "--json"}));
  VFunction_Set_Exit_Flag(kN, true);
  EXPECT_EQ(finish_gui(), 0);
  EXPECT_EQ(slurp(out_path()), "");
  EXPECT_EQ(VFunction_Get_Run_Status(kN), SYS_KILLED);

  // A manager serving the GUI endpoint itself: the main form is refused and leaves no trace.
  ASSERT_EQ(manager_.stop(), 0);
  ASSERT_TRUE(manager_.start());  // serves the GUI endpoint itself
  const ToolRun run = run_tool(kConsole, {"gui"}, instance_.runtime_dir());
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "vexlor: the GUI endpoint of instance \"" + instance_.name() +
                         "\" is served by another process (a vexlor-manager without --no-gui?)\n");
  EXPECT_EQ(VFunction_Get_Run_Status(kN), SYS_KILLED);
  EXPECT_FALSE(VFunction_Check_Locker(kN));  // the refused main form left no lock
}

}  // namespace vexlor::test
