// Reading the shared queue of posted alarms: by position, as counts, and as a change check
// against a caller's copy. Position reads and the check hold the alarm mutex, so they never
// see a queue half shifted by an answer.
#include <vexlor/alarms.h>
#include <vexlor/util.h>

#include <algorithm>

#include "alarms/alarm_core.h"
#include "frame/context.h"

namespace vexlor::detail {
namespace {

int32_t queue_count(const Vexlor::MEM_ALARM_QUEUE_STRU& queue) {
  return std::clamp<int32_t>(os::load_relaxed(queue.count), 0, kAlarmQueueSize);
}

// The definition of the alarm at a position; null when the position fails.
const Vexlor::MEM_ALARM_SP_STRU* queued_definition(int position, int* count) {
  int point = -1;
  if (!Vexlor::VAlarm_Queue_Point(position, &point, count)) return nullptr;
  Vexlor::MMAP_STRU* db = alarm_db_quiet(point);
  return db ? &db->alarm_sp[point] : nullptr;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

int VAlarm_Queue_Count() {
  MMAP_STRU* db = d::attached_db();
  return db ? d::queue_count(*db->alarm_queue) : 0;
}

int VAlarm_Queue_Count(int low, int high) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return 0;
  // The walk ends at the first position past the queue; it stays below the alarm count, where
  // a position read would report an index fault.
  const int alarms = db->system_block->alarm_count;
  int matching = 0;
  int point = -1;
  for (int position = 0; position < alarms && VAlarm_Queue_Point(position, &point, nullptr);
       ++position) {
    if (d::alarm_db_quiet(point) == nullptr) continue;
    const int32_t level = db->alarm_sp[point].level;
    if (level >= low && level <= high) ++matching;
  }
  return matching;
}

bool VAlarm_Queue_Point(int position, int* point, int* count) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr || position < 0) return false;
  if (position >= db->system_block->alarm_count) {
    VPrint_Red(d::own_name(), "%s %s = %d , 超限.[代码行:%s:%d]", "Alarm", "Alarm_Queue_Index",
               position, "Vexlor::VAlarm_Queue_Point", __LINE__);
    return false;
  }
  d::AlarmMutexLock lock(*db);
  const MEM_ALARM_QUEUE_STRU& queue = *db->alarm_queue;
  const int32_t queued = d::queue_count(queue);
  const bool found = position < queued;
  if (point) *point = found ? queue.entries[position] : -1;
  if (count) *count = queued;
  return found;
}

bool VAlarm_Queue_ID(int position, int* id, int* count) {
  const MEM_ALARM_SP_STRU* sp = d::queued_definition(position, count);
  if (sp == nullptr) return false;
  if (id) *id = sp->alarm_id;
  return true;
}

bool VAlarm_Queue_Module(int position, int* module_point, int* count) {
  const MEM_ALARM_SP_STRU* sp = d::queued_definition(position, count);
  if (sp == nullptr) return false;
  if (module_point) *module_point = sp->module_point;
  return true;
}

bool VAlarm_Queue_Shape(int position, MEM_ALARM_SP_STRU** record, int* count) {
  const MEM_ALARM_SP_STRU* sp = d::queued_definition(position, count);
  if (sp == nullptr) return false;
  if (record) *record = const_cast<MEM_ALARM_SP_STRU*>(sp);
  return true;
}

bool VAlarm_Queue_Check(std::vector<int>& known, bool* changed, int* severe) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return false;
  if (changed) *changed = false;
  d::AlarmMutexLock lock(*db);
  const MEM_ALARM_QUEUE_STRU& queue = *db->alarm_queue;
  const int32_t queued = d::queue_count(queue);
  if (known.size() == static_cast<std::size_t>(queued)) {
    if (changed && !std::equal(known.begin(), known.end(), queue.entries)) *changed = true;
  } else {
    if (changed) *changed = true;
    known.assign(queue.entries, queue.entries + queued);
  }
  if (severe) {
    for (int32_t i = 0; i < queued; ++i) {
      const int32_t point = queue.entries[i];
      if (d::alarm_db_quiet(point) != nullptr && db->alarm_sp[point].level < 2) ++*severe;
    }
  }
  return true;
}

}  // namespace Vexlor
