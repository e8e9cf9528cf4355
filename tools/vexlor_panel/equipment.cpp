// What the panel reads from the equipment (alarms, routines, points, the alarm history) and
// what it does to it (answers, point writes, run/abort/reset), each checked first so that a
// refused request changes nothing, and each journaled with who asked.
#include <sqlite3.h>
#include <vexlor/image_state.h>
#include <vexlor/vexlor.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/audit.h"
#include "common/history_file.h"
#include "panel.h"

namespace vexlor_panel {
namespace {

using vexlor_tools::answer_from_text;
using vexlor_tools::status_name;
using vexlor_tools::style_name;

std::string decimal_text(double value, int decimal) {
  if (decimal < 0 || decimal > 8) decimal = 2;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimal, value);
  return buffer;
}

bool whole_number(const std::string& text, long long* out) {
  if (text.empty() || text.size() > 18) return false;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || text[0] == ' ' || text[0] == '+') return false;
  *out = v;
  return true;
}

bool real_number(const std::string& text, double* out) {
  if (text.empty() || text.size() > 64 || text[0] == ' ' || text[0] == '+') return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

const char* const kKinds[] = {"digital", "analog", "string"};

int count_of(int kind) {
  return kind == Vexlor::IO_D   ? Vexlor::VSystem_Get_Digital_Count()
         : kind == Vexlor::IO_A ? Vexlor::VSystem_Get_Analog_Count()
                                : Vexlor::VSystem_Get_String_Count();
}

const char* name_of(int kind, int index) {
  return kind == Vexlor::IO_D   ? Vexlor::VDigital_Get_Name(index)
         : kind == Vexlor::IO_A ? Vexlor::VAnalog_Get_Name(index)
                                : Vexlor::VString_Get_Name(index);
}

bool driver_offline(int driver) {
  if (driver < 0 || driver >= Vexlor::VSystem_Get_Driver_Count()) return false;
  int params[10] = {};
  Vexlor::VDriver_Get_Param(driver, params);
  return params[Vexlor::kDriverParamOffline] != 0;
}

bool point_offline(int kind, int index) {
  if (kind == Vexlor::IO_D) {
    return driver_offline(Vexlor::VDigital_Get_IDrv_Point(index)) ||
           driver_offline(Vexlor::VDigital_Get_ODrv_Point(index));
  }
  if (kind == Vexlor::IO_A) {
    return driver_offline(Vexlor::VAnalog_Get_IDrv_Point(index)) ||
           driver_offline(Vexlor::VAnalog_Get_ODrv_Point(index));
  }
  return driver_offline(Vexlor::VString_Get_IDrv_Point(index)) ||
         driver_offline(Vexlor::VString_Get_ODrv_Point(index));
}

// The module a point belongs to: the part of its name before the first '.'.
std::string module_of(const char* name) {
  const char* dot = std::strchr(name, '.');
  return dot == nullptr ? std::string() : std::string(name, static_cast<std::size_t>(dot - name));
}

}  // namespace

Reply error_reply(int status, const std::string& text) {
  Json j;
  j.begin_object().field("error", text).end_object();
  return Reply{status, j.text()};
}

struct Equipment::Point {
  int kind = -1;
  int index = -1;
  std::string name;
};

Equipment::~Equipment() { stop(); }

void Equipment::stop() {
  std::vector<RunRequest> runs;
  {
    std::lock_guard<std::mutex> lock(runs_mutex_);
    runs.swap(runs_);
  }
  for (RunRequest& r : runs) r.thread.join();
}

// Under mutex_.
std::string Equipment::offline_reason_locked() {
  if (Vexlor::MMAP_DB() == nullptr) return "no database";
  if (vexlor::database_retired(Vexlor::MMAP_DB())) {
    return "the database was replaced or removed: restart the panel";
  }
  if (!manager_online_) return "the sequence manager does not answer";
  return {};
}

bool Equipment::online() {
  std::lock_guard<std::mutex> lock(mutex_);
  return offline_reason_locked().empty();
}

