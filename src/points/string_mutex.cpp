// String point accesses under the point's system-wide named mutex "<point name>_SIO_MUTEX", so
// that writers and readers of different processes never interleave on one point. The handles
// are opened once per process and kept in the context's sio_mutexes until release.
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "points/string_mutex.h"

#include "os/atomic_field.h"
#include "os/named_mutex.h"
#include "points/typed_point.h"
#include "vexlor/string_points.h"

namespace vexlor::detail {
namespace {

using String = StringKind;

constexpr uint32_t kWaitSliceMs = 5000;

// The routine's own exit flag (false for a routine without a valid function slot).
bool exit_requested(const Vexlor::MMAP_STRU& db, const HUB_CONTEXT& ctx) {
  const int32_t own = ctx.own_index;
  return own >= 0 && own < table_size(db, IndexKind::kFunction) &&
         db.function_rt[own].exit_flag != 0;
}

// "Vexlor::<operation>" for the source position of a log line.
std::string qualified(Site site) { return qualified_operation(site.operation); }

// This process's handle of the point's mutex, created or opened on first use. Null (after the
// log line) when the system refused it; the next access tries again.
os::MutexHandle point_mutex(HUB_CONTEXT& ctx, const char* point_name, Site site) {
  char name[kNameSize + sizeof "_SIO_MUTEX"];
  std::snprintf(name, sizeof name, "%s_SIO_MUTEX", point_name);
  {
    MapLock lock(map_mutex());
    auto it = ctx.sio_mutexes.find(std::string_view(name));
    if (it != ctx.sio_mutexes.end() && it->second != nullptr) return it->second;
  }
  os::MutexHandle handle = os::mutex_create(name, false);
  if (handle == nullptr) {
    Vexlor::VSystem_Log(Vexlor::LOG_ERR, "%s/SIO MUTEX创建失败![错误信息:%s].[代码行:%s:%d]",
                        point_name, Vexlor::VStr_Get_SysErrMsg(), qualified(site).c_str(), site.line);
  }
  MapLock lock(map_mutex());
  os::MutexHandle& kept = ctx.sio_mutexes[name];
  if (kept != nullptr && handle != nullptr) {
    os::mutex_close(handle);  // another thread of this process opened it meanwhile
  } else if (handle != nullptr) {
    kept = handle;
  }
  return kept;
}

// Taken from a dead owner: the owner may have died inside a write, so the value is marked
// unconfirmed (read and write status false) until the next complete write, and both texts are
// kept terminated inside their fields.
void mark_abandoned(const PointRef<String>& p, const char* point_name, Site site) {
  String::Slot& slot = p.slot();
  os::store_relaxed(slot.read_value[sizeof slot.read_value - 1], '\0');
  os::store_relaxed(slot.write_value[sizeof slot.write_value - 1], '\0');
  os::store_relaxed(slot.read_status, 0);
  os::store_relaxed(slot.write_status, 0);
  Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                      "%s/SIO MUTEX被遗弃,上一持有者已退出,值未确认(状态已置为false).[代码行:%s:%d]",
                      point_name, qualified(site).c_str(), site.line);
}

// Runs `access` while holding the point's mutex. Waits in slices of 5 s, printing a waiting
// line after each, until the mutex is obtained (also from a dead owner) or the routine is
// told to exit. A failed creation or wait is logged and makes the result false; the access is
// made all the same.
template <typename Access>
bool under_point_mutex(int index, Access access, Site site) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->db == nullptr || ctx->mmap == nullptr) return false;
  const PointRef<String> p = checked_point<String>(index, site);
  if (!p) return false;
  const char* point_name = p.record().name;
  const os::MutexHandle handle = point_mutex(*ctx, point_name, site);
  bool failed = handle == nullptr;
  bool owned = false;
  while (handle != nullptr && !exit_requested(*p.db, *ctx)) {
    const uint32_t result = os::mutex_wait(handle, kWaitSliceMs);
    if (result == os::kWaitObject0 || result == os::kWaitAbandoned) {
      owned = true;
      if (result == os::kWaitAbandoned) mark_abandoned(p, point_name, site);
      break;
    }
    if (result == os::kWaitTimeout) {
      Vexlor::VPrint(own_name(), "%s/SIO MUTEX 继续等待...", point_name);
      continue;
    }
    Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                        "%s/SIO MUTEX等待失败![错误信息:%s/dwResult:%ld].[代码行:%s:%d]",
                        point_name, Vexlor::VStr_Get_SysErrMsg(), static_cast<long>(result),
                        qualified(site).c_str(), site.line);
    failed = true;
    break;
  }
  const bool done = access(*ctx->mmap);
  if (owned) os::mutex_release(handle);
  return !failed && done;
}

// The index of a named point for the name forms; false when it does not resolve.
bool named_index(const char* name, int32_t* index) {
  return resolve_point(Vexlor::IO_S, name, true, index);
}

// The write status is false while the text is being replaced, so a writer that dies mid-copy
// leaves a value marked unconfirmed; a refused write keeps the status it found.
bool write_under_mutex(int index, const char* text, Site site) {
  return under_point_mutex(
      index,
      [&](Vexlor::VMMAP& layer) {
        const PointRef<String> p = quiet_point<String>(index);
        if (!p) return false;
        uint8_t& status = p.slot().write_status;
        const uint8_t before = os::load_relaxed(status);
        os::store_relaxed(status, 0);
        const bool written = String::raw_write(layer, index, text);
        if (!written) os::store_relaxed(status, before);
        return written;
      },
      site);
}

}  // namespace

bool under_string_mutex(int index, const std::function<bool(Vexlor::VMMAP&)>& access, Site site) {
  return under_point_mutex(index, access, site);
}

}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;
using d::String;

bool VString_Write_Mutex(int index, const char* text) {
  return d::write_under_mutex(index, text, VEXLOR_SITE);
}

bool VString_Write_Mutex(const char* name, const char* text) {
  int32_t index = VEXLOR_ERROR_POINT;
  return d::named_index(name, &index) && d::write_under_mutex(index, text, VEXLOR_SITE);
}

bool VString_WriteF_Mutex(int index, const char* format, ...) {
  VEXLOR_FORMAT_ARGS(text, d::kStringSize, format);
  return d::write_under_mutex(index, text, VEXLOR_SITE);
}

bool VString_WriteF_Mutex(const char* name, const char* format, ...) {
  VEXLOR_FORMAT_ARGS(text, d::kStringSize, format);
  int32_t index = VEXLOR_ERROR_POINT;
  return d::named_index(name, &index) && d::write_under_mutex(index, text, VEXLOR_SITE);
}

bool VString_Read_Mutex(int index, char* text) {
  return d::under_point_mutex(
      index, [&](VMMAP& layer) { return text != nullptr && String::raw_read(layer, index, text); },
      VEXLOR_SITE);
}

bool VString_Read_Mutex(const char* name, char* text) {
  int32_t index = VEXLOR_ERROR_POINT;
  return d::named_index(name, &index) && VString_Read_Mutex(index, text);
}

}  // namespace Vexlor
