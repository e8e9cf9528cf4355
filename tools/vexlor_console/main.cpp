// vexlor, the operator console of an equipment instance: points, alarms, functions, drivers
// and a live view, built on the library's exported functions only.
//
// It attaches as the routine "VEXLOR_CONSOLE" in one of the 12 extra slots of the function
// table (VHub_Initial2): the first run takes a free slot and names it, later runs take the
// same slot again by its name, so consoles never use up the slots. The name stays in the
// slot after VHub_Release, as for every extra routine.
//
// Exit status: 0 done, 1 the operation failed, 2 bad usage; every error is one line on
// stderr starting "vexlor: ". The library's own console lines are discarded (shown on stderr
// with --verbose) so that stdout holds only the console's tables and JSON.
#include <vexlor/image_state.h>
#include <vexlor/vexlor.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <string>

#include "console.h"
#include "host.h"

namespace vexlor_console {

std::string instance_name() {
  const char* name = std::getenv("VEXLOR_INSTANCE");
  return name != nullptr && *name != '\0' ? name : "default";
}

bool Session::open() {
  {
    // Probe first: the start-up cannot tell a missing database from a full slot table.
    Vexlor::VMMAP probe;
    const bool present = probe.VMMAP_Initial(kRoutineName) && probe.DB() != nullptr;
    probe.VMMAP_Release();
    if (!present) {
      fail("no database in instance " + in_quotes(instance_name()) +
           " (create one with vexlor-db)");
      return false;
    }
  }
  attached_ = true;
  if (!Vexlor::VHub_Initial2(kRoutineName) || Vexlor::MMAP_DB() == nullptr) {
    fail("cannot attach to instance " + in_quotes(instance_name()) +
         ": every extra routine slot of the function table is taken");
    return false;
  }
  return true;
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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Operator console of a Vexlor equipment instance: points, alarms, functions, "
      "drivers and a live view.",
      "vexlor"};
  app.fallthrough();
  app.require_subcommand(1);
  std::string instance;
  Options options;
  bool verbose = false;
  app.add_option("--instance", instance,
                 "instance to work on (default: $VEXLOR_INSTANCE, else \"default\")");
  app.add_flag("--json", options.json, "print listings as JSON");
  app.add_flag("-v,--verbose", verbose, "show the library's console lines on stderr");

  std::string pattern;
  CLI::App* points = app.add_subcommand("points", "list points with value, unit and status");
  points->add_option("PATTERN", pattern, "name part, or a glob with * and ? (case ignored)");
  points->require_subcommand(0, 1);
  std::string point_name, point_value;
  CLI::App* get = points->add_subcommand("get", "read one point by name");
  get->add_option("NAME", point_name, "point name")->required();
  CLI::App* set = points->add_subcommand("set", "write one point by name");
  set->add_option("NAME", point_name, "point name")->required();
  set->add_option("VALUE", point_value, "value: number, enumeration text or string")->required();

  CLI::App* alarms = app.add_subcommand("alarms", "list the posted alarms in queue order");
  alarms->require_subcommand(0, 1);
  std::string alarm_id, choice, since;
  bool force = false;
  CLI::App* answer = alarms->add_subcommand("answer", "answer a posted alarm");
  answer->add_option("ID", alarm_id, "alarm ID")->required();
  answer->add_option("CHOICE", choice, "clear, retry, wait, ignore, disable, enable, stop or abort")
      ->required();
  answer->add_flag("--force", force, "answer even with a choice the alarm does not offer");
  CLI::App* history = alarms->add_subcommand("history", "print the alarm log, oldest first");
  history->add_option("--since", since,
                      "only rows logged at or after this local time (YYYY/MM/DD HH:MM:SS or a "
                      "leading part of it)");

  // The everyday operations also stand at the top level, as operators type them:
  // vexlor get NAME, vexlor set NAME VALUE, vexlor answer ID CHOICE, vexlor history.
  CLI::App* top_get = app.add_subcommand("get", "read one point by name (points get)");
  top_get->add_option("NAME", point_name, "point name")->required();
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

  std::string function_pattern;
  CLI::App* functions =
      app.add_subcommand("functions", "list the function table with status and flags");
  functions->add_option("PATTERN", function_pattern, "name part, or a glob with * and ?");
  std::string run_name, run_param;
  CLI::App* run = app.add_subcommand("run", "run a function and wait for its final status");
  run->add_option("NAME", run_name, "function name")->required();
  run->add_option("PARAM", run_param, "run parameter");

  CLI::App* drivers = app.add_subcommand("drivers", "list the drivers and their state");
  CLI::App* driver = app.add_subcommand("driver", "put a simulated driver online or offline");
  driver->require_subcommand(1);
  std::string driver_name;
  CLI::App* online = driver->add_subcommand("online", "put the driver online");
  online->add_option("NAME", driver_name, "driver name")->required();
  CLI::App* offline = driver->add_subcommand("offline", "put the driver offline");
  offline->add_option("NAME", driver_name, "driver name")->required();

  std::string watch_points;
  double interval = 1.0;
  int count = 0;
  CLI::App* watch = app.add_subcommand("watch", "live view of the alarm queue and chosen points");
  watch->add_option("--points", watch_points, "points to show: names or globs, comma-separated");
  watch->add_option("--interval", interval, "seconds between refreshes (default 1)")
      ->check(CLI::Range(0.05, 3600.0));
  watch->add_option("--count", count, "stop after N refreshes (default: until Ctrl-C)")
      ->check(CLI::NonNegativeNumber);

  int gui_count = 0;
  CLI::App* gui = app.add_subcommand(
      "gui", "be the main form: show the GUI commands of the routines as they arrive");
  gui->add_option("--count", gui_count, "stop after N commands (default: until Ctrl-C or exit)")
      ->check(CLI::NonNegativeNumber);

  HostCommand host_command;
  add_host_command(app, &host_command);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    return fail(one_line(e.what()) + " (see vexlor --help)", kUsage);
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
  if (!session.open()) return kFailed;
  try {
    if (points->parsed()) {
      if (get->parsed()) return run_point_get(options, point_name);
      if (set->parsed()) return run_point_set(options, point_name, point_value);
      return run_points(options, pattern);
    }
    if (alarms->parsed()) {
      if (answer->parsed()) return run_alarm_answer(options, alarm_id, choice, force);
      if (history->parsed()) return run_alarm_history(options, since);
      return run_alarms(options);
    }
    if (top_get->parsed()) return run_point_get(options, point_name);
    if (top_set->parsed()) return run_point_set(options, point_name, point_value);
    if (top_answer->parsed()) return run_alarm_answer(options, alarm_id, choice, force);
    if (top_history->parsed()) return run_alarm_history(options, since);
    if (functions->parsed()) return run_functions(options, function_pattern);
    if (run->parsed()) return run_function(run_name, run_param);
    if (drivers->parsed()) return run_drivers(options);
    if (driver->parsed()) return run_driver_state(options, driver_name, online->parsed());
    if (watch->parsed()) return run_watch(options, watch_points, interval, count);
    if (host_command.host->parsed()) return run_host_command(options, host_command);
  } catch (const std::exception& e) {
    return fail(one_line(e.what()));
  }
  return fail("no subcommand", kUsage);
}
