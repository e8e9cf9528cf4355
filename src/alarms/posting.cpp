// Posting alarms and waiting for the operator's answer: the posting core, the managing
// loops, the alarm mutex and the alarm-log row, and the whole family of posting forms
// generated from vexlor/alarms/posting_family.def.
#include <vexlor/alarms.h>
#include <vexlor/frame.h>
#include <vexlor/points.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "alarms/alarm_core.h"
#include "alarms/alarm_feed.h"
#include "frame/context.h"
#include "frame/index_check.h"
#include "os/named_mutex.h"
#include "util/charset.h"
#include "util/text.h"

namespace vexlor::detail {

AlarmMutexLock::AlarmMutexLock(const Vexlor::MMAP_STRU& db) : handle_(db.alarm_mutex) {
  if (handle_ == nullptr) return;
  const uint32_t result = os::mutex_wait(handle_, kAlarmMutexWaitMs);
  held_ = result == os::kWaitObject0 || result == os::kWaitAbandoned;
  if (result == os::kWaitAbandoned) repair_alarms(db);
}

AlarmMutexLock::~AlarmMutexLock() {
  if (held_) os::mutex_release(handle_);
}

bool send_alarm_notice(int32_t point, const char* command) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->fifo == nullptr) return false;
  // The notice only has to reach the engine's queue: no waiting for its reply.
  return ctx->fifo->VFIFO_Engine_Write_G_Queued("$L", "P1", command, point, "-");
}

void fill_log_item(const Vexlor::MMAP_STRU& db, int32_t point, bool with_answer,
                   Vexlor::AlarmLog_Item& item) {
  const Vexlor::MEM_ALARM_SP_STRU& sp = db.alarm_sp[point];
  const Vexlor::MEM_ALARM_RT_STRU& rt = db.alarm_rt[point];
  char log_text[kAlarmTextSize];
  if (rt.append[0] == '\0') {
    copy_text(log_text, sp.text);
  } else {
    // Each language part gets its own parentheses: "Text(append)|文本(附加)".
    const std::string text(field_text(sp.text));
    const std::string append(field_text(rt.append));
    Vexlor::VStr_Strcat_Alarm_Append_Text(log_text, text.c_str(), "(|(", append.c_str(), ")|)");
  }
  item.alarm_name = std::string(field_text(sp.name));
  item.log_text = log_text;
  item.post_time = std::string(field_text(rt.post_time));
  item.answer = with_answer ? alarm_style_name(read_status(rt)) : "";
  item.clear_time = with_answer ? std::string(field_text(rt.clear_time)) : std::string();
  const int32_t module = sp.module_point;
  item.module_name = module >= 0 && module < db.system_block->module_count
                         ? std::string(field_text(db.module_sp[module].name))
                         : std::string();
  item.alarm_id = std::to_string(sp.alarm_id);
  item.level = std::to_string(sp.level);
  item.code_position = std::string(field_text(rt.code_position));
  item.description = std::string(field_text(sp.description));
}

void write_log_row(Vexlor::AlarmLog_Item& item) {
  // The log's result does not change the outcome of the post or the answer.
  Vexlor::VDB_Add_AlarmLog(Vexlor::VDB_New_Log_Table_Name().c_str(), item);
}

void log_row_line(const Vexlor::AlarmLog_Item& item) {
  if (Vexlor::VSystem_Get_Log_Status(Vexlor::LOG_DBG) > 0) {
    Vexlor::VSystem_Log(Vexlor::LOG_DBG, "报警日志:%s", item.log_text.c_str());
  }
}

void write_log_item(Vexlor::AlarmLog_Item& item) {
  log_row_line(item);
  write_log_row(item);
}

namespace {

// The append as it is stored: cut to 511 bytes on a character boundary; null stays null.
struct StoredAppend {
  explicit StoredAppend(const char* append) : given(append != nullptr) {
    if (!given) return;
    const std::string_view text(append);
    copy_text(value, text.substr(0, cut_length(text, kAlarmTextSize - 1)));
  }
  bool given;
  char value[kAlarmTextSize] = {};
};

// Posted and unanswered with this append (or without a new one): nothing to do. The first
// check runs without the alarm mutex while another thread may be storing a new append, so
// both sides touch the text byte by byte atomically (load_text here, store_text in posting).
bool already_posted(const Vexlor::MEM_ALARM_RT_STRU& rt, const StoredAppend& append) {
  if (read_status(rt) != Vexlor::ALM_PAUSED) return false;
  if (!append.given) return true;
  char stored[sizeof rt.append];
  load_text(stored, rt.append);
  return Vexlor::VStr_Compare_L(append.value, stored);
}

// Puts the alarm into the queue unless it is there: the entry is written before the count
// covers it, so a reader (or a dead writer) never leaves a count over an unwritten entry. A
// full queue gives its last place (with a log line).
void enqueue(Vexlor::MEM_ALARM_QUEUE_STRU& queue, int32_t point) {
  const int32_t count = std::clamp<int32_t>(os::load_relaxed(queue.count), 0, kAlarmQueueSize);
  for (int32_t i = 0; i < count; ++i) {
    if (queue.entries[i] == point) return;
  }
  if (count < kAlarmQueueSize) {
    queue.entries[count] = point;
    os::store_relaxed(queue.count, count + 1);
    return;
  }
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "报警队列已超出最大长度限定,覆盖掉最后一个报警。");
  queue.entries[kAlarmQueueSize - 1] = point;
  os::store_relaxed(queue.count, kAlarmQueueSize);
}

