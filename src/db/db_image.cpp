// Placing, checking and mapping the tables of a database image.
#include "db/db_image.h"

#include <cstring>

#include "db/name_index.h"
#include "os/atomic_field.h"

namespace vexlor::detail {
namespace {

constexpr uint64_t kAlign = 64;

uint64_t align_up(uint64_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

uint32_t capacity_of(DbTable table, const DbCounts& c) {
  switch (table) {
    case DbTable::Modules:
      return c.modules;
    case DbTable::Enums:
      return c.enums;
    case DbTable::Drivers:
      return c.drivers;
    case DbTable::DigitalValues:
    case DbTable::DigitalDefs:
      return c.digitals;
    case DbTable::AnalogValues:
    case DbTable::AnalogDefs:
      return c.analogs;
    case DbTable::StringValues:
    case DbTable::StringDefs:
      return c.strings;
    case DbTable::AlarmRuntime:
    case DbTable::AlarmDefs:
      return c.alarms;
    case DbTable::FunctionRuntime:
    case DbTable::FunctionDefs:
      return c.functions + kFunctionExtraSlots;
    case DbTable::NameIndex:
      return static_cast<uint32_t>(name_index_words(c.digitals) + name_index_words(c.analogs) +
                                   name_index_words(c.strings));
    case DbTable::AlarmFeed:
      return kAlarmFeedSlots;
    default:
      return 1;
  }
}

constexpr uint32_t kRecordSizes[kDbTableCount] = {
#define VEXLOR_DB_SIZE(name, type) static_cast<uint32_t>(sizeof(type)),
    VEXLOR_DB_TABLES(VEXLOR_DB_SIZE)
#undef VEXLOR_DB_SIZE
};

}  // namespace

DbHeader plan_image(const DbCounts& counts) {
  DbHeader h;
  std::memset(&h, 0, sizeof h);
  std::memcpy(h.magic, kImageMagic, sizeof h.magic);
  h.version = kImageVersion;
  h.header_size = static_cast<uint32_t>(kImageHeaderSize);
  uint64_t offset = h.header_size;
  for (int t = 0; t < kDbTableCount; ++t) {
    DbTableInfo& info = h.tables[t];
    info.offset = offset;
    info.record_size = kRecordSizes[t];
    info.capacity = capacity_of(static_cast<DbTable>(t), counts);
    offset = align_up(offset + static_cast<uint64_t>(info.record_size) * info.capacity);
  }
  h.total_size = offset;
  return h;
}

bool image_valid(const void* base, std::size_t mapped_size, std::string* why) {
  auto fail = [why](const char* text) {
    if (why) *why = text;
    return false;
  };
  if (base == nullptr || mapped_size < sizeof(DbHeader)) return fail("database section too small");
  const auto* h = static_cast<const DbHeader*>(base);
  if (std::memcmp(h->magic, kImageMagic, sizeof h->magic) != 0) return fail("not a database");
  if (h->version != kImageVersion) return fail("database version not supported");
  if (h->total_size > mapped_size) return fail("database section truncated");
  for (int t = 0; t < kDbTableCount; ++t) {
    const DbTableInfo& info = h->tables[t];
    if (info.record_size != kRecordSizes[t]) return fail("database record size mismatch");
    if (info.offset % kAlign != 0 ||
        info.offset + static_cast<uint64_t>(info.record_size) * info.capacity > h->total_size) {
      return fail("database table out of bounds");
    }
  }
  const DbTableInfo& system = h->tables[static_cast<int>(DbTable::System)];
  if (system.capacity != 1 || system.offset != kImageHeaderSize) return fail("no system block");
  return true;
}

void retire_image(void* base) { os::store_relaxed(static_cast<DbHeader*>(base)->retired, 1u); }

bool image_retired(const Vexlor::MMAP_STRU& db) {
  return db.system_block != nullptr && os::load_relaxed(image_header(db).retired) != 0;
}

void fill_descriptor(void* base, Vexlor::MMAP_STRU* d) {
  using namespace Vexlor;
  auto at = [base](DbTable t) { return table_record(base, t, 0); };
  d->system_block = static_cast<MEM_SYSTEM_STRU*>(at(DbTable::System));
  d->module_sp = static_cast<MEM_MODULE_SP_STRU*>(at(DbTable::Modules));
  d->sch_rbtani = static_cast<MEM_SCH_RBTANI_STRU*>(at(DbTable::RobotAnimation));
  d->sch_job = static_cast<MEM_SCH_JOB_STRU*>(at(DbTable::Jobs));
  d->sch_cm = static_cast<MEM_SCH_CM_STRU*>(at(DbTable::CarrierModules));
  d->sch_bm = static_cast<MEM_SCH_BM_STRU*>(at(DbTable::BufferModules));
  d->sch_pm = static_cast<MEM_SCH_PM_STRU*>(at(DbTable::ProcessModules));
  d->sch_tm = static_cast<MEM_SCH_TM_STRU*>(at(DbTable::TransferModules));
  d->sch_wafer = static_cast<MEM_SCH_WAFER_STRU*>(at(DbTable::Wafers));
  d->sch_util = static_cast<MEM_SCH_UTIL_STRU*>(at(DbTable::SchedulerUtil));
  d->enum_sp = static_cast<MEM_ENUM_SP_STRU*>(at(DbTable::Enums));
  d->driver_sp = static_cast<MEM_DRIVER_SP_STRU*>(at(DbTable::Drivers));
  d->unused_1408 = nullptr;
  d->digital_val = static_cast<MEM_DIGITAL_VAL_STRU*>(at(DbTable::DigitalValues));
  d->digital_sp = static_cast<MEM_DIGITAL_SP_STRU*>(at(DbTable::DigitalDefs));
  d->analog_val = static_cast<MEM_ANALOG_VAL_STRU*>(at(DbTable::AnalogValues));
  d->analog_sp = static_cast<MEM_ANALOG_SP_STRU*>(at(DbTable::AnalogDefs));
  d->string_val = static_cast<MEM_STRING_VAL_STRU*>(at(DbTable::StringValues));
  d->string_sp = static_cast<MEM_STRING_SP_STRU*>(at(DbTable::StringDefs));
  d->alarm_rt = static_cast<MEM_ALARM_RT_STRU*>(at(DbTable::AlarmRuntime));
  d->alarm_queue = static_cast<MEM_ALARM_QUEUE_STRU*>(at(DbTable::AlarmQueue));
  d->alarm_sp = static_cast<MEM_ALARM_SP_STRU*>(at(DbTable::AlarmDefs));
  d->function_rt = static_cast<MEM_FUNCTION_RT_STRU*>(at(DbTable::FunctionRuntime));
  d->abort_manager = static_cast<MEM_ABORT_MANAGER_STRU*>(at(DbTable::AbortManager));
  d->function_sp = static_cast<MEM_FUNCTION_SP_STRU*>(at(DbTable::FunctionDefs));
}

}  // namespace vexlor::detail
