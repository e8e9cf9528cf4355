// tools/common/history_file.h
// The SQLite files the tools keep equipment history in (the operator audit trail, the host event
// journal): opened in WAL mode with a busy time-out, created for the equipment's user and group
// only, as the alarm log.
#pragma once
#include <sqlite3.h>

#include <string>
#include <vector>
namespace vexlor_tools {
// Opens (creating it and its missing folders, 0770, when needed) the history file `file`. The
// new file gets 0660. nullptr with `error` set ("<file>: <reason>") when it cannot be opened.
sqlite3* open_history_file(const std::string& file, std::string* error);
// Opens an existing history file for reading, with the same busy time-out. nullptr with `error`
// set when it cannot be opened.
sqlite3* open_history_file_to_read(const std::string& file, std::string* error);

// Text of column i of the current row ("" for NULL).
std::string column_text(sqlite3_stmt* statement, int i);
// The monthly alarm-log tables "AlarmLog_YYYYMM" of the file, oldest first.
bool alarm_log_tables(sqlite3* db, std::vector<std::string>* tables);
}  // namespace vexlor_tools
