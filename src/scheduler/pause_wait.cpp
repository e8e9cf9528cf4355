// The pause waits of transfer and process modules: the operator (or the scheduler) requests a
// pause by writing 1 to the module's pause flag; the routine that waits acknowledges with 2 and
// goes on when the flag is back at 0.
#include <cstdio>

#include "vexlor/frame.h"
#include "vexlor/functions.h"
#include "vexlor/named.h"
#include "vexlor/scheduler/control.h"

namespace vexlor::detail {
namespace {

constexpr double kPollSeconds = 0.01;
constexpr int kAnnounceEvery = 5000;  // polls, about 50 s

// What differs between the two waits.
struct PauseFlag {
  int (*get)(int module);
  bool (*set)(int module, int value);
  bool stops_on_manager_abort;
  bool process_module;  // announces on the module's process message as well
  const char* waiting;  // formats with the module number and the flag
  const char* ended;
  const char* ended_on_stop;
};

const PauseFlag kTransferPause = {
    Vexlor::VIO_Get_CTC_TM_PAUSE_FLAG,
    Vexlor::VIO_Set_CTC_TM_PAUSE_FLAG,
    true,
    false,
    "( CTC.TM%d_PAUSE_FLAG == %d ) 暂停并等待.",
    "( CTC.TM%d_PAUSE_FLAG == %d ) 暂停结束等待.",
    "( CTC.TM%d_PAUSE_FLAG == %d ) 暂停结束等待（退出）.",
};

const PauseFlag kProcessPause = {
    Vexlor::VIO_Get_CTC_PM_PAUSE_FLAG,
    Vexlor::VIO_Set_CTC_PM_PAUSE_FLAG,
    false,
    true,
    "( CTC.PM%d_PAUSE_FLAG == %d ) 暂停并等待.",
    "( CTC.PM%d_PAUSE_FLAG == %d ) 暂停结束等待.",
    "( CTC.PM%d_PAUSE_FLAG == %d ) 暂停结束等待（退出）.",
};

void yellow(const char* text) { Vexlor::VPrint_Yellow(Vexlor::VFunction_Get_Name(), "%s", text); }

// The n-th poll of a pause: the first and every 5000th are announced.
void announce_waiting(const PauseFlag& p, int module, int flag, int n) {
  char text[256];
  std::snprintf(text, sizeof text, p.waiting, module + 1, flag);
  if (p.process_module && n == 1) {
    Vexlor::VIO_Set_PM_Process_MessageF(module, "%s", text);
  } else {
    yellow(text);
  }
}

void announce_end(const PauseFlag& p, int module, int flag, bool go_on) {
  char text[256];
  std::snprintf(text, sizeof text, go_on ? p.ended : p.ended_on_stop, module + 1, flag);
  if (p.process_module) Vexlor::VIO_Set_PM_Process_MessageF(module, "%s", text);
  yellow(text);
}

bool pause_wait(const PauseFlag& p, int module) {
  bool go_on = true, announced = false;
  int flag = 0;
  for (int n = 0;;) {
    if (Vexlor::VFunction_Get_Exit_Flag()) break;
    flag = p.get(module);
    if (flag == 0) break;
    if (flag == 1) p.set(module, 2);  // any other value (2, unreadable) keeps waiting
    if ((p.stops_on_manager_abort && Vexlor::VSystem_Abort_Manager_Get()) ||
        !Vexlor::VTimer_Wait_Seconds(kPollSeconds)) {
      p.set(module, 0);
      go_on = false;
      break;
    }
    ++n;
    if (n < 2 || n % kAnnounceEvery == 0) {
      announce_waiting(p, module, flag, n);
      announced = true;
    }
  }
  if (announced) announce_end(p, module, flag, go_on);
  return go_on;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

bool VSCH_TM_PAUSE_WAIT(int tm) {
  return vexlor::detail::pause_wait(vexlor::detail::kTransferPause, tm);
}

bool VSCH_PM_PAUSE_WAIT(int pm) {
  return vexlor::detail::pause_wait(vexlor::detail::kProcessPause, pm);
}

}  // namespace Vexlor
