// Running and waiting for functions: run requests with the caller's abort rules, waits on the
// function's run mutex, the combined and clocked calls and pool requests.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "frame/context.h"
#include "frame/index_check.h"
#include "functions/function_table.h"
#include "functions/run_support.h"
#include "os/atomic_field.h"
#include "os/clock.h"
#include "os/named_mutex.h"
#include "vexlor/alarms.h"
#include "vexlor/frame.h"
#include "vexlor/functions.h"
#include "vexlor/run_control.h"
#include "vexlor/util.h"

namespace vexlor::detail {
namespace {

using Vexlor::FUNC_STATUS;

constexpr char kRunSet[] = "Vexlor::VFunction_Run_Set";
constexpr char kRunSetFree[] = "Vexlor::VFunction_Run_Set_Free";
constexpr char kRunWait[] = "Vexlor::VFunction_Run_Wait";
constexpr char kRunPool[] = "Vexlor::VFunction_Run_Pool";

constexpr int kRetries = 5;
constexpr uint32_t kMutexSliceMs = 60000;
constexpr int kPollsPerNotice = 1000;

struct RunRequest {
  int index;
  const char* param;
  bool free;      // free variant: no permission checks, sets the target's free flag
  bool timed;     // retry for `seconds` (100 ms apart) instead of five times one second apart
  double seconds;
  int line;       // source line of the operation, for the index check
};

const char* op_name(const RunRequest& r) { return r.free ? kRunSetFree : kRunSet; }

// Step 2: may this routine start anything? A free flag (its own, or a parent's) ends the
// checks; an abort flag (its own, a parent's, the manager's) refuses unless a free parent
// follows in the chain.
bool caller_permits(const RunRequest& r, const char* target, const char* param) {
  HUB_CONTEXT* ctx = context();
  Vexlor::MMAP_STRU* db = ctx->db;
  const char* op = op_name(r);
  const int32_t size = table_size(*db, IndexKind::kFunction);
  bool pending_abort = false;
  const int32_t own = ctx->own_index;
  if (own >= 0 && own < size) {
    if (db->function_rt[own].free_flag != 0) {
      log_if_on(Vexlor::LOG_DBG, "%s:%s FREE_FLAG = true , 运行参数:%s.", op, target, param);
      return true;
    }
    if (db->function_rt[own].abort_flag != 0) {
      log_if_on(Vexlor::LOG_DBG, "%s:%s ABORT_FLAG = true , 运行参数:%s.", op, target, param);
      pending_abort = true;
    }
  }
  std::vector<int32_t> parents;
  {
    MapLock lock(map_mutex());
    parents = ctx->parent_points;
  }
  for (int32_t parent : parents) {
    if (parent < 0 || parent >= size) continue;
    const char* parent_name = db->function_sp[parent].name;
    if (db->function_rt[parent].free_flag != 0) {
      log_if_on(Vexlor::LOG_DBG, "%s:%s , PARENT:%s FREE_FLAG = true.", op, target, parent_name);
      return true;
    }
    if (db->function_rt[parent].abort_flag != 0) {
      log_if_on(Vexlor::LOG_DBG, "%s:%s , PARENT:%s ABORT_FLAG = true.", op, target, parent_name);
      pending_abort = true;
    }
  }
  if (Vexlor::VSystem_Abort_Manager_Get()) {
    Vexlor::VSystem_Log(Vexlor::LOG_ALM, "%s:%s , MANAGE_ABORT_FLAG = true. 不能运行![运行参数:%s]",
                        op, target, param);
    pending_abort = true;
  }
  return !pending_abort;
}

enum class Verdict { kSend, kDone, kRefused };

// The refusal of a running target: GUI message, log line and the six-text alarm.
Vexlor::ALARM_STYLE refuse_running(const RunRequest& r, const char* target, const char* param) {
  gui_message_f("%s已处于SYS_RUNNING运行状态,不能调用.[运行参数:%s].", target, param);
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "%s已处于SYS_RUNNING运行状态,不能调用.[运行参数:%s]",
                      target, param);
  return Vexlor::VSystem_Alarm_Manage(op_name(r), r.line, own_name(), "不能调用", target,
                                      " 已是SYS_RUNNING运行状态");
}

Vexlor::ALARM_STYLE refuse_killed(const RunRequest& r, const char* target, const char* param) {
  gui_message_f("%s已处于SYS_KILLED退出状态,不能调用.[运行参数:%s].", target, param);
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "%s已处于SYS_KILLED退出状态,不能调用.[运行参数:%s]",
                      target, param);
  return Vexlor::VSystem_Alarm_Manage(op_name(r), r.line, own_name(), "不能调用", target,
                                      " 已是SYS_KILLED退出状态");
}

