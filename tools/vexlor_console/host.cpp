// `vexlor host`: what the host link stand-in (vexlor-eap) journaled, filtered by token and
// time, as a table or JSON, and a live tail of it; `vexlor host link`: the link-state points.
#include "host.h"

#include <vexlor/vexlor.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "vexlor_eap/journal.h"

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
  if (o.json) {
    print(json.text() + "\n");
  } else if (t.empty()) {
    print(word("the equipment has none of the link-state points|设备没有通信状态点") + "\n");
  } else {
    print(t.render());
  }
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
  command->link = host->add_subcommand("link", "the link state: enable, communication, control");
}

int run_host_command(const Options& o, const HostCommand& command) {
  if (command.link->parsed()) return run_host_link(o);
  return run_host_events(o, command.query);
}

}  // namespace vexlor_console
