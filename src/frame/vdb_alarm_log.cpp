// The alarm log of the equipment database: one table per month, rows appended by alarm
// posting and answering from any number of routines at once, and read back by tools.
//
// Every routine keeps one connection to the database file (opened on first use, again after a
// failure or in a forked child, never shared across processes). Writers wait for each other
// through SQLite's busy time-out and retry a busy insert a few times, so no row is lost.
#include "frame/vdb_alarm_log.h"

#include <sqlite3.h>
#include <vexlor/alarms.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <map>
#include <string>
#include <vector>

#include "frame/context.h"
#include "util/vdb.h"
#include "frame/vdb_file.h"
#include "os/clock.h"
#include "os/instance.h"

namespace vexlor::detail {
namespace {

constexpr int kInsertAttempts = 5;

struct StatementCloser {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using LogStatement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

LogStatement prepare_log(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return nullptr;
  }
  return LogStatement(raw);
}

bool is_busy(int rc) {
  const int primary = rc & 0xff;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// The ten texts of a row in column order.
constexpr const char* kColumns[] = {"alarm_name",    "log_text",    "post_time", "answer",
                                    "clear_time",    "module_name", "alarm_id",  "level",
                                    "code_position", "description"};

std::string* column_of(Vexlor::AlarmLog_Item& item, int i) {
  std::string* fields[] = {&item.alarm_name,    &item.log_text,    &item.post_time, &item.answer,
                           &item.clear_time,    &item.module_name, &item.alarm_id,  &item.level,
                           &item.code_position, &item.description};
  return fields[i];
}

std::string schema_of(const std::string& table) {
  std::string sql =
      "CREATE TABLE IF NOT EXISTS \"" + table + "\"(row INTEGER PRIMARY KEY AUTOINCREMENT";
  for (const char* column : kColumns) sql += std::string(", ") + column + " TEXT NOT NULL";
  sql += ", inserted TEXT NOT NULL);";
  return sql;
}

std::string insert_of(const std::string& table) {
  std::string sql = "INSERT INTO \"" + table + "\"(";
  for (const char* column : kColumns) sql += std::string(column) + ", ";
  sql += "inserted) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";
  return sql;
}

std::string now_text() {
  const os::LocalTime t = os::local_time();
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.milliseconds);
  return text;
}

// This process's connection to one database file, and the insert statement of each table it
// has made sure exists (prepared once, reset after each row).
struct LogConnection {
  long pid = -1;
  std::string file;
  VdbConnection db;
  std::map<std::string, LogStatement> inserts;  // destroyed before the connection
};

std::mutex g_log_mutex;
// Deliberately never destroyed: a forked child must not close (and checkpoint) its parent's
// connection at exit. Connections inherited through fork are parked, not closed.
LogConnection* g_log = new LogConnection;
std::vector<sqlite3*>* g_inherited = new std::vector<sqlite3*>;

// The connection for `file`, opened when missing, for another file, or after a fork.
sqlite3* log_connection(const std::string& file) {
  const long pid = os::process_id();
  if (g_log->db && g_log->pid != pid) {
    // The parent's statements belong to its connection: parked with it, never finalised here.
    for (auto& entry : g_log->inserts) entry.second.release();
    g_log->inserts.clear();
    g_inherited->push_back(g_log->db.release());
  }
  if (g_log->db && g_log->file == file) return g_log->db.get();
  g_log->inserts.clear();
  g_log->db.reset();
  g_log->db = vdb_open(file, true, nullptr);
  if (!g_log->db) return nullptr;
  g_log->pid = pid;
  g_log->file = file;
  // WAL with NORMAL sync: a routine that dies loses nothing; only a power cut may lose the
  // last rows.
  vdb_exec(g_log->db.get(), "PRAGMA synchronous=NORMAL;", nullptr);
  return g_log->db.get();
}

// Forgets the connection and its statements; the next attempt opens the file again.
void drop_connection() {
  g_log->inserts.clear();
  g_log->db.reset();
}

// The table's insert statement; the table is made on first use.
sqlite3_stmt* insert_statement(sqlite3* db, const std::string& table, int* rc) {
  auto it = g_log->inserts.find(table);
  if (it != g_log->inserts.end()) return it->second.get();
  *rc = sqlite3_exec(db, schema_of(table).c_str(), nullptr, nullptr, nullptr);
  if (*rc != SQLITE_OK) return nullptr;
  LogStatement insert = prepare_log(db, insert_of(table));
  if (!insert) {
    *rc = sqlite3_errcode(db);
    return nullptr;
  }
  return g_log->inserts.emplace(table, std::move(insert)).first->second.get();
}

// One attempt: make sure the table exists, then insert.
int insert_row(sqlite3* db, const std::string& table, Vexlor::AlarmLog_Item& item,
               const std::string& inserted) {
  int rc = SQLITE_OK;
  sqlite3_stmt* insert = insert_statement(db, table, &rc);
  if (insert == nullptr) return rc;
  for (int i = 0; i < 10; ++i) {
    const std::string& text = *column_of(item, i);
    sqlite3_bind_text(insert, i + 1, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  }
  sqlite3_bind_text(insert, 11, inserted.data(), static_cast<int>(inserted.size()),
                    SQLITE_STATIC);
  rc = sqlite3_step(insert);
  sqlite3_reset(insert);
  sqlite3_clear_bindings(insert);
  return rc == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db);
}

std::string column_text(sqlite3_stmt* s, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
  const int size = sqlite3_column_bytes(s, column);
  return text ? std::string(text, static_cast<std::size_t>(size)) : std::string();
}

}  // namespace

bool valid_log_table_name(std::string_view name) {
  if (name.empty() || name.size() > 63) return false;
  for (char c : name) {
    const bool ok =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

std::string normalise_log_time(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '-' && i < 10) out[i] = '/';
    if (out[i] == 'T' && i == 10) out[i] = ' ';
  }
  return out;
}

bool read_alarm_log(const std::string& file, std::string_view since, std::vector<AlarmLogRow>* rows,
                    std::string* error) {
  VdbConnection db = vdb_open(file, false, error);
  if (!db) return false;
  // One read transaction: the rows of one moment, even while routines go on writing.
  if (!vdb_exec(db.get(), "BEGIN;", error)) return false;
  std::vector<std::string> tables;
  LogStatement list = prepare_log(db.get(),
                                  "SELECT name FROM sqlite_master WHERE type = 'table' AND name "
                                  "GLOB 'AlarmLog_[0-9][0-9][0-9][0-9][0-9][0-9]' ORDER BY name");
  while (list && sqlite3_step(list.get()) == SQLITE_ROW)
    tables.push_back(column_text(list.get(), 0));
  const std::string from = normalise_log_time(since);
  std::vector<AlarmLogRow> found;
  bool ok = list != nullptr;
  for (const std::string& table : tables) {
    std::string sql = "SELECT row";
    for (const char* column : kColumns) sql += std::string(", ") + column;
    sql += ", inserted FROM \"" + table + "\" WHERE inserted >= ?1 ORDER BY row";
    LogStatement select = prepare_log(db.get(), sql);
    if (!select) {
      ok = false;
      break;
    }
    sqlite3_bind_text(select.get(), 1, from.data(), static_cast<int>(from.size()), SQLITE_STATIC);
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
      AlarmLogRow row;
      row.table = table;
      row.row = sqlite3_column_int64(select.get(), 0);
      for (int i = 0; i < 10; ++i) *column_of(row.item, i) = column_text(select.get(), i + 1);
      row.inserted = column_text(select.get(), 11);
      found.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
      ok = false;
      break;
    }
  }
  if (!ok && error != nullptr) *error = file + ": " + sqlite3_errmsg(db.get());
  list.reset();
  vdb_exec(db.get(), "COMMIT;", nullptr);
  if (ok && rows != nullptr) *rows = std::move(found);
  return ok;
}

