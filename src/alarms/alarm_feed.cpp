// The alarm feed's ring. A writer claims the next number, marks its slot incomplete, fills it
// and publishes the number; a reader takes a slot only when its number reads the same before
// and after the copy. The fields are stored with release and loaded with acquire ordering, so a
// reader that sees any field of a newer writer also sees that writer's "incomplete" mark.
#include "alarms/alarm_feed.h"

#include "os/atomic_field.h"

namespace vexlor::detail {
namespace {

uint64_t& last_number(const Vexlor::MMAP_STRU& db) {
  return const_cast<uint64_t&>(image_header(db).alarm_feed_last);
}

AlarmFeedSlot* slots(const Vexlor::MMAP_STRU& db) {
  return static_cast<AlarmFeedSlot*>(
      table_record(const_cast<void*>(image_base(db)), DbTable::AlarmFeed, 0));
}

}  // namespace

void feed_alarm_change(const Vexlor::MMAP_STRU& db, int32_t point, int32_t function) {
  const uint64_t number = os::fetch_add_relaxed(last_number(db), 1) + 1;
  AlarmFeedSlot& slot = slots(db)[number % kAlarmFeedSlots];
  os::store_relaxed(slot.number, uint64_t{0});
  os::store_release(slot.point, point);
  os::store_release(slot.alarm_id, db.alarm_sp[point].alarm_id);
  os::store_release(slot.status, os::load_relaxed(db.alarm_rt[point].status));
  os::store_release(slot.function, function);
  os::store_release(slot.number, number);
}

uint64_t alarm_feed_last(const Vexlor::MMAP_STRU& db) { return os::load_acquire(last_number(db)); }

FeedRead read_alarm_change(const Vexlor::MMAP_STRU& db, uint64_t number, AlarmFeedSlot& out) {
  const AlarmFeedSlot& slot = slots(db)[number % kAlarmFeedSlots];
  const uint64_t before = os::load_acquire(slot.number);
  out.point = os::load_acquire(slot.point);
  out.alarm_id = os::load_acquire(slot.alarm_id);
  out.status = os::load_acquire(slot.status);
  out.function = os::load_acquire(slot.function);
  const uint64_t after = os::load_acquire(slot.number);
  if (before == number && after == number) {
    out.number = number;
    return FeedRead::kReady;
  }
  // A slot being rewritten reads 0 or a mix; what decides is how far the writers have got.
  if (alarm_feed_last(db) >= number + kAlarmFeedSlots) return FeedRead::kOverwritten;
  if (before > number || after > number) return FeedRead::kOverwritten;
  return FeedRead::kNotYet;
}

}  // namespace vexlor::detail
