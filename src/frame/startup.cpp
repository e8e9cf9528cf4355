// Start-up and release of the library context, the raw accessors, the version text and the
// routine's start lock.
#include <cstdio>
#include <cstring>

#include "frame/context.h"
#include "frame/index_check.h"
#include "util/text.h"
#include "os/named_mutex.h"
#include "vexlor/frame.h"
#include "vexlor/points.h"

namespace vexlor::detail {
namespace {

// Serialises start-up and release against each other; calls of other operations must not
// overlap them (the context is destroyed by release).
std::mutex& lifecycle_mutex() {
  static std::mutex mutex;
  return mutex;
}

// Steps 1 to 4 shared by both start-ups: the context, its objects and their attachment.
// Returns the context, or null after the failure clean-up.
HUB_CONTEXT* create_and_attach(const char* name) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr) {
    ctx = new HUB_CONTEXT();
    g_context.store(ctx, std::memory_order_release);
  }
  copy_text(ctx->own_name, name);
  ctx->own_index = Vexlor::VEXLOR_UNUSED_POINT;
  if (ctx->mmap == nullptr) ctx->mmap = new Vexlor::VMMAP();
  if (ctx->fifo == nullptr) ctx->fifo = new Vexlor::VFIFO();
  const char* raw = name ? name : "";
  if (ctx->mmap->VMMAP_Initial(raw) && ctx->fifo->VFIFO_Initial(raw)) return ctx;
  return nullptr;
}

// The failure clean-up: both objects released and deleted; the context stays, unattached.
void release_objects(HUB_CONTEXT& ctx) {
  ctx.db = nullptr;
  if (ctx.mmap) ctx.mmap->VMMAP_Release();
  if (ctx.fifo) ctx.fifo->VFIFO_Release();
  delete ctx.mmap;
  delete ctx.fifo;
  ctx.mmap = nullptr;
  ctx.fifo = nullptr;
}

void close_all(NameMap<os::MutexHandle>& handles) {
  for (auto& entry : handles) {
    if (entry.second != nullptr) os::mutex_close(entry.second);
  }
  handles.clear();
}

// "VPROC_<name of the function at index>", the name read with the index check of the
// reporting operation.
void locker_name(int index, const char* operation, int line, char (&out)[74]) {
  const char* function = "";
  if (Vexlor::MMAP_STRU* db = checked_db(IndexKind::kFunction, index, operation, line)) {
    function = db->function_sp[index].name;
  }
  std::snprintf(out, sizeof out, "VPROC_%.63s", function);
}

int own_index_or_unresolved() {
  HUB_CONTEXT* ctx = context();
  return ctx ? ctx->own_index : Vexlor::VEXLOR_UNUSED_POINT;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VHub_Initial(const char* name) {
  std::lock_guard<std::mutex> lifecycle(d::lifecycle_mutex());
  d::HUB_CONTEXT* ctx = d::create_and_attach(name);
  if (ctx == nullptr) {
    d::release_objects(*d::context());
    return false;
  }
  ctx->db = ctx->mmap->DB();
  if (ctx->db == nullptr) {
    ctx->timer_start = VTime_Get();
    return true;
  }
  char work[d::kNameSize];
  d::normalise_name(name, work);
  const int32_t n = ctx->db->system_block->function_count;
  const std::string_view wanted = d::buffer_text(work);
  int32_t found = VEXLOR_UNUSED_POINT;
  if (!wanted.empty() && n >= 0) {
    for (int32_t i = n + 1; i >= 0; --i) {
      if (VStr_Compare_L(work, ctx->db->function_sp[i].name)) {
        found = i;
        break;
      }
    }
  }
  if (found == VEXLOR_UNUSED_POINT) {
    VPrint_Red(name ? name : "", "VHub_Initial 获取例程索引失败.");
    return false;
  }
  ctx->own_index = found;
  d::copy_text(ctx->own_name, wanted);
  if (found == n && VFunction_Create_Locker() == nullptr) {
    VSystem_Log(LOG_ERR,
                "VHub_Initial 检测已启动,处于锁禁状态, 不能再启动,请排查锁禁文件是否异常.");
    return false;
  }
  ctx->timer_start = VTime_Get();
  return true;
}

bool VHub_Initial2(const char* name) {
  std::lock_guard<std::mutex> lifecycle(d::lifecycle_mutex());
  const char* raw = name ? name : "";
  d::HUB_CONTEXT* ctx = d::create_and_attach(name);
  if (ctx != nullptr) {
    ctx->db = ctx->mmap->DB();
    if (ctx->db != nullptr && raw[0] != '\0') {
      const int32_t n = ctx->db->system_block->function_count;
      for (int32_t i = n; n >= 0 && i < n + 12; ++i) {
        char* slot = ctx->db->function_sp[i].name;
        if (slot[0] == '\0' || VStr_Compare_L(slot, raw)) {
          d::copy_text(slot, d::kNameSize, raw);
          ctx->own_index = i;
          ctx->timer_start = VTime_Get();
          return true;
        }
      }
    }
    VPrint_Red(raw, "额外例程空间不够，创建失败!");
  }
  d::release_objects(*d::context());
  return false;
}

void VHub_Release() {
  std::lock_guard<std::mutex> lifecycle(d::lifecycle_mutex());
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr) return;
  ctx->db = nullptr;
  delete ctx->mmap;
  ctx->mmap = nullptr;
  delete ctx->fifo;
  ctx->fifo = nullptr;
  {
    d::MapLock lock(d::map_mutex());
    d::close_all(ctx->run_mutexes);
    d::close_all(ctx->sio_mutexes);
  }
  d::g_context.store(nullptr, std::memory_order_release);
  delete ctx;
}

const char* VHub_Version_Info() { return VEXLOR_VERSION_INFO; }

VFIFO* FIFO() {
  d::HUB_CONTEXT* ctx = d::context();
  return ctx ? ctx->fifo : nullptr;
}

VMMAP* MMAP() {
  d::HUB_CONTEXT* ctx = d::context();
  return ctx ? ctx->mmap : nullptr;
}

MMAP_STRU* MMAP_DB() { return d::attached_db(); }

void* VFunction_Create_Locker(int index) {
  char name[74];
  d::locker_name(index, __func__, __LINE__, name);
  vexlor::os::MutexHandle handle = vexlor::os::mutex_create(name, false);
  if (vexlor::os::mutex_last_error() != vexlor::os::kErrorSuccess) {
    if (handle != nullptr) vexlor::os::mutex_close(handle);
    return nullptr;
  }
  return handle;
}

void* VFunction_Create_Locker() { return VFunction_Create_Locker(d::own_index_or_unresolved()); }

bool VFunction_Check_Locker(int index) {
  char name[74];
  d::locker_name(index, __func__, __LINE__, name);
  vexlor::os::MutexHandle handle = vexlor::os::mutex_create(name, false);
  const uint32_t error = vexlor::os::mutex_last_error();
  if (handle != nullptr) vexlor::os::mutex_close(handle);
  return error == vexlor::os::kErrorAlreadyExists;
}

bool VFunction_Check_Locker() { return VFunction_Check_Locker(d::own_index_or_unresolved()); }

}  // namespace Vexlor
