// Answering alarms: VAlarm_Handle and its shorthands, the status and the post type, and
// their forms by alarm ID.
#include <vexlor/alarms.h>
#include <vexlor/frame.h>

#include <algorithm>

#include "alarms/alarm_core.h"
#include "alarms/alarm_feed.h"
#include "frame/context.h"
#include "frame/index_check.h"
#include "util/text.h"

namespace vexlor::detail {
namespace {

// Takes the alarm out of the queue: later entries move up, the count drops, then the freed
// last entry becomes -1 (the count never covers it). A holder dying mid-shift leaves at
// worst a duplicate entry, which repair_alarms drops.
void dequeue(Vexlor::MEM_ALARM_QUEUE_STRU& queue, int32_t point) {
  const int32_t count = std::clamp<int32_t>(os::load_relaxed(queue.count), 0, kAlarmQueueSize);
  for (int32_t i = 0; i < count; ++i) {
    if (queue.entries[i] != point) continue;
    std::copy(queue.entries + i + 1, queue.entries + count, queue.entries + i);
    os::store_relaxed(queue.count, count - 1);
    queue.entries[count - 1] = -1;
    return;
  }
}

}  // namespace

bool answer_alarm(Vexlor::MMAP_STRU& db, int32_t point, Vexlor::ALARM_STYLE answer,
                  int32_t function, bool* answered_now) {
  if (answered_now) *answered_now = false;
  if (point < 0 ||
      point >= bounded_count(db, DbTable::AlarmRuntime, db.system_block->alarm_count) ||
      answer == Vexlor::ALM_PAUSED) {
    return false;
  }
  Vexlor::MEM_ALARM_RT_STRU& rt = db.alarm_rt[point];
  if (read_status(rt) != Vexlor::ALM_PAUSED) return true;
  Vexlor::AlarmLog_Item item;
  {
    AlarmMutexLock lock(db);
    // Another process may have answered it while this one waited for the mutex: one answer,
    // one row.
    if (read_status(rt) != Vexlor::ALM_PAUSED) return true;
    // Who and when, then the status that answers it, then the queue entry goes (before the
    // slow row, so an answered alarm never stays listed), then the row and the feed's change.
    // repair_alarms supplies what a holder dying on the way could not.
    AlarmIntent& intent = alarm_intent(db);
    if (lock.held()) {
      os::store_relaxed(intent.point, point);
      os::store_relaxed(intent.step, kAlarmAnswering);
    }
    os::store_relaxed(rt.function_point, function);
    copy_text(rt.clear_time, Vexlor::VStr_Get_DateTime2());
    os::store_relaxed(rt.status, static_cast<int32_t>(answer));
    dequeue(*db.alarm_queue, point);
    fill_log_item(db, point, true, item);
    write_log_row(item);
    feed_alarm_change(db, point, function);
    if (lock.held()) os::store_relaxed(intent.step, kAlarmIdle);
  }
  log_row_line(item);
  os::store_relaxed(rt.post_type, 0);
  if (answered_now) *answered_now = true;
  return true;
}

}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VAlarm_Handle(int point, ALARM_STYLE answer) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  if (db == nullptr) return false;
  if (answer == ALM_PAUSED) return false;
  bool answered_now = false;
  if (!d::answer_alarm(*db, point, answer, d::context()->own_index, &answered_now)) return false;
  return !answered_now || d::send_alarm_notice(point, "W2");
}

bool VAlarm_Clear(int point) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  if (db == nullptr) return false;
  if (d::read_status(db->alarm_rt[point]) != ALM_PAUSED) return true;
  return VAlarm_Handle(point, ALM_CLEAR);
}

bool VAlarm_Retry(int point) { return VAlarm_Handle(point, ALM_RETRY); }
bool VAlarm_Abort(int point) { return VAlarm_Handle(point, ALM_ABORT); }
bool VAlarm_Ignore(int point) { return VAlarm_Handle(point, ALM_IGNORE); }

ALARM_STYLE VAlarm_Status(int point) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  return db ? static_cast<ALARM_STYLE>(d::read_status(db->alarm_rt[point])) : ALM_ABORT;
}

bool VAlarm_Set_Post_Type(int point, int type) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  if (db == nullptr) return false;
  vexlor::os::store_relaxed(db->alarm_rt[point].post_type, type);
  return true;
}

// ---- By alarm ID -----------------------------------------------------------------------

bool VAlarm_ID_Handle(int id, ALARM_STYLE answer) {
  int point = -1;
  return VAlarm_Find_Point(&point, id) && VAlarm_Handle(point, answer);
}

bool VAlarm_ID_Clear(int id) {
  int point = -1;
  return VAlarm_Find_Point(&point, id) && VAlarm_Clear(point);
}

bool VAlarm_ID_Retry(int id) { return VAlarm_ID_Handle(id, ALM_RETRY); }
bool VAlarm_ID_Abort(int id) { return VAlarm_ID_Handle(id, ALM_ABORT); }
bool VAlarm_ID_Ignore(int id) { return VAlarm_ID_Handle(id, ALM_IGNORE); }

ALARM_STYLE VAlarm_ID_Status(int id) {
  int point = -1;
  return VAlarm_Find_Point(&point, id) ? VAlarm_Status(point) : static_cast<ALARM_STYLE>(-1);
}

bool VAlarm_ID_Set_Post_Type(int id, int type) {
  int point = -1;
  return VAlarm_Find_Point(&point, id) && VAlarm_Set_Post_Type(point, type);
}

int VAlarm_ID_Get_Post_Type(int id) {
  int point = -1;
  return VAlarm_Find_Point(&point, id) ? VAlarm_Get_Post_Type(point) : 0;
}

}  // namespace Vexlor