bool post_alarm(int32_t point, const char* file, int line, const char* append) {
  Vexlor::MMAP_STRU* db =
      checked_db(IndexKind::kAlarm, point, "Vexlor::VAlarm_Post_Here", __LINE__);
  if (db == nullptr) return false;
  Vexlor::MEM_ALARM_RT_STRU& rt = db->alarm_rt[point];
  os::compare_exchange_relaxed(rt.post_type, 0, 1);  // a managing caller has set 2 already
  const StoredAppend stored(append);
  if (already_posted(rt, stored)) return true;
  Vexlor::AlarmLog_Item item;
  {
    AlarmMutexLock lock(*db);
    // Another routine may have posted it the same way while this one waited for the mutex.
    if (already_posted(rt, stored)) return true;
    // The fields first, then the status that makes it posted, then its queue entry, then the
    // row: a holder that dies on the way leaves either an unposted alarm or a posted one whose
    // entry and row repair_alarms supplies.
    AlarmIntent& intent = alarm_intent(*db);
    if (lock.held()) {
      os::store_relaxed(intent.point, point);
      os::store_relaxed(intent.step, kAlarmPosting);
    }
    os::store_relaxed(rt.function_point, context()->own_index);
    if (file == nullptr || file[0] == '\0') {
      copy_text(rt.code_position, own_name());
    } else {
      char position[sizeof rt.code_position];
      std::snprintf(position, sizeof position, "%s:%s:%d", own_name(), file, line);
      copy_text(rt.code_position, position);
    }
    rt.clear_time[0] = '\0';
    copy_text(rt.post_time, Vexlor::VStr_Get_DateTime2());
    if (stored.given) store_text(rt.append, stored.value);
    os::store_relaxed(rt.status, Vexlor::ALM_PAUSED);
    enqueue(*db->alarm_queue, point);
    fill_log_item(*db, point, false, item);
    write_log_row(item);
    feed_alarm_change(*db, point, context()->own_index);
    if (lock.held()) os::store_relaxed(intent.step, kAlarmIdle);
  }
  log_row_line(item);
  return send_alarm_notice(point, "W1");
}

// Posts, then polls the answer: every 0.5 s through the interruptible wait (abortable), or
// every 500 ms plainly (free: only the exit flag ends it early).
Vexlor::ALARM_STYLE manage_alarm(int32_t point, const char* file, int line, const char* append,
                                 bool free) {
  Vexlor::MMAP_STRU* db = alarm_db_quiet(point);
  if (db != nullptr) os::store_relaxed(db->alarm_rt[point].post_type, 2);
  if (!post_alarm(point, file, line, append)) {
    if (db != nullptr) os::store_relaxed(db->alarm_rt[point].post_type, 0);
    return Vexlor::ALM_ABORT;
  }
  Vexlor::MEM_ALARM_RT_STRU& rt = db->alarm_rt[point];
  int32_t status = read_status(rt);
  for (;;) {
    if (own_exit_flag()) {
      os::store_relaxed(rt.post_type, 0);
      return static_cast<Vexlor::ALARM_STYLE>(read_status(rt));
    }
    status = read_status(rt);
    if (status != Vexlor::ALM_PAUSED) break;
    if (free) {
      Vexlor::VTime_MSleep(500);
    } else if (!Vexlor::VTimer_Wait_Seconds(0.5)) {
      Vexlor::VAlarm_Abort(point);
      os::store_relaxed(rt.post_type, 0);
      return Vexlor::ALM_ABORT;
    }
  }
  if (!free) {
    const Vexlor::MEM_ALARM_SP_STRU& sp = db->alarm_sp[point];
    Vexlor::VSystem_Log(Vexlor::LOG_ALM, "%s:%d 报警清除->%s [代码行:%s:%d]", sp.name, sp.alarm_id,
                        alarm_style_name(status), file ? file : "", line);
  }
  os::store_relaxed(rt.post_type, 0);
  return static_cast<Vexlor::ALARM_STYLE>(free ? read_status(rt) : status);
}

