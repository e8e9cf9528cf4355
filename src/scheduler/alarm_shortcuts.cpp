// The scheduler's alarms by alarm ID: format the text, find the alarm and post or manage it.
#include "points/typed_point.h"
#include "vexlor/alarms.h"
#include "vexlor/frame.h"
#include "vexlor/scheduler/control.h"

namespace vexlor::detail {
namespace {

constexpr std::size_t kAlarmTextSize = 512;

// The alarm point of `id`, or -1 after the log line.
int alarm_of(int id) {
  int point = -1;
  if (Vexlor::VAlarm_Find_Point(&point, id)) return point;
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "AlarmID:%d Cannot Find AlarmPoint.", id);
  return -1;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VSCH_ALARM_POST(int alarm_id, const char* format, ...) {
  VEXLOR_FORMAT_ARGS(text, d::kAlarmTextSize, format);
  const int point = d::alarm_of(alarm_id);
  return point >= 0 && VAlarm_Post(point, text);
}

bool VSCH_ALARM_POST(int alarm_id, const char* position, int position_number, const char* format,
                     ...) {
  VEXLOR_FORMAT_ARGS(text, d::kAlarmTextSize, format);
  const int point = d::alarm_of(alarm_id);
  return point >= 0 && VAlarm_Post_Here(point, position, position_number, text);
}

ALARM_STYLE VSCH_ERROR_HANDLER(int alarm_id, const char* format, ...) {
  VEXLOR_FORMAT_ARGS(text, d::kAlarmTextSize, format);
  const int point = d::alarm_of(alarm_id);
  return point < 0 ? ALM_ABORT : VAlarm_Manage_Free(point, text);
}

}  // namespace Vexlor