// Step 4: waits while the target runs, asks the operator when it will not end or has exited.
Verdict check_target_state(const RunRequest& r, const char* target, const char* param) {
  int counter = 0;
  double t0 = Vexlor::VTime_Get();
  for (;;) {
    const FUNC_STATUS status = Vexlor::VFunction_Get_Run_Status(r.index);
    if (status == Vexlor::SYS_RUNNING) {
      const bool keep_waiting =
          r.timed ? Vexlor::VTime_Get() - t0 < r.seconds : counter < kRetries;
      if (keep_waiting) {
        ++counter;
        Vexlor::VPrint_Yellow(own_name(), "%s已处于SYS_RUNNING运行状态,延时1秒.重试:%d/5", target,
                              counter);
        os::sleep_milliseconds(r.timed ? 100 : 1000);
        continue;
      }
      counter = 0;
      const Vexlor::ALARM_STYLE answer = refuse_running(r, target, param);
      if (answer == Vexlor::ALM_ABORT) return Verdict::kRefused;
      if (answer == Vexlor::ALM_IGNORE) return Verdict::kSend;
      t0 = Vexlor::VTime_Get();
      continue;
    }
    if (status == Vexlor::SYS_WAITTING) {
      Vexlor::VFunction_Run_Wait(r.index);
      return Verdict::kSend;
    }
    if (status == Vexlor::SYS_KILLED) {
      const Vexlor::ALARM_STYLE answer = refuse_killed(r, target, param);
      if (answer == Vexlor::ALM_ABORT) return Verdict::kRefused;
      if (answer == Vexlor::ALM_IGNORE) return Verdict::kDone;
      t0 = Vexlor::VTime_Get();
      continue;
    }
    return Verdict::kSend;
  }
}

bool run_set(const RunRequest& r) {
  const char* param = r.param ? r.param : "";
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->db == nullptr) return false;
  Vexlor::MMAP_STRU* db = checked_db(IndexKind::kFunction, r.index, op_name(r), r.line);
  if (db == nullptr) return false;
  const char* target = db->function_sp[r.index].name;
  const char* op = op_name(r);
  if (!r.free && !caller_permits(r, target, param)) return false;
  if (db->function_sp[r.index].virtual_flag != 0) {
    log_if_on(Vexlor::LOG_VIR, "%s:%s VIRTUAL_FLAG = true , 忽略运行参数:%s,  返回 true.", op,
              target, param);
    return true;
  }
  switch (check_target_state(r, target, param)) {
    case Verdict::kRefused:
      return false;
    case Verdict::kDone:
      return true;
    case Verdict::kSend:
      break;
  }
  Vexlor::VFunction_Set_Free_Flag(r.index, r.free);
  if (ctx->fifo == nullptr) return false;
  const std::string chain = parent_chain();
  log_if_on(Vexlor::LOG_DBG, "%s -> %s", own_name(), target);
  for (;;) {
    if (ctx->fifo->VFIFO_Function_Run(target, param, chain.c_str())) return true;
    const char* format;
    switch (Vexlor::VFunction_Get_Run_Status(r.index)) {
      case Vexlor::SYS_RUNNING:
        format = "%s调用失败! 已处于SYS_RUNNING运行状态.[运行参数:%s]";
        break;
      case Vexlor::SYS_KILLED:
        format = " %s调用失败! 已处于SYS_KILLED运行状态.[运行参数:%s]";
        break;
      case Vexlor::SYS_WAITTING:
        format = "%s调用失败! 已处于SYS_WAITTING运行状态.[运行参数:%s]";
        break;
      default:
        format = "%s调用失败! 需确认运行状态是否异常.[运行参数:%s]";
        break;
    }
    char text[256];
    std::snprintf(text, sizeof text, format, target, param);
    const Vexlor::ALARM_STYLE answer = refuse_with(op, r.line, text);
    if (answer == Vexlor::ALM_ABORT) return false;
    if (answer == Vexlor::ALM_IGNORE) return true;
  }
}

