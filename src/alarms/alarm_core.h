// Internal side of the alarm subsystem: the alarm mutex, the one posting core every posting
// form funnels into, the answer core, the log row and the bilingual text selection.
#pragma once

#include <vexlor/alarms.h>
#include <vexlor/records.h>
#include <vexlor/types.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "db/db_image.h"
#include "frame/context.h"
#include "os/atomic_field.h"
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
// abandoned mutex counts as taken, after repair_alarms has put right what its dead owner
// left half done); otherwise the holder goes on without it.
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

// Steps of the change in progress recorded in the image's AlarmIntent.
enum AlarmStep : int32_t { kAlarmIdle = 0, kAlarmPosting = 1, kAlarmAnswering = 2 };

// The image's record of the alarm change in progress.
inline AlarmIntent& alarm_intent(const Vexlor::MMAP_STRU& db) {
  return const_cast<AlarmIntent&>(image_header(db).alarm_intent);
}

// Called by the holder that took the alarm mutex from a dead owner: completes or undoes the
// owner's recorded change (the log row of a post or an answer it could not write), then makes
// the queue list exactly the posted alarms (answered, duplicate and phantom entries dropped,
// posted alarms missing from it added in point order), with log lines saying what it did.
void repair_alarms(const Vexlor::MMAP_STRU& db);

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

// The alarm's log row from its definition and run-time record (with_answer: the answer's name
// and the clear time too).
void fill_log_item(const Vexlor::MMAP_STRU& db, int32_t point, bool with_answer,
                   Vexlor::AlarmLog_Item& item);

// Writes the row to the table of the current month. Called with the alarm mutex held: the
// mutex orders the rows of all processes.
void write_log_row(Vexlor::AlarmLog_Item& item);

// The LOG_DBG line "报警日志:%s" of a row, when that category is on. Posting and answering
// write it after releasing the alarm mutex, which it needs no more than any other log line.
void log_row_line(const Vexlor::AlarmLog_Item& item);

// The line, then the row (repairs, which run with the mutex held anyway).
void write_log_item(Vexlor::AlarmLog_Item& item);

// The status of a run-time record, read afresh from shared memory (other processes write it).
inline int32_t read_status(const Vexlor::MEM_ALARM_RT_STRU& rt) {
  return os::load_relaxed(rt.status);
}

// A copy of a text field that another process may be rewriting: byte by byte, each load
// atomic, always terminated.
template <std::size_t N>
void load_text(char (&out)[N], const char (&field)[N]) {
  for (std::size_t i = 0; i + 1 < N; ++i) {
    out[i] = os::load_relaxed(field[i]);
    if (out[i] == '\0') return;
  }
  out[N - 1] = '\0';
}

// Answers a posted alarm (no message on a bad point: false), as `function` (a function index):
// status, clear time, queue, log row and feed change under the alarm mutex, then post type 0.
// True when the alarm is answered now or was already; `answered_now` tells which. The IO
// engine's notice is the caller's (VAlarm_Handle sends it).
bool answer_alarm(Vexlor::MMAP_STRU& db, int32_t point, Vexlor::ALARM_STYLE answer,
                  int32_t function, bool* answered_now);

// Writes a text field that other processes and threads read with load_text while it changes
// (posting re-checks the stored append without the alarm mutex): byte by byte, each store
// atomic, cut to the field and terminated.
template <std::size_t N>
void store_text(char (&field)[N], std::string_view text) {
  const std::size_t n = std::min(text.size(), N - 1);
  for (std::size_t i = 0; i < n; ++i) os::store_relaxed(field[i], text[i]);
  os::store_relaxed(field[n], '\0');
}

// Tells the IO engine that an alarm was posted ("W1") or answered ("W2"); false without a
// message-queue object or when the engine did not accept it.
bool send_alarm_notice(int32_t point, const char* command);

}  // namespace vexlor::detail
