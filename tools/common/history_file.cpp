// Opening a history file of the equipment.
#include "history_file.h"

#include <filesystem>
#include <system_error>

namespace vexlor_tools {
namespace {

// Writers of other tools may hold a file for a moment; 5 s is far beyond any of their
// transactions.
constexpr int kBusyTimeoutMs = 5000;

}  // namespace

sqlite3* open_history_file(const std::string& file, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path path(file);
  const bool existed = fs::exists(path, ec);
  if (!existed && path.has_parent_path() && !fs::exists(path.parent_path(), ec)) {
    // The database path may not exist yet on a fresh equipment: folders 0770, as the
    // equipment's other folders.
    fs::create_directories(path.parent_path(), ec);
    fs::permissions(path.parent_path(), fs::perms::owner_all | fs::perms::group_all,
                    fs::perm_options::replace, ec);
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    if (error != nullptr)
      *error = file + ": " + (db != nullptr ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close_v2(db);
    return nullptr;
  }
  if (!existed) {
    // SQLite gives its WAL and shared-memory files the permissions of the database file.
    fs::permissions(path,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::group_write,
                    fs::perm_options::replace, ec);
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  if (sqlite3_exec(db, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr) != SQLITE_OK) {
    if (error != nullptr) *error = file + ": " + sqlite3_errmsg(db);
    sqlite3_close_v2(db);
    return nullptr;
  }
  return db;
}

sqlite3* open_history_file_to_read(const std::string& file, std::string* error) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    if (error != nullptr)
      *error = file + ": " + (db != nullptr ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  return db;
}

std::string column_text(sqlite3_stmt* statement, int i) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
  return text != nullptr
             ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, i)))
             : std::string();
}

bool alarm_log_tables(sqlite3* db, std::vector<std::string>* tables) {
  sqlite3_stmt* list = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT name FROM sqlite_master WHERE type = 'table' AND name "
                         "GLOB 'AlarmLog_[0-9][0-9][0-9][0-9][0-9][0-9]' ORDER BY name",
                         -1, &list, nullptr) != SQLITE_OK) {
    return false;
  }
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(list)) == SQLITE_ROW) tables->push_back(column_text(list, 0));
  sqlite3_finalize(list);
  return rc == SQLITE_DONE;
}

}  // namespace vexlor_tools
