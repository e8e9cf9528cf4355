// The image of an equipment database in its shared section: a header that places every
// table, followed by the tables. The builder writes it; VMMAP checks and maps it.
#pragma once

#include <vexlor/records.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vexlor::detail {

// Name of the shared section that holds the database of an instance.
inline constexpr char kDatabaseSection[] = "database";
// Name of the alarm mutex of an instance (the handle the descriptor carries).
inline constexpr char kAlarmMutexName[] = "VEXLOR_ALARM_MUTEX";

inline constexpr char kImageMagic[8] = {'V', 'E', 'X', 'L', 'O', 'R', 'D', 'B'};
inline constexpr uint32_t kImageVersion =
    3;  // 2: alarm intent, retired mark, name index; 3: alarm feed

// Slots that follow the N configured functions in both function tables; slot N is the
// operator GUI's main form.
inline constexpr uint32_t kFunctionExtraSlots = 12;

// A slot of the name index (db/name_index.h), shared by every process.
using NameIndexWord = std::atomic<uint64_t>;

// One change of an alarm in the alarm feed (alarms/alarm_feed.h): a post or an answer, kept in a
// ring of the last kAlarmFeedSlots changes.
struct AlarmFeedSlot {
  uint64_t number;   // the change's number (from 1) once it is complete; 0 while it is written
  int32_t point;     // the alarm point
  int32_t alarm_id;  // its alarm ID
  int32_t status;    // ALM_PAUSED for a post, the answer for an answer
  int32_t function;  // the function index of the routine that posted or answered it
};
inline constexpr uint32_t kAlarmFeedSlots = 4096;

// Every table of the image, in placement order.
#define VEXLOR_DB_TABLES(X)                        \
  X(System, Vexlor::MEM_SYSTEM_STRU)               \
  X(Modules, Vexlor::MEM_MODULE_SP_STRU)           \
  X(RobotAnimation, Vexlor::MEM_SCH_RBTANI_STRU)   \
  X(Jobs, Vexlor::MEM_SCH_JOB_STRU)                \
  X(CarrierModules, Vexlor::MEM_SCH_CM_STRU)       \
  X(BufferModules, Vexlor::MEM_SCH_BM_STRU)        \
  X(ProcessModules, Vexlor::MEM_SCH_PM_STRU)       \
  X(TransferModules, Vexlor::MEM_SCH_TM_STRU)      \
  X(Wafers, Vexlor::MEM_SCH_WAFER_STRU)            \
  X(SchedulerUtil, Vexlor::MEM_SCH_UTIL_STRU)      \
  X(Enums, Vexlor::MEM_ENUM_SP_STRU)               \
  X(Drivers, Vexlor::MEM_DRIVER_SP_STRU)           \
  X(DigitalValues, Vexlor::MEM_DIGITAL_VAL_STRU)   \
  X(DigitalDefs, Vexlor::MEM_DIGITAL_SP_STRU)      \
  X(AnalogValues, Vexlor::MEM_ANALOG_VAL_STRU)     \
  X(AnalogDefs, Vexlor::MEM_ANALOG_SP_STRU)        \
  X(StringValues, Vexlor::MEM_STRING_VAL_STRU)     \
  X(StringDefs, Vexlor::MEM_STRING_SP_STRU)        \
  X(AlarmRuntime, Vexlor::MEM_ALARM_RT_STRU)       \
  X(AlarmQueue, Vexlor::MEM_ALARM_QUEUE_STRU)      \
  X(AlarmDefs, Vexlor::MEM_ALARM_SP_STRU)          \
  X(FunctionRuntime, Vexlor::MEM_FUNCTION_RT_STRU) \
  X(AbortManager, Vexlor::MEM_ABORT_MANAGER_STRU)  \
  X(FunctionDefs, Vexlor::MEM_FUNCTION_SP_STRU)    \
  X(NameIndex, NameIndexWord)                      \
  X(AlarmFeed, AlarmFeedSlot)

enum class DbTable : int {
#define VEXLOR_DB_ENUM(name, type) name,
  VEXLOR_DB_TABLES(VEXLOR_DB_ENUM)
#undef VEXLOR_DB_ENUM
      Count
};
inline constexpr int kDbTableCount = static_cast<int>(DbTable::Count);

