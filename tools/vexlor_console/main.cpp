// vexlor, the operator console of an equipment instance: its state, points, alarms, functions,
// drivers, a change monitor, a live view and the operator audit trail, built on the library's
// exported functions (and its instance view, <vexlor/instance_state.h>, for `status`).
//
// It attaches as the routine "VEXLOR_CONSOLE" in one of the 12 extra slots of the function
// table (VHub_Initial2): the first run takes a free slot and names it, later runs take the
// same slot again by its name, so consoles never use up the slots. The name stays in the
// slot after VHub_Release, as for every extra routine; when every slot holds another name, the
// slot of a program that has ended is given back (tools/common/extra_slot.h).
//
// Exit status: 0 done, 1 the operation failed, 2 bad usage, 3 a `run --timeout` that ran out;
// every error is one line on stderr starting "vexlor: ". The library's own console lines are
// discarded (shown on stderr with --verbose) so that stdout holds only the console's tables and
// JSON.
#include <vexlor/image_state.h>
#include <vexlor/instance_state.h>
#include <vexlor/vexlor.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <string>
#include <vector>

#include "console.h"
#include "extra_slot.h"
#include "host.h"

namespace vexlor_console {

bool Session::open() {
  // Look first: the start-up cannot tell a missing database from a full slot table. The look
  // attaches nothing, so the only attachment under the console's name is the real one below
  // (tools waiting for the console to attach must not mistake the look for it).
  if (vexlor::inspect_database().database != "valid") {
    fail("no database in instance " + in_quotes(instance_name()) + " (create one with vexlor-db)");
    return false;
  }
  switch (vexlor_tools::attach_extra_slot(kRoutineName)) {
    case vexlor_tools::ExtraSlot::kAttached:
      attached_ = true;
      return true;
    case vexlor_tools::ExtraSlot::kNoDatabase:
      fail("no database in instance " + in_quotes(instance_name()) +
           " (create one with vexlor-db)");
      return false;
    case vexlor_tools::ExtraSlot::kAllRunning:
      break;
  }
  fail("cannot attach to instance " + in_quotes(instance_name()) +
       ": every extra routine slot of the function table is held by a running program (see "
       "vexlor status)");
  return false;
}

bool database_retired() { return vexlor::database_retired(Vexlor::MMAP_DB()); }

std::string retired_line() {
  return "the database of instance " + in_quotes(instance_name()) +
         " was replaced or removed (vexlor-db); these values are no longer the equipment's: "
         "start the console again";
}

Session::~Session() {
  if (attached_) Vexlor::VHub_Release();
}

}  // namespace vexlor_console

