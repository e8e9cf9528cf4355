// `vexlor alarms`: the posted alarms in queue order, answering one of them, and the alarm
// history of the equipment's database file.
#include <sqlite3.h>
#include <vexlor/vexlor.h>

#include <cstdlib>
#include <filesystem>

#include "console.h"

namespace vexlor_console {

const char* style_name(int style) {
  static const char* const kNames[] = {"ALM_CLEAR",  "ALM_RETRY",   "ALM_WAIT",
                                       "ALM_IGNORE", "ALM_DISABLE", "ALM_ENABLE",
                                       "ALM_STOP",   "ALM_ABORT",   "ALM_PAUSED"};
  return style >= 0 && style <= 8 ? kNames[style] : "ALM_UNKNOWN";
}

int answer_from_text(std::string_view text) {
  std::string name = upper(text);
  if (name.rfind("ALM_", 0) == 0) name.erase(0, 4);
  for (int style = Vexlor::ALM_CLEAR; style < Vexlor::ALM_PAUSED; ++style) {
    if (name == style_name(style) + 4) return style;
  }
  return -1;
}

std::vector<AlarmRow> collect_alarms() {
  std::vector<AlarmRow> rows;
  const int alarms = Vexlor::VSystem_Get_Alarm_Count();
  const Vexlor::LANGUAGE language = Vexlor::VSystem_Get_Language();
  // A position at or beyond the alarm count is an index error for the library: stop before.
  for (int position = 0; position < alarms; ++position) {
    int point = -1, count = 0;
    if (!Vexlor::VAlarm_Queue_Point(position, &point, &count) || point < 0 || point >= alarms) {
      break;
    }
    AlarmRow row;
    row.position = position;
    row.point = point;
    row.id = Vexlor::VAlarm_Get_ID(point);
    row.level = Vexlor::VAlarm_Get_Level(point);
    const int module = Vexlor::VAlarm_Get_Module_Point(point);
    row.module = module >= 0 && module < Vexlor::VSystem_Get_Module_Count()
                     ? Vexlor::VModule_Get_Name(module)
                     : "";
    row.name = Vexlor::VAlarm_Get_Name(point);
    char text[512] = {};
    Vexlor::VAlarm_Get_Text_Full(point, text);
    row.text = text;
    row.post_time = Vexlor::VAlarm_Get_Post_Time(point);
    row.code_position = Vexlor::VAlarm_Get_Code_Position(point);
    row.status = style_name(Vexlor::VAlarm_Status(point));
    Vexlor::ALARM_STYLE choices[8] = {};
    const int n = Vexlor::VAlarm_Get_Recovery_Result_Count(point);
    Vexlor::VAlarm_Get_Recovery_Result(point, choices);
    for (int k = 0; k < n && k < 8; ++k) row.choices.push_back(style_name(choices[k]) + 4);
    Vexlor::VAlarm_Get_Recovery_Result_Message(point, language, row.captions);
    rows.push_back(std::move(row));
  }
  return rows;
}

void table_of_alarms(const std::vector<AlarmRow>& rows, std::string* text) {
  TextTable t({"ID", "LEVEL", "MODULE", "NAME", "TEXT", "POSTED", "AT", "CHOICES"});
  for (const AlarmRow& r : rows) {
    std::string choices;
    for (const auto& c : r.choices) choices += (choices.empty() ? "" : ",") + c;
    t.add({std::to_string(r.id), std::to_string(r.level), r.module.empty() ? "-" : r.module, r.name,
           cell(r.text, 80), r.post_time, r.code_position, choices.empty() ? "-" : choices});
  }
  *text += t.render();
}

void json_of_alarms(const std::vector<AlarmRow>& rows, JsonWriter& json) {
  json.begin_array();
  for (const AlarmRow& r : rows) {
    json.begin_object().field("position", r.position).field("id", r.id);
    json.field("level", r.level).key("module");
    if (r.module.empty()) {
      json.null();
    } else {
      json.value(r.module);
    }
    json.field("name", r.name).field("text", r.text).field("post_time", r.post_time);
    json.field("code_position", r.code_position).field("status", r.status).key("choices");
    json.begin_array();
    for (std::size_t k = 0; k < r.choices.size(); ++k) {
      json.begin_object().field("answer", r.choices[k]);
      json.field("caption", k < r.captions.size() ? r.captions[k] : "").end_object();
    }
    json.end_array().end_object();
  }
  json.end_array();
}

int run_alarms(const Options& o) {
  const std::vector<AlarmRow> rows = collect_alarms();
  if (o.json) {
    JsonWriter json;
    json_of_alarms(rows, json);
    print(json.text() + "\n");
  } else if (rows.empty()) {
    print("no alarms posted\n");
  } else {
    std::string text;
    table_of_alarms(rows, &text);
    print(text);
  }
  return kOk;
}

int run_alarm_answer(const Options& o, const std::string& id_text, const std::string& choice,
                     bool force) {
  const int answer = answer_from_text(choice);
  if (answer < 0) {
    return fail("unknown answer " + in_quotes(choice) +
                    " (one of clear, retry, wait, ignore, disable, enable, stop, abort)",
                kUsage);
  }
  int id = 0;
  if (!Vexlor::VStr_To_Int(id_text.c_str(), &id)) {
    return fail("alarm ID must be a number, not " + in_quotes(id_text), kUsage);
  }
  // Searched here rather than with the library's lookup, which prints on a miss.
  int point = -1;
  const int alarms = Vexlor::VSystem_Get_Alarm_Count();
  for (int i = 0; i < alarms && point < 0; ++i) {
    if (Vexlor::VAlarm_Get_ID(i) == id) point = i;
  }
  if (point < 0) return fail("no alarm with ID " + std::to_string(id));
  if (Vexlor::VAlarm_Status(point) != Vexlor::ALM_PAUSED) {
    return fail("alarm " + std::to_string(id) + " is not posted");
  }
  // The routine that posted the alarm acts on the answer: only the choices it offers are
  // given, unless the operator insists.
  Vexlor::ALARM_STYLE offered[8] = {};
  const int n = Vexlor::VAlarm_Get_Recovery_Result_Count(point);
  Vexlor::VAlarm_Get_Recovery_Result(point, offered);
  bool allowed = n <= 0;
  std::string list;
  for (int k = 0; k < n && k < 8; ++k) {
    allowed = allowed || offered[k] == answer;
    list += (list.empty() ? "" : ", ") + std::string(style_name(offered[k]) + 4);
  }
  const std::string answer_name = style_name(answer) + 4;
  if (!allowed && !force) {
    return fail("alarm " + std::to_string(id) + " does not offer " + answer_name +
                " (offered: " + list + "; --force answers anyway)");
  }
  const bool notified = Vexlor::VAlarm_Handle(point, static_cast<Vexlor::ALARM_STYLE>(answer));
  if (Vexlor::VAlarm_Status(point) != answer) {
    return fail("alarm " + std::to_string(id) + ": the answer was not recorded");
  }
  // The answer is in the alarm's record, where the waiting routine reads it; the notice only
  // refreshes the operator interface.
  if (!notified) warn("the IO engine did not take the answer notice (is it running?)");
  if (o.json) {
    JsonWriter json;
    json.begin_object().field("id", id).field("answer", answer_name).field("notified", notified);
    json.end_object();
    print(json.text() + "\n");
  } else {
    print("alarm " + std::to_string(id) + " answered " + answer_name + "\n");
  }
  return kOk;
}

// ---- History -------------------------------------------------------------------------------
// The library writes the alarm log (VDB_Add_AlarmLog) but offers no way to read it, so the
// console reads the equipment's database file itself, read-only, found by the library's rule:
// "<database path>\vexlor.db", with a drive letter "X:" mapped to <VEXLOR_DRIVE_ROOT>/X on
// POSIX (VEXLOR_DRIVE_ROOT, else $HOME/.vexlor/drives, else /tmp/vexlor-drives).

namespace {

std::string database_file() {
  std::string path = Vexlor::VSystem_Get_Database_Path();
  if (path.empty()) return {};
  if (path.back() != '\\' && path.back() != '/') path += '\\';
  path += "vexlor.db";
#ifndef _WIN32
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
    out = root + '/' + upper(path.substr(0, 1));
    start = 2;
    if (start < path.size() && path[start] != '\\' && path[start] != '/') out += '/';
  }
  for (std::size_t i = start; i < path.size(); ++i) out += path[i] == '\\' ? '/' : path[i];
  return out;
#else
  return path;
#endif
}

// "2026-12-05T08:00" -> "2026/12/05 08:00"; false unless a leading part of
// "YYYY/MM/DD HH:MM:SS" with at least the year.
bool normalise_since(std::string text, std::string* out) {
  static const char kForm[] = "dddd/dd/dd dd:dd:dd";
  if (text.size() < 4 || text.size() > sizeof kForm - 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i < 10 && text[i] == '-') text[i] = '/';
    if (i == 10 && text[i] == 'T') text[i] = ' ';
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return false;
  }
  *out = text;
  return true;
}

