// The host event journal in the equipment's SQLite file.
#include "journal.h"

#include <sqlite3.h>
#include <vexlor/frame.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <thread>

#include "common/audit.h"
#include "common/equipment_text.h"
#include "common/history_file.h"

namespace vexlor_eap {
namespace {

constexpr char kTablePrefix[] = "HostEvent_";
constexpr int kBusyTimeoutMs = 5000;
constexpr int kAttempts = 5;

bool exec(sqlite3* db, const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  if (error != nullptr) *error = message != nullptr ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return false;
}

std::string schema_of(const std::string& table) {
  return "CREATE TABLE IF NOT EXISTS \"" + table +
         "\"(row INTEGER PRIMARY KEY AUTOINCREMENT, received TEXT NOT NULL, sender INTEGER NOT "
         "NULL, sender_name TEXT NOT NULL, status TEXT NOT NULL, token TEXT NOT NULL, code TEXT "
         "NOT NULL, event TEXT NOT NULL, fields TEXT NOT NULL, data TEXT NOT NULL, line TEXT NOT "
         "NULL);";
}

void append_json_text(std::string* out, std::string_view text) {
  *out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      *out += escape;
    } else {
      *out += c;  // other bytes as they are: the texts are the equipment's own charset
    }
  }
  *out += '"';
}

// Reads one JSON text at `*at` (after blanks); false when there is none.
bool read_json_text(std::string_view json, std::size_t* at, std::string* text) {
  std::size_t i = *at;
  while (i < json.size() && (json[i] == ' ' || json[i] == ',' || json[i] == ':')) ++i;
  if (i >= json.size() || json[i] != '"') return false;
  text->clear();
  for (++i; i < json.size(); ++i) {
    char c = json[i];
    if (c == '"') {
      *at = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < json.size()) {
      c = json[++i];
      if (c == 'u' && i + 4 < json.size()) {
        c = static_cast<char>(std::strtol(std::string(json.substr(i + 1, 4)).c_str(), nullptr, 16));
        i += 4;
      } else if (c == 'n') {
        c = '\n';
      } else if (c == 't') {
        c = '\t';
      } else if (c == 'r') {
        c = '\r';
      }
    }
    *text += c;
  }
  return false;
}

std::string column_text(sqlite3_stmt* s, int column) {
  const unsigned char* text = sqlite3_column_text(s, column);
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text),
                                       static_cast<std::size_t>(sqlite3_column_bytes(s, column)))
                         : std::string();
}

bool is_busy(int rc) {
  rc &= 0xff;
  return rc == SQLITE_BUSY || rc == SQLITE_LOCKED;
}

}  // namespace

std::string database_file() { return vexlor_tools::equipment_database_file(); }

std::string now_text() { return vexlor_tools::local_time_text(true); }

std::string table_of(std::string_view received) {
  // "YYYY/MM/..." -> "HostEvent_YYYYMM"
  return std::string(kTablePrefix) + std::string(received.substr(0, 4)) +
         std::string(received.substr(5, 2));
}

std::string normalise_time(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '-' && i < 10) out[i] = '/';
    if (out[i] == 'T' && i == 10) out[i] = ' ';
  }
  return out;
}

std::string fields_json(const std::vector<std::string>& fields) {
  std::string out = "[";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ',';
    append_json_text(&out, fields[i]);
  }
  return out + "]";
}

std::string data_json(const std::vector<std::pair<std::string, std::string>>& data) {
  std::string out = "{";
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i > 0) out += ',';
    append_json_text(&out, data[i].first);
    out += ':';
    append_json_text(&out, data[i].second);
  }
  return out + "}";
}

std::vector<std::string> fields_from_json(std::string_view json) {
  std::vector<std::string> fields;
  std::size_t at = json.empty() ? 0 : 1;
  std::string text;
  while (read_json_text(json, &at, &text)) fields.push_back(text);
  return fields;
}

std::vector<std::pair<std::string, std::string>> data_from_json(std::string_view json) {
  std::vector<std::pair<std::string, std::string>> data;
  std::size_t at = json.empty() ? 0 : 1;
  std::string name, value;
  while (read_json_text(json, &at, &name) && read_json_text(json, &at, &value)) {
    data.emplace_back(name, value);
  }
  return data;
}

// ---- Writing -------------------------------------------------------------------------------

struct JournalWriter::State {
  sqlite3* db = nullptr;
  std::string created;  // the table created last
  ~State() {
    if (db != nullptr) sqlite3_close(db);
  }
};

JournalWriter::JournalWriter() : state_(std::make_unique<State>()) {}
JournalWriter::~JournalWriter() = default;

