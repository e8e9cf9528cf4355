// `vexlor host`: what the host link (vexlor-eap) journaled, filtered by token and time, as a
// table or JSON, and a live tail of it; `vexlor host link`: the link-state points and the
// connection; `vexlor host trace`: the last messages; `vexlor host ids`: the mapping table.
#include "host.h"

#include <vexlor/vexlor.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <csignal>
#include <filesystem>
#include <thread>

#include "vexlor_eap/journal.h"
#include "vexlor_eap/mapping_table.h"

namespace vexlor_console {
namespace {

volatile std::sig_atomic_t g_stop = 0;
extern "C" void on_host_stop(int) { g_stop = 1; }

void json_of_event(const vexlor_eap::JournalRow& r, JsonWriter& json) {
  json.begin_object().field("table", r.table).field("row", r.row);
  json.field("received", r.received).field("sender", r.sender);
  json.field("sender_name", r.sender_name).field("status", r.status).field("token", r.token);
  json.field("code", r.code).field("event", r.event).key("fields").begin_array();
  for (const std::string& f : r.fields) json.value(f);
  json.end_array().key("data").begin_object();
  for (const auto& [name, value] : r.data) json.field(name, value);
  json.end_object().field("line", r.line).end_object();
}

std::string line_of_event(const std::string& received, const std::string& from,
                          const std::string& status, const std::string& event,
                          const std::string& line) {
  char text[160];
  std::snprintf(text, sizeof text, "%-23s  %-16s  %-9s  %-26s  ", received.c_str(), from.c_str(),
                status.c_str(), event.c_str());
  return text + line + "\n";
}

std::string table_of_events(const std::vector<vexlor_eap::JournalRow>& rows) {
  TextTable t({"RECEIVED|接收时间", "FROM|来源", "STATUS|状态", "EVENT|事件", "LINE|内容"});
  for (const auto& r : rows) {
    t.add({r.received, r.sender_name.empty() ? std::to_string(r.sender) : r.sender_name, r.status,
           r.event.empty() ? "-" : r.event, cell(r.line, 100)});
  }
  return t.render();
}

void print_events(const Options& o, const std::vector<vexlor_eap::JournalRow>& rows, bool as_lines,
                  bool header) {
  if (o.json && !as_lines) {
    JsonWriter json;
    json.begin_array();
    for (const auto& r : rows) json_of_event(r, json);
    json.end_array();
    print(json.text() + "\n");
  } else if (o.json) {
    for (const auto& r : rows) {
      JsonWriter json;
      json_of_event(r, json);
      print(json.text() + "\n");
    }
  } else if (!as_lines) {
    print(table_of_events(rows));
  } else {
    // A live tail cannot align columns to rows not yet seen: fixed widths, titles once.
    std::string text;
    if (header) text = line_of_event("RECEIVED", "FROM", "STATUS", "EVENT", "LINE");
    for (const auto& r : rows) {
      text += line_of_event(r.received,
                            r.sender_name.empty() ? std::to_string(r.sender) : r.sender_name,
                            r.status, r.event.empty() ? "-" : r.event, cell(r.line, 100));
    }
    print(text);
  }
}

}  // namespace

int run_host_events(const Options& o, const HostQuery& q) {
  const std::string file = vexlor_eap::database_file();
  if (file.empty()) return fail("the equipment has no database path");
  vexlor_eap::JournalQuery query;
  query.token = q.token;
  query.since = vexlor_eap::normalise_time(q.since);
  query.until = vexlor_eap::normalise_time(q.until);
  std::vector<vexlor_eap::JournalRow> rows;
  std::string error;
  if (std::filesystem::exists(file) && !vexlor_eap::read_journal(file, query, &rows, &error)) {
    return fail("host journal: " + error);
  }
  if (q.last > 0 && rows.size() > static_cast<std::size_t>(q.last)) {
    rows.erase(rows.begin(), rows.end() - q.last);
  }
  if (!q.follow) {
    if (!o.json && rows.empty()) {
      print(word("no host events journaled|无主机事件记录") + "\n");
    } else {
      print_events(o, rows, false, true);
    }
    return kOk;
  }
  // Live tail: the rows so far, then every new row as it is journaled, until Ctrl-C.
  g_stop = 0;
  std::signal(SIGINT, on_host_stop);
  std::signal(SIGTERM, on_host_stop);
  bool header = true;
  for (;;) {
    print_events(o, rows, true, header);
    if (!rows.empty()) {
      header = false;
      query.after_table = rows.back().table;
      query.after_row = rows.back().row;
    }
    std::fflush(out());
    for (int k = 0; k < 4 && !g_stop; ++k) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (g_stop || database_retired()) break;
    rows.clear();
    if (std::filesystem::exists(file) && !vexlor_eap::read_journal(file, query, &rows, &error)) {
      return fail("host journal: " + error);
    }
  }
  return kOk;
}

namespace {

// Asks the running host link (a pool request to EAP_ENGINE): "" when it does not answer.
std::string ask_host_link(const char* what) {
  int index = -1;
  if (!Vexlor::VIO_Find_Point(&index, Vexlor::IO_F, true, "EAP_ENGINE")) return "";
  if (Vexlor::VFunction_Get_Run_Status(index) == Vexlor::SYS_KILLED ||
      Vexlor::VFunction_Get_Pool_Count(index) < 1) {
    return "";
  }
  return Vexlor::VFunction_Run_Pool(index, what);
}

// A number or text field of the status object (a flat JSON object written by vexlor-eap).
std::string status_field(const std::string& json, const std::string& key) {
  const std::string k = "\"" + key + "\":";
  std::size_t at = json.find(k);
  if (at == std::string::npos) return "";
  at += k.size();
  if (at < json.size() && json[at] == '"') {
    const std::size_t end = json.find('"', at + 1);
    return end == std::string::npos ? "" : json.substr(at + 1, end - at - 1);
  }
  const std::size_t end = json.find_first_of(",}", at);
  return json.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::string since_text(const std::string& ms) {
  const long long v = std::atoll(ms.c_str());
  if (v <= 0) return "-";
  const std::time_t t = static_cast<std::time_t>(v / 1000);
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

int run_host_link(const Options& o) {
  static const char* const kPoints[] = {"FA.Enable",         "GEM.Comm_Enable",
                                        "GEM.Comm_Status",   "GEM.Control_State",
                                        "GEM.Online_Status", "GEM.Remote_Status"};
  JsonWriter json;
  json.begin_object();
  TextTable t({"POINT|点", "VALUE|值", "TEXT|文本"});
  for (const char* name : kPoints) {
    int point = -1;
    if (!Vexlor::VIO_Find_Point(&point, Vexlor::IO_D, true, name)) continue;
    char text[512] = "";
    const int value = Vexlor::VDigital_Read_Mem_Str(point, text);
    json.key(name).begin_object().field("value", value).field("text", text).end_object();
    t.add({name, std::to_string(value), text});
  }
  json.end_object();
  const std::string status = ask_host_link("status");
  std::string text = json.text();
  if (!status.empty()) {
    text.pop_back();  // the connection goes in as "link"
    text += std::string(text.size() > 1 ? "," : "") + "\"link\":" + status + "}";
  }
  if (o.json) {
    print(text + "\n");
    return kOk;
  }
  if (t.empty()) {
    print(word("the equipment has none of the link-state points|设备没有通信状态点") + "\n");
  } else {
    print(t.render());
  }
  if (status.empty()) {
    print("\n" + word("the host link (EAP_ENGINE) does not answer|通信程序 (EAP_ENGINE) 没有应答") + "\n");
    return kOk;
  }
  auto f = [&status](const char* key) { return status_field(status, key); };
  TextTable l({"LINK|连接", ""});
  l.add({word("session|会话"), f("session") + (f("port") != "0" ? " (port " + f("port") + ")" : "")});
  l.add({word("host|主机"), f("peer").empty() ? "-" : f("peer")});
  l.add({word("selected since|选择时间"), since_text(f("selected_since_ms"))});
  l.add({word("communication|通信"), f("communication")});
  l.add({word("control|控制"), f("control")});
  l.add({word("messages in|收到消息"), f("messages_in") + " (" + f("in_per_second") + "/s)"});
  l.add({word("messages out|发出消息"), f("messages_out") + " (" + f("out_per_second") + "/s)"});
  l.add({word("open transactions|未完成事务"), f("open_transactions")});
  l.add({word("T3 timeouts|T3 超时"), f("t3_timeouts")});
  l.add({word("spool|缓存"), f("spool_count") + " (" + f("spool_state") + ")"});
  l.add({word("events sent / spooled / dropped|事件 已发 / 已缓存 / 已丢弃"),
         f("events_sent") + " / " + f("events_spooled") + " / " + f("events_dropped")});
  print("\n" + l.render());
  return kOk;
}

int run_host_trace(const Options& o) {
  const std::string text = ask_host_link(o.json ? "trace-json" : "trace");
  if (text.empty() && !o.json) return fail("the host link (EAP_ENGINE) does not answer");
  if (o.json) {
    if (text.empty()) return fail("the host link (EAP_ENGINE) does not answer");
    print(text + "\n");
  } else {
    print(text);
  }
  return kOk;
}

int run_host_ids(const Options& o) {
  const vexlor::gem::Mapping m = vexlor_eap::equipment_mapping();
  print(o.json ? m.to_json() + "\n" : m.to_text());
  return kOk;
}

void add_host_command(CLI::App& app, HostCommand* command) {
  command->host = app.add_subcommand(
      "host", "the host events the host link (vexlor-eap) journaled, oldest first");
  CLI::App* host = command->host;
  HostQuery& q = command->query;
  host->add_option("--token", q.token, "only lines with this token (CARRIER_ACTION, PM_STATE ...)");
  host->add_option("--since", q.since,
                   "only events received at or after this local time (YYYY/MM/DD HH:MM:SS or a "
                   "leading part of it)");
  host->add_option("--until", q.until, "only events received at or before this local time");
  host->add_option("--last", q.last, "only the last N events")->check(CLI::NonNegativeNumber);
  host->add_flag("-f,--follow", q.follow, "keep printing new events as they come (Ctrl-C stops)");
  host->require_subcommand(0, 1);
  command->link = host->add_subcommand(
      "link", "the link: enable, communication, control, connection, counters, spool");
  command->trace = host->add_subcommand("trace", "the last messages to and from the host (SML)");
  command->ids = host->add_subcommand(
      "ids", "the mapping table: CEIDs, VIDs, ECIDs, ALIDs and remote commands");
}

int run_host_command(const Options& o, const HostCommand& command) {
  if (command.link->parsed()) return run_host_link(o);
  if (command.trace->parsed()) return run_host_trace(o);
  if (command.ids->parsed()) return run_host_ids(o);
  return run_host_events(o, command.query);
}

}  // namespace vexlor_console
