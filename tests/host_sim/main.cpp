// vexlor-hostsim: a factory host on the command line. It connects to an equipment's host link,
// selects, establishes communication (S1F13), asks for online (S1F17), optionally enables every
// collection event and alarm, and prints one line per S6F11, S5F1 and S10F1 it receives:
//
//   S6F11 CEID <ceid>[ <event name>][  <variable>=<value> ...]
//   S5F1 ALID <alid> SET|CLEAR  ALCD=<alcd> ALTX="<text>"
//   S10F1 TID <tid>  TEXT="<text>"
//
// Values print as numbers, "quoted text" (\" \\ and \xNN escapes) or [lists]. Progress and
// errors go to stderr. Exit status: 0 at the end of --seconds or on SIGINT/SIGTERM, 1 when the
// link could not be set up, 2 on a usage error, 3 when the equipment closed the link.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "host_sim/sim_host.h"

using namespace vexlor::hostsim;

namespace {

volatile sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

const char kUsage[] =
    "usage: vexlor-hostsim --port N [--device-id D] [--seconds S] [--events-all] [--ids FILE]\n"
    "  --port N        the equipment's HSMS port on 127.0.0.1\n"
    "  --device-id D   the session (device) ID, 0..32767 (default 0)\n"
    "  --seconds S     stop after S seconds (default: until SIGINT/SIGTERM)\n"
    "  --events-all    enable every collection event and alarm; with --ids, first define one\n"
    "                  report per event holding every variable and link it to the event\n"
    "  --ids FILE      the equipment's mapping table (vexlor host ids --json) for names\n";

struct Options {
  long port = -1;
  long device_id = 0;
  double seconds = 0;
  bool events_all = false;
  std::string ids_file;
};

bool parse_number(const char* text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text, &end);
  return end != text && *end == '\0';
}

bool parse_options(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](double* out) { return i + 1 < argc && parse_number(argv[++i], out); };
    double number = 0;
    if (arg == "--port") {
      if (!value(&number) || number < 1 || number > 65535 || number != static_cast<long>(number))
        return false;
      options->port = static_cast<long>(number);
    } else if (arg == "--device-id") {
      if (!value(&number) || number < 0 || number > 32767 || number != static_cast<long>(number))
        return false;
      options->device_id = static_cast<long>(number);
    } else if (arg == "--seconds") {
      if (!value(&number) || number < 0) return false;
      options->seconds = number;
    } else if (arg == "--events-all") {
      options->events_all = true;
    } else if (arg == "--ids") {
      if (i + 1 >= argc) return false;
      options->ids_file = argv[++i];
    } else {
      return false;
    }
  }
  return options->port > 0;
}

struct Names {
  std::vector<std::pair<std::uint64_t, std::string>> events;  // ceid, name
  std::vector<std::uint64_t> vids;                            // in the table's order
  std::map<std::uint64_t, std::string> event_names, variable_names;
};

bool load_names(const std::string& file, Names* names, std::string* error) {
  std::ifstream in(file);
  if (!in) {
    *error = "cannot read " + file;
    return false;
  }
  try {
    const nlohmann::json table = nlohmann::json::parse(in);
    for (const auto& e : table.at("events")) {
      const auto ceid = e.at("ceid").get<std::uint64_t>();
      const auto name = e.at("name").get<std::string>();
      names->events.emplace_back(ceid, name);
      names->event_names[ceid] = name;
    }
    for (const auto& v : table.at("variables")) {
      const auto vid = v.at("vid").get<std::uint64_t>();
      names->vids.push_back(vid);
      names->variable_names[vid] = v.at("name").get<std::string>();
    }
  } catch (const std::exception& e) {
    *error = file + ": " + e.what();
    return false;
  }
  return true;
}

// The first byte of a reply's body (an ACK code), or -1 when the body is not a single-byte item.
int ack_of(const std::optional<Message>& reply, std::size_t member = SIZE_MAX) {
  if (!reply || !reply->item) return -1;
  const Item* item = &*reply->item;
  if (member != SIZE_MAX) {
    if (!item->is_list() || item->size() <= member) return -1;
    item = &(*item)[member];
  }
  std::uint64_t value = 0;
  return item->as_unsigned(&value) ? static_cast<int>(value) : -1;
}

