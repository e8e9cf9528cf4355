// `vexlor alarms`: the posted alarms in queue order, answering one of them, and the alarm
// history of the equipment's database file.
#include <sqlite3.h>
#include <vexlor/vexlor.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "audit.h"
#include "console.h"
#include "history_file.h"

namespace vexlor_console {

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
  TextTable t({"ID", "LEVEL|级别", "MODULE|模块", "NAME|名称", "TEXT|文本", "POSTED|发生时间",
               "AT|代码位置", "CHOICES|选项"});
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
    print(word("no alarms posted|无报警") + "\n");
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
  const int point = vexlor_tools::find_alarm_point(id);
  if (point < 0) return fail("no alarm with ID " + std::to_string(id));
  if (Vexlor::VAlarm_Status(point) != Vexlor::ALM_PAUSED) {
    const std::string refusal = "alarm " + std::to_string(id) + " is not posted";
    journal("answer", std::to_string(id), style_name(answer) + 4, refusal);
    return fail(refusal);
  }
  // The routine that posted the alarm acts on the answer: only the choices it offers are
  // given, unless the operator insists.
  const vexlor_tools::OfferedAnswers offered = vexlor_tools::offered_answers(point, answer);
  const std::string answer_name = style_name(answer) + 4;
  if (!offered.allowed && !force) {
    const std::string refusal = "alarm " + std::to_string(id) + " does not offer " + answer_name +
                                " (offered: " + offered.list + "; --force answers anyway)";
    journal("answer", std::to_string(id), answer_name, refusal);
    return fail(refusal);
  }
  const bool notified = Vexlor::VAlarm_Handle(point, static_cast<Vexlor::ALARM_STYLE>(answer));
  if (Vexlor::VAlarm_Status(point) != answer) {
    const std::string refusal = "alarm " + std::to_string(id) + ": the answer was not recorded";
    journal("answer", std::to_string(id), answer_name, refusal);
    return fail(refusal);
  }
  journal("answer", std::to_string(id), answer_name, "ok");
  // The answer is in the alarm's record, where the waiting routine reads it; the notice only
  // refreshes the operator interface.
  if (!notified) warn("the IO engine did not take the answer notice (is it running?)");
  if (o.json) {
    JsonWriter json;
    json.begin_object().field("id", id).field("answer", answer_name);
    json.field("status", style_name(answer)).field("notified", notified);
    json.end_object();
    print(json.text() + "\n");
  } else {
    print(word("alarm|报警") + " " + std::to_string(id) + " " + word("answered|已应答") + " " +
          answer_name + "\n");
  }
  return kOk;
}

// ---- History -------------------------------------------------------------------------------
// The library writes the alarm log (VDB_Add_AlarmLog) but offers no way to read it, so the
// console reads the equipment's database file itself, read-only. Answers given from the
// console or the panel are joined with the operator audit trail of the same file, which says
// who gave them.

namespace {

struct HistoryRow {
  std::string inserted, name, log_text, post_time, answer, clear_time, module, id, level,
      code_position, description;
};

using vexlor_tools::column_text;

bool read_history(const std::string& file, const std::string& since, std::vector<HistoryRow>* rows,
                  std::string* error) {
  sqlite3* db = vexlor_tools::open_history_file_to_read(file, error);
  if (db == nullptr) return false;
  std::vector<std::string> tables;
  bool ok = sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr) == SQLITE_OK &&
            vexlor_tools::alarm_log_tables(db, &tables);
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
      HistoryRow row;
      std::string* fields[] = {&row.inserted, &row.name,          &row.log_text,   &row.post_time,
                               &row.answer,   &row.clear_time,    &row.module,     &row.id,
                               &row.level,    &row.code_position, &row.description};
      for (int c = 0; c < 11; ++c) *fields[c] = column_text(select, c);
      rows->push_back(std::move(row));
    }
    ok = rc == SQLITE_DONE;
    sqlite3_finalize(select);
  }
  if (!ok) *error = file + ": " + sqlite3_errmsg(db);
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);
  return ok;
}

