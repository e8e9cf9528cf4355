// Data-log tables of the equipment database: written from the configuration by
// `vexlor-db create`, read by data loggers through VDB_Get_DataLog_IO.
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "util/vdb.h"

namespace vexlor::detail {
namespace {

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS datalog_tables("
    "name TEXT PRIMARY KEY COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS datalog_io("
    "table_name TEXT NOT NULL COLLATE NOCASE, position INTEGER NOT NULL, "
    "point_name TEXT NOT NULL, PRIMARY KEY (table_name, position));";

// A prepared statement, finalized when it goes.
struct StatementCloser {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

Statement prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return nullptr;
  }
  return Statement(raw);
}

bool bind_text(sqlite3_stmt* s, int index, std::string_view text) {
  // An empty view may have no data pointer, which SQLite would bind as NULL, not as "".
  return sqlite3_bind_text(s, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                           SQLITE_TRANSIENT) == SQLITE_OK;
}

// Runs an insert with its bound values and makes it ready for the next ones.
bool step_done(sqlite3_stmt* s) {
  const bool done = sqlite3_step(s) == SQLITE_DONE;
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
  return done;
}

bool fill_tables(sqlite3* db, const std::vector<DataLogTable>& tables, std::string* error) {
  if (!vdb_exec(db, "DELETE FROM datalog_io; DELETE FROM datalog_tables;", error)) return false;
  Statement table = prepare(db, "INSERT INTO datalog_tables(name) VALUES(?1)");
  Statement point =
      prepare(db, "INSERT INTO datalog_io(table_name, position, point_name) VALUES(?1, ?2, ?3)");
  if (!table || !point) {
    if (error != nullptr) *error = sqlite3_errmsg(db);
    return false;
  }
  for (const DataLogTable& t : tables) {
    if (!bind_text(table.get(), 1, t.name) || !step_done(table.get())) {
      if (error != nullptr) *error = "data-log table \"" + t.name + "\": " + sqlite3_errmsg(db);
      return false;
    }
    for (std::size_t i = 0; i < t.points.size(); ++i) {
      if (!bind_text(point.get(), 1, t.name) ||
          sqlite3_bind_int64(point.get(), 2, static_cast<sqlite3_int64>(i)) != SQLITE_OK ||
          !bind_text(point.get(), 3, t.points[i]) || !step_done(point.get())) {
        if (error != nullptr) *error = "data-log table \"" + t.name + "\": " + sqlite3_errmsg(db);
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool write_datalog_tables(const std::string& file, const std::vector<DataLogTable>& tables,
                          bool create, std::string* error) {
  if (!create) {
    std::error_code ec;
    if (file.empty() || !std::filesystem::exists(file, ec)) return true;
  }
  VdbConnection db = vdb_open(file, create, error);
  if (!db) return false;
  std::string why;
  if (!vdb_exec(db.get(), "BEGIN IMMEDIATE;", &why) || !vdb_exec(db.get(), kSchema, &why) ||
      !fill_tables(db.get(), tables, &why) || !vdb_exec(db.get(), "COMMIT;", &why)) {
    vdb_exec(db.get(), "ROLLBACK;", nullptr);
    if (error != nullptr) *error = file + ": " + why;
    return false;
  }
  return true;
}

bool read_datalog_table(const std::string& file, std::string_view table,
                        std::vector<std::string>* points) {
  VdbConnection db = vdb_open(file, false, nullptr);
  if (!db) return false;
  // One read transaction, so a create running at the same time shows its lists whole or not.
  if (!vdb_exec(db.get(), "BEGIN;", nullptr)) return false;
  Statement known = prepare(db.get(), "SELECT 1 FROM datalog_tables WHERE name = ?1");
  Statement rows = prepare(db.get(),
                           "SELECT point_name FROM datalog_io WHERE table_name = ?1 "
                           "ORDER BY position");
  bool ok = known && rows && bind_text(known.get(), 1, table) &&
            sqlite3_step(known.get()) == SQLITE_ROW && bind_text(rows.get(), 1, table);
  std::vector<std::string> found;
  while (ok) {
    const int rc = sqlite3_step(rows.get());
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) {
      ok = false;
      break;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(rows.get(), 0));
    const int size = sqlite3_column_bytes(rows.get(), 0);
    found.emplace_back(text ? std::string(text, static_cast<std::size_t>(size)) : std::string());
  }
  known.reset();
  rows.reset();
  vdb_exec(db.get(), "COMMIT;", nullptr);
  if (ok && points != nullptr) *points = std::move(found);
  return ok;
}

}  // namespace vexlor::detail