std::string reply_text(const std::optional<Message>& reply) {
  return reply ? reply->to_text() : std::string("no reply");
}

// One request whose reply carries an ACK; false (with a message) unless the ACK is accepted.
bool acked(Host& host, std::uint8_t stream, std::uint8_t function, const std::optional<Item>& body,
           std::vector<int> accepted, const char* what, std::size_t member = SIZE_MAX) {
  const std::optional<Message> reply = host.request(stream, function, body, Duration(10000));
  const int ack = ack_of(reply, member);
  for (int ok : accepted) {
    if (ack == ok) return true;
  }
  std::fprintf(stderr, "vexlor-hostsim: %s refused: %s\n", what, reply_text(reply).c_str());
  return false;
}

// Report ID → the VIDs this host defined for it.
using Reports = std::map<std::uint64_t, std::vector<std::uint64_t>>;

bool set_up_events(Host& host, const Names* names, Reports* reports) {
  const Item dataid = Item::u4({1});
  if (names) {
    // Start from no reports (this also removes every link), then one report per event.
    if (!acked(host, 2, 33, Item::list({dataid, Item::list()}), {0}, "S2F33 delete reports"))
      return false;
    std::vector<Item> definitions, links;
    std::vector<std::uint64_t> vids = names->vids;
    for (const auto& [ceid, name] : names->events) {
      std::vector<Item> vid_items;
      for (std::uint64_t vid : vids) vid_items.push_back(Item::u4({vid}));
      definitions.push_back(Item::list({Item::u4({ceid}), Item::list(std::move(vid_items))}));
      links.push_back(Item::list({Item::u4({ceid}), Item::list({Item::u4({ceid})})}));
      (*reports)[ceid] = vids;
    }
    if (!definitions.empty()) {
      if (!acked(host, 2, 33, Item::list({dataid, Item::list(std::move(definitions))}), {0},
                 "S2F33 define reports"))
        return false;
      if (!acked(host, 2, 35, Item::list({dataid, Item::list(std::move(links))}), {0},
                 "S2F35 link reports"))
        return false;
    }
  }
  if (!acked(host, 2, 37, Item::list({Item::boolean1(true), Item::list()}), {0},
             "S2F37 enable all events"))
    return false;
  // A zero-length ALID names every alarm.
  if (!acked(host, 5, 3, Item::list({Item::binary1(0x80), Item::u4({})}), {0},
             "S5F3 enable all alarms"))
    return false;
  return true;
}

std::string quoted_text(const Item& item) {
  return item.is_text() ? value_text(item) : to_sml(item);
}

std::string s6f11_line(const Message& m, const Names* names, const Reports& reports) {
  const Item* body = m.item ? &*m.item : nullptr;
  std::uint64_t ceid = 0;
  if (!body || !body->is_list() || body->size() != 3 || !(*body)[1].as_unsigned(&ceid) ||
      !(*body)[2].is_list()) {
    return "S6F11 " + (body ? to_sml(*body) : std::string("<no body>"));
  }
  std::string line = "S6F11 CEID " + std::to_string(ceid);
  if (names) {
    auto it = names->event_names.find(ceid);
    if (it != names->event_names.end()) line += " " + it->second;
  }
  std::string values;
  for (const Item& report : (*body)[2].items()) {
    std::uint64_t rptid = 0;
    if (!report.is_list() || report.size() != 2 || !report[0].as_unsigned(&rptid) ||
        !report[1].is_list()) {
      values += " " + to_sml(report);
      continue;
    }
    auto defined = reports.find(rptid);
    const bool known = defined != reports.end() && defined->second.size() == report[1].size();
    for (std::size_t i = 0; i < report[1].size(); ++i) {
      std::string name;
      if (known) {
        const std::uint64_t vid = defined->second[i];
        name = "VID" + std::to_string(vid);
        if (names) {
          auto n = names->variable_names.find(vid);
          if (n != names->variable_names.end()) name = n->second;
        }
      } else {
        name = "RPT" + std::to_string(rptid) + "[" + std::to_string(i) + "]";
      }
      values += " " + name + "=" + value_text(report[1][i]);
    }
  }
  if (!values.empty()) line += " " + values;
  return line;
}