// Seconds since 1970 of a local "YYYY/MM/DD HH:MM:SS"; -1 when it is not one.
long long seconds_of(const std::string& text) {
  std::tm t{};
  if (std::sscanf(text.c_str(), "%d/%d/%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                  &t.tm_min, &t.tm_sec) != 6) {
    return -1;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  return static_cast<long long>(std::mktime(&t));
}

// An operator answer is journaled just after the alarm log row it caused: the first unused
// "answer ok" row for the same alarm and choice within this many seconds is its author.
constexpr long long kAnswerJoinSeconds = 10;

struct Answerer {
  const vexlor_tools::AuditRow* row = nullptr;
};

std::vector<Answerer> join_answers(const std::vector<HistoryRow>& history,
                                   const std::vector<vexlor_tools::AuditRow>& audit) {
  std::vector<Answerer> out(history.size());
  std::vector<bool> used(audit.size(), false);
  for (std::size_t h = 0; h < history.size(); ++h) {
    const HistoryRow& r = history[h];
    if (r.answer.empty()) continue;
    const long long logged = seconds_of(r.inserted);
    const std::string choice = r.answer.rfind("ALM_", 0) == 0 ? r.answer.substr(4) : r.answer;
    for (std::size_t a = 0; a < audit.size(); ++a) {
      const vexlor_tools::AuditRow& j = audit[a];
      if (used[a] || j.action.action != "answer" || j.action.result != "ok" ||
          j.action.target != r.id || j.action.value != choice) {
        continue;
      }
      const long long when = seconds_of(j.time);
      if (when < logged || when - logged > kAnswerJoinSeconds) continue;
      used[a] = true;
      out[h].row = &j;
      break;
    }
  }
  return out;
}

// "console alice (level 3), host bob pid 4242"; "-" when nobody journaled the answer (a
// routine answered it, or an older console).
std::string answerer_text(const Answerer& a) {
  if (a.row == nullptr) return "-";
  const vexlor_tools::AuditRow& r = *a.row;
  std::string text = r.action.source;
  if (!r.action.address.empty()) text += " " + r.action.address;
  text += " " + (r.user_name.empty() ? std::string("-") : r.user_name) + " (level " +
          std::to_string(r.user_level) + ")";
  return text + ", " + (r.host_user.empty() ? std::string("-") : r.host_user) + " pid " +
         std::to_string(r.pid);
}

int64_t number_of(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

}  // namespace

int run_alarm_history(const Options& o, const std::string& since_text) {
  std::string since;
  if (!since_option(since_text, &since)) return kUsage;
  const std::string file = vexlor_tools::equipment_database_file();
  if (file.empty()) return fail("the equipment has no database path");
  std::vector<HistoryRow> rows;
  std::error_code ec;
  const bool exists = std::filesystem::exists(file, ec);
  std::string error;
  if (exists && !read_history(file, since, &rows, &error)) return fail("alarm history: " + error);
  std::vector<vexlor_tools::AuditRow> audit;
  if (exists && !vexlor_tools::read_operator_actions(file, since, &audit, &error)) {
    return fail("audit trail: " + error);
  }
  const std::vector<Answerer> answerers = join_answers(rows, audit);
  const int language = Vexlor::VSystem_Get_Language();
  if (o.json) {
    JsonWriter json;
    json.begin_array();
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const HistoryRow& r = rows[i];
      json.begin_object()
          .field("time", r.inserted)
          .field("event", r.answer.empty() ? "POST" : r.answer);
      json.field("id", number_of(r.id)).field("level", number_of(r.level));
      json.key("module");
      if (r.module.empty()) {
        json.null();
      } else {
        json.value(r.module);
      }
      json.field("name", r.name)
          .field("text", vexlor_tools::language_part(r.log_text, language == 1));
      json.field("post_time", r.post_time).field("clear_time", r.clear_time);
      json.field("code_position", r.code_position).field("description", r.description);
      json.key("answered_by");
      if (const vexlor_tools::AuditRow* a = answerers[i].row) {
        json.begin_object().field("source", a->action.source).field("user_name", a->user_name);
        json.field("user_level", a->user_level).field("host_user", a->host_user);
        json.field("pid", static_cast<int64_t>(a->pid)).field("address", a->action.address);
        json.end_object();
      } else {
        json.null();
      }
      json.end_object();
    }
    json.end_array();
    print(json.text() + "\n");
    return kOk;
  }
  if (rows.empty()) {
    print(exists ? word("no alarm history|无报警记录") +
                       (since.empty() ? std::string() : word(" since | 自 ") + since) + "\n"
                 : word("no alarm history (no file |无报警记录 (无文件 ") + file + ")\n");
    return kOk;
  }
  TextTable t({"TIME|时间", "ID", "EVENT|事件", "LEVEL|级别", "MODULE|模块", "NAME|名称",
               "TEXT|文本", "AT|代码位置", "BY|应答者"});
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const HistoryRow& r = rows[i];
    t.add({r.inserted, r.id, r.answer.empty() ? "POST" : r.answer, r.level,
           r.module.empty() ? "-" : r.module, r.name,
           cell(vexlor_tools::language_part(r.log_text, language == 1), 80),
           r.code_position.empty() ? "-" : r.code_position,
           r.answer.empty() ? "" : answerer_text(answerers[i])});
  }
  print(t.render());
  return kOk;
}

}  // namespace vexlor_console
