// vexlor-manager: the peer process of an instance's routines. It serves the endpoints of the
// sequence manager ("manager"), the IO engine ("engine") and, unless --no-gui, the GUI main
// form ("gui"); accepts and records every request; starts, forwards requests to and watches
// the routines that serve functions (sequencer.h); answers interlock queries from the
// equipment configuration; and keeps the record readable through Query requests.
//
// Record: one line per request (see vexlor::fifo::describe), printed on the console (unless
// --quiet) and appended to "manager.log" in the instance's runtime folder, both off the request
// path (record.h). Query requests read its bounded in-memory tail and are not recorded.
//
// Answers:
//  - With --no-gui, an exit request for "GUI_MAINFORM" is forwarded to whoever serves the GUI
//    endpoint (a main form such as `vexlor gui`) and answered with its answer.
//  - Engine read "$D"/"$A" "P7" "R1" <point>: the interlock answer configured for that point
//    (a decimal number; non-zero means the setpoint interlock refused the write), else "0".
//    Every other engine read answers "0".
//  - Upload keeps the message per function name; Dnload answers the function's last uploaded
//    message ("" when none), cut to the caller's capacity.
//  - Pool answers "POOL <function> <param> <caller> <pool count>"; a parameter "FILL:<n>"
//    (n up to 64 MiB minus 64) answers n bytes of the letters A to Z repeated instead.
//
// Exit status: 0 after SIGTERM/SIGINT/SIGHUP, or on Windows Ctrl+C, Ctrl+Break or the console's
// closing (endpoints and lock files removed), 1 when it cannot start (another vexlor-manager
// serves the instance, bad configuration) or when a stop did not finish within 4.5 s, 2 for bad
// usage.
#include <toml++/toml.h>
#include <vexlor/records.h>
#include <vexlor/util.h>
#include <vexlor/vmmap.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/loader.h"
#include "drivers.h"
#include "config/syntax_errors.h"
#include "db/db_image.h"
#include "fifo/fifo_server.h"
#include "os/instance.h"
#include "os/local_endpoint.h"
#include "os/shared_section.h"
#include "processes.h"
#include "record.h"
#include "sequencer.h"
#include "util/text.h"

