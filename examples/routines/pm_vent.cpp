// PM vent: brings a process module back to atmosphere. Serves PM2_VENT by default.
//
//   pm_vent [ROUTINE [MODULE]]      e.g. pm_vent PM2_VENT PM2
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

#include <string>

using namespace Vexlor;

int main(int argc, char** argv) {
  const char* routine = argc > 1 ? argv[1] : "PM2_VENT";
  const std::string module = argc > 2 ? argv[2] : "PM2";
  vexlor::routine::Handlers handlers;
  handlers.run = [&](const vexlor::routine::Run& run) {
    VPrint(routine, "venting %s (run parameter %s)", module.c_str(), run.param.c_str());
    for (const char* item : {".RoughValve", ".Pump"}) {
      VIO_Write((module + item).c_str(), "0", false);
    }
    VIO_Write((module + ".VentValve").c_str(), "1", false);
    if (!VTimer_Wait_Seconds(0.5)) return SYS_ABORTED;  // the chamber fills
    VPrint(routine, "%s is at atmosphere", module.c_str());
    return SYS_SUCCESS;
  };
  return vexlor::routine::serve(routine, handlers);
}
