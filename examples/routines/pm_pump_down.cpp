// PM pump-down: a small routine to copy when writing a new one.
//
// It serves one of the configured functions (PM2_PUMP_DOWN by default). Each run closes the
// vent valve, starts the pump, opens the rough valve and sets the pressure setpoint with the
// supervised writes, then reads everything back. When a write fails - its driver offline,
// say - the supervised write manages the alarm given here and waits for the operator:
// Retry writes again, Ignore goes on, Abort ends the run with SYS_ABORTED.
//
//   pm_pump_down [ROUTINE [MODULE]]      e.g. pm_pump_down PM2_PUMP_DOWN PM2
// The sequence manager starts it (the `command` of the function in the configuration); it
// serves runs until it is told to exit.
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

#include <cstdio>
#include <string>

using namespace Vexlor;

namespace {

// Finds a point of the module by its short name, e.g. "PM2" + ".RoughValve".
int point_of(const std::string& module, const char* item, IO_TYPE type) {
  int point = -1;
  VIO_Find_Point(&point, type, (module + item).c_str());
  return point;
}

// The routine's steps; false when the operator aborted.
bool pump_down(const char* me, const std::string& module) {
  const int vent = point_of(module, ".VentValve", IO_D);
  const int pump = point_of(module, ".Pump", IO_D);
  const int rough = point_of(module, ".RoughValve", IO_D);
  const int setpoint = point_of(module, ".Pressure_Setpoint", IO_A);
  int valve_alarm = -1;  // "<module>_VALVE_FAIL", number 8 of the module's alarms
  VAlarm_Find_Point(&valve_alarm, module.c_str(), 8);

  struct Step {
    const char* what;
    int point;
    int value;
  } steps[] = {{"close the vent valve", vent, 0},
               {"start the pump", pump, 1},
               {"open the rough valve", rough, 1}};
  for (const Step& step : steps) {
    VPrint(me, "%s", step.what);
    if (VDigital_Write_True(step.point, step.value, valve_alarm,
                            ": pump-down step failed|：抽真空步骤失败") == SYS_ABORTED) {
      VPrint_Red(me, "%s: aborted by the operator", step.what);
      return false;
    }
  }
  VPrint(me, "set the pressure setpoint to 0.05 Torr");
  if (VAnalog_Write_True(setpoint, 0.05, valve_alarm,
                         ": pressure setpoint refused|：压力设定失败") == SYS_ABORTED) {
    return false;
  }

  // Read back what the equipment now holds, as the operator would see it.
  char text[64];
  for (int point : {vent, pump, rough}) {
    if (VDigital_Read_Str(point, text)) VPrint(me, "%s = %s", VDigital_Get_Name(point), text);
  }
  if (VAnalog_Read_Str(setpoint, text)) {
    VPrint(me, "%s = %s %s", VAnalog_Get_Name(setpoint), text, VAnalog_Get_Unit(setpoint));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* routine = argc > 1 ? argv[1] : "PM2_PUMP_DOWN";
  const std::string module = argc > 2 ? argv[2] : "PM2";
  vexlor::routine::Handlers handlers;
  handlers.run = [&](const vexlor::routine::Run&) {
    const bool done = pump_down(routine, module);
    VSystem_Log(done ? LOG_EVT : LOG_ERR, "pump-down of %s %s", module.c_str(),
                done ? "finished" : "aborted");
    VPrint(routine, "pump-down of %s %s", module.c_str(), done ? "finished" : "aborted");
    return done ? SYS_SUCCESS : SYS_ABORTED;
  };
  const int status = vexlor::routine::serve(routine, handlers);
  if (status != 0) std::fprintf(stderr, "%s: cannot start (is the equipment database created?)\n", routine);
  return status;
}