struct DbTableInfo {
  uint64_t offset;       // from the start of the section
  uint32_t record_size;  // bytes per record
  uint32_t capacity;     // records present
};

// The alarm change in progress, written by the holder of the alarm mutex before it touches an
// alarm and cleared when the change and its log row are complete. A holder that takes the
// mutex from a dead owner finds here what that owner left half done.
struct AlarmIntent {
  int32_t point;  // the alarm point
  int32_t step;   // 0: nothing in progress; otherwise the alarm side's step code
};

struct DbHeader {
  char magic[8];
  uint32_t version;
  uint32_t header_size;
  uint64_t total_size;
  DbTableInfo tables[kDbTableCount];
  char source[256];          // the configuration it was built from
  char created[32];          // local date and time of the build
  AlarmIntent alarm_intent;  // shared: changed only under the alarm mutex
  // Non-zero once a newer database replaced this image or the database was removed:
  // processes still mapping it are looking at values nobody updates any more.
  uint32_t retired;
  uint32_t spare;
  // Shared state of the name index of the digital, analog and string tables (name_index.h):
  // flags, then slots filled. Kept here, on the page every process touches when it attaches.
  uint64_t name_index_state[3][2];
  // The number of the last change claimed in the alarm feed (0: none yet).
  uint64_t alarm_feed_last;
};

// Record counts of the tables that vary; the others hold one record.
struct DbCounts {
  uint32_t modules = 0, enums = 0, drivers = 0, digitals = 0, analogs = 0, strings = 0, alarms = 0,
           functions = 0;  // functions: configured ones, without the 12 extra slots
};

// Bytes the header takes; the system block, the first table, follows it.
inline constexpr uint64_t kImageHeaderSize = (sizeof(DbHeader) + 63) / 64 * 64;

// The start of the image whose tables a descriptor points at, and its header.
inline const void* image_base(const Vexlor::MMAP_STRU& db) {
  return reinterpret_cast<const char*>(db.system_block) - kImageHeaderSize;
}

static_assert(sizeof(DbHeader) <= 1024, "the header stays within its first kilobyte");

inline const DbHeader& image_header(const Vexlor::MMAP_STRU& db) {
  return *static_cast<const DbHeader*>(image_base(db));
}

// A record count as readers may use it: the count of the system block, never more than the
// records the image holds, so a count rewritten in shared memory cannot lead past a table.
inline int32_t bounded_count(const Vexlor::MMAP_STRU& db, DbTable table, int32_t count) {
  const uint32_t capacity = image_header(db).tables[static_cast<int>(table)].capacity;
  if (count < 0) return 0;
  return static_cast<uint32_t>(count) < capacity ? count : static_cast<int32_t>(capacity);
}

// Marks the image at `base` retired (see DbHeader::retired).
void retire_image(void* base);
// True when the image a descriptor points at was retired.
bool image_retired(const Vexlor::MMAP_STRU& db);

// Largest image the builder publishes: every routine maps the whole image, and a 32-bit
// process must still find room for it (and for its own code and heap) in its 2 GiB.
inline constexpr uint64_t kMaxImageBytes = uint64_t{1} << 30;

// Places every table (64-byte aligned) for these counts and fills the header.
DbHeader plan_image(const DbCounts& counts);

// Checks a mapped image: magic, version, and every table inside `mapped_size`.
bool image_valid(const void* base, std::size_t mapped_size, std::string* why);

// Fills the descriptor's table pointers from a valid image mapped at `base`.
void fill_descriptor(void* base, Vexlor::MMAP_STRU* descriptor);

// Address of record `index` of `table` in an image at `base` (no range check).
inline void* table_record(void* base, DbTable table, uint32_t index) {
  const auto* header = static_cast<const DbHeader*>(base);
  const DbTableInfo& t = header->tables[static_cast<int>(table)];
  return static_cast<char*>(base) + t.offset + static_cast<uint64_t>(t.record_size) * index;
}

inline uint32_t table_capacity(const void* base, DbTable table) {
  return static_cast<const DbHeader*>(base)->tables[static_cast<int>(table)].capacity;
}

}  // namespace vexlor::detail