void Equipment::probe_manager() {
  std::vector<std::string> processes;
  bool answered = false;
  const int n = Vexlor::VSystem_Get_Function_Count();
  Vexlor::VFIFO* fifo = Vexlor::FIFO();
  // Every configured routine's process as the manager sees it ("<pid> <state>"); with no
  // routines one request still tells whether the manager is there.
  for (int i = 0; fifo != nullptr && i < (n > 0 ? n : 1); ++i) {
    char answer[64] = {};
    if (!fifo->VFIFO_Engine_Read("$F", "P9", "R1", i, "-", answer, sizeof answer)) break;
    answered = true;
    processes.emplace_back(answer);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  manager_online_ = answered;
  processes_ = answered ? processes : std::vector<std::string>();
}

std::string Equipment::status_json() {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string reason = offline_reason_locked();
  const int level = Vexlor::VSystem_Get_User_Level();
  Json j;
  j.begin_object().field("instance", instance_name());
  const int n = Vexlor::VSystem_Get_Function_Count();
  j.field("main_form", Vexlor::VFunction_Get_Name(n)).field("online", reason.empty());
  j.field("offline_reason", reason).field("user", Vexlor::VSystem_Get_User_Name());
  j.field("level", level).field("language", static_cast<int>(Vexlor::VSystem_Get_Language()));
  j.field("write_level", policy_.write_level).field("engineer_level", policy_.engineer_level);
  j.field("can_write", level >= policy_.write_level);
  j.field("can_engineer", level >= policy_.engineer_level).end_object();
  return j.text();
}

std::string Equipment::alarms_json() {
  std::lock_guard<std::mutex> lock(mutex_);
  Json j;
  j.begin_array();
  const int alarms = Vexlor::VSystem_Get_Alarm_Count();
  const Vexlor::LANGUAGE language = Vexlor::VSystem_Get_Language();
  // A position at or beyond the alarm count is an index error for the library: stop before.
  for (int position = 0; position < alarms; ++position) {
    int point = -1, count = 0;
    if (!Vexlor::VAlarm_Queue_Point(position, &point, &count) || point < 0 || point >= alarms) {
      break;
    }
    const int module = Vexlor::VAlarm_Get_Module_Point(point);
    char text[512] = {};
    Vexlor::VAlarm_Get_Text_Full(point, text);
    const int caller = Vexlor::VAlarm_Get_Func_Point(point);
    j.begin_object().field("position", position).field("id", Vexlor::VAlarm_Get_ID(point));
    j.field("level", static_cast<int>(Vexlor::VAlarm_Get_Level(point)));
    const bool known = module >= 0 && module < Vexlor::VSystem_Get_Module_Count();
    j.field("module", known ? Vexlor::VModule_Get_Name(module) : "");
    j.field("module_label",
            known ? module_label(Vexlor::VModule_Get_Name(module), Vexlor::VModule_Get_ID(module))
                  : std::string());
    j.field("name", Vexlor::VAlarm_Get_Name(point)).field("text", text);
    j.field("description", Vexlor::VAlarm_Get_Description(point));
    j.field("post_time", Vexlor::VAlarm_Get_Post_Time(point));
    j.field("code_position", Vexlor::VAlarm_Get_Code_Position(point));
    j.field("routine", caller >= 0 && caller < Vexlor::VSystem_Get_Function_Count() + 12
                           ? Vexlor::VFunction_Get_Name(caller)
                           : "");
    j.field("status", style_name(Vexlor::VAlarm_Status(point)));
    Vexlor::ALARM_STYLE choices[8] = {};
    const int n = Vexlor::VAlarm_Get_Recovery_Result_Count(point);
    Vexlor::VAlarm_Get_Recovery_Result(point, choices);
    std::vector<std::string> captions;
    Vexlor::VAlarm_Get_Recovery_Result_Message(point, language, captions);
    j.key("choices").begin_array();
    for (int k = 0; k < n && k < 8; ++k) {
      j.begin_object().field("answer", style_name(choices[k]) + 4);
      j.field("caption", k < static_cast<int>(captions.size()) ? captions[k] : std::string());
      j.end_object();
    }
    j.end_array().end_object();
  }
  j.end_array();
  return j.text();
}

std::string Equipment::functions_json() {
  std::lock_guard<std::mutex> lock(mutex_);
  const int n = Vexlor::VSystem_Get_Function_Count();
  Json j;
  j.begin_array();
  for (int i = 0; i < n + 12; ++i) {
    const std::string name = Vexlor::VFunction_Get_Name(i);
    if (i >= n && name.empty()) continue;  // an extra slot nobody took
    char pid[32] = "-", state[32] = "-";
    if (i < static_cast<int>(processes_.size())) {
      std::sscanf(processes_[static_cast<std::size_t>(i)].c_str(), "%31s %31s", pid, state);
    }
    j.begin_object().field("index", i).field("name", name);
    j.field("slot", i < n ? "configured" : (i == n ? "main form" : "extra"));
    j.field("run_status", status_name(Vexlor::VFunction_Get_Run_Status(i)));
    j.field("event_status", status_name(Vexlor::VFunction_Get_Event_Status(i)));
    j.field("abort", Vexlor::VFunction_Get_Abort_Flag(i));
    j.field("exit", Vexlor::VFunction_Get_Exit_Flag(i));
    j.field("free", Vexlor::VFunction_Get_Free_Flag(i));
    j.field("virtual", Vexlor::VFunction_Get_Virtual_Flag(i));
    j.field("run_param", i < n ? Vexlor::VFunction_Get_Load_Run_Param(i) : "");
    j.field("pid", std::string(pid)).field("process", std::string(state)).end_object();
  }
  j.end_array();
  return j.text();
}

std::string Equipment::modules_json() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> modules;
  for (int kind : {Vexlor::IO_D, Vexlor::IO_A, Vexlor::IO_S}) {
    const int count = count_of(kind);
    for (int i = 0; i < count; ++i) {
      const std::string m = module_of(name_of(kind, i));
      bool known = m.empty();
      for (const std::string& k : modules) known = known || k == m;
      if (!known) modules.push_back(m);
    }
  }
  Json j;
  j.begin_array();
  for (const std::string& m : modules) j.value(m);
  j.end_array();
  return j.text();
}