// The append of the joining and formatting forms: a cleared 512-byte buffer.
struct AppendBuffer {
  char text[kAlarmTextSize] = {};
  AppendBuffer() = default;
  AppendBuffer(const char* a, const char* b) { Vexlor::VStr_Strcat_Alarm_Append_Text(text, a, b); }
  AppendBuffer(const char* a, const char* b, const char* c) {
    Vexlor::VStr_Strcat_Alarm_Append_Text(text, a, b, c);
  }
  AppendBuffer(const char* a, const char* b, const char* c, const char* d) {
    Vexlor::VStr_Strcat_Alarm_Append_Text(text, a, b, c, d);
  }
  // Formats into the buffer; output beyond 511 bytes is cut on a character boundary.
  void format(const char* format, va_list args) {
    if (format == nullptr) return;
    const int n = std::vsnprintf(text, sizeof text, format, args);
    if (n < 0) {
      text[0] = '\0';
    } else if (static_cast<std::size_t>(n) >= sizeof text) {
      text[cut_length(text, sizeof text - 1)] = '\0';
    }
  }
};

}  // namespace

int32_t run_posting(PostMode mode, AlarmTarget target, int32_t alarm, const char* file, int line,
                    const char* append) {
  int32_t point = alarm;
  if (target == AlarmTarget::Id && !Vexlor::VAlarm_Find_Point(&point, alarm)) {
    return mode == PostMode::kPost ? 0 : -1;
  }
  switch (mode) {
    case PostMode::kPost:
      return post_alarm(point, file, line, append) ? 1 : 0;
    case PostMode::kManage:
      return manage_alarm(point, file, line, append, false);
    case PostMode::kManageFree:
      return manage_alarm(point, file, line, append, true);
  }
  return Vexlor::ALM_ABORT;
}

}  // namespace vexlor::detail

namespace Vexlor {

// How each form turns its arguments into file, line and append. (Fully qualified: the
// fourth text is named d.)
#define VEXLOR_ALARM_NO_POSITION \
  const char* file = "";         \
  const int line = 0;
#define VEXLOR_ALARM_FORMATTED         \
  vexlor::detail::AppendBuffer joined; \
  va_list args;                        \
  va_start(args, format);              \
  joined.format(format, args);         \
  va_end(args);                        \
  const char* append = joined.text;
#define VEXLOR_ALARM_BODY_T1 VEXLOR_ALARM_NO_POSITION const char* append = a;
#define VEXLOR_ALARM_BODY_T2                                          \
  VEXLOR_ALARM_NO_POSITION vexlor::detail::AppendBuffer joined(a, b); \
  const char* append = joined.text;
#define VEXLOR_ALARM_BODY_T3                                             \
  VEXLOR_ALARM_NO_POSITION vexlor::detail::AppendBuffer joined(a, b, c); \
  const char* append = joined.text;
#define VEXLOR_ALARM_BODY_T4                                                \
  VEXLOR_ALARM_NO_POSITION vexlor::detail::AppendBuffer joined(a, b, c, d); \
  const char* append = joined.text;
#define VEXLOR_ALARM_BODY_F VEXLOR_ALARM_NO_POSITION VEXLOR_ALARM_FORMATTED
#define VEXLOR_ALARM_BODY_H1 const char* append = a;
#define VEXLOR_ALARM_BODY_H2                 \
  vexlor::detail::AppendBuffer joined(a, b); \
  const char* append = joined.text;
#define VEXLOR_ALARM_BODY_H3                    \
  vexlor::detail::AppendBuffer joined(a, b, c); \
  const char* append = joined.text;
#define VEXLOR_ALARM_BODY_H4                       \
  vexlor::detail::AppendBuffer joined(a, b, c, d); \
  const char* append = joined.text;
#define VEXLOR_ALARM_BODY_HF VEXLOR_ALARM_FORMATTED

#define VEXLOR_ALARM_MEMBER(Name, Result, Mode, Target, Shape)                                  \
  Result Name(int alarm, VEXLOR_ALARM_PARAMS_##Shape) {                                         \
    VEXLOR_ALARM_BODY_##Shape return static_cast<Result>(vexlor::detail::run_posting(           \
        vexlor::detail::PostMode::Mode, vexlor::detail::AlarmTarget::Target, alarm, file, line, \
        append));                                                                               \
  }
#include <vexlor/alarms/posting_family.def>

}  // namespace Vexlor
