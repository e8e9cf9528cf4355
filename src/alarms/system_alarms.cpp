// System alarms: faults the library detects itself are posted or managed on the first free
// alarm of the pool of alarm IDs 800 to 898, with the fault's texts as the append.
#include <vexlor/alarms.h>
#include <vexlor/frame.h>

#include <string>

#include "alarms/alarm_core.h"
#include "frame/context.h"

namespace vexlor::detail {
namespace {

constexpr int kFirstSystemAlarm = 800;
constexpr int kLastSystemAlarm = 898;

// The texts of one raise: joined part by part for the append, and blank-separated for the log
// lines ("%s", "%s %s", ... of the texts).
struct SystemTexts {
  SystemTexts(const char* a, const char* b, const char* c, const char* d, int count) {
    const char* texts[] = {a, b, c, d};
    for (int i = 0; i < count; ++i) {
      if (i > 0) shown += ' ';
      shown += texts[i] ? texts[i] : "";
    }
    switch (count) {
      case 1:
        append = a;  // one text is posted as it is
        break;
      case 2:
        Vexlor::VStr_Strcat_Alarm_Append_Text(joined, a, b);
        break;
      case 3:
        Vexlor::VStr_Strcat_Alarm_Append_Text(joined, a, b, c);
        break;
      default:
        Vexlor::VStr_Strcat_Alarm_Append_Text(joined, a, b, c, d);
        break;
    }
  }
  SystemTexts(const SystemTexts&) = delete;
  SystemTexts& operator=(const SystemTexts&) = delete;
  std::string shown;
  char joined[kAlarmTextSize] = {};
  const char* append = joined;
};

// Posts (manage false) or manages the first free system alarm. The result is the post's
// (1/0) or the answer; failures give 0 or ALM_ABORT.
int32_t raise_system_alarm(bool manage, const char* file, int line, const SystemTexts& texts) {
  const int32_t failure = manage ? Vexlor::ALM_ABORT : 0;
  if (attached_db() == nullptr) return failure;
  const char* where = file ? file : "";
  for (int id = kFirstSystemAlarm; id <= kLastSystemAlarm; ++id) {
    int point = -1;
    if (!Vexlor::VAlarm_Find_Point(&point, id)) {
      Vexlor::VSystem_Log(Vexlor::LOG_ERR, "系统产生报警ID:%d, 但未配置.报警信息:%s.[代码行:%s:%d]",
                          id, texts.shown.c_str(), where, line);
      return failure;
    }
    if (Vexlor::VAlarm_Status(point) == Vexlor::ALM_PAUSED) continue;
    return manage ? Vexlor::VAlarm_Manage_Here(point, file, line, texts.append)
                  : (Vexlor::VAlarm_Post_Here(point, file, line, texts.append) ? 1 : 0);
  }
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "系统产生报警, 但缓存已满.报警信息:%s.[代码行:%s:%d]",
                      texts.shown.c_str(), where, line);
  return failure;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VSystem_Alarm_Post(const char* file, int line, const char* a) {
  return d::raise_system_alarm(false, file, line, d::SystemTexts(a, nullptr, nullptr, nullptr, 1));
}
bool VSystem_Alarm_Post(const char* file, int line, const char* a, const char* b) {
  return d::raise_system_alarm(false, file, line, d::SystemTexts(a, b, nullptr, nullptr, 2));
}
bool VSystem_Alarm_Post(const char* file, int line, const char* a, const char* b, const char* c) {
  return d::raise_system_alarm(false, file, line, d::SystemTexts(a, b, c, nullptr, 3));
}
bool VSystem_Alarm_Post(const char* file, int line, const char* a, const char* b, const char* c,
                        const char* d) {
  return vexlor::detail::raise_system_alarm(false, file, line,
                                            vexlor::detail::SystemTexts(a, b, c, d, 4));
}

ALARM_STYLE VSystem_Alarm_Manage(const char* file, int line, const char* a) {
  return static_cast<ALARM_STYLE>(
      d::raise_system_alarm(true, file, line, d::SystemTexts(a, nullptr, nullptr, nullptr, 1)));
}
ALARM_STYLE VSystem_Alarm_Manage(const char* file, int line, const char* a, const char* b) {
  return static_cast<ALARM_STYLE>(
      d::raise_system_alarm(true, file, line, d::SystemTexts(a, b, nullptr, nullptr, 2)));
}
ALARM_STYLE VSystem_Alarm_Manage(const char* file, int line, const char* a, const char* b,
                                 const char* c) {
  return static_cast<ALARM_STYLE>(
      d::raise_system_alarm(true, file, line, d::SystemTexts(a, b, c, nullptr, 3)));
}
ALARM_STYLE VSystem_Alarm_Manage(const char* file, int line, const char* a, const char* b,
                                 const char* c, const char* d) {
  return static_cast<ALARM_STYLE>(vexlor::detail::raise_system_alarm(
      true, file, line, vexlor::detail::SystemTexts(a, b, c, d, 4)));
}

}  // namespace Vexlor