// Under mutex_.
std::string Equipment::point_json(const Point& p) {
  Json j;
  j.begin_object().field("name", p.name).field("kind", kKinds[p.kind]);
  std::string value, unit;
  bool ok = false;
  double raw = 0;  // digital and analog: the number as read
  if (p.kind == Vexlor::IO_D) {
    unit = Vexlor::VDigital_Get_Unit(p.index);
    int v = 0;
    ok = Vexlor::VDigital_Read(p.index, &v);
    value = std::to_string(v);
    raw = v;
    const int e = Vexlor::VDigital_Get_Enum_Point(p.index);
    if (e >= 0) {
      if (ok) {
        char text[64] = {};
        Vexlor::VDigital_Get_Enum_S_Data(p.index, v, text);
        j.field("text", text);
      }
      std::vector<std::string> texts;
      Vexlor::VEnum_Get_SData_All(e, static_cast<int>(Vexlor::VSystem_Get_Language()), texts);
      std::vector<int> values;
      Vexlor::VEnum_Get_DData_All(e, values);
      j.key("choices").begin_array();
      for (std::size_t k = 0; k < texts.size() && k < values.size(); ++k) {
        j.begin_object().field("text", texts[k]).field("value", values[k]).end_object();
      }
      j.end_array();
    }
    j.field("min", std::to_string(Vexlor::VDigital_Get_Min(p.index)));
    j.field("max", std::to_string(Vexlor::VDigital_Get_Max(p.index)));
  } else if (p.kind == Vexlor::IO_A) {
    unit = Vexlor::VAnalog_Get_Unit(p.index);
    double v = 0;
    ok = Vexlor::VAnalog_Read(p.index, &v);
    raw = v;
    const int decimal = Vexlor::VAnalog_Get_Decimal(p.index);
    value = decimal_text(v, decimal);
    j.field("min", decimal_text(Vexlor::VAnalog_Get_Min(p.index), decimal));
    j.field("max", decimal_text(Vexlor::VAnalog_Get_Max(p.index), decimal));
  } else {
    char text[1024] = {};
    ok = Vexlor::VString_Read(p.index, text);
    value = text;
  }
  j.key("value");
  if (ok) {
    j.value(value);
  } else {
    j.raw("null");
  }
  j.key("raw");
  if (ok && p.kind != Vexlor::IO_S) {
    j.value(raw);
  } else {
    j.null();
  }
  j.field("unit", unit);
  j.field("status", point_offline(p.kind, p.index) ? "offline" : ok ? "ok" : "fail");
  j.end_object();
  return j.text();
}

