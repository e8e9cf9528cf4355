// The equipment's SQLite file: its place below the database path and the one way the
// library's parts open it (WAL mode, busy time-out, private permissions).
#include "util/vdb.h"

#include <sqlite3.h>
#include <vexlor/frame.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "os/instance.h"
#include "util/paths.h"

namespace vexlor::detail {

std::string vdb_system_path(std::string_view database_path) {
  if (database_path.empty()) return {};
  std::string path(database_path);
  if (path.back() != '\\' && path.back() != '/') path += '\\';
  return path + kVdbFileName;
}

std::string vdb_file_for(std::string_view database_path) {
  const std::string system_path = vdb_system_path(database_path);
  if (system_path.empty()) return {};
  return map_system_path(system_path.c_str());
}

void SqliteCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

namespace {

void set_error(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

}  // namespace

VdbConnection vdb_open(const std::string& file, bool create, std::string* error) {
  if (file.empty()) {
    set_error(error, "no database path");
    return nullptr;
  }
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path path(file);
  const bool existed = fs::exists(path, ec);
  if (!existed) {
    if (!create) {
      set_error(error, file + ": no such database file");
      return nullptr;
    }
    // Folders 0770 whatever the umask, as every folder of the equipment.
    if (path.has_parent_path() && !os::make_dirs(path.parent_path().string())) {
      set_error(error, path.parent_path().string() + ": " + std::strerror(errno));
      return nullptr;
    }
  }

  sqlite3* raw = nullptr;
  const int flags =
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
  VdbConnection db(raw);
  if (rc != SQLITE_OK) {
    set_error(error, file + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
    return nullptr;
  }
  if (!existed) {
    // Equipment history is not for everyone: owner and group only. SQLite gives its WAL and
    // shared-memory files the permissions of the database file.
    fs::permissions(path,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::group_write,
                    fs::perm_options::replace, ec);
  }
  sqlite3_busy_timeout(db.get(), kVdbBusyTimeoutMs);
  std::string why;
  if (!vdb_exec(db.get(), "PRAGMA journal_mode=WAL;", &why)) {
    set_error(error, file + ": " + why);
    return nullptr;
  }
  return db;
}

bool vdb_exec(sqlite3* db, const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  set_error(error, message ? message : sqlite3_errmsg(db));
  sqlite3_free(message);
  return false;
}

}  // namespace vexlor::detail