// The run status of a checked index, read from the record: unlike VFunction_Get_Run_Status it
// writes no LOG_VIR line for a virtual target, so a wait says so once and not on every poll.
FUNC_STATUS stored_run_status(const Vexlor::MMAP_STRU& db, int index) {
  return static_cast<FUNC_STATUS>(os::load_relaxed(db.function_rt[index].run_status));
}

// Polls a status that should not be SYS_RUNNING any more until it changes.
FUNC_STATUS poll_until_not_running(const Vexlor::MMAP_STRU& db, int index, const char* target,
                                   bool virtual_target) {
  for (int polls = 1;; ++polls) {
    const FUNC_STATUS status = stored_run_status(db, index);
    if (status != Vexlor::SYS_RUNNING) return status;
    os::sleep_milliseconds(5);
    if (polls % kPollsPerNotice == 0) {
      if (virtual_target) {
        Vexlor::VPrint_Yellow(
            own_name(), "进入轮询等待( %s 不应该出现的情况 ) %s.... SYS_RUNNING.[ VIRTUAL FLAG == TRUE ]",
            kRunWait, target);
      } else {
        Vexlor::VPrint_Yellow(own_name(), "进入轮询等待( %s 不应该出现的情况 ) %s.... SYS_RUNNING.",
                              kRunWait, target);
      }
    }
  }
}

// The alarm of a wait on an exited target. kSend: look again.
enum class KilledAnswer { kAborted, kIgnored, kAgain };
KilledAnswer ask_killed(const char* target, int line, const char* suffix) {
  char text[256];
  std::snprintf(text, sizeof text, "FIFO Function Wait(%s) 例程退出状态!", target);
  const Vexlor::ALARM_STYLE answer = refuse_with(kRunWait, line, text);
  if (answer == Vexlor::ALM_ABORT) {
    Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                        "%s 退出状态( SYS_KILLED ) , 选择 ALM_ABORT , 返回SYS_ABORTED.%s[代码行:%s:%d]",
                        target, suffix, kRunWait, line);
    return KilledAnswer::kAborted;
  }
  if (answer == Vexlor::ALM_IGNORE) {
    Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                        "%s 退出状态( SYS_KILLED ) , 选择 ALM_IGNORE , 返回SYS_SUCCESS.%s[代码行:%s:%d]",
                        target, suffix, kRunWait, line);
    return KilledAnswer::kIgnored;
  }
  return KilledAnswer::kAgain;
}

// This process's handle of the target's run mutex, opened once. Null after the log line.
os::MutexHandle run_mutex(HUB_CONTEXT& ctx, const char* target, int line) {
  std::string name = std::string(target) + "_RUN";
  {
    MapLock lock(map_mutex());
    auto it = ctx.run_mutexes.find(std::string_view(name));
    if (it != ctx.run_mutexes.end() && it->second != nullptr) return it->second;
  }
  os::MutexHandle handle = os::mutex_open(name.c_str());
  if (handle == nullptr) {
    Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                        "%s , MutexRun创建失败!(%s) , 返回 SYS_ABORTED.[代码行:%s:%d]", target,
                        Vexlor::VStr_Get_SysErrMsg(), kRunWait, line);
    return nullptr;
  }
  MapLock lock(map_mutex());
  os::MutexHandle& kept = ctx.run_mutexes[name];
  if (kept != nullptr) {
    os::mutex_close(handle);  // another thread of this process opened it meanwhile
  } else {
    kept = handle;
  }
  return kept;
}

