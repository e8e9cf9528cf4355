// The operator audit trail in the equipment's database file.
#include "audit.h"

#include <sqlite3.h>
#include <vexlor/vexlor.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "equipment_text.h"
#include "history_file.h"

#ifdef _WIN32
#include <process.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace vexlor_tools {
namespace {

constexpr int kBusyTimeoutMs = 5000;

constexpr char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS OperatorAudit("
    "row INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, source TEXT NOT NULL, "
    "action TEXT NOT NULL, target TEXT NOT NULL, value TEXT NOT NULL, result TEXT NOT NULL, "
    "user_name TEXT NOT NULL, user_level INTEGER NOT NULL, host_user TEXT NOT NULL, "
    "pid INTEGER NOT NULL, address TEXT NOT NULL, ended TEXT NOT NULL DEFAULT '');";

// Whether the table "OperatorAudit" has the column "ended" (tables written before it was added
// have not).
bool has_ended_column(sqlite3* db) {
  sqlite3_stmt* info = nullptr;
  bool found = false;
  if (sqlite3_prepare_v2(db, "PRAGMA table_info(OperatorAudit)", -1, &info, nullptr) == SQLITE_OK) {
    while (!found && sqlite3_step(info) == SQLITE_ROW) {
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(info, 1));
      found = name != nullptr && std::string(name) == "ended";
    }
  }
  sqlite3_finalize(info);
  return found;
}

void set_error(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

std::string host_user() {
#ifndef _WIN32
  if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr) {
    return pw->pw_name;
  }
  const char* name = std::getenv("USER");
#else
  const char* name = std::getenv("USERNAME");
#endif
  return name != nullptr ? name : "";
}

long long process_id() {
#ifdef _WIN32
  return _getpid();
#else
  return ::getpid();
#endif
}

std::string column(sqlite3_stmt* s, int i) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
  return text != nullptr ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
                         : std::string();
}

void bind_text(sqlite3_stmt* s, int i, const std::string& text) {
  sqlite3_bind_text(s, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

std::string map_system_path(const std::string& path) {
#ifdef _WIN32
  return path;
#else
  std::string out;
  std::size_t start = 0;
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    std::string root;
    if (const char* r = std::getenv("VEXLOR_DRIVE_ROOT"); r != nullptr && *r != '\0') {
      root = r;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
      root = std::string(home) + "/.vexlor/drives";
    } else {
      root = "/tmp/vexlor-drives";
    }
    const char letter = path[0] >= 'a' ? static_cast<char>(path[0] - 'a' + 'A') : path[0];
    out = root + '/' + letter;
    start = 2;
    if (start < path.size() && path[start] != '\\' && path[start] != '/') out += '/';
  }
  for (std::size_t i = start; i < path.size(); ++i) out += path[i] == '\\' ? '/' : path[i];
  return out;
#endif
}

std::string equipment_database_file() {
  if (Vexlor::MMAP_DB() == nullptr) return {};
  std::string path = Vexlor::VSystem_Get_Database_Path();
  if (path.empty()) return {};
  if (path.back() != '\\' && path.back() != '/') path += '\\';
  return map_system_path(path + "vexlor.db");
}

bool journal_operator_action(const OperatorAction& action, std::string* error) {
  const std::string file = equipment_database_file();
  if (file.empty()) {
    set_error(error, Vexlor::MMAP_DB() == nullptr ? "no equipment database attached"
                                                  : "the equipment has no database path");
    return false;
  }
  sqlite3* db = open_history_file(file, error);
  if (db == nullptr) return false;
  sqlite3_stmt* insert = nullptr;
  bool ok = sqlite3_exec(db, kCreateTable, nullptr, nullptr, nullptr) == SQLITE_OK &&
            (has_ended_column(db) ||
             sqlite3_exec(db, "ALTER TABLE OperatorAudit ADD COLUMN ended TEXT NOT NULL DEFAULT ''",
                          nullptr, nullptr, nullptr) == SQLITE_OK ||
             has_ended_column(db)) &&  // another writer added it meanwhile
            sqlite3_prepare_v2(db,
                               "INSERT INTO OperatorAudit(time, source, action, target, value, "
                               "result, user_name, user_level, host_user, pid, address, ended) "
                               "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)",
                               -1, &insert, nullptr) == SQLITE_OK;
  if (ok) {
    const std::string now = local_time_text();
    bind_text(insert, 1, action.requested.empty() ? now : action.requested);
    bind_text(insert, 2, action.source);
    bind_text(insert, 3, action.action);
    bind_text(insert, 4, action.target);
    bind_text(insert, 5, action.value);
    bind_text(insert, 6, action.result);
    bind_text(insert, 7, Vexlor::VSystem_Get_User_Name());
    sqlite3_bind_int(insert, 8, Vexlor::VSystem_Get_User_Level());
    bind_text(insert, 9, host_user());
    sqlite3_bind_int64(insert, 10, process_id());
    bind_text(insert, 11, action.address);
    bind_text(insert, 12, now);
    ok = sqlite3_step(insert) == SQLITE_DONE;
  }
  if (!ok) set_error(error, file + ": " + sqlite3_errmsg(db));
  sqlite3_finalize(insert);
  sqlite3_close_v2(db);
  return ok;
}

bool read_operator_actions(const std::string& file, const std::string& since,
                           std::vector<AuditRow>* rows, std::string* error) {
  std::error_code ec;
  if (file.empty() || !std::filesystem::exists(file, ec)) return true;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    set_error(error, file + ": " + (db != nullptr ? sqlite3_errmsg(db) : "cannot open"));
    sqlite3_close_v2(db);
    return false;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_stmt* select = nullptr;
  // The file is opened read-only: rows of a table without "ended" read it as "".
  const std::string query = std::string(
                                "SELECT row, time, source, action, target, value, result, "
                                "user_name, user_level, host_user, pid, address, ") +
                            (has_ended_column(db) ? "ended" : "''") +
                            " FROM OperatorAudit WHERE time >= ?1 ORDER BY row";
  int rc = sqlite3_prepare_v2(db, query.c_str(), -1, &select, nullptr);
  if (rc != SQLITE_OK) {
    // No table yet: nothing was journaled.
    const bool missing = std::string(sqlite3_errmsg(db)).find("no such table") != std::string::npos;
    if (!missing) set_error(error, file + ": " + sqlite3_errmsg(db));
    sqlite3_close_v2(db);
    return missing;
  }
  bind_text(select, 1, since);
  while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
    AuditRow r;
    r.row = sqlite3_column_int64(select, 0);
    r.time = column(select, 1);
    r.action = {column(select, 2),
                column(select, 3),
                column(select, 4),
                column(select, 5),
                column(select, 6),
                column(select, 11),
                r.time};
    r.user_name = column(select, 7);
    r.user_level = sqlite3_column_int(select, 8);
    r.host_user = column(select, 9);
    r.pid = sqlite3_column_int64(select, 10);
    r.ended = column(select, 12);
    rows->push_back(std::move(r));
  }
  const bool ok = rc == SQLITE_DONE;
  if (!ok) set_error(error, file + ": " + sqlite3_errmsg(db));
  sqlite3_finalize(select);
  sqlite3_close_v2(db);
  return ok;
}

}  // namespace vexlor_tools
