// Internal side of the alarm subsystem: the alarm mutex, the one posting core every posting
// form funnels into, the answer core, the log row and the bilingual text selection.
#pragma once

#include <vexlor/alarms.h>
#include <vexlor/records.h>
#include <vexlor/types.h>

#include <cstdint>
#include <string_view>

#include "frame/context.h"
#include "util/type_names.h"

namespace vexlor::detail {

// Holders of the alarm mutex wait for it at most this long, then go on without it.
inline constexpr uint32_t kAlarmMutexWaitMs = 5000;
// Places of the shared queue.
inline constexpr int32_t kAlarmQueueSize = 200;
// Alarm texts, appends and log texts: 511 characters and the terminator.
inline constexpr std::size_t kAlarmTextSize = 512;
// Recovery captions: 63 characters and the terminator.
inline constexpr std::size_t kAlarmCaptionSize = 64;

// Holds the database's alarm mutex for its life when it could be taken within 5000 ms (an
// abandoned mutex counts as taken); otherwise the holder goes on without it.
class AlarmMutexLock {
 public:
  explicit AlarmMutexLock(const Vexlor::MMAP_STRU& db);
  ~AlarmMutexLock();
  AlarmMutexLock(const AlarmMutexLock&) = delete;
  AlarmMutexLock& operator=(const AlarmMutexLock&) = delete;
  bool held() const { return held_; }

 private:
  void* handle_;
  bool held_ = false;
};

// The part of a bilingual text for `language` (1: Chinese, or English when the Chinese part is
// empty; else English), cut to max_bytes without splitting a character.
std::string_view language_part(std::string_view text, int32_t language, std::size_t max_bytes);

// The attached database when `point` is an alarm point; null without a message otherwise.
Vexlor::MMAP_STRU* alarm_db_quiet(int32_t point);

// The posting modes of the family.
enum class PostMode { kPost, kManage, kManageFree };
enum class AlarmTarget { Point, Id };

// The one entry of every posting form: resolves an alarm ID (Target Id; an unconfigured ID
// gives 0 for Post and -1 otherwise), then posts (1/0), manages or manages free (the answer).
int32_t run_posting(PostMode mode, AlarmTarget target, int32_t alarm, const char* file, int line,
                    const char* append);

// Builds the alarm's log row from its definition and run-time record (with_answer: the answer's
// name and the clear time too) and writes it, and the LOG_DBG line "报警日志:%s" when that
// category is on, to the table of the current month. Called with the alarm mutex held.
void write_log_row(const Vexlor::MMAP_STRU& db, int32_t point, bool with_answer);

// The status of a run-time record, read afresh from shared memory (other processes write it).
inline int32_t read_status(const Vexlor::MEM_ALARM_RT_STRU& rt) {
  return *static_cast<const volatile int32_t*>(&rt.status);
}

// Tells the IO engine that an alarm was posted ("W1") or answered ("W2"); false without a
// message-queue object or when the engine did not accept it.
bool send_alarm_notice(int32_t point, const char* command);

}  // namespace vexlor::detail