bool JournalWriter::open(const std::string& file, std::string* error) {
  state_->db = vexlor_tools::open_history_file(file, error);
  return state_->db != nullptr && exec(state_->db, "PRAGMA synchronous=NORMAL;", error) &&
         exec(state_->db,
              "CREATE TABLE IF NOT EXISTS HostOutbox(id INTEGER PRIMARY KEY AUTOINCREMENT, "
              "stream INTEGER, function INTEGER, body BLOB);",
              error);
}

bool JournalWriter::append(const std::vector<JournalRow>& rows, std::string* error) {
  return append(rows, nullptr, 0, error);
}

bool JournalWriter::forget(int64_t handed_over, std::string* error) {
  return append({}, nullptr, handed_over, error);
}

bool JournalWriter::outbox(std::vector<OutboxEntry>* entries, std::string* error) {
  entries->clear();
  sqlite3* db = state_->db;
  sqlite3_stmt* s = nullptr;
  if (db == nullptr ||
      sqlite3_prepare_v2(db, "SELECT id, stream, function, body FROM HostOutbox ORDER BY id", -1,
                         &s, nullptr) != SQLITE_OK) {
    if (error != nullptr) *error = db == nullptr ? "journal not open" : sqlite3_errmsg(db);
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    OutboxEntry e;
    e.id = sqlite3_column_int64(s, 0);
    e.stream = sqlite3_column_int(s, 1);
    e.function = sqlite3_column_int(s, 2);
    const void* blob = sqlite3_column_blob(s, 3);
    e.body.assign(static_cast<const char*>(blob),
                  blob != nullptr ? static_cast<std::size_t>(sqlite3_column_bytes(s, 3)) : 0);
    entries->push_back(std::move(e));
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) {
    if (error != nullptr) *error = sqlite3_errmsg(db);
    return false;
  }
  return true;
}

bool JournalWriter::append(const std::vector<JournalRow>& rows, std::vector<OutboxEntry>* outbox,
                           int64_t handed_over, std::string* error) {
  sqlite3* db = state_->db;
  if (db == nullptr) {
    if (error != nullptr) *error = "journal not open";
    return false;
  }
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (!exec(db, "BEGIN IMMEDIATE;", error)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    bool ok = true;
    std::string table;
    sqlite3_stmt* insert = nullptr;
    for (const JournalRow& r : rows) {
      const std::string t = table_of(r.received);
      if (t != table) {
        sqlite3_finalize(insert);
        insert = nullptr;
        table = t;
        if (state_->created != t && !exec(db, schema_of(t).c_str(), error)) {
          ok = false;
          break;
        }
        state_->created = t;
        const std::string sql = "INSERT INTO \"" + t +
                                "\"(received, sender, sender_name, status, token, code, event, "
                                "fields, data, line) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10)";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr) != SQLITE_OK) {
          if (error != nullptr) *error = sqlite3_errmsg(db);
          ok = false;
          break;
        }
      }
      const std::string fields = fields_json(r.fields), data = data_json(r.data);
      const std::string* texts[] = {&r.received, nullptr,  &r.sender_name, &r.status, &r.token,
                                    &r.code,     &r.event, &fields,        &data,     &r.line};
      sqlite3_reset(insert);
      for (int k = 0; k < 10; ++k) {
        if (texts[k] == nullptr) {
          sqlite3_bind_int(insert, k + 1, r.sender);
        } else {
          sqlite3_bind_text(insert, k + 1, texts[k]->data(), static_cast<int>(texts[k]->size()),
                            SQLITE_STATIC);
        }
      }
      if (sqlite3_step(insert) != SQLITE_DONE) {
        if (error != nullptr) *error = sqlite3_errmsg(db);
        ok = false;
        break;
      }
    }
    sqlite3_finalize(insert);
    if (ok && outbox != nullptr && !outbox->empty()) {
      sqlite3_stmt* put = nullptr;
      ok = sqlite3_prepare_v2(db, "INSERT INTO HostOutbox(stream, function, body) VALUES(?1,?2,?3)",
                              -1, &put, nullptr) == SQLITE_OK;
      for (std::size_t k = 0; ok && k < outbox->size(); ++k) {
        OutboxEntry& e = (*outbox)[k];
        sqlite3_reset(put);
        sqlite3_bind_int(put, 1, e.stream);
        sqlite3_bind_int(put, 2, e.function);
        sqlite3_bind_blob(put, 3, e.body.data(), static_cast<int>(e.body.size()), SQLITE_STATIC);
        ok = sqlite3_step(put) == SQLITE_DONE;
        e.id = sqlite3_last_insert_rowid(db);
      }
      if (!ok && error != nullptr) *error = sqlite3_errmsg(db);
      sqlite3_finalize(put);
    }
    if (ok && handed_over > 0) {
      sqlite3_stmt* del = nullptr;
      ok = sqlite3_prepare_v2(db, "DELETE FROM HostOutbox WHERE id <= ?1", -1, &del, nullptr) ==
               SQLITE_OK;
      if (ok) {
        sqlite3_bind_int64(del, 1, handed_over);
        ok = sqlite3_step(del) == SQLITE_DONE;
      }
      if (!ok && error != nullptr) *error = sqlite3_errmsg(db);
      sqlite3_finalize(del);
    }
    if (ok && exec(db, "COMMIT;", error)) return true;
    exec(db, "ROLLBACK;", nullptr);
    state_->created.clear();
    if (!is_busy(sqlite3_errcode(db))) return false;
  }
  return false;
}