struct HistoryRow {
  std::string inserted, name, log_text, post_time, answer, clear_time, module, id, level,
      code_position, description;
};

std::string column(sqlite3_stmt* s, int i) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
  return text != nullptr ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
                         : std::string();
}

bool read_history(const std::string& file, const std::string& since, std::vector<HistoryRow>* rows,
                  std::string* error) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    *error = file + ": " + (db != nullptr ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close_v2(db);
    return false;
  }
  sqlite3_busy_timeout(db, 5000);
  bool ok = sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr) == SQLITE_OK;
  std::vector<std::string> tables;
  sqlite3_stmt* list = nullptr;
  ok = ok && sqlite3_prepare_v2(db,
                                "SELECT name FROM sqlite_master WHERE type = 'table' AND name "
                                "GLOB 'AlarmLog_[0-9][0-9][0-9][0-9][0-9][0-9]' ORDER BY name",
                                -1, &list, nullptr) == SQLITE_OK;
  while (ok && sqlite3_step(list) == SQLITE_ROW) tables.push_back(column(list, 0));
  sqlite3_finalize(list);
  for (const std::string& table : tables) {
    if (!ok) break;
    const std::string sql =
        "SELECT inserted, alarm_name, log_text, post_time, answer, clear_time, module_name, "
        "alarm_id, level, code_position, description FROM \"" +
        table + "\" WHERE inserted >= ?1 ORDER BY row";
    sqlite3_stmt* select = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &select, nullptr) != SQLITE_OK) {
      ok = false;
      break;
    }
    sqlite3_bind_text(select, 1, since.c_str(), -1, SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
      rows->push_back({column(select, 0), column(select, 1), column(select, 2), column(select, 3),
                       column(select, 4), column(select, 5), column(select, 6), column(select, 7),
                       column(select, 8), column(select, 9), column(select, 10)});
    }
    ok = rc == SQLITE_DONE;
    sqlite3_finalize(select);
  }
  if (!ok) *error = file + ": " + sqlite3_errmsg(db);
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);
  return ok;
}

}  // namespace

