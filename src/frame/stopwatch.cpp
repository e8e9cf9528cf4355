// The routine's stopwatch and the interruptible wait that gives way to exit and abort.
#include <atomic>
#include <vector>

#include "db/db_image.h"
#include "frame/context.h"
#include "vexlor/frame.h"
#include "vexlor/functions.h"

namespace vexlor::detail {
namespace {

constexpr char kWaitOperation[] = "Vexlor::VTimer_Wait_Seconds";

// The stopwatch before start-up: started at the clock's origin.
std::atomic<double> g_detached_start{0.0};

// The stop conditions of one wait cycle; false (after the log line) when the wait must end.
bool may_go_on(bool ignore_parent) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr) return true;
  // A retired image is no longer the equipment's: nothing this wait watches will change.
  if (Vexlor::MMAP_STRU* db = attached_db(); db != nullptr && image_retired(*db)) {
    Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                        "%s: the database was replaced or removed (vexlor-db), returning false",
                        kWaitOperation);
    return false;
  }
  const int32_t own = ctx->own_index;
  if (own >= 0) {
    if (Vexlor::VFunction_Get_Exit_Flag(own)) {
      Vexlor::VSystem_Log(Vexlor::LOG_CIM, "%s 收到退出信号，返回 false", kWaitOperation);
      return false;
    }
    if (Vexlor::VFunction_Get_Abort_Flag(own)) {
      Vexlor::VSystem_Log(Vexlor::LOG_CIM, "%s 收到中止信号，返回 false", kWaitOperation);
      return false;
    }
    // A routine started free answers to its own flags only.
    if (Vexlor::VFunction_Get_Free_Flag(own)) return true;
  }
  std::vector<int32_t> parents;
  {
    MapLock lock(map_mutex());
    parents = ctx->parent_points;
  }
  for (int32_t parent : parents) {
    // A free parent cuts the chain: nothing above it, nor the manager, stops this routine.
    if (Vexlor::VFunction_Get_Free_Flag(parent)) return true;
    if (!ignore_parent && Vexlor::VFunction_Get_Abort_Flag(parent)) {
      Vexlor::VSystem_Log(Vexlor::LOG_CIM, "%s收到中止信号, 来自PARENT[%s], 返回 false",
                          kWaitOperation, Vexlor::VFunction_Get_Name(parent));
      return false;
    }
  }
  if (!ignore_parent && Vexlor::VSystem_Abort_Manager_Get()) {
    Vexlor::VSystem_Log(Vexlor::LOG_ERR, "%s 收到中止信号, 来自MANAGE_ABORT=true, 返回 false",
                        kWaitOperation);
    return false;
  }
  return true;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

void VTimer_Ready() {
  const double now = VTime_Get();
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr) {
    d::g_detached_start.store(now, std::memory_order_relaxed);
    return;
  }
  d::MapLock lock(d::map_mutex());
  ctx->timer_start = now;
}

double VTimer_Elapsed() {
  double start;
  if (d::HUB_CONTEXT* ctx = d::context()) {
    d::MapLock lock(d::map_mutex());
    start = ctx->timer_start;
  } else {
    start = d::g_detached_start.load(std::memory_order_relaxed);
  }
  return VTime_Get() - start;
}

bool VTimer_Reach(double seconds) { return !(seconds > VTimer_Elapsed()); }

bool VTimer_Wait_Seconds(double seconds) { return VTimer_Wait_Seconds(seconds, false); }

bool VTimer_Wait_Seconds(double seconds, bool ignore_parent) {
  const double start = VTime_Get();
  for (;;) {
    if (!d::may_go_on(ignore_parent)) return false;
    const double remaining = seconds - (VTime_Get() - start);
    if (remaining > 1.0) {
      VTime_Sleep(1);
      continue;
    }
    if (remaining > 0) VTime_MSleep(static_cast<int>(remaining * 1000));
    return true;
  }
}

}  // namespace Vexlor
