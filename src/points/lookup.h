// Internal side of point lookup: the table scans and the alarm lookups that VIO_Find,
// the name cache and the alarm Part share.
#pragma once

#include <vexlor/records.h>
#include <vexlor/types.h>

#include <cstdint>
#include <string_view>

namespace vexlor::detail {

// "IO_D", "IO_A", "IO_S", "IO_F", "IO_L"; "IO_UNKNOWN" for any other value.
const char* io_type_text(int type);

// True when the 64-byte name field holds `name` (63 bytes at most), ignoring ASCII case.
bool name_matches(const char (&field)[64], std::string_view name);

// The first record of the digital, analog, string or function table (functions 0 to N-1)
// whose name matches; -1 when none or for another type.
int32_t scan_table(const Vexlor::MMAP_STRU& db, Vexlor::IO_TYPE type, std::string_view name);

// The first alarm definition with this alarm ID; -1 when none. Uncached.
int32_t scan_alarm_id(const Vexlor::MMAP_STRU& db, int32_t id);

// The alarm point of an alarm ID through the context's alarm_index_cache. Not attached: false,
// nothing written. Otherwise *point is -1 until found; a miss prints "ALARM_ID:%d未识别.
// [代码行:%s:%d]" with `operation` and `line` when `report`.
bool alarm_point_by_id(int* point, int64_t id, bool report, const char* operation, int line);

// The alarm point of module text (name or ID) and number: ID = alarm base * 1000 + number.
// An unknown module (negative base) stores -1 and fails without a message.
bool alarm_point_by_module(int* point, const char* module, int number, bool report,
                           const char* operation, int line);

}  // namespace vexlor::detail