bool alarm_log_ends_with(const char* table, const Vexlor::AlarmLog_Item& item) {
  if (table == nullptr || !valid_log_table_name(table) || attached_db() == nullptr) return false;
  const std::string file = vdb_file();
  if (file.empty()) return false;
  std::lock_guard<std::mutex> lock(g_log_mutex);
  sqlite3* db = log_connection(file);
  if (db == nullptr) return false;
  std::string sql = "SELECT ";
  for (int i = 0; i < 10; ++i) sql += std::string(i ? ", " : "") + kColumns[i];
  sql += " FROM \"" + std::string(table) + "\" WHERE alarm_id = ?1 ORDER BY row DESC LIMIT 1";
  LogStatement select = prepare_log(db, sql);
  if (!select) return false;  // no such table yet: no such row
  sqlite3_bind_text(select.get(), 1, item.alarm_id.data(), static_cast<int>(item.alarm_id.size()),
                    SQLITE_TRANSIENT);
  if (sqlite3_step(select.get()) != SQLITE_ROW) return false;
  Vexlor::AlarmLog_Item copy = item;
  for (int i = 0; i < 10; ++i) {
    if (column_text(select.get(), i) != *column_of(copy, i)) return false;
  }
  return true;
}

}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

std::string VDB_New_Log_Table_Name() {
  const vexlor::os::LocalTime t = vexlor::os::local_time();
  char name[32];
  std::snprintf(name, sizeof name, "AlarmLog_%04d%02d", t.year, t.month);
  return name;
}

bool VDB_Add_AlarmLog(const char* table, AlarmLog_Item& item) {
  if (table == nullptr || !d::valid_log_table_name(table) || d::attached_db() == nullptr) {
    return false;
  }
  const std::string file = d::vdb_file();
  if (file.empty()) return false;
  const std::string name(table);
  const std::string inserted = d::now_text();
  std::lock_guard<std::mutex> lock(d::g_log_mutex);
  for (int attempt = 0; attempt < d::kInsertAttempts; ++attempt) {
    sqlite3* db = d::log_connection(file);
    if (db == nullptr) return false;
    const int rc = d::insert_row(db, name, item, inserted);
    if (rc == SQLITE_OK) return true;
    // The file may have gone or been replaced: the next attempt opens it again.
    if (!d::is_busy(rc)) d::drop_connection();
    vexlor::os::sleep_milliseconds(static_cast<uint32_t>(10 * (attempt + 1)));
  }
  return false;
}

}  // namespace Vexlor