std::string s5f1_line(const Message& m) {
  const Item* body = m.item ? &*m.item : nullptr;
  std::uint64_t alcd = 0, alid = 0;
  if (!body || !body->is_list() || body->size() != 3 || !(*body)[0].as_unsigned(&alcd) ||
      !(*body)[1].as_unsigned(&alid)) {
    return "S5F1 " + (body ? to_sml(*body) : std::string("<no body>"));
  }
  return "S5F1 ALID " + std::to_string(alid) + ((alcd & 0x80) ? " SET" : " CLEAR") +
         "  ALCD=" + std::to_string(alcd) + " ALTX=" + quoted_text((*body)[2]);
}

std::string s10f1_line(const Message& m) {
  const Item* body = m.item ? &*m.item : nullptr;
  std::uint64_t tid = 0;
  if (!body || !body->is_list() || body->size() != 2 || !(*body)[0].as_unsigned(&tid)) {
    return "S10F1 " + (body ? to_sml(*body) : std::string("<no body>"));
  }
  return "S10F1 TID " + std::to_string(tid) + "  TEXT=" + quoted_text((*body)[1]);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  Names names;
  const bool have_names = !options.ids_file.empty();
  if (have_names) {
    std::string error;
    if (!load_names(options.ids_file, &names, &error)) {
      std::fprintf(stderr, "vexlor-hostsim: %s\n", error.c_str());
      return 2;
    }
  }
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(options.seconds));
  auto time_left = [&] { return options.seconds <= 0 || Clock::now() < deadline; };

  Host host(static_cast<std::uint16_t>(options.device_id));
  // The equipment may still be starting: try to connect for up to ten seconds.
  std::string error;
  while (!host.connect(static_cast<std::uint16_t>(options.port), &error)) {
    if (g_stop || !time_left() || Clock::now() - start > std::chrono::seconds(10)) {
      std::fprintf(stderr, "vexlor-hostsim: %s\n", error.c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  const int status = host.select(Duration(10000));
  if (status != 0) {
    std::fprintf(stderr, "vexlor-hostsim: select failed (%s)\n",
                 status == -1   ? "no answer"
                 : status == -2 ? "rejected"
                                : ("status " + std::to_string(status)).c_str());
    return 1;
  }
  if (!acked(host, 1, 13, Item::list(), {0}, "S1F13 establish communication", 0)) return 1;
  // ONLACK 0 accepted, 2 already online.
  if (!acked(host, 1, 17, std::nullopt, {0, 2}, "S1F17 online")) return 1;
  Reports reports;
  if (options.events_all && !set_up_events(host, have_names ? &names : nullptr, &reports)) return 1;
  std::fprintf(stderr, "vexlor-hostsim: selected, communicating and online on port %ld\n",
               options.port);

  int exit_status = 0;
  while (!g_stop && time_left()) {
    host.wait_received_count(0, Duration(100));
    // Whether the link was up before taking the log: nothing logged before a close is missed.
    const bool was_connected = host.connected();
    for (const Received& r : host.take_received()) {
      const Message& m = r.message;
      if (!m.is_data()) continue;
      std::string line;
      if (m.stream() == 6 && m.function() == 11) {
        line = s6f11_line(m, have_names ? &names : nullptr, reports);
      } else if (m.stream() == 5 && m.function() == 1) {
        line = s5f1_line(m);
      } else if (m.stream() == 10 && m.function() == 1) {
        line = s10f1_line(m);
      } else {
        continue;
      }
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    }
    if (!was_connected) {
      std::fprintf(stderr, "vexlor-hostsim: link closed (%s)\n", host.close_reason().c_str());
      exit_status = 3;
      break;
    }
  }
  if (exit_status == 0) host.separate();
  return exit_status;
}
