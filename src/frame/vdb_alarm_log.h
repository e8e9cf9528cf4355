// Internal side of the alarm log (VDB): reading it back, for `vexlor-db alarms` and tests.
// The writing side is VDB_New_Log_Table_Name / VDB_Add_AlarmLog (vexlor/alarms.h).
//
// Tables: one per calendar month, "AlarmLog_YYYYMM", in the equipment's database file
//   AlarmLog_YYYYMM(row INTEGER PRIMARY KEY AUTOINCREMENT, alarm_name, log_text, post_time,
//                   answer, clear_time, module_name, alarm_id, level, code_position,
//                   description, inserted)      -- every column TEXT NOT NULL except row
// `inserted` is the local time of the insert, "YYYY/MM/DD HH:MM:SS.mmm", so texts sort in time.
#pragma once

#include <vexlor/alarms.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexlor::detail {

// A table name the log accepts: 1 to 63 ASCII letters, digits and '_'.
bool valid_log_table_name(std::string_view name);

struct AlarmLogRow {
  std::string table;
  int64_t row = 0;
  Vexlor::AlarmLog_Item item;
  std::string inserted;
};

// "2026-12-05 08:00" and "2026/12/05T08:00" both become "2026/12/05 08:00": the form of
// `inserted`, so a prefix compares as the start of that time.
std::string normalise_log_time(std::string_view text);

// Whether the last row of `table` for the item's alarm ID equals `item` in all ten texts (false
// when there is none or the log cannot be read). For repairs after a dead writer.
bool alarm_log_ends_with(const char* table, const Vexlor::AlarmLog_Item& item);

// Every row of every monthly table of `file` inserted at or after `since` (normalised; "" for
// all), tables in month order and rows in insertion order. False with a reason when the file
// cannot be read.
bool read_alarm_log(const std::string& file, std::string_view since, std::vector<AlarmLogRow>* rows,
                    std::string* error);

}  // namespace vexlor::detail
