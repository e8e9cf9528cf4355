// The per-process library context (HUB_CONTEXT), the one global pointer that reaches it, and
// the process-local lock that guards its maps. Every exported function starts here.
#pragma once

#include <vexlor/records.h>
#include <vexlor/types.h>
#include <vexlor/vfifo.h>
#include <vexlor/vmmap.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "os/named_mutex.h"

namespace vexlor::detail {

// Width of a routine, point or module name buffer (63 characters and the terminator).
inline constexpr std::size_t kNameSize = 64;

// String-keyed maps compare transparently, so a lookup by `const char*` or string_view
// allocates nothing.
template <typename V>
using NameMap = std::map<std::string, V, std::less<>>;

// One per process, created by the first start-up call and destroyed by VHub_Release. The
// members are in their documented order. The maps are read and written only under
// map_mutex(); the other members are written by start-up (one thread, nothing else in flight)
// or, for the stopwatch and the parent list, by their owning operations.
struct HUB_CONTEXT {
  Vexlor::VMMAP* mmap = nullptr;
  Vexlor::VFIFO* fifo = nullptr;
  Vexlor::MMAP_STRU* db = nullptr;
  std::map<int32_t, int32_t> alarm_index_cache;  // alarm ID -> alarm point
  NameMap<std::string> replace_map;              // "$<n>" -> replacement text
  NameMap<Vexlor::MODULE_MAP> module_cache;      // module name or ID -> MODULE_MAP
  // io_map_cache (name as given -> point and type) is the process's lock-free name cache of
  // points/name_cache.h; this is the context's session in it, 0 until first used.
  std::atomic<uint32_t> io_map_session{0};
  NameMap<os::MutexHandle> run_mutexes;          // "<function>_RUN" -> handle
  NameMap<os::MutexHandle> sio_mutexes;          // "<string point>_SIO_MUTEX" -> handle
  double timer_start = 0.0;
  std::string parent_points_text;
  std::vector<int32_t> parent_points;
  int32_t own_index = Vexlor::VEXLOR_UNUSED_POINT;
  char own_name[kNameSize] = {};
};

// The global context pointer (null before start-up and after release).
extern std::atomic<HUB_CONTEXT*> g_context;

inline HUB_CONTEXT* context() { return g_context.load(std::memory_order_acquire); }

// The attached database: null without a context or without a database.
inline Vexlor::MMAP_STRU* attached_db() {
  HUB_CONTEXT* ctx = context();
  return ctx ? ctx->db : nullptr;
}

// The routine's own name, the source of every console line of the library; "" without a
// context.
inline const char* own_name() {
  HUB_CONTEXT* ctx = context();
  return ctx ? ctx->own_name : "";
}

// Guards the maps of the context. Hold it only around map reads and writes: never while
// printing, logging or calling another exported function.
std::mutex& map_mutex();
using MapLock = std::lock_guard<std::mutex>;

// Name normalisation of start-up and point lookup: `name` (null reads as "") is copied into
// `out`, cut to 63 bytes, then its first bracketed module name becomes the module's ID
// (VModule_Name_To_ID) and the "$" keys are substituted (VIO_Replace_Char).
void normalise_name(const char* name, char (&out)[kNameSize]);

// The "$" substitution of a caller's name-table entry: applied without the length test and
// written back cut to 63 bytes.
void substitute_keys_cut(char (&name)[kNameSize]);

// The text of a caller's 64-byte in/out buffer: up to its terminator, at most 63 bytes.
std::string_view buffer_text(const char* buffer);

// The daily log folder "<history>\YYYY\MM\DD" of a given date (VSystem_Get_History_Full_Path
// formats today's).
void format_daily_folder(char* out, std::size_t size, const char* history, int year, int month,
                         int day);

// The routine's own exit flag (false when not attached or its index is not a function slot).
bool own_exit_flag();

}  // namespace vexlor::detail