FUNC_STATUS run_wait(int index, bool timed, double seconds, int line) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->db == nullptr) return Vexlor::SYS_ABORTED;
  Vexlor::MMAP_STRU* db = checked_db(IndexKind::kFunction, index, kRunWait, line);
  if (db == nullptr) return Vexlor::SYS_ABORTED;
  const char* target = db->function_sp[index].name;

  if (db->function_sp[index].virtual_flag != 0) {
    const FUNC_STATUS status = stored_run_status(*db, index);
    log_if_on(Vexlor::LOG_VIR, "%s:%s , VIRTUAL_FLAG = true 忽略等待, return %s.", kRunWait, target,
              status_name(status));
    if (status != Vexlor::SYS_RUNNING) return status;
    Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                        " 调%s 出现异常 等待结果不应该是SYS_RUNNING状态,进入轮询等待...", target);
    return poll_until_not_running(*db, index, target, true);
  }

  while (Vexlor::VFunction_Get_Run_Status(index) == Vexlor::SYS_KILLED) {
    const KilledAnswer answer = ask_killed(target, line, "(1)");
    if (answer == KilledAnswer::kAborted) return Vexlor::SYS_ABORTED;
    if (answer == KilledAnswer::kIgnored) return Vexlor::SYS_SUCCESS;
  }

  for (;;) {
    if (ctx->fifo != nullptr && ctx->fifo->VFIFO_Function_Wait(target, "", "")) break;
    char text[256];
    std::snprintf(text, sizeof text, "FIFO Function Wait(%s) 调用失败!例程可能异常退出.", target);
    const Vexlor::ALARM_STYLE answer = refuse_with(kRunWait, line, text);
    if (answer == Vexlor::ALM_ABORT) {
      Vexlor::VSystem_Log(
          Vexlor::LOG_ERR,
          "%s 退出状态( SYS_KILLED ) , 选择 ALM_ABORT , 返回SYS_ABORTED.(2)[代码行:%s:%d]", target,
          kRunWait, line);
      return Vexlor::SYS_ABORTED;
    }
    if (answer == Vexlor::ALM_IGNORE) return Vexlor::SYS_SUCCESS;
  }

  const os::MutexHandle mutex = run_mutex(*ctx, target, line);
  if (mutex == nullptr) return Vexlor::SYS_ABORTED;

  if (!own_exit_flag()) {
    if (timed) {
      const double ms = seconds * 1000.0;
      const uint32_t slice = ms <= 0 ? 0 : ms >= 4294967294.0 ? 4294967294u : uint32_t(ms);
      const uint32_t result = os::mutex_wait(mutex, slice);
      if (result == os::kWaitObject0 || result == os::kWaitAbandoned) {
        os::mutex_release(mutex);
      } else if (result == os::kWaitTimeout) {
        if (Vexlor::VFunction_Get_Run_Status(index) == Vexlor::SYS_KILLED) {
          Vexlor::VSystem_Log(Vexlor::LOG_ERR, "例程:%s 异常退出.调用中止.", target);
        } else {
          Vexlor::VPrint(own_name(), "等待超时:%s,返回.", target);
          return Vexlor::VFunction_Get_Run_Status(index);
        }
      } else {
        Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                            "%s , 等待临界区失败!(dwresult:%ld) , 返回 SYS_ABORTED. [代码行:%s:%d]",
                            target, static_cast<long>(result), kRunWait, line);
        return Vexlor::SYS_ABORTED;
      }
    } else {
      while (!own_exit_flag()) {
        const uint32_t result = os::mutex_wait(mutex, kMutexSliceMs);
        if (result == os::kWaitObject0 || result == os::kWaitAbandoned) {
          os::mutex_release(mutex);
          break;
        }
        if (result == os::kWaitTimeout) {
          if (Vexlor::VFunction_Get_Run_Status(index) == Vexlor::SYS_KILLED) {
            Vexlor::VSystem_Log(Vexlor::LOG_ERR, "例程:%s 异常退出.调用中止.", target);
            break;
          }
          Vexlor::VPrint(own_name(), "继续等待:%s", target);
          continue;
        }
        Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                            "%s , 等待临界区失败!(dwresult:%ld) , 返回 SYS_ABORTED. [代码行:%s:%d]",
                            target, static_cast<long>(result), kRunWait, line);
        return Vexlor::SYS_ABORTED;
      }
    }
  }

  for (;;) {
    const FUNC_STATUS status = Vexlor::VFunction_Get_Run_Status(index);
    switch (status) {
      case Vexlor::SYS_RUNNING:
        Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                            " 调%s 出现异常 等待结果不应该是SYS_RUNNING状态,进入轮询等待...",
                            target);
        return poll_until_not_running(*db, index, target, false);
      case Vexlor::SYS_ABORTED:
        return status;
      case Vexlor::SYS_KILLED: {
        const KilledAnswer answer = ask_killed(target, line, "(3) ");
        if (answer == KilledAnswer::kAborted) return Vexlor::SYS_ABORTED;
        if (answer == KilledAnswer::kIgnored) return Vexlor::SYS_SUCCESS;
        continue;
      }
      default:
        return Vexlor::VFunction_Get_Run_Status(index);
    }
  }
}

bool resolve(const char* name, int* index) {
  int32_t i = -1;
  if (!resolve_function(name, &i)) return false;
  *index = i;
  return true;
}