namespace {

using vexlor::fifo::Reply;
using vexlor::fifo::Request;
using vexlor::fifo::RequestType;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
// SIGTERM, SIGINT (Ctrl-C) or their Windows counterparts end the manager within this.
constexpr int kStopBoundMs = 4500;

int failed(const std::string& message) {
  std::cerr << "vexlor-manager: " << message << "\n";
  return kFailed;
}

// Interlock answers by (kind text, point index).
using InterlockTable = std::map<std::pair<std::string, int>, std::string>;

// Reads the `interlocks` array of the configuration file:
//   interlocks = [ { point = "PM1.Gas1_Valve", kind = "digital", answer = "1" } ]
// kind is "digital" or "analog"; answer is a decimal number (default "1": refused).
bool load_interlocks(const std::string& path, InterlockTable& table, std::string& error) {
  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& e) {
    error = vexlor::config::syntax_error_line(path, e.source().begin.line, e.description());
    return false;
  }
  const toml::node* node = root.get("interlocks");
  if (node == nullptr) return true;
  const toml::array* list = node->as_array();
  auto where = [&path](const toml::node& n, std::size_t i, const char* field) {
    return path + ":" + std::to_string(n.source().begin.line) + ": interlocks[" +
           std::to_string(i) + "]" + (field[0] ? "." : "") + field + ": ";
  };
  if (list == nullptr) {
    error = path + ":" + std::to_string(node->source().begin.line) + ": interlocks: not an array";
    return false;
  }
  if (list->empty()) return true;
  Vexlor::VMMAP mmap;
  Vexlor::MMAP_STRU* db = mmap.VMMAP_Initial("vexlor-manager") ? mmap.DB() : nullptr;
  if (db == nullptr) {
    error = path + ": interlocks: no database attached for instance \"" +
            vexlor::os::instance_name() + "\"";
    return false;
  }
  for (std::size_t i = 0; i < list->size(); ++i) {
    const toml::node& item = *list->get(i);
    const toml::table* entry = item.as_table();
    if (entry == nullptr) {
      error = where(item, i, "") + "not a table";
      return false;
    }
    for (auto&& [key, value] : *entry) {
      if (key != "point" && key != "kind" && key != "answer") {
        error = where(value, i, std::string(key.str()).c_str()) + "unknown key";
        return false;
      }
    }
    auto point = entry->get_as<std::string>("point");
    auto kind = entry->get_as<std::string>("kind");
    auto answer = entry->get_as<std::string>("answer");
    if (point == nullptr) {
      error = where(item, i, "point") + "missing or not a text";
      return false;
    }
    if (kind == nullptr || (kind->get() != "digital" && kind->get() != "analog")) {
      error = where(kind ? static_cast<const toml::node&>(*kind) : item, i, "kind") +
              "must be \"digital\" or \"analog\"";
      return false;
    }
    std::string answer_text = answer ? answer->get() : std::string("1");
    if (Vexlor::VStr_Int_Check(answer_text.c_str()) != 1) {
      error = where(*answer, i, "answer") + "not a decimal number: \"" + answer_text + "\"";
      return false;
    }
    std::string name = vexlor::config::to_build_charset(point->get());
    bool digital = kind->get() == "digital";
    int count = digital ? db->system_block->digital_count : db->system_block->analog_count;
    int found = -1;
    for (int p = 0; p < count && found < 0; ++p) {
      std::string candidate_text(
          vexlor::detail::field_text(digital ? db->digital_sp[p].name : db->analog_sp[p].name));
      if (Vexlor::VStr_Compare_L(candidate_text.c_str(), name.c_str())) found = p;
    }
    if (found < 0) {
      error =
          where(*point, i, "point") + "unknown " + kind->get() + " point \"" + point->get() + "\"";
      return false;
    }
    table[{digital ? "$D" : "$A", found}] = answer_text;
  }
  mmap.VMMAP_Release();
  return true;
}

class Manager {
 public:
  Manager(InterlockTable interlocks, bool quiet, vexlor::manager::RecordLimits limits,
          vexlor_manager::Sequencer* sequencer)
      : interlocks_(std::move(interlocks)),
        record_(log_path(), !quiet, limits),
        sequencer_(sequencer) {}

  // Set with --no-gui: another process is the main form, and its exit requests go there.
  bool no_gui = false;

  // The database the manager stays attached to (null without one).
  void watch_database(const Vexlor::MMAP_STRU* db) { db_ = db; }

  Reply handle(const char* role, const Request& r) {
    if (db_ != nullptr && vexlor::detail::image_retired(*db_) && !retired_told_.exchange(true)) {
      std::cerr << "vexlor-manager: the database of instance \"" << vexlor::os::instance_name()
                << "\" was replaced or removed; its interlock table refers to the old points: "
                   "restart vexlor-manager\n";
    }
    if (r.type == RequestType::Query) return query(r.index);
    bool served = false;
    switch (r.type) {
      case RequestType::EngineRead:
      case RequestType::EngineWrite:
      case RequestType::EngineWriteG:
        served = std::strcmp(role, vexlor::os::kEngineEndpoint) == 0;
        break;
      case RequestType::GuiMainForm:
        served = std::strcmp(role, vexlor::os::kGuiEndpoint) == 0;
        break;
      default:
        served = std::strcmp(role, vexlor::os::kManagerEndpoint) == 0;
        break;
    }
    if (!served) return Reply{false, "refused"};
    record_.add(vexlor::fifo::describe(r));
    if (no_gui && r.type == RequestType::FunctionExit && r.function == "GUI_MAINFORM") {
      return forward_to_main_form(r);
    }
    if (sequencer_ != nullptr && sequencer_->takes(r)) {
      // Forwarding waits for the routine, which may call back: never under a lock.
      if (std::optional<Reply> reply = sequencer_->handle(r)) return *reply;
    }
    switch (r.type) {
      case RequestType::Upload: {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_[r.function] = r.param;
        return Reply{true, {}};
      }
      case RequestType::Dnload: {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = messages_.find(r.function);
        std::string text = it == messages_.end() ? std::string() : it->second;
        if (r.capacity > 0 && text.size() > static_cast<std::size_t>(r.capacity) - 1) {
          text.resize(static_cast<std::size_t>(r.capacity) - 1);
        }
        return Reply{true, text};
      }
      case RequestType::Pool:
        return Reply{true, pool_answer(r)};
      case RequestType::EngineRead: {
        std::string answer = "0";
        if (r.param == "P7" && r.command == "R1") {
          auto it = interlocks_.find({r.kind, r.index});
          if (it != interlocks_.end()) answer = it->second;
        }
        return Reply{true, answer};
      }
      default:
        return Reply{true, {}};
    }
  }

