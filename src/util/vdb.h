// Internal side of the equipment database library (VDB): where the equipment's SQLite file
// lives, how every part of the library opens it, and the data-log tables it holds.
//
// File: "<database path>\vexlor.db", the database path being the system block's
// (VSystem_Get_Database_Path) and the whole path mapped with map_system_path, so on POSIX
// "Z:\Database" gives <VEXLOR_DRIVE_ROOT>/Z/Database/vexlor.db. One file per equipment, like
// the log files below the history path: instances that share a database path share it.
//
// Connections run in WAL mode (readers never block the writer, and one routine appending
// alarm rows never blocks a data logger reading its lists) with a 5000 ms busy time-out.
//
// Data-log tables (written by `vexlor-db create` from the configuration's `datalogs`):
//   datalog_tables(name TEXT PRIMARY KEY COLLATE NOCASE)
//   datalog_io(table_name TEXT COLLATE NOCASE, position INTEGER, point_name TEXT,
//              PRIMARY KEY (table_name, position))
// Table names match ignoring ASCII letter case, like the other names of the system.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace vexlor::detail {

inline constexpr char kVdbFileName[] = "vexlor.db";
inline constexpr int kVdbBusyTimeoutMs = 5000;

// The system path of the equipment's database file below `database_path`:
// "<database_path>\vexlor.db" ("" when the database path is empty).
std::string vdb_system_path(std::string_view database_path);

// The file-system path of the database file for `database_path`; "" when the database path
// is empty or the result is not a valid system path (too long).
std::string vdb_file_for(std::string_view database_path);

struct SqliteCloser {
  void operator()(sqlite3* db) const;
};
using VdbConnection = std::unique_ptr<sqlite3, SqliteCloser>;

// Opens `file` read-write in WAL mode with the busy time-out. With `create`, missing folders
// and the file are created (owner and group only); without it a missing file fails. Null
// with a one-line reason in `error` (when given) on failure.
VdbConnection vdb_open(const std::string& file, bool create, std::string* error);

// Runs one or more SQL statements without results; false with SQLite's message in `error`.
bool vdb_exec(sqlite3* db, const char* sql, std::string* error);

// One data-log table of the configuration: its name and its point names in order.
struct DataLogTable {
  std::string name;
  std::vector<std::string> points;
};

// Replaces every data-log table of `file` by `tables`, in one transaction (readers see the
// old lists or the new ones, never a mixture). Creates the file when `create`; without it a
// missing file is left alone and counts as success. False with a reason in `error`.
bool write_datalog_tables(const std::string& file, const std::vector<DataLogTable>& tables,
                          bool create, std::string* error);

// The point names of data-log table `table` in `file`, in order. False when the file or the
// table cannot be read or the table is unknown.
bool read_datalog_table(const std::string& file, std::string_view table,
                        std::vector<std::string>* points);

}  // namespace vexlor::detail
