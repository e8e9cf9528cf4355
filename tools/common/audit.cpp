// The operator journal: who changed what on the equipment, from which tool and address, kept in
// the equipment's own database file next to the alarm log.
#include "audit.h"

#include <sqlite3.h>
#include <vexlor/vexlor.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace vexlor_tools {
namespace {

// "<database path>\vexlor.db", with a drive letter "X:" mapped onto <VEXLOR_DRIVE_ROOT>/X on
// POSIX, as the library places the file.
std::string database_file() {
  std::string path = Vexlor::VSystem_Get_Database_Path();
  if (path.empty()) return {};
  if (path.back() != '\\' && path.back() != '/') path += '\\';
  path += "vexlor.db";
#ifdef _WIN32
  return path;
#else
  std::string out;
  std::size_t start = 0;
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (drive) {
    std::string root;
    if (const char* r = std::getenv("VEXLOR_DRIVE_ROOT"); r != nullptr && *r != '\0') {
      root = r;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
      root = std::string(home) + "/.vexlor/drives";
    } else {
      root = "/tmp/vexlor-drives";
    }
    const char letter = static_cast<char>(path[0] >= 'a' ? path[0] - 'a' + 'A' : path[0]);
    out = root + '/' + letter;
    start = 2;
    if (start < path.size() && path[start] != '\\' && path[start] != '/') out += '/';
  }
  for (std::size_t i = start; i < path.size(); ++i) out += path[i] == '\\' ? '/' : path[i];
  return out;
#endif
}

std::string local_time() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &tm);
  return text;
}

std::string host_user() {
#ifndef _WIN32
  struct passwd pw {};
  struct passwd* found = nullptr;
  char buffer[1024];
  if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
#endif
  const char* user = std::getenv("USER");
  return user != nullptr ? user : "";
}

long process_id() {
#ifdef _WIN32
  return 0;
#else
  return static_cast<long>(getpid());
#endif
}

}  // namespace

bool journal_operator_action(const OperatorAction& action, std::string* error) {
  auto failed = [error](const std::string& text) {
    if (error != nullptr) *error = text;
    return false;
  };
  const std::string file = database_file();
  if (file.empty()) return failed("the equipment has no database path");
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    const std::string text = file + ": " + (db != nullptr ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close_v2(db);
    return failed(text);
  }
  sqlite3_busy_timeout(db, 5000);
  static const char kCreate[] =
      "CREATE TABLE IF NOT EXISTS OperatorAudit (row INTEGER PRIMARY KEY, time TEXT, source TEXT, "
      "action TEXT, target TEXT, value TEXT, result TEXT, address TEXT, user_name TEXT, "
      "user_level INTEGER, host_user TEXT, pid INTEGER)";
  static const char kInsert[] =
      "INSERT INTO OperatorAudit (time, source, action, target, value, result, address, "
      "user_name, user_level, host_user, pid) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, "
      "?11)";
  sqlite3_stmt* insert = nullptr;
  bool ok = sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, kInsert, -1, &insert, nullptr) == SQLITE_OK;
  if (ok) {
    const std::string texts[] = {
        local_time(), action.source, action.action,  action.target,
        action.value, action.result, action.address, Vexlor::VSystem_Get_User_Name()};
    for (int i = 0; i < 8; ++i) {
      sqlite3_bind_text(insert, i + 1, texts[i].c_str(), -1, SQLITE_TRANSIENT);
    }
    sqlite3_bind_int(insert, 9, Vexlor::VSystem_Get_User_Level());
    sqlite3_bind_text(insert, 10, host_user().c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 11, process_id());
    ok = sqlite3_step(insert) == SQLITE_DONE;
  }
  const std::string text = ok ? std::string() : file + ": " + sqlite3_errmsg(db);
  sqlite3_finalize(insert);
  sqlite3_close_v2(db);
  return ok || failed(text);
}

}  // namespace vexlor_tools
