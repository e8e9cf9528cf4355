// tools/common/history_file.h
// The SQLite files the tools keep equipment history in (the operator audit trail, the host event
// journal): opened in WAL mode with a busy time-out, created for the equipment's user and group
// only, as the alarm log.
#pragma once
#include <sqlite3.h>

#include <string>
namespace vexlor_tools {
// Opens (creating it and its missing folders, 0770, when needed) the history file `file`. The
// new file gets 0660. nullptr with `error` set ("<file>: <reason>") when it cannot be opened.
sqlite3* open_history_file(const std::string& file, std::string* error);
}  // namespace vexlor_tools
