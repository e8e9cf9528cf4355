// `vexlor status`: the instance at a glance: its database image, whether the sequence manager
// serves it (and whether one ran and died), the routines with their run status, process and
// last logged error, the other processes attached, and how many alarms are posted. It also
// works on an instance without a database.
#include <vexlor/instance_state.h>
#include <vexlor/vexlor.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>

#include "audit.h"
#include "console.h"

namespace vexlor_console {
namespace {

struct LoggedError {
  std::string time, text;
};

// The last "[ERR]" line of each source in today's system log, by upper-cased source name.
// Lines read "YYYY/MM/DD HH:MM:SS.mmm [ERR] [SOURCE] text".
std::map<std::string, LoggedError> last_errors() {
  std::map<std::string, LoggedError> out;
  const std::string file = vexlor_tools::map_system_path(
      std::string(Vexlor::VSystem_Get_History_Full_Path()) + "/system.log");
  std::ifstream in(file, std::ios::binary);
  std::string line;
  static const std::string kTag = " [ERR] [";
  while (std::getline(in, line)) {
    const std::size_t tag = line.find(kTag);
    if (tag == std::string::npos) continue;
    const std::size_t from = tag + kTag.size();
    const std::size_t close = line.find("] ", from);
    if (close == std::string::npos) continue;
    out[upper(line.substr(from, close - from))] = {line.substr(0, tag), line.substr(close + 2)};
  }
  return out;
}

struct ManagerState {
  std::string state;  // "running", "killed", "stopped", "never started"
  long pid = 0;
  std::string since, last_record;
};

ManagerState manager_state(const vexlor::InstanceState& s) {
  ManagerState m;
  for (const auto& p : s.attached) {
    if (p.routine == "vexlor-manager") m.pid = p.pid;
  }
  m.last_record = vexlor_tools::local_time_text_of(s.manager_log_time);
  if (s.manager_serving) {
    m.state = "running";
    m.since = vexlor_tools::local_time_text_of(s.manager_since);
  } else if (s.manager_endpoint_left) {
    m.state = "killed";
  } else {
    m.state = s.manager_log_time != 0 ? "stopped" : "never started";
  }
  return m;
}

std::string manager_line(const ManagerState& m) {
  if (m.state == "running") {
    return "running, pid " + (m.pid > 0 ? std::to_string(m.pid) : std::string("?")) +
           (m.since.empty() ? "" : ", since " + m.since);
  }
  if (m.state == "killed") {
    return "NOT RUNNING: it ended without closing its endpoint (killed or crashed)" +
           (m.last_record.empty() ? std::string() : "; last record " + m.last_record);
  }
  if (m.state == "stopped") return "not running (stopped; last record " + m.last_record + ")";
  return "never started in this instance";
}

struct RoutineRow {
  int slot = -1;  // -1: an attached process that is no function
  std::string name;
  std::string run_status;  // "" for no function
  std::vector<long> pids;
  std::string process;  // "alive", "gone", "virtual", the manager's word, or "-"
  LoggedError error;
};

std::vector<RoutineRow> routines(const vexlor::InstanceState& s, bool manager_up) {
  std::vector<RoutineRow> rows;
  const auto errors = last_errors();
  std::vector<bool> matched(s.attached.size(), false);
  const int n = Vexlor::VSystem_Get_Function_Count();
  for (int i = 0; i < n + 12; ++i) {
    const std::string name = Vexlor::VFunction_Get_Name(i);
    if (name.empty()) continue;
    RoutineRow r;
    r.slot = i;
    r.name = name;
    const int run = Vexlor::VFunction_Get_Run_Status(i);
    r.run_status = status_name(run);
    for (std::size_t k = 0; k < s.attached.size(); ++k) {
      if (equal_ignoring_case(s.attached[k].routine, name)) {
        r.pids.push_back(s.attached[k].pid);
        matched[k] = true;
      }
    }
    // What the manager knows of the process serving the function.
    std::string manager_word;
    if (manager_up && i < n) {
      const ServingProcess serving = serving_process(i);
      if (serving.state != "-") manager_word = serving.state;
      if (r.pids.empty() && serving.pid > 0) r.pids.push_back(serving.pid);
    }
    const bool busy = run == Vexlor::SYS_RUNNING || run == Vexlor::SYS_WAITTING;
    if (!r.pids.empty() && (manager_word.empty() || manager_word.rfind("alive", 0) == 0)) {
      r.process = manager_word.empty() ? "alive" : manager_word;
    } else if (!manager_word.empty()) {
      r.process = manager_word;
    } else if (i < n && Vexlor::VFunction_Get_Virtual_Flag(i) && manager_up) {
      // The manager plays simulated functions itself.
      r.process = "virtual";
    } else {
      r.process = busy ? "gone" : "-";
    }
    // A routine whose run is open with no process behind it died in the middle of the run.
    if (busy && r.process != "alive" && r.process.rfind("alive", 0) != 0 &&
        r.process != "virtual") {
      r.process = "gone (died mid-run)";
    }
    if (auto it = errors.find(upper(name)); it != errors.end()) r.error = it->second;
    rows.push_back(std::move(r));
  }
  for (std::size_t k = 0; k < s.attached.size(); ++k) {
    if (matched[k]) continue;
    RoutineRow r;
    r.name = s.attached[k].routine;
    r.pids.push_back(s.attached[k].pid);
    r.process = "alive";
    if (auto it = errors.find(upper(r.name)); it != errors.end()) r.error = it->second;
    rows.push_back(std::move(r));
  }
  return rows;
}

std::string pid_list(const std::vector<long>& pids) {
  std::string text;
  for (long pid : pids) text += (text.empty() ? "" : ",") + std::to_string(pid);
  return text.empty() ? "-" : text;
}

}  // namespace

int run_status(const Options& o, bool attached) {
  const vexlor::InstanceState s = vexlor::inspect_instance();
  const ManagerState m = manager_state(s);
  std::vector<RoutineRow> rows;
  int posted = 0, severe = 0;
  if (attached) {
    rows = routines(s, s.manager_serving);
    for (const AlarmRow& a : collect_alarms()) {
      ++posted;
      if (a.level < 2) ++severe;
    }
  }
  if (o.json) {
    JsonWriter json;
    json.begin_object().field("instance", s.instance).field("folder", s.folder);
    json.key("database").begin_object().field("state", s.database);
    json.key("size");
    s.database == "valid" ? json.value(static_cast<int64_t>(s.size)) : json.null();
    json.field("created", s.created).field("source", s.source);
    json.field("problem", s.database_problem).end_object();
    json.key("manager").begin_object().field("state", m.state).key("pid");
    m.pid > 0 ? json.value(static_cast<int64_t>(m.pid)) : json.null();
    json.field("since", m.since).field("last_record", m.last_record).end_object();
    json.key("alarms");
    if (attached) {
      json.begin_object().field("posted", posted).field("severe", severe).end_object();
    } else {
      json.null();
    }
    json.key("routines").begin_array();
    for (const RoutineRow& r : rows) {
      json.begin_object().key("index");
      r.slot >= 0 ? json.value(r.slot) : json.null();
      json.field("name", r.name).key("run_status");
      r.run_status.empty() ? json.null() : json.value(r.run_status);
      json.key("pids").begin_array();
      for (long pid : r.pids) json.value(static_cast<int64_t>(pid));
      json.end_array().field("process", r.process);
      json.key("last_error");
      if (r.error.text.empty()) {
        json.null();
      } else {
        json.begin_object().field("time", r.error.time).field("text", r.error.text).end_object();
      }
      json.end_object();
    }
    json.end_array().end_object();
    print(json.text() + "\n");
    return kOk;
  }
  TextTable head({"", ""});
  head.add({word("instance|实例"), s.instance + " (" + s.folder + ")"});
  std::string database = s.database;
  if (s.database == "valid") {
    database += ", " + std::to_string(s.size) + " bytes, built " + s.created + " from " + s.source;
  } else if (s.database == "invalid") {
    database += ": " + s.database_problem;
  } else {
    database = "none (create one with vexlor-db)";
  }
  head.add({word("database|数据库"), database});
  head.add({word("manager|管理器"), manager_line(m)});
  if (attached) {
    head.add({word("alarms|报警"),
              std::to_string(posted) + word(" posted| 个已发生") +
                  (severe > 0 ? " (" + std::to_string(severe) + word(" severe)| 个严重)") : "")});
  }
  std::string text = head.render();
  text.erase(0, text.find('\n') + 1);
  if (!rows.empty()) {
    TextTable t({"SLOT|槽位", "ROUTINE|程序", "RUN|运行状态", "PID", "PROCESS|进程",
                 "LAST ERROR|最近错误"});
    for (const RoutineRow& r : rows) {
      t.add({r.slot >= 0 ? std::to_string(r.slot) : "-", r.name,
             r.run_status.empty() ? "-" : r.run_status, pid_list(r.pids), r.process,
             r.error.text.empty() ? "-" : r.error.time + " " + cell(r.error.text, 80)});
    }
    text += "\n" + t.render();
  }
  print(text);
  return kOk;
}

}  // namespace vexlor_console