std::string Equipment::points_json(const std::string& module) {
  std::lock_guard<std::mutex> lock(mutex_);
  Json j;
  j.begin_array();
  bool any = false;
  for (int kind : {Vexlor::IO_D, Vexlor::IO_A, Vexlor::IO_S}) {
    const int count = count_of(kind);
    for (int i = 0; i < count; ++i) {
      const char* name = name_of(kind, i);
      if (module_of(name) != module) continue;
      any = true;
      j.raw(point_json(Point{kind, i, name}));
    }
  }
  j.end_array();
  return any ? j.text() : std::string();
}

// Under mutex_: the point of that name in the order of the by-name access (digital, analog,
// string), ignoring letter case as the library does.
bool Equipment::find_point(const std::string& name, Point* point) {
  if (name.empty() || name.size() > 63) return false;
  for (int kind : {Vexlor::IO_D, Vexlor::IO_A, Vexlor::IO_S}) {
    int index = -1;
    if (Vexlor::VIO_Find_Point(&index, static_cast<Vexlor::IO_TYPE>(kind), true, name.c_str()) &&
        index >= 0) {
      *point = Point{kind, index, name_of(kind, index)};
      return true;
    }
  }
  return false;
}

Reply Equipment::journaled(const std::string& action, const std::string& target,
                           const std::string& value, const std::string& address, Reply reply) {
  vexlor_tools::OperatorAction a;
  a.source = "panel";
  a.action = action;
  a.target = target;
  a.value = value;
  a.address = address;
  if (reply.status < 300) {
    a.result = "ok";
  } else {
    std::map<std::string, std::string> body;
    a.result = parse_flat_object(reply.body, &body) ? body["error"] : reply.body;
  }
  std::string error;
  if (!vexlor_tools::journal_operator_action(a, &error)) {
    std::fprintf(stderr, "vexlor-panel: cannot journal %s %s: %s\n", action.c_str(), target.c_str(),
                 error.c_str());
  }
  return reply;
}

Reply Equipment::answer(const std::string& id_text, const std::string& choice,
                        const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto done = [&](Reply r) { return journaled("answer", id_text, choice, address, std::move(r)); };
  if (const std::string reason = offline_reason_locked(); !reason.empty()) {
    return done(error_reply(503, "equipment offline: " + reason));
  }
  long long id = 0;
  if (!whole_number(id_text, &id)) return done(error_reply(400, "alarm ID must be a number"));
  const int answer = answer_from_text(choice);
  if (answer < 0) return done(error_reply(400, "unknown answer \"" + choice + "\""));
  if (Vexlor::VSystem_Get_User_Level() < policy_.write_level) {
    return done(error_reply(
        403, "answering alarms needs user level " + std::to_string(policy_.write_level)));
  }
  const int point = vexlor_tools::find_alarm_point(id);
  if (point < 0) return done(error_reply(404, "no alarm with ID " + id_text));
  if (Vexlor::VAlarm_Status(point) != Vexlor::ALM_PAUSED) {
    return done(error_reply(409, "alarm " + id_text + " is not posted"));
  }
  // The routine that posted the alarm acts on the answer: only the choices it offers are given.
  const vexlor_tools::OfferedAnswers offered = vexlor_tools::offered_answers(point, answer);
  const std::string name = style_name(answer) + 4;
  if (!offered.allowed) {
    return done(error_reply(
        422, "alarm " + id_text + " does not offer " + name + " (offered: " + offered.list + ")"));
  }
  const bool notified = Vexlor::VAlarm_Handle(point, static_cast<Vexlor::ALARM_STYLE>(answer));
  if (Vexlor::VAlarm_Status(point) != answer) {
    return done(error_reply(500, "alarm " + id_text + ": the answer was not recorded"));
  }
  Json j;
  j.begin_object().field("id", static_cast<int64_t>(id)).field("answer", name);
  j.field("notified", notified).end_object();
  return done(Reply{200, j.text()});
}