 private:
  static Reply forward_to_main_form(const Request& r) {
    Reply reply;
    if (!vexlor::fifo::send_request(vexlor::os::kGuiEndpoint, r, &reply, 3000, nullptr)) {
      return Reply{false, "refused"};
    }
    return reply;
  }

  static std::string log_path() {
    std::string dir = vexlor::os::instance_dir({}, true);
    return dir.empty() ? dir : dir + "/manager.log";
  }

  static std::string pool_answer(const Request& r) {
    constexpr std::size_t kFillLimit = vexlor::os::kMaxFrameBytes - 64;
    if (r.param.compare(0, 5, "FILL:") == 0) {
      char* end = nullptr;
      unsigned long long n = std::strtoull(r.param.c_str() + 5, &end, 10);
      if (end != r.param.c_str() + 5 && *end == '\0' && n <= kFillLimit) {
        std::string text(static_cast<std::size_t>(n), 'A');
        for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('A' + i % 26);
        return text;
      }
    }
    return "POOL " + r.function + " " + r.param + " " + r.argument + " " +
           std::to_string(r.pool_count);
  }

  Reply query(int since) {
    return Reply{true, record_.read(since, vexlor::os::kMaxFrameBytes - 64)};
  }

  InterlockTable interlocks_;
  vexlor::manager::Record record_;
  vexlor_manager::Sequencer* sequencer_;
  std::mutex mutex_;  // messages_
  const Vexlor::MMAP_STRU* db_ = nullptr;
  std::atomic<bool> retired_told_{false};
  std::map<std::string, std::string> messages_;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vexlor-manager: sequence manager, IO engine and GUI peer of an instance"};
  std::string config, instance;
  bool no_gui = false, quiet = false;
  app.add_option("--config", config, "equipment configuration (TOML) with an interlocks table")
      ->check(CLI::ExistingFile);
  app.add_option("--instance", instance, "instance name (default: VEXLOR_INSTANCE)");
  app.add_flag("--no-gui", no_gui, "leave the GUI main form's endpoint to another process");
  app.add_flag("--quiet", quiet, "do not print the record on the console");
  vexlor::manager::RecordLimits limits;
  app.add_option("--record-bytes", limits.memory_bytes, "record bytes kept for Query requests");
  app.add_option("--log-bytes", limits.log_bytes, "size at which manager.log is rotated");
  vexlor::fifo::ServerLimits server_limits;
  app.add_option("--max-connections", server_limits.max_connections, "connections per endpoint");
  app.add_option("--frame-timeout-ms", server_limits.frame_timeout_ms,
                 "time a started request frame may take to arrive");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kOk : kUsage;
  }
  if (!instance.empty()) vexlor_manager::set_environment("VEXLOR_INSTANCE", instance);

  InterlockTable interlocks;
  std::vector<vexlor_manager::RoutineProgram> routines;
  vexlor_manager::ConfigSource source;
  if (!config.empty()) {
    std::string error;
    if (!load_interlocks(config, interlocks, error)) return failed(error);
    if (!vexlor_manager::load_routine_programs(config, routines, error, &source)) {
      return failed(error);
    }
  }

  // Before any thread starts: POSIX threads inherit the blocked stop signals.
  vexlor_manager::catch_stop_requests();
  // Destroyed last, once the record is written: on Windows a console-close handler waits for it.
  struct StopDone {
    ~StopDone() { vexlor_manager::stop_done(); }
  } stop_done;

  vexlor_manager::Sequencer sequencer(std::move(routines), quiet, std::move(source));
  Manager manager(std::move(interlocks), quiet, limits, &sequencer);
  manager.no_gui = no_gui;
  // Attached for the manager's life: vexlor-db then names it among the processes in use, and
  // the manager notices when the database is replaced under it.
  Vexlor::VMMAP database;
  if (vexlor::os::section_exists(vexlor::detail::kDatabaseSection) &&
      database.VMMAP_Initial("vexlor-manager")) {
    manager.watch_database(database.DB());
  }
  const char* roles[] = {vexlor::os::kManagerEndpoint, vexlor::os::kEngineEndpoint,
                         vexlor::os::kGuiEndpoint};
  vexlor::fifo::EndpointServer servers[3];
  for (int i = 0; i < 3; ++i) {
    if (i == 2 && no_gui) break;
    std::string error;
    bool busy = false;
    if (!servers[i].open(roles[i], &error, &busy)) {
      for (auto& s : servers) s.stop();
      if (busy && i == 0) {
        return failed("another vexlor-manager already serves instance \"" +
                      vexlor::os::instance_name() + "\"");
      }
      if (busy) {
        return failed("the " + std::string(roles[i]) + " endpoint of instance \"" +
                      vexlor::os::instance_name() + "\" is already served by another process");
      }
      return failed(error);
    }
  }
  if (config.empty()) {
    // Tests and benches run the manager without a configuration on purpose, so it starts; but
    // an equipment started so has routines that nobody starts, and the operator should know.
    // Said before the first request is served: the explanations of requests come after it.
    std::fprintf(stderr,
                 "vexlor-manager: no --config: it starts no routine programs and has no interlock "
                 "table (every interlock query answers \"not refused\"); routines must be started "
                 "by hand\n");
    std::fflush(stderr);
  }
  for (int i = 0; i < 3; ++i) {
    const char* role = roles[i];
    if (servers[i].is_open()) {
      servers[i].set_limits(server_limits);
      servers[i].serve([&manager, role](const Request& r) { return manager.handle(role, r); });
    }
  }
  // The stop request is taken on a thread of its own, so it is heard also while routines are
  // still starting; a stop that does not finish within its bound ends the manager anyway (the
  // routines it leaves running are taken over by the next manager).
  std::mutex stop_mutex;
  std::condition_variable stop_cv;
  bool stop_requested = false, stop_finished = false;
  std::thread stopper([&] {
    vexlor_manager::wait_for_stop_request();
    sequencer.request_stop();
    std::unique_lock<std::mutex> lock(stop_mutex);
    stop_requested = true;
    stop_cv.notify_all();
    if (!stop_cv.wait_for(lock, std::chrono::milliseconds(kStopBoundMs),
                          [&] { return stop_finished; })) {
      std::fprintf(stderr, "vexlor-manager: the stop did not finish within %g s; ending now\n",
                   kStopBoundMs / 1000.0);
      std::fflush(stderr);
      std::_Exit(kFailed);
    }
  });
  sequencer.start();
  vexlor_manager::DriverPrograms driver_programs(quiet);
  driver_programs.start(database.DB());
  if (!quiet) {
    Vexlor::VPrint("vexlor-manager", "serving instance \"%s\"%s",
                   vexlor::os::instance_name().c_str(), no_gui ? " (no GUI)" : "");
  }
  {
    std::unique_lock<std::mutex> lock(stop_mutex);
    stop_cv.wait(lock, [&] { return stop_requested; });
  }
  driver_programs.stop();
  sequencer.stop();
  for (auto& s : servers) s.stop();
  {
    std::lock_guard<std::mutex> lock(stop_mutex);
    stop_finished = true;
  }
  stop_cv.notify_all();
  stopper.join();
  return kOk;
}