int run_alarm_history(const Options& o, const std::string& since_text) {
  std::string since;
  if (!since_text.empty() && !normalise_since(since_text, &since)) {
    return fail("bad time " + in_quotes(since_text) +
                    " for --since (YYYY/MM/DD HH:MM:SS or a leading part of it)",
                kUsage);
  }
  const std::string file = database_file();
  if (file.empty()) return fail("the equipment has no database path");
  std::vector<HistoryRow> rows;
  std::error_code ec;
  const bool exists = std::filesystem::exists(file, ec);
  std::string error;
  if (exists && !read_history(file, since, &rows, &error)) return fail("alarm history: " + error);
  if (o.json) {
    JsonWriter json;
    json.begin_array();
    for (const HistoryRow& r : rows) {
      json.begin_object()
          .field("time", r.inserted)
          .field("event", r.answer.empty() ? "POST" : r.answer);
      json.field("id", r.id).field("level", r.level).field("module", r.module);
      json.field("name", r.name).field("text", r.log_text).field("post_time", r.post_time);
      json.field("clear_time", r.clear_time).field("code_position", r.code_position);
      json.field("description", r.description).end_object();
    }
    json.end_array();
    print(json.text() + "\n");
    return kOk;
  }
  if (rows.empty()) {
    print(exists ? "no alarm history" + (since.empty() ? std::string() : " since " + since) + "\n"
                 : "no alarm history (no file " + file + ")\n");
    return kOk;
  }
  TextTable t({"TIME", "ID", "EVENT", "LEVEL", "MODULE", "NAME", "TEXT", "AT"});
  for (const HistoryRow& r : rows) {
    t.add({r.inserted, r.id, r.answer.empty() ? "POST" : r.answer, r.level,
           r.module.empty() ? "-" : r.module, r.name, cell(r.log_text, 80),
           r.code_position.empty() ? "-" : r.code_position});
  }
  print(t.render());
  return kOk;
}

}  // namespace vexlor_console