Reply Equipment::write_point(const std::string& name, const std::string& value,
                             const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto done = [&](Reply r) { return journaled("set", name, value, address, std::move(r)); };
  if (const std::string reason = offline_reason_locked(); !reason.empty()) {
    return done(error_reply(503, "equipment offline: " + reason));
  }
  if (Vexlor::VSystem_Get_User_Level() < policy_.write_level) {
    return done(
        error_reply(403, "writing points needs user level " + std::to_string(policy_.write_level)));
  }
  Point p;
  if (!find_point(name, &p)) return done(error_reply(404, "unknown point \"" + name + "\""));
  // Checked here so that a value out of range never reaches the point.
  std::string written = value;
  if (p.kind == Vexlor::IO_D) {
    const int lo = Vexlor::VDigital_Get_Min(p.index), hi = Vexlor::VDigital_Get_Max(p.index);
    long long v = 0;
    const int e = Vexlor::VDigital_Get_Enum_Point(p.index);
    if (!whole_number(value, &v) && e >= 0 && !value.empty() && value.size() < 64) {
      const int d = Vexlor::VEnum_Get_DData_By_SData(e, value.c_str());
      if (d != Vexlor::VEXLOR_UNUSED_POINT) written = std::to_string(d);
    }
    if (!whole_number(written, &v) || v < lo || v > hi) {
      return done(error_reply(422, "cannot write \"" + value + "\" to " + p.name +
                                       ": not a value in " + std::to_string(lo) + ".." +
                                       std::to_string(hi)));
    }
  } else if (p.kind == Vexlor::IO_A) {
    double v = 0;
    const double lo = Vexlor::VAnalog_Get_Min(p.index), hi = Vexlor::VAnalog_Get_Max(p.index);
    const int decimal = Vexlor::VAnalog_Get_Decimal(p.index);
    if (!real_number(value, &v) || v < lo || v > hi) {
      return done(error_reply(422, "cannot write \"" + value + "\" to " + p.name +
                                       ": not a number in " + decimal_text(lo, decimal) + ".." +
                                       decimal_text(hi, decimal)));
    }
  } else if (value.size() > 1023 || value.find('\0') != std::string::npos) {
    return done(error_reply(422, "cannot write to " + p.name + ": longer than 1023 bytes"));
  }
  if (point_offline(p.kind, p.index)) {
    return done(error_reply(409, "cannot write " + p.name + ": its driver is offline"));
  }
  if (!Vexlor::VIO_Write(p.name.c_str(), written.c_str(), true)) {
    return done(error_reply(
        409, "cannot write \"" + value + "\" to " + p.name + ": the write was refused"));
  }
  return done(Reply{200, point_json(p)});
}