// After a clocked run: a run that overran its period checks the routine's flags once more.
FUNC_STATUS clocked(double start, double seconds, FUNC_STATUS status) {
  if (Vexlor::VTime_Get() - start <= seconds) return status;
  return Vexlor::VTimer_Wait_Seconds(0) ? status : Vexlor::SYS_ABORTED;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

// ---- Run requests ------------------------------------------------------------------------

bool VFunction_Run_Set(int index, const char* param) {
  return d::run_set({index, param, false, false, 0, __LINE__});
}
bool VFunction_Run_Set(int index, double seconds, const char* param) {
  return d::run_set({index, param, false, true, seconds, __LINE__});
}
bool VFunction_Run_Set(int index, bool& free, const char* param) {
  return free ? VFunction_Run_Set_Free(index, param) : VFunction_Run_Set(index, param);
}
bool VFunction_Run_Set(int index, bool& free, double seconds, const char* param) {
  return free ? VFunction_Run_Set_Free(index, seconds, param)
              : VFunction_Run_Set(index, seconds, param);
}
bool VFunction_Run_Set_Free(int index, const char* param) {
  return d::run_set({index, param, true, false, 0, __LINE__});
}
bool VFunction_Run_Set_Free(int index, double seconds, const char* param) {
  return d::run_set({index, param, true, true, seconds, __LINE__});
}

#define VEXLOR_BY_NAME(fail, call) \
  int index = -1;                  \
  if (!d::resolve(name, &index)) return fail; \
  return call

bool VFunction_Run_Set(const char* name, const char* param) {
  VEXLOR_BY_NAME(false, VFunction_Run_Set(index, param));
}
bool VFunction_Run_Set(const char* name, double seconds, const char* param) {
  VEXLOR_BY_NAME(false, VFunction_Run_Set(index, seconds, param));
}
bool VFunction_Run_Set(const char* name, bool& free, const char* param) {
  VEXLOR_BY_NAME(false, VFunction_Run_Set(index, free, param));
}
bool VFunction_Run_Set(const char* name, bool& free, double seconds, const char* param) {
  VEXLOR_BY_NAME(false, VFunction_Run_Set(index, free, seconds, param));
}
bool VFunction_Run_Set_Free(const char* name, const char* param) {
  VEXLOR_BY_NAME(false, VFunction_Run_Set_Free(index, param));
}
bool VFunction_Run_Set_Free(const char* name, double seconds, const char* param) {
  VEXLOR_BY_NAME(false, VFunction_Run_Set_Free(index, seconds, param));
}

// ---- Waits -------------------------------------------------------------------------------

FUNC_STATUS VFunction_Run_Wait(int index) { return d::run_wait(index, false, 0, __LINE__); }
FUNC_STATUS VFunction_Run_Wait(int index, double seconds) {
  return d::run_wait(index, true, seconds, __LINE__);
}
FUNC_STATUS VFunction_Run_Wait(const char* name) {
  VEXLOR_BY_NAME(SYS_ABORTED, VFunction_Run_Wait(index));
}
FUNC_STATUS VFunction_Run_Wait(const char* name, double seconds) {
  VEXLOR_BY_NAME(SYS_ABORTED, VFunction_Run_Wait(index, seconds));
}

// ---- Run and wait ------------------------------------------------------------------------

FUNC_STATUS VFunction_Run(int index, const char* param) {
  if (!VFunction_Run_Set(index, param)) return SYS_ABORTED;
  return VFunction_Run_Wait(index);
}
FUNC_STATUS VFunction_Run(int index, double seconds, const char* param) {
  if (!VFunction_Run_Set(index, seconds, param)) return SYS_ABORTED;
  return VFunction_Run_Wait(index);
}
FUNC_STATUS VFunction_Run(int index, bool& free, const char* param) {
  return free ? VFunction_Run_Free(index, param) : VFunction_Run(index, param);
}
FUNC_STATUS VFunction_Run(int index, bool& free, double seconds, const char* param) {
  return free ? VFunction_Run_Free(index, seconds, param) : VFunction_Run(index, seconds, param);
}
FUNC_STATUS VFunction_Run_Free(int index, const char* param) {
  VFunction_Run_Wait(index);
  if (!VFunction_Run_Set_Free(index, param)) return SYS_ABORTED;
  return VFunction_Run_Wait(index);
}
FUNC_STATUS VFunction_Run_Free(int index, double seconds, const char* param) {
  if (VFunction_Run_Wait(index, seconds) == SYS_RUNNING) return SYS_ABORTED;
  if (!VFunction_Run_Set_Free(index, seconds, param)) return SYS_ABORTED;
  return VFunction_Run_Wait(index);
}
FUNC_STATUS VFunction_Run(const char* name, const char* param) {
  VEXLOR_BY_NAME(SYS_ABORTED, VFunction_Run(index, param));
}
FUNC_STATUS VFunction_Run(const char* name, double seconds, const char* param) {
  VEXLOR_BY_NAME(SYS_ABORTED, VFunction_Run(index, seconds, param));
}
FUNC_STATUS VFunction_Run(const char* name, bool& free, const char* param) {
  VEXLOR_BY_NAME(SYS_ABORTED, VFunction_Run(index, free, param));
}
FUNC_STATUS VFunction_Run(const char* name, bool& free, double seconds, const char* param) {
  VEXLOR_BY_NAME(SYS_ABORTED, VFunction_Run(index, free, seconds, param));
}
FUNC_STATUS VFunction_Run_Free(const char* name, const char* param) {
  VEXLOR_BY_NAME(SYS_ABORTED, VFunction_Run_Free(index, param));
}
FUNC_STATUS VFunction_Run_Free(const char* name, double seconds, const char* param) {
  VEXLOR_BY_NAME(SYS_ABORTED, VFunction_Run_Free(index, seconds, param));
}

FUNC_STATUS VFunction_Run_Clock(int index, double seconds, const char* param) {
  const double start = VTime_Get();
  return d::clocked(start, seconds, VFunction_Run(index, param));
}
FUNC_STATUS VFunction_Run_Clock(int index, bool& free, double seconds, const char* param) {
  return free ? VFunction_Run_Free_Clock(index, seconds, param)
              : VFunction_Run_Clock(index, seconds, param);
}
FUNC_STATUS VFunction_Run_Free_Clock(int index, double seconds, const char* param) {
  const double start = VTime_Get();
  return d::clocked(start, seconds, VFunction_Run_Free(index, param));
}
FUNC_STATUS VFunction_Run_Clock(const char* name, double seconds, const char* param) {
  VEXLOR_BY_NAME(SYS_ABORTED, VFunction_Run_Clock(index, seconds, param));
}
FUNC_STATUS VFunction_Run_Clock(const char* name, bool& free, double seconds, const char* param) {
  VEXLOR_BY_NAME(SYS_ABORTED, VFunction_Run_Clock(index, free, seconds, param));
}
FUNC_STATUS VFunction_Run_Free_Clock(const char* name, double seconds, const char* param) {
  VEXLOR_BY_NAME(SYS_ABORTED, VFunction_Run_Free_Clock(index, seconds, param));
}

// ---- F forms -----------------------------------------------------------------------------

#define VEXLOR_FORMAT(size)                  \
  char text[size];                           \
  va_list args;                              \
  va_start(args, format);                    \
  d::format_into(text, sizeof text, format, args); \
  va_end(args)

#define VEXLOR_F_FORMS(Key, Result)                                                     \
  Result Key##F(int index, const char* format, ...) {                                   \
    VEXLOR_FORMAT(512);                                                                 \
    return Key(index, text);                                                            \
  }                                                                                     \
  Result Key##F(int index, double seconds, const char* format, ...) {                   \
    VEXLOR_FORMAT(512);                                                                 \
    return Key(index, seconds, text);                                                   \
  }                                                                                     \
  Result Key##F(const char* name, const char* format, ...) {                            \
    VEXLOR_FORMAT(512);                                                                 \
    return Key(name, text);                                                             \
  }                                                                                     \
  Result Key##F(const char* name, double seconds, const char* format, ...) {            \
    VEXLOR_FORMAT(512);                                                                 \
    return Key(name, seconds, text);                                                    \
  }