namespace {

using namespace vexlor_console;

void set_instance(const std::string& name) {
#ifdef _WIN32
  _putenv_s("VEXLOR_INSTANCE", name.c_str());
#else
  setenv("VEXLOR_INSTANCE", name.c_str(), 1);
#endif
}

std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The deepest subcommand the parse reached ("vexlor", "vexlor points", ...).
std::string command_path(const CLI::App& app) {
  std::string path = app.get_name();
  const CLI::App* at = &app;
  for (;;) {
    const CLI::App* next = nullptr;
    for (const CLI::App* sub : at->get_subcommands()) {
      if (sub->parsed()) next = sub;
    }
    if (next == nullptr) return path;
    path += " " + next->get_name();
    at = next;
  }
}

// One line for a parse error: an unknown command or argument by name, CLI11's own text for
// the rest, and where to look.
std::string usage_line(const CLI::App& app, const CLI::ParseError& e) {
  const std::string where = command_path(app);
  const std::vector<std::string> extras = app.remaining();
  const bool required = dynamic_cast<const CLI::RequiredError*>(&e) != nullptr;
  // An unknown command leaves the command itself missing: name the word instead.
  if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr || (required && !extras.empty())) {
    const std::string first = extras.empty() ? std::string() : extras.front();
    const bool command = where == app.get_name() && !first.empty() && first[0] != '-';
    return (command ? "unknown command " : "unexpected argument ") + in_quotes(first) + " (see " +
           where + " --help)";
  }
  if (required && where == app.get_name()) {
    return "a command is required (see vexlor --help)";
  }
  std::string text = one_line(e.what());
  // CLI11 ends some texts with its own hint; ours follows.
  for (const char* hint :
       {"Run with --help for more information.", "Run with --help for more information"}) {
    const std::size_t at = text.find(hint);
    if (at != std::string::npos) text.erase(at);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
  return text + " (see " + where + " --help)";
}

// A `set` given more than NAME VALUE: the value's words belong together in quotes.
std::string set_with_too_many_words(const std::string& command, const std::string& name,
                                    const std::vector<std::string>& value_words) {
  std::string value;
  for (const std::string& word : value_words) value += (value.empty() ? "" : " ") + word;
  return "too many words for set: a value with blanks goes in quotes, as in " + command + " " +
         name + " " + in_quotes(value) + " (see " + command + " --help)";
}

// Counts and intervals: one clear line for a bad one.
const CLI::Validator kCount(
    [](std::string& text) -> std::string {
      int n = 0;
      if (!Vexlor::VStr_To_Int(text.c_str(), &n) || n < 0) {
        return in_quotes(text) + " is not a count (a whole number, 0 or more)";
      }
      return {};
    },
    "N");
const CLI::Validator kSeconds(
    [](std::string& text) -> std::string {
      double seconds = 0;
      if (!Vexlor::VStr_To_Double(text.c_str(), &seconds) || !(seconds > 0)) {
        return in_quotes(text) + " is not a number of seconds above 0";
      }
      return {};
    },
    "SECONDS");

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Operator console of a Vexlor equipment instance: its state, points, alarms, functions, "
      "drivers, a change monitor, a live view and the operator audit trail.",
      "vexlor"};
  app.footer(
      "The instance is $VEXLOR_INSTANCE (default \"default\") under $VEXLOR_RUNTIME_DIR.\n"
      "Names and patterns ignore case; a pattern with * or ? is a glob, else a name part.\n"
      "Exit status: 0 done, 1 the operation failed, 2 bad usage, 3 run --timeout ran out;\n"
      "errors are one line on stderr starting \"vexlor: \". Every set, driver change, answer,\n"
      "run and reset is journaled in the equipment's database file (vexlor audit).\n"
      "See docs/console.md.\n"
      "Examples:\n"
      "  vexlor status\n"
      "  vexlor info PM1.Pressure\n"
      "  vexlor monitor 'PM1.*' CM1.Clamp --count 10\n"
      "  vexlor set CM1.Clamp Yes\n"
      "  vexlor answer 3001 retry\n"
      "  vexlor --json history --since 2026/03/05");
  app.fallthrough();
  app.require_subcommand(1);
  std::string instance;
  Options options;
  bool verbose = false;
  app.add_option("--instance", instance,
                 "instance to work on (default: $VEXLOR_INSTANCE, else \"default\")");
  app.add_flag("--json", options.json,
               "print JSON: one document, or one object per line for monitor, watch and gui");
  app.add_flag("-v,--verbose", verbose, "show the library's console lines on stderr");

  // Every subcommand is registered here, in the order `vexlor --help` lists them.
  CLI::App* status = app.add_subcommand(
      "status",
      "the instance at a glance: database, manager, routines and their processes, "
      "last errors, posted alarms");
  status->footer(
      "manager: running (pid, since), NOT RUNNING (killed: its endpoint was left behind),\n"
      "not running (stopped) or never started. PROCESS: alive, the manager's word for a\n"
      "routine it supervises, virtual, gone (died mid-run: still SYS_RUNNING with no process).\n"
      "LAST ERROR: the routine's last [ERR] line in today's system.log.");

  std::string pattern;
  bool raw = false;
  CLI::App* points = app.add_subcommand("points", "list points with value, unit and status");
  points->add_option("PATTERN", pattern, "name part, or a glob with * and ? (case ignored)");
  points->require_subcommand(0, 1);
  std::string point_name, point_value;
  CLI::App* get = points->add_subcommand("get", "read one point by name");
  get->add_option("NAME", point_name, "point name")->required();
  get->add_flag("--raw", raw, "the number as read, without enumeration text, decimals or unit");
  CLI::App* set = points->add_subcommand("set", "write one point by name (journaled)");
  set->add_option("NAME", point_name, "point name")->required();
  set->add_option("VALUE", point_value, "value: number, enumeration text or string")->required();

  CLI::App* info = app.add_subcommand(
      "info", "everything about one point: limits, enumeration, drivers, unit, value, status");
  info->add_option("POINT", point_name, "point name")->required();
  info->footer(
      "Digital, analog and string points: kind and index, value (and raw number), status,\n"
      "limits, decimals, unit, capacity, enumeration items, input and output drivers with\n"
      "their state, mode, interlocks, initial value, annotation and append.");

  std::vector<std::string> monitor_patterns;
  double monitor_interval = 0.1;
  int monitor_count = 0;
  CLI::App* monitor = app.add_subcommand(
      "monitor", "print one timestamped line per change of the points until Ctrl-C");
  monitor->add_option("PATTERN", monitor_patterns, "point names, or globs with * and ?")
      ->required();
  monitor->add_option("--count", monitor_count, "stop after N changes (default: until Ctrl-C)")
      ->check(kCount);
  monitor->add_option("--interval", monitor_interval, "seconds between two looks (default 0.1)")
      ->check(CLI::Range(0.01, 3600.0));
  monitor->footer(
      "First the current value of each point, then one line per change:\n"
      "  YYYY/MM/DD HH:MM:SS.mmm  NAME  VALUE [STATUS]\n"
      "with --json one object per line (time, the point fields, initial). A value that changes\n"
      "and changes back between two looks is not seen.");

  CLI::App* alarms = app.add_subcommand("alarms", "list the posted alarms in queue order");
  alarms->require_subcommand(0, 1);
  std::string alarm_id, choice, since;
  bool force = false;
  CLI::App* answer = alarms->add_subcommand("answer", "answer a posted alarm (journaled)");
  answer->add_option("ID", alarm_id, "alarm ID")->required();
  answer->add_option("CHOICE", choice, "clear, retry, wait, ignore, disable, enable, stop or abort")
      ->required();
  answer->add_flag("--force", force, "answer even with a choice the alarm does not offer");
  CLI::App* history = alarms->add_subcommand(
      "history", "print the alarm log, oldest first, with who answered each alarm");
  history->add_option("--since", since,
                      "only rows logged at or after this local time (YYYY/MM/DD HH:MM:SS or a "
                      "leading part of it)");

  // The everyday operations also stand at the top level, as operators type them:
  // vexlor get NAME, vexlor set NAME VALUE, vexlor answer ID CHOICE, vexlor history.
  CLI::App* top_get = app.add_subcommand("get", "read one point by name (points get)");
  top_get->add_option("NAME", point_name, "point name")->required();
  top_get->add_flag("--raw", raw, "the number as read, without enumeration text, decimals or unit");
  CLI::App* top_set = app.add_subcommand("set", "write one point by name (points set)");
  top_set->add_option("NAME", point_name, "point name")->required();
  top_set->add_option("VALUE", point_value, "value: number, enumeration text or string")
      ->required();
  CLI::App* top_answer = app.add_subcommand("answer", "answer a posted alarm (alarms answer)");
  top_answer->add_option("ID", alarm_id, "alarm ID")->required();
  top_answer
      ->add_option("CHOICE", choice, "clear, retry, wait, ignore, disable, enable, stop or abort")
      ->required();
  top_answer->add_flag("--force", force, "answer even with a choice the alarm does not offer");
  CLI::App* top_history = app.add_subcommand("history", "print the alarm log (alarms history)");
  top_history->add_option("--since", since, "only rows logged at or after this local time");

  CLI::App* audit = app.add_subcommand(
      "audit", "print the operator audit trail: every set, driver change, answer and run");
  audit->add_option("--since", since, "only rows logged at or after this local time");
  audit->footer(
      "Rows of the table OperatorAudit of the equipment's database file: time, source\n"
      "(console, panel), action, target, value, result (ok or the failure), the equipment's\n"
      "user name and level, the host user and pid, the panel client's address.");

  std::string function_pattern;
  CLI::App* functions =
      app.add_subcommand("functions", "list the function table with status and flags");
  functions->add_option("PATTERN", function_pattern, "name part, or a glob with * and ?");
  std::string run_name, run_param;
  CLI::App* run =
      app.add_subcommand("run", "run a function and wait for its final status (journaled)");
  run->add_option("NAME", run_name, "function name")->required();
  run->add_option("PARAM", run_param, "run parameter");
  double run_timeout = 0;
  run->add_option("--timeout", run_timeout,
                  "give up after SECONDS: exit status 3, and a refusal alarm of this run that no "
                  "one answered is answered ABORT")
      ->check(kSeconds);
  std::string reset_name;
  CLI::App* reset = app.add_subcommand(
      "reset",
      "set a function that is not running back to SYS_AVAILABLE, exit and abort flags cleared "
      "(journaled)");
  reset->add_option("NAME", reset_name, "function name")->required();

  CLI::App* drivers = app.add_subcommand("drivers", "list the drivers and their state");
  CLI::App* driver =
      app.add_subcommand("driver", "put a simulated driver online or offline (journaled)");
  driver->require_subcommand(1);
  std::string driver_name;
  CLI::App* online = driver->add_subcommand("online", "put the driver online");
  online->add_option("NAME", driver_name, "driver name")->required();
  CLI::App* offline = driver->add_subcommand("offline", "put the driver offline");
  offline->add_option("NAME", driver_name, "driver name")->required();

  std::string watch_points;
  double interval = 1.0;
  int count = 0;
  CLI::App* watch =
      app.add_subcommand("watch", "full-screen live view of the alarm queue and chosen points");
  watch->add_option("--points", watch_points, "points to show: names or globs, comma-separated");
  watch->add_option("--interval", interval, "seconds between refreshes (default 1)")
      ->check(CLI::Range(0.05, 3600.0));
  watch->add_option("--count", count, "stop after N refreshes (default: until Ctrl-C)")
      ->check(kCount);

  CLI::App* wafers = app.add_subcommand("wafers", "where every wafer is: module, slot, source");
  CLI::App* modules = app.add_subcommand("modules", "each module's state and its routines");

  int gui_count = 0;
  CLI::App* gui = app.add_subcommand(
      "gui", "be the main form: show the GUI commands of the routines as they arrive");
  gui->add_option("--count", gui_count, "stop after N commands (default: until Ctrl-C or exit)")
      ->check(kCount);

  HostCommand host_command;
  add_host_command(app, &host_command);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    // Words after a set's value: `points` would take the first as its pattern, the top level
    // has no place for them.
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr &&
        (set->parsed() || top_set->parsed())) {
      std::vector<std::string> value_words{point_value};
      if (set->parsed() && !pattern.empty()) value_words.push_back(pattern);
      for (const std::string& word : app.remaining(true)) value_words.push_back(word);
      return fail(set_with_too_many_words(set->parsed() ? "vexlor points set" : "vexlor set",
                                          point_name, value_words),
                  kUsage);
    }
    return fail(usage_line(app, e), kUsage);
  }
  // `points` takes the word after a get's NAME or a set's VALUE as its pattern.
  if (set->parsed() && !pattern.empty()) {
    return fail(set_with_too_many_words("vexlor points set", point_name, {point_value, pattern}),
                kUsage);
  }
  if (get->parsed() && !pattern.empty()) {
    return fail("unexpected argument " + in_quotes(pattern) + " (see vexlor points get --help)",
                kUsage);
  }
  if (!instance.empty()) set_instance(instance);
  if (!separate_library_output(verbose)) warn("the library's console lines stay on stdout");

  // The main form attaches as itself (slot N), not as the console routine.
  if (gui->parsed()) {
    try {
      return run_gui(options, gui_count);
    } catch (const std::exception& e) {
      return fail(one_line(e.what()));
    }
  }
  Session session;
  // The status also describes an instance without a database.
  if (status->parsed()) {
    const bool present = vexlor::inspect_instance().database == "valid";
    if (present && !session.open()) return kFailed;
    return run_status(options, present);
  }
  if (!session.open()) return kFailed;
  try {
    if (points->parsed()) {
      if (get->parsed()) return run_point_get(options, point_name, raw);
      if (set->parsed()) return run_point_set(options, point_name, point_value);
      return run_points(options, pattern);
    }
    if (info->parsed()) return run_info(options, point_name);
    if (monitor->parsed()) {
      return run_monitor(options, monitor_patterns, monitor_interval, monitor_count);
    }
    if (alarms->parsed()) {
      if (answer->parsed()) return run_alarm_answer(options, alarm_id, choice, force);
      if (history->parsed()) return run_alarm_history(options, since);
      return run_alarms(options);
    }
    if (top_get->parsed()) return run_point_get(options, point_name, raw);
    if (top_set->parsed()) return run_point_set(options, point_name, point_value);
    if (top_answer->parsed()) return run_alarm_answer(options, alarm_id, choice, force);
    if (top_history->parsed()) return run_alarm_history(options, since);
    if (audit->parsed()) return run_audit(options, since);
    if (functions->parsed()) return run_functions(options, function_pattern);
    if (run->parsed()) return run_function(run_name, run_param, run_timeout);
    if (reset->parsed()) return run_reset(options, reset_name);
    if (drivers->parsed()) return run_drivers(options);
    if (driver->parsed()) return run_driver_state(options, driver_name, online->parsed());
    if (watch->parsed()) return run_watch(options, watch_points, interval, count);
    if (wafers->parsed()) return run_wafers(options);
    if (modules->parsed()) return run_modules(options);
    if (host_command.host->parsed()) return run_host_command(options, host_command);
  } catch (const std::exception& e) {
    return fail(one_line(e.what()));
  }
  return fail("no subcommand", kUsage);
}
