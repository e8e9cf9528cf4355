// The routine of the panel's browser test: it tells the operator it starts, posts alarm 5001
// and waits for the answer; after Retry it writes PM1.Pressure and says so. Prints each step on
// stdout for the test to follow; exit status 0 after Retry.
#include <vexlor/vexlor.h>

#include <cstdio>

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each step reaches the test as it is printed
  if (!Vexlor::VHub_Initial("PANEL_ROUTINE")) return 2;
  Vexlor::VGui_Display_Message("PANEL_ROUTINE: pumping down 抽真空");
  int alarm = -1;
  Vexlor::VAlarm_Find_Point(&alarm, 5001);
  Vexlor::VAlarm_Post(alarm, "");
  std::printf("posted\n");
  const Vexlor::ALARM_STYLE answer = Vexlor::VAlarm_Manage(alarm, "");
  std::printf("answer %d\n", static_cast<int>(answer));
  if (answer != Vexlor::ALM_RETRY) {
    Vexlor::VHub_Release();
    return 1;
  }
  if (!Vexlor::VAnalog_Write("PM1.Pressure", 0.05)) return 3;
  Vexlor::VGui_Display_Message("PANEL_ROUTINE: base pressure reached");
  std::printf("done\n");
  Vexlor::VHub_Release();
  return 0;
}
