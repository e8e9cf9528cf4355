// AlarmFeed: a routine's reader of the alarm feed (alarms/alarm_feed.h).
#include "alarms/alarm_feed.h"

#include <vexlor/frame.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "vexlor/routine.h"

namespace vexlor::routine {
namespace {

namespace d = vexlor::detail;
using Clock = std::chrono::steady_clock;

// A claimed change is complete microseconds later; one still incomplete after this long was
// left by a writer that died on the way, and is counted as missed.
constexpr auto kAbandonedChange = std::chrono::seconds(1);

}  // namespace

AlarmFeed::AlarmFeed() {
  if (const Vexlor::MMAP_STRU* db = Vexlor::MMAP_DB()) position_ = d::alarm_feed_last(*db);
}

AlarmFeed::AlarmFeed(uint64_t after) : position_(after) {}

bool AlarmFeed::next(AlarmChange& change, int timeout_ms) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  Clock::time_point incomplete_since{};
  for (;;) {
    const Vexlor::MMAP_STRU* db = Vexlor::MMAP_DB();
    if (db == nullptr) return false;
    const uint64_t last = d::alarm_feed_last(*db);
    if (last < position_) position_ = 0;  // a new database: its feed starts again
    if (last > position_) {
      if (last - position_ > d::kAlarmFeedSlots) {
        missed_ += last - d::kAlarmFeedSlots - position_;
        position_ = last - d::kAlarmFeedSlots;
      }
      const uint64_t want = position_ + 1;
      d::AlarmFeedSlot slot{};
      switch (d::read_alarm_change(*db, want, slot)) {
        case d::FeedRead::kReady:
          position_ = want;
          change.number = want;
          change.point = slot.point;
          change.id = slot.alarm_id;
          change.status = static_cast<Vexlor::ALARM_STYLE>(slot.status);
          change.function = slot.function;
          return true;
        case d::FeedRead::kOverwritten:
          ++missed_;
          position_ = want;
          incomplete_since = {};
          continue;
        case d::FeedRead::kNotYet:
          if (incomplete_since == Clock::time_point{}) {
            incomplete_since = Clock::now();
          } else if (Clock::now() - incomplete_since >= kAbandonedChange) {
            ++missed_;
            position_ = want;
            incomplete_since = {};
            continue;
          }
          break;
      }
    }
    if (Clock::now() >= deadline && incomplete_since == Clock::time_point{}) return false;
    if (Clock::now() >= deadline + kAbandonedChange) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace vexlor::routine
