// The GUI bridge: the exact commands the main form receives (as a vexlor-manager serving the
// GUI endpoint records them), the log lines when they cannot be sent, and bad input.
#include <string>
#include <vector>

#include "fifo/manager_process.h"
#include "points/typed_fixture.h"
#include "util/text.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::test::ManagerProcess;
using vexlor::test::Texts;

namespace {

constexpr int kN = 2;  // slot 2 is the main form

class GuiBridge : public vexlor::test::EquipmentTest {
 protected:
  void SetUp() override {
    b_.add_function("ROUTINE");
    b_.add_function("OTHER");
    d::copy_text(b_.system().navigation_path, "Y:\\Gui\\Nav.xml");
    start("ROUTINE");
  }

  static void main_form(FUNC_STATUS status) { VFunction_Set_Run_Status(kN, status); }
};

std::string gui(const std::string& command, const std::string& text) {
  return "GuiMainForm command=" + command + " text=" + text + " sender=ROUTINE";
}

// The log-file lines of a capture as "<tag> <text>", line numbers as "N".
Texts logged(const d::ConsoleCapture& capture) {
  Texts out;
  for (const auto& l : capture.file_lines())
    out.push_back(l.tag + " " + vexlor::test::without_line(l.text));
  return out;
}

}  // namespace

TEST_F(GuiBridge, RefusedCommandsAreLoggedThenTheMainFormReceivesTheExactCommands) {
  main_form(SYS_RUNNING);  // running, but nobody serves the GUI endpoint
  Texts fields = {"a", "b"};
  d::ConsoleCapture refused;
  EXPECT_FALSE(VGui_Display_Message("m") || VGui_Send_Event("e") || VGui_Send_Record("r") ||
               VGui_Send_Record("n", fields) || VGui_MainForm_Show() || VGui_MainForm_Hide() ||
               VGui_MainForm_Restart() || VGui_MainForm_Exit());
  EXPECT_EQ(logged(refused),
            (Texts{"[ERR] Vexlor::VGui_Display_Message 与GUI_MAINFORM FIFO交互失败 指令:MESSAGE . "
                   "要显示内容为: m",
                   "[ERR] Vexlor::VGui_Send_Event 与GUI_MAINFORM FIFO交互失败 指令:EVENT , e",
                   "[ERR] Vexlor::VGui_Send_Record 与GUI_MAINFORM FIFO交互失败 指令:RECORD . "
                   "要显示内容为: r",
                   "[ERR] Vexlor::VGui_Send_Record 与GUI_MAINFORM FIFO交互失败 指令:RECORD . "
                   "要显示内容为: 2|a,b"}));
  main_form(SYS_KILLED);

  ManagerProcess manager;
  ASSERT_TRUE(manager.start());
  ASSERT_EQ(VFunction_Get_Run_Status(kN), SYS_KILLED);  // until a main form starts
  fields = {"f"};
  {
    d::ConsoleCapture capture;
    EXPECT_FALSE(VGui_Display_Message("x") || VGui_Display_MessageF("%s", "y") ||
                 VGui_Send_Event("x") || VGui_Send_EventF("%d", 1) || VGui_Send_Record("x") ||
                 VGui_Send_Record("n", fields) || VGui_Send_RecordF("%s", "z"));
    EXPECT_TRUE(VGui_MainForm_Exit());  // nothing to close
    const struct {
      const char* command;
      const char* text;
      const char* operation;
    } expected[] = {
        {"MESSAGE", "x", "VGui_Display_Message"}, {"MESSAGE", "y", "VGui_Display_Message"},
        {"EVENT", "x", "VGui_Send_Event"},        {"EVENT", "1", "VGui_Send_Event"},
        {"RECORD", "x", "VGui_Send_Record"},      {"RECORD", "1|f", "VGui_Send_Record"},
        {"RECORD", "z", "VGui_Send_Record"},
    };
    Texts want;
    for (const auto& e : expected) {
      want.push_back(std::string("[ALM] 主界面未启动 , 忽略FIFO接收: <") + e.command + "|" +
                     e.text + "> [代码行:Vexlor::" + e.operation + ":N]");
    }
    EXPECT_EQ(logged(capture), want);
    EXPECT_TRUE(manager.record().empty());
  }

  // Running: the exact commands.
  main_form(SYS_RUNNING);
  Texts no_fields, three = {"a", "b", "c"}, one_empty = {""};
  {
    d::ConsoleCapture capture;
    EXPECT_TRUE(VGui_MainForm_Show() && VGui_MainForm_Hide() &&
                VGui_Display_Message("Pump down done") &&
                VGui_Display_MessageF("step %d of %s", 3, "PM1") && VGui_Send_Event("WAFER_IN") &&
                VGui_Send_EventF("SLOT_%02d", 7) && VGui_Send_Record("raw|text") &&
                VGui_Send_Record("unused", three) && VGui_Send_Record("unused", no_fields) &&
                VGui_Send_Record(nullptr, one_empty) && VGui_Send_RecordF("%d|%s", 1, "x") &&
                VGui_MainForm_Restart() && VGui_MainForm_Exit());
    VFunction_Set_Parent_Points("7&5");
    EXPECT_TRUE(VGui_MainForm_Exit());
    EXPECT_EQ(manager.record(),
              (Texts{gui("SHOW", ""), gui("HIDE", ""), gui("MESSAGE", "Pump down done"),
                     gui("MESSAGE", "step 3 of PM1"), gui("EVENT", "WAFER_IN"),
                     gui("EVENT", "SLOT_07"), gui("RECORD", "raw|text"), gui("RECORD", "3|a,b,c"),
                     gui("RECORD", "0|"), gui("RECORD", "1|"), gui("RECORD", "1|x"),
                     "EngineWriteG kind=$G param=P1 command=W1 index=0 argument=- sender=ROUTINE",
                     "FunctionExit function=GUI_MAINFORM param=- argument=0& sender=ROUTINE",
                     "FunctionExit function=GUI_MAINFORM param=- argument=0&7&5 sender=ROUTINE"}));
    EXPECT_TRUE(capture.lines().empty());
  }

  // Bad input is sent cut or refused.
  const std::string long_text(3000, 'L');
  const char* null_format = nullptr;
  EXPECT_TRUE(VGui_Display_Message(nullptr) && VGui_Send_Event(long_text.c_str()) &&
              VGui_Display_MessageF("%s", long_text.c_str()) && VGui_Send_RecordF(null_format));
  EXPECT_EQ(manager.record(14), (Texts{gui("MESSAGE", ""), gui("EVENT", std::string(1023, 'L')),
                                       gui("MESSAGE", std::string(1023, 'L')), gui("RECORD", "")}));
  EXPECT_STREQ(VGui_Get_Navigation_Full_Path(), "Y:\\Gui\\Nav.xml");

  // Before start-up: nothing is sent, the navigation path is the default.
  VHub_Release();
  d::ConsoleCapture capture;
  fields = {"a"};
  EXPECT_FALSE(VGui_MainForm_Show() || VGui_MainForm_Hide() || VGui_MainForm_Restart() ||
               VGui_MainForm_Exit() || VGui_Display_Message("x") || VGui_Send_EventF("%s", "x") ||
               VGui_Send_Record("n", fields));
  EXPECT_STREQ(VGui_Get_Navigation_Full_Path(), "Z:\\Gui\\Setup\\Navigation.xml");
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_TRUE(manager.record(18).empty());
}
