// The alarm feed: every post and every answer of an alarm, numbered in the order they took
// effect, in a ring of the image that every process maps. Routines follow alarms through it
// without sampling the queue, so an alarm posted and answered between two looks is still seen.
#pragma once

#include <vexlor/records.h>

#include <cstdint>

#include "db/db_image.h"

namespace vexlor::detail {

// Adds the alarm's change (its current status, by `function`) to the feed. Called by the holder
// of the alarm mutex once the change and its log row are complete.
void feed_alarm_change(const Vexlor::MMAP_STRU& db, int32_t point, int32_t function);

// The number of the newest change claimed so far (0 when none).
uint64_t alarm_feed_last(const Vexlor::MMAP_STRU& db);

enum class FeedRead { kReady, kNotYet, kOverwritten };

// Change `number` (from 1): kReady with it in `out`; kNotYet when it is not complete yet;
// kOverwritten when the ring has moved past it.
FeedRead read_alarm_change(const Vexlor::MMAP_STRU& db, uint64_t number, AlarmFeedSlot& out);

}  // namespace vexlor::detail
