// The host event journal: every line the host link routine received, in the equipment's SQLite
// file beside the alarm log ("<database path>\vexlor.db"), one table per calendar month:
//
//   HostEvent_YYYYMM(row INTEGER PRIMARY KEY AUTOINCREMENT, received TEXT, sender INTEGER,
//                    sender_name TEXT, status TEXT, token TEXT, code TEXT, event TEXT,
//                    fields TEXT, data TEXT, line TEXT)
//
// `received` is local time "YYYY/MM/DD HH:MM:SS.mmm"; `status` "ok", "unknown" or "malformed";
// `fields` a JSON array of texts, `data` a JSON object of point name to value text (the data
// variables of the event, or the link state after a request). Written by vexlor-eap, read by
// `vexlor host`.
//
// Beside it, the host's messages of the rows not yet handed to the host link:
//
//   HostOutbox(id INTEGER PRIMARY KEY AUTOINCREMENT, stream INTEGER, function INTEGER, body BLOB)
//
// A message is written in the transaction of its row and removed once it was sent or spooled,
// so a kill between the commit (the sender's acknowledgement) and the hand-over loses nothing:
// the next start spools what the outbox still holds, in order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;

namespace vexlor_eap {

struct JournalRow {
  std::string table;  // filled when read
  int64_t row = 0;    // filled when read
  std::string received;
  int sender = -1;
  std::string sender_name;
  std::string status;
  std::string token;
  std::string code;
  std::string event;
  std::vector<std::string> fields;
  std::vector<std::pair<std::string, std::string>> data;
  std::string line;
};

// The attached equipment's database file on this system ("" without a database path): the
// drive letter of "X:\..." maps to <VEXLOR_DRIVE_ROOT>/X on POSIX, as for every system path.
std::string database_file();

// Local time now as "YYYY/MM/DD HH:MM:SS.mmm".
std::string now_text();

// "HostEvent_YYYYMM" of a received time.
std::string table_of(std::string_view received);

// "2026-12-05T08:00" and "2026/12/05 08:00" both become "2026/12/05 08:00".
std::string normalise_time(std::string_view text);

// JSON texts of the two list columns, and back (what cannot be read is left out).
std::string fields_json(const std::vector<std::string>& fields);
std::string data_json(const std::vector<std::pair<std::string, std::string>>& data);
std::vector<std::string> fields_from_json(std::string_view json);
std::vector<std::pair<std::string, std::string>> data_from_json(std::string_view json);

// A host message waiting in the outbox: the encoded SECS-II body of S<stream>F<function>.
struct OutboxEntry {
  int64_t id = 0;  // filled when written or read
  int stream = 0, function = 0;
  std::string body;
};

class JournalWriter {
 public:
  JournalWriter();
  ~JournalWriter();
  // Opens (creates) the file in WAL mode, as the alarm log does, and the outbox table.
  bool open(const std::string& file, std::string* error);
  // Appends the rows in order in one transaction; retries while another writer holds the file.
  bool append(const std::vector<JournalRow>& rows, std::string* error);
  // The same, with the rows' host messages put in the outbox and the outbox entries up to
  // `handed_over` (ids) removed in that transaction. `outbox` gets its ids.
  bool append(const std::vector<JournalRow>& rows, std::vector<OutboxEntry>* outbox,
              int64_t handed_over, std::string* error);
  // Removes the outbox entries up to id `handed_over`.
  bool forget(int64_t handed_over, std::string* error);
  // Every outbox entry, oldest first.
  bool outbox(std::vector<OutboxEntry>* entries, std::string* error);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The feed number of the newest alarm row ("ALARM_SET"/"ALARM_CLEAR", its third field) in the
// journal; 0 when there is none or the file cannot be read.
uint64_t last_alarm_change(const std::string& file);

struct JournalQuery {
  std::string token;  // exact token ("" for all)
  std::string since;  // normalised times, inclusive ("" for no bound)
  std::string until;
  std::string after_table;  // only rows after this (table, row) position (for a live tail)
  int64_t after_row = 0;
};

// Rows of every monthly table in month order, rows in insertion order. False with a reason when
// the file cannot be read; a file without journal tables gives no rows.
bool read_journal(const std::string& file, const JournalQuery& query, std::vector<JournalRow>* rows,
                  std::string* error);

}  // namespace vexlor_eap
