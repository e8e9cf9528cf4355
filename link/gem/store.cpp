// The host's definitions and the spool in the equipment's SQLite file.
#include "gem/store.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

namespace vexlor::gem {
namespace {

constexpr int kBusyTimeoutMs = 5000;

std::string id_lists(const std::map<uint32_t, std::vector<uint32_t>>& lists) {
  std::string out;
  for (const auto& [id, members] : lists) {
    if (!out.empty()) out += ';';
    out += std::to_string(id) + ':';
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (i > 0) out += ',';
      out += std::to_string(members[i]);
    }
  }
  return out;
}

std::vector<uint32_t> numbers(const std::string& text) {
  std::vector<uint32_t> out;
  std::stringstream s(text);
  std::string n;
  while (std::getline(s, n, ',')) {
    if (!n.empty()) out.push_back(static_cast<uint32_t>(std::strtoul(n.c_str(), nullptr, 10)));
  }
  return out;
}

std::map<uint32_t, std::vector<uint32_t>> parse_id_lists(const std::string& text) {
  std::map<uint32_t, std::vector<uint32_t>> out;
  std::stringstream s(text);
  std::string entry;
  while (std::getline(s, entry, ';')) {
    const std::size_t colon = entry.find(':');
    if (colon == std::string::npos) continue;
    out[static_cast<uint32_t>(std::strtoul(entry.c_str(), nullptr, 10))] =
        numbers(entry.substr(colon + 1));
  }
  return out;
}

std::string id_set(const std::set<uint32_t>& ids) {
  std::string out;
  for (uint32_t id : ids) out += (out.empty() ? "" : ",") + std::to_string(id);
  return out;
}

std::string now_text() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  char b[32];
  std::strftime(b, sizeof b, "%Y/%m/%d %H:%M:%S", &tm);
  return b;
}

}  // namespace

Store::Store() = default;
Store::~Store() {
  if (db_ != nullptr) sqlite3_close(db_);
}

bool Store::is_open() const { return db_ != nullptr; }

bool Store::exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  if (error != nullptr) *error = message != nullptr ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return false;
}

bool Store::open(const std::string& file, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    if (error != nullptr) *error = "cannot open " + file + ": " + sqlite3_errmsg(db_);
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  if (!exec("PRAGMA journal_mode=WAL;", error) || !exec("PRAGMA synchronous=NORMAL;", error) ||
      !exec("CREATE TABLE IF NOT EXISTS GemDefinition(name TEXT PRIMARY KEY, value TEXT NOT "
            "NULL);"
            "CREATE TABLE IF NOT EXISTS GemSpool(seq INTEGER PRIMARY KEY, stream INTEGER NOT "
            "NULL, function INTEGER NOT NULL, wbit INTEGER NOT NULL, body BLOB NOT NULL, spooled "
            "TEXT NOT NULL);",
            error)) {
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  return true;
}

bool Store::load(Definitions* d, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  *d = Definitions();
  if (db_ == nullptr) return true;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT name, value FROM GemDefinition", -1, &s, nullptr) !=
      SQLITE_OK) {
    if (error != nullptr) *error = sqlite3_errmsg(db_);
    return false;
  }
  while (sqlite3_step(s) == SQLITE_ROW) {
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    const char* raw = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
    const std::string value = raw != nullptr ? raw : "";
    if (name == "reports") d->reports = parse_id_lists(value);
    if (name == "links") d->links = parse_id_lists(value);
    if (name == "enabled_events") {
      for (uint32_t id : numbers(value)) d->enabled_events.insert(id);
    }
    if (name == "disabled_alarms") {
      for (uint32_t id : numbers(value)) d->disabled_alarms.insert(id);
    }
    if (name == "constants") {
      std::stringstream st(value);
      std::string entry;
      while (std::getline(st, entry, ';')) {
        const std::size_t eq = entry.find('=');
        if (eq == std::string::npos) continue;
        d->constants[static_cast<uint32_t>(std::strtoul(entry.c_str(), nullptr, 10))] =
            std::strtod(entry.c_str() + eq + 1, nullptr);
      }
    }
    if (name == "clock_offset_ms") d->clock_offset_ms = std::strtoll(value.c_str(), nullptr, 10);
  }
  sqlite3_finalize(s);
  return true;
}