// ---- Reading -------------------------------------------------------------------------------

bool read_journal(const std::string& file, const JournalQuery& query, std::vector<JournalRow>* rows,
                  std::string* error) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    if (error != nullptr) *error = "cannot read " + file + ": " + sqlite3_errmsg(db);
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::vector<std::string> tables;
  sqlite3_stmt* s = nullptr;
  bool ok = sqlite3_prepare_v2(db,
                               "SELECT name FROM sqlite_master WHERE type='table' AND name GLOB "
                               "'HostEvent_[0-9][0-9][0-9][0-9][0-9][0-9]' ORDER BY name",
                               -1, &s, nullptr) == SQLITE_OK;
  while (ok && sqlite3_step(s) == SQLITE_ROW) tables.push_back(column_text(s, 0));
  sqlite3_finalize(s);
  for (const std::string& table : tables) {
    if (!ok) break;
    if (!query.after_table.empty() && table < query.after_table) continue;
    const int64_t after = table == query.after_table ? query.after_row : 0;
    const std::string sql =
        "SELECT row, received, sender, sender_name, status, token, code, event, fields, data, "
        "line FROM \"" +
        table +
        "\" WHERE row > ?1 AND (?2 = '' OR token = ?2) AND (?3 = '' OR received >= ?3) AND "
        "(?4 = '' OR received <= ?4) ORDER BY row";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      ok = false;
      break;
    }
    // An upper bound given as a leading part ("2026/12/05") takes the whole of that time.
    const std::string until = query.until.empty() ? "" : query.until + "\xff";
    sqlite3_bind_int64(s, 1, after);
    sqlite3_bind_text(s, 2, query.token.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 3, query.since.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 4, until.c_str(), -1, SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      JournalRow r;
      r.table = table;
      r.row = sqlite3_column_int64(s, 0);
      r.received = column_text(s, 1);
      r.sender = sqlite3_column_int(s, 2);
      r.sender_name = column_text(s, 3);
      r.status = column_text(s, 4);
      r.token = column_text(s, 5);
      r.code = column_text(s, 6);
      r.event = column_text(s, 7);
      r.fields = fields_from_json(column_text(s, 8));
      r.data = data_from_json(column_text(s, 9));
      r.line = column_text(s, 10);
      rows->push_back(std::move(r));
    }
    ok = rc == SQLITE_DONE;
    sqlite3_finalize(s);
  }
  if (!ok && error != nullptr) *error = "cannot read " + file + ": " + sqlite3_errmsg(db);
  sqlite3_close(db);
  return ok;
}

}  // namespace vexlor_eap

namespace vexlor_eap {

uint64_t last_alarm_change(const std::string& file) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return 0;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::vector<std::string> tables;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT name FROM sqlite_master WHERE type='table' AND name GLOB "
                         "'HostEvent_[0-9][0-9][0-9][0-9][0-9][0-9]' ORDER BY name DESC",
                         -1, &s, nullptr) == SQLITE_OK) {
    while (sqlite3_step(s) == SQLITE_ROW) tables.push_back(column_text(s, 0));
  }
  sqlite3_finalize(s);
  uint64_t number = 0;
  for (const std::string& table : tables) {
    const std::string sql = "SELECT fields FROM \"" + table +
                            "\" WHERE token IN ('ALARM_SET', 'ALARM_CLEAR') ORDER BY row DESC "
                            "LIMIT 1";
    bool found = false;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
      const std::vector<std::string> fields = fields_from_json(column_text(s, 0));
      if (fields.size() >= 3) number = std::strtoull(fields[2].c_str(), nullptr, 10);
      found = true;
    }
    sqlite3_finalize(s);
    if (found) break;
  }
  sqlite3_close(db);
  return number;
}

}  // namespace vexlor_eap