#define VEXLOR_FREE_F_FORMS(Key, Result)                                                \
  Result Key##F(int index, bool& free, const char* format, ...) {                       \
    VEXLOR_FORMAT(512);                                                                 \
    return Key(index, free, text);                                                      \
  }                                                                                     \
  Result Key##F(int index, bool& free, double seconds, const char* format, ...) {       \
    VEXLOR_FORMAT(512);                                                                 \
    return Key(index, free, seconds, text);                                             \
  }                                                                                     \
  Result Key##F(const char* name, bool& free, const char* format, ...) {                \
    VEXLOR_FORMAT(512);                                                                 \
    return Key(name, free, text);                                                       \
  }                                                                                     \
  Result Key##F(const char* name, bool& free, double seconds, const char* format, ...) { \
    VEXLOR_FORMAT(512);                                                                 \
    return Key(name, free, seconds, text);                                              \
  }

VEXLOR_F_FORMS(VFunction_Run_Set, bool)
VEXLOR_FREE_F_FORMS(VFunction_Run_Set, bool)
VEXLOR_F_FORMS(VFunction_Run_Set_Free, bool)
VEXLOR_F_FORMS(VFunction_Run, FUNC_STATUS)
VEXLOR_FREE_F_FORMS(VFunction_Run, FUNC_STATUS)
VEXLOR_F_FORMS(VFunction_Run_Free, FUNC_STATUS)