bool Store::save(const Definitions& d, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) return true;
  std::string constants;
  for (const auto& [id, v] : d.constants) {
    char b[64];
    std::snprintf(b, sizeof b, "%s%u=%.17g", constants.empty() ? "" : ";", id, v);
    constants += b;
  }
  const std::pair<const char*, std::string> rows[] = {
      {"reports", id_lists(d.reports)},
      {"links", id_lists(d.links)},
      {"enabled_events", id_set(d.enabled_events)},
      {"disabled_alarms", id_set(d.disabled_alarms)},
      {"constants", constants},
      {"clock_offset_ms", std::to_string(d.clock_offset_ms)}};
  if (!exec("BEGIN IMMEDIATE;", error)) return false;
  sqlite3_stmt* s = nullptr;
  bool ok = sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO GemDefinition(name, value) VALUES(?1,?2)",
                               -1, &s, nullptr) == SQLITE_OK;
  for (const auto& [name, value] : rows) {
    if (!ok) break;
    sqlite3_reset(s);
    sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
    sqlite3_bind_text(s, 2, value.c_str(), -1, SQLITE_TRANSIENT);
    ok = sqlite3_step(s) == SQLITE_DONE;
  }
  if (!ok && error != nullptr) *error = sqlite3_errmsg(db_);
  sqlite3_finalize(s);
  if (ok && exec("COMMIT;", error)) return true;
  exec("ROLLBACK;", nullptr);
  return false;
}

bool Store::spool_push(const SpoolEntry& e, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) return false;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "INSERT OR REPLACE INTO GemSpool(seq, stream, function, wbit, body, "
                         "spooled) VALUES(?1,?2,?3,?4,?5,?6)",
                         -1, &s, nullptr) != SQLITE_OK) {
    if (error != nullptr) *error = sqlite3_errmsg(db_);
    return false;
  }
  const std::string when = now_text();
  sqlite3_bind_int64(s, 1, e.seq);
  sqlite3_bind_int(s, 2, e.stream);
  sqlite3_bind_int(s, 3, e.function);
  sqlite3_bind_int(s, 4, e.wbit ? 1 : 0);
  sqlite3_bind_blob(s, 5, e.body.data(), static_cast<int>(e.body.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 6, when.c_str(), -1, SQLITE_TRANSIENT);
  const bool ok = sqlite3_step(s) == SQLITE_DONE;
  if (!ok && error != nullptr) *error = sqlite3_errmsg(db_);
  sqlite3_finalize(s);
  return ok;
}

bool Store::spool_front(std::size_t count, std::vector<SpoolEntry>* entries, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries->clear();
  if (db_ == nullptr) return true;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "SELECT seq, stream, function, wbit, body FROM GemSpool ORDER BY seq "
                         "LIMIT ?1",
                         -1, &s, nullptr) != SQLITE_OK) {
    if (error != nullptr) *error = sqlite3_errmsg(db_);
    return false;
  }
  sqlite3_bind_int64(s, 1, static_cast<int64_t>(count));
  while (sqlite3_step(s) == SQLITE_ROW) {
    SpoolEntry e;
    e.seq = sqlite3_column_int64(s, 0);
    e.stream = sqlite3_column_int(s, 1);
    e.function = sqlite3_column_int(s, 2);
    e.wbit = sqlite3_column_int(s, 3) != 0;
    const void* blob = sqlite3_column_blob(s, 4);
    e.body.assign(static_cast<const char*>(blob),
                  static_cast<std::size_t>(sqlite3_column_bytes(s, 4)));
    entries->push_back(std::move(e));
  }
  sqlite3_finalize(s);
  return true;
}

bool Store::spool_erase(int64_t seq, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) return true;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_, "DELETE FROM GemSpool WHERE seq = ?1", -1, &s, nullptr) !=
      SQLITE_OK) {
    if (error != nullptr) *error = sqlite3_errmsg(db_);
    return false;
  }
  sqlite3_bind_int64(s, 1, seq);
  const bool ok = sqlite3_step(s) == SQLITE_DONE;
  sqlite3_finalize(s);
  return ok;
}

bool Store::spool_erase_oldest(std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  return db_ == nullptr ||
         exec("DELETE FROM GemSpool WHERE seq = (SELECT MIN(seq) FROM GemSpool);", error);
}

bool Store::spool_clear(std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  return db_ == nullptr || exec("DELETE FROM GemSpool;", error);
}

int64_t Store::spool_count() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) return 0;
  sqlite3_stmt* s = nullptr;
  int64_t n = 0;
  if (sqlite3_prepare_v2(db_, "SELECT COUNT(*) FROM GemSpool", -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    n = sqlite3_column_int64(s, 0);
  }
  sqlite3_finalize(s);
  return n;
}

int64_t Store::spool_max_seq() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) return 0;
  sqlite3_stmt* s = nullptr;
  int64_t n = 0;
  if (sqlite3_prepare_v2(db_, "SELECT IFNULL(MAX(seq), 0) FROM GemSpool", -1, &s, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    n = sqlite3_column_int64(s, 0);
  }
  sqlite3_finalize(s);
  return n;
}

}  // namespace vexlor::gem