Reply Equipment::function_action(const std::string& name, const std::string& action,
                                 const std::string& param, const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto done = [&](Reply r) { return journaled(action, name, param, address, std::move(r)); };
  if (const std::string reason = offline_reason_locked(); !reason.empty()) {
    return done(error_reply(503, "equipment offline: " + reason));
  }
  if (Vexlor::VSystem_Get_User_Level() < policy_.engineer_level) {
    return done(
        error_reply(403, action + " needs user level " + std::to_string(policy_.engineer_level)));
  }
  const int n = Vexlor::VSystem_Get_Function_Count();
  int index = -1;
  for (int i = 0; i < n && index < 0 && !name.empty() && name.size() < 64; ++i) {
    if (name == Vexlor::VFunction_Get_Name(i)) index = i;
  }
  if (index < 0) return done(error_reply(404, "no routine \"" + name + "\""));
  if (param.size() > 511) return done(error_reply(422, "the run parameter is longer than 511"));
  if (action == "abort") {
    Vexlor::VFunction_Abort(index);
  } else if (action == "reset") {
    int was = 0;
    std::string failure;
    if (!vexlor_tools::reset_routine(index, &was, &failure)) return done(error_reply(409, failure));
  } else {
    const int status = Vexlor::VFunction_Get_Run_Status(index);
    if (status == Vexlor::SYS_RUNNING || status == Vexlor::SYS_WAITTING) {
      return done(error_reply(409, name + " is running"));
    }
    // A refused request raises an alarm and waits for its answer, which comes through this
    // panel: the request goes out on its own thread, off the lock.
    std::lock_guard<std::mutex> runs(runs_mutex_);
    for (auto r = runs_.begin(); r != runs_.end();) {  // join the requests that have gone out
      if (*r->done) {
        r->thread.join();
        r = runs_.erase(r);
      } else {
        ++r;
      }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    runs_.push_back({std::thread([index, param, done] {
                       Vexlor::VFunction_Run_Set(index, param.c_str());
                       *done = true;
                     }),
                     done});
  }
  Json j;
  j.begin_object().field("name", name).field("action", action);
  j.field("run_status", status_name(Vexlor::VFunction_Get_Run_Status(index))).end_object();
  return done(Reply{action == "run" ? 202 : 200, j.text()});
}

Reply Equipment::history(const std::string& since_text, const std::string& until_text) {
  std::string since, until = "9999";
  if (!since_text.empty() && !vexlor_tools::normalise_time(since_text, &since)) {
    return error_reply(400, "bad time \"" + since_text + "\" (YYYY/MM/DD HH:MM:SS or a part)");
  }
  if (!until_text.empty() && !vexlor_tools::normalise_time(until_text, &until)) {
    return error_reply(400, "bad time \"" + until_text + "\" (YYYY/MM/DD HH:MM:SS or a part)");
  }
  std::string file;
  bool chinese = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    file = vexlor_tools::equipment_database_file();
    chinese = Vexlor::VSystem_Get_Language() == Vexlor::LANGUAGE_CHINESE;
  }
  Json j;
  j.begin_array();
  std::error_code ec;
  if (file.empty() || !std::filesystem::exists(file, ec)) return Reply{200, j.end_array().text()};
  sqlite3* db = vexlor_tools::open_history_file_to_read(file, nullptr);
  if (db == nullptr) return error_reply(503, "cannot read the alarm history in " + file);
  std::vector<std::string> tables;
  bool ok = sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr) == SQLITE_OK &&
            vexlor_tools::alarm_log_tables(db, &tables);
  // The last 1000 rows of the window, oldest first.
  constexpr int kLimit = 1000;
  std::vector<std::vector<std::string>> rows;
  for (auto t = tables.rbegin(); ok && t != tables.rend() && rows.size() < kLimit; ++t) {
    const std::string sql =
        "SELECT inserted, alarm_id, answer, level, module_name, alarm_name, log_text, "
        "post_time, clear_time, code_position FROM \"" +
        *t + "\" WHERE inserted >= ?1 AND inserted < ?2 ORDER BY row DESC LIMIT " +
        std::to_string(kLimit - rows.size());
    sqlite3_stmt* select = nullptr;
    ok = sqlite3_prepare_v2(db, sql.c_str(), -1, &select, nullptr) == SQLITE_OK;
    sqlite3_bind_text(select, 1, since.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(select, 2, until.c_str(), -1, SQLITE_TRANSIENT);
    while (ok && sqlite3_step(select) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int c = 0; c < 10; ++c) row.push_back(vexlor_tools::column_text(select, c));
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(select);
  }
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);
  if (!ok) return error_reply(503, "cannot read the alarm history in " + file);
  static const char* const kNames[] = {"time", "id",   "event",     "level",      "module",
                                       "name", "text", "post_time", "clear_time", "code_position"};
  for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
    j.begin_object();
    for (int c = 0; c < 10; ++c) {
      j.field(kNames[c], c == 2 && (*r)[2].empty() ? std::string("POST")
                         : c == 6                  ? vexlor_tools::language_part((*r)[6], chinese)
                                                   : (*r)[c]);
    }
    j.end_object();
  }
  return Reply{200, j.end_array().text()};
}

}  // namespace vexlor_panel