FUNC_STATUS VFunction_Run_ClockF(int index, double seconds, const char* format, ...) {
  VEXLOR_FORMAT(512);
  return VFunction_Run_Clock(index, seconds, text);
}
FUNC_STATUS VFunction_Run_ClockF(int index, bool& free, double seconds, const char* format, ...) {
  VEXLOR_FORMAT(512);
  return VFunction_Run_Clock(index, free, seconds, text);
}
FUNC_STATUS VFunction_Run_ClockF(const char* name, double seconds, const char* format, ...) {
  VEXLOR_FORMAT(512);
  return VFunction_Run_Clock(name, seconds, text);
}
FUNC_STATUS VFunction_Run_ClockF(const char* name, bool& free, double seconds, const char* format,
                                 ...) {
  VEXLOR_FORMAT(512);
  return VFunction_Run_Clock(name, free, seconds, text);
}
FUNC_STATUS VFunction_Run_Free_ClockF(int index, double seconds, const char* format, ...) {
  VEXLOR_FORMAT(512);
  return VFunction_Run_Free_Clock(index, seconds, text);
}
FUNC_STATUS VFunction_Run_Free_ClockF(const char* name, double seconds, const char* format, ...) {
  VEXLOR_FORMAT(512);
  return VFunction_Run_Free_Clock(name, seconds, text);
}

// ---- Pool requests -----------------------------------------------------------------------

bool VFunction_Run_Pool(int index, const char* param, char** out) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  if (db == nullptr) return false;
  const MEM_FUNCTION_SP_STRU& fn = db->function_sp[index];
  if (fn.pool_count <= 0) {
    VPrint_Red(fn.name, "并发线程池配置Pool_Count = 0 , VFunction_Run_Pool 不可用");
    return false;
  }
  if (fn.virtual_flag != 0) return false;
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx->fifo == nullptr) return false;
  const std::string caller = std::to_string(ctx->own_index);
  char* ignored = nullptr;
  if (ctx->fifo->VFIFO_Function_Pool(fn.name, param, caller.c_str(), out ? out : &ignored,
                                     fn.pool_count)) {
    if (out == nullptr) ctx->fifo->VFIFO_Release_Read_Mem(&ignored);
    return true;
  }
  VSystem_Log(LOG_ERR, "%s:%s 执行失败 , 自定义参数:%s,  返回 false.", d::kRunPool, fn.name,
              param ? param : "");
  return false;
}

std::string VFunction_Run_Pool(int index, const char* param) {
  char* answer = nullptr;
  if (!VFunction_Run_Pool(index, param, &answer)) return {};
  std::string text = answer ? answer : "";
  VFunction_Relase_Mem(&answer);
  return text;
}
std::string VFunction_Run_Pool(const char* name, const char* param) {
  VEXLOR_BY_NAME(std::string(), VFunction_Run_Pool(index, param));
}
std::string VFunction_Run_PoolF(int index, const char* format, ...) {
  VEXLOR_FORMAT(4096);
  return VFunction_Run_Pool(index, text);
}
std::string VFunction_Run_PoolF(const char* name, const char* format, ...) {
  VEXLOR_FORMAT(4096);
  return VFunction_Run_Pool(name, text);
}

void VFunction_Relase_Mem(char** p) {
  if (p == nullptr) return;
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx != nullptr && ctx->fifo != nullptr) {
    ctx->fifo->VFIFO_Release_Read_Mem(p);
  } else {
    std::free(*p);  // the queue's answers are malloc'ed
    *p = nullptr;
  }
}

}  // namespace Vexlor
