// Repair after a dead holder of the alarm mutex: a routine killed inside a post or an answer
// leaves the shared records as far as it got. The next holder (it takes the mutex abandoned)
// writes the log row the dead one could not and makes the queue list exactly the posted
// alarms, so the operator sees every posted alarm and can clear every alarm shown.
#include <vexlor/alarms.h>
#include <vexlor/frame.h>

#include <algorithm>
#include <vector>

#include "alarms/alarm_core.h"
#include "alarms/alarm_feed.h"
#include "frame/vdb_alarm_log.h"

namespace vexlor::detail {
namespace {

// The row the dead holder owed for its recorded change, written unless it is the alarm's last
// row already (the holder may have died after the row but before clearing its record).
void complete_change(const Vexlor::MMAP_STRU& db, int32_t alarm_count) {
  AlarmIntent& intent = alarm_intent(db);
  const int32_t step = os::load_relaxed(intent.step);
  const int32_t point = os::load_relaxed(intent.point);
  os::store_relaxed(intent.step, kAlarmIdle);
  if (step == kAlarmIdle || point < 0 || point >= alarm_count) return;
  Vexlor::MEM_ALARM_RT_STRU& rt = db.alarm_rt[point];
  const int32_t status = read_status(rt);
  bool with_answer = false;
  if (step == kAlarmPosting) {
    if (status != Vexlor::ALM_PAUSED) return;  // died before the post took effect
  } else if (step == kAlarmAnswering) {
    if (status == Vexlor::ALM_PAUSED) {
      rt.clear_time[0] = '\0';  // died before the answer took effect: still posted
      return;
    }
    with_answer = true;
  } else {
    return;
  }
  Vexlor::AlarmLog_Item item;
  fill_log_item(db, point, with_answer, item);
  const std::string table = Vexlor::VDB_New_Log_Table_Name();
  if (alarm_log_ends_with(table.c_str(), item)) return;
  const Vexlor::MEM_ALARM_SP_STRU& sp = db.alarm_sp[point];
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "报警互斥量被遗弃,补写报警日志:%s:%d->%s", sp.name,
                      sp.alarm_id, alarm_style_name(status));
  write_log_item(item);
  feed_alarm_change(db, point, os::load_relaxed(rt.function_point));
}

// Rebuilds the queue from the posted statuses, keeping the order of the entries that stay.
void check_queue(const Vexlor::MMAP_STRU& db, int32_t alarm_count) {
  Vexlor::MEM_ALARM_QUEUE_STRU& queue = *db.alarm_queue;
  const int32_t count = std::clamp<int32_t>(os::load_relaxed(queue.count), 0, kAlarmQueueSize);
  std::vector<char> listed(static_cast<std::size_t>(alarm_count), 0);
  std::vector<int32_t> kept;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t point = queue.entries[i];
    if (point < 0 || point >= alarm_count || listed[point] != 0) continue;
    if (read_status(db.alarm_rt[point]) != Vexlor::ALM_PAUSED) continue;
    listed[point] = 1;
    kept.push_back(point);
  }
  const int32_t removed = count - static_cast<int32_t>(kept.size());
  int32_t added = 0;
  for (int32_t point = 0; point < alarm_count; ++point) {
    if (listed[point] != 0 || read_status(db.alarm_rt[point]) != Vexlor::ALM_PAUSED) continue;
    if (static_cast<int32_t>(kept.size()) == kAlarmQueueSize) kept.pop_back();  // as a full post
    kept.push_back(point);
    ++added;
  }
  const int32_t now = static_cast<int32_t>(kept.size());
  // Entries first, then the count; a count that shrinks first never covers a stale entry.
  if (now < count) os::store_relaxed(queue.count, now);
  for (int32_t i = 0; i < now; ++i) queue.entries[i] = kept[i];
  for (int32_t i = now; i < count; ++i) queue.entries[i] = -1;
  os::store_relaxed(queue.count, now);
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "报警互斥量被遗弃,已检查报警队列:移除%d个,补入%d个,现有%d个",
                      removed, added, now);
}

}  // namespace

void repair_alarms(const Vexlor::MMAP_STRU& db) {
  const int32_t alarms = bounded_count(db, DbTable::AlarmRuntime, db.system_block->alarm_count);
  complete_change(db, alarms);
  check_queue(db, alarms);
}

}  // namespace vexlor::detail
