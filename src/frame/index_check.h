// The index check shared by every operation that takes a point, alarm, module, enumeration,
// driver or function index: silent failure when the library is not attached, one red console
// line naming the operation and the source line when the index is outside its table.
//
//   MMAP_STRU* db = VEXLOR_CHECKED_DB(kModule, point);
//   if (db == nullptr) return "";
//
// The macros pass the enclosing function's name (__func__, qualified here with "Vexlor::")
// and __LINE__; call the functions directly where the reporting operation is another one.
#pragma once

#include <vexlor/records.h>

#include <cstdint>
#include <string>

#include "db/db_image.h"
#include "frame/context.h"

namespace vexlor::detail {

// The table an index belongs to; selects the two words of the message and the bound.
enum class IndexKind { kDigital, kAnalog, kString, kAlarm, kModule, kEnum, kDriver, kFunction };

// Records in the kind's table: the count of the system block, N + 12 for functions.
int32_t table_size(const Vexlor::MMAP_STRU& db, IndexKind kind);

// The operation's name as error lines write it: `operation` itself when it holds "::",
// else "Vexlor::" before it (the bare name that __func__ gives inside namespace Vexlor).
std::string qualified_operation(const char* operation);

// Prints the line for a bad index with VPrint_Red, titled with the routine's own name:
// "%s %s  = ERROR_IO_POINT.[代码行:%s:%d]" for -1, "%s %s = UNUSE_IO_POINT.[代码行:%s:%d]" for
// -99999999, "%s %s = %d , 超限.[代码行:%s:%d]" otherwise. `operation` without "::" is
// qualified with "Vexlor::".
void report_bad_index(IndexKind kind, int32_t index, const char* operation, int line);

// True when 0 <= index < count; otherwise reports and returns false.
bool index_in_range(IndexKind kind, int32_t index, int32_t count, const char* operation, int line);

// The attached database when `index` is a record of the kind's table; null (silently when not
// attached, with the report when out of range) otherwise.
Vexlor::MMAP_STRU* checked_db(IndexKind kind, int32_t index, const char* operation, int line);

// The same for a table known where it is called. This is the path of every indexed point
// operation, so it stays inline: the bound is the system block's count capped by the image's
// capacity, loaded at every call, and only the report of a bad index is out of line.
template <IndexKind K>
inline int32_t table_size_of(const Vexlor::MMAP_STRU& db) {
  const Vexlor::MEM_SYSTEM_STRU& s = *db.system_block;
  if constexpr (K == IndexKind::kDigital) {
    return bounded_count(db, DbTable::DigitalDefs, s.digital_count);
  } else if constexpr (K == IndexKind::kAnalog) {
    return bounded_count(db, DbTable::AnalogDefs, s.analog_count);
  } else if constexpr (K == IndexKind::kString) {
    return bounded_count(db, DbTable::StringDefs, s.string_count);
  } else if constexpr (K == IndexKind::kAlarm) {
    return bounded_count(db, DbTable::AlarmDefs, s.alarm_count);
  } else if constexpr (K == IndexKind::kModule) {
    return bounded_count(db, DbTable::Modules, s.module_count);
  } else if constexpr (K == IndexKind::kEnum) {
    return bounded_count(db, DbTable::Enums, s.enum_count);
  } else if constexpr (K == IndexKind::kDriver) {
    return bounded_count(db, DbTable::Drivers, s.driver_count);
  } else {
    return s.function_count < 0 ? 0
                                : bounded_count(db, DbTable::FunctionDefs, s.function_count + 12);
  }
}

template <IndexKind K>
inline Vexlor::MMAP_STRU* checked_db(int32_t index, const char* operation, int line) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr) return nullptr;
  if (index >= 0 && index < table_size_of<K>(*db)) return db;
  report_bad_index(K, index, operation, line);
  return nullptr;
}

}  // namespace vexlor::detail

#define VEXLOR_CHECKED_DB(kind, index) \
  ::vexlor::detail::checked_db(::vexlor::detail::IndexKind::kind, (index), __func__, __LINE__)

#define VEXLOR_INDEX_IN_RANGE(kind, index, count)                                                 \
  ::vexlor::detail::index_in_range(::vexlor::detail::IndexKind::kind, (index), (count), __func__, \
                                   __LINE__)
