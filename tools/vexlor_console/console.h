// vexlor, the operator console: the pieces its subcommand groups share. The console is a
// client of the library's exported functions only (namespace Vexlor); it attaches to the
// instance as the routine "VEXLOR_CONSOLE" in an extra slot of the function table.
#pragma once

#include <vexlor/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "equipment_text.h"
#include "json_writer.h"

namespace vexlor_console {

using vexlor_tools::answer_from_text;
using vexlor_tools::in_quotes;
using vexlor_tools::instance_name;
using vexlor_tools::JsonWriter;
using vexlor_tools::status_name;
using vexlor_tools::style_name;
using vexlor_tools::word;

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;    // the operation failed (unknown name, refused write, no database)
constexpr int kUsage = 2;     // bad usage (unknown option, malformed value, unknown answer name)
constexpr int kTimedOut = 3;  // `run --timeout`: the run did not end in time

// The routine name the console attaches under (an extra slot, VHub_Initial2).
inline constexpr char kRoutineName[] = "VEXLOR_CONSOLE";

// ---- Output (output.cpp) ------------------------------------------------------------------
// The console's own stdout. The library prints its console lines to the process's stdout, so
// main() moves those away (to stderr with --verbose, else nowhere) and keeps the original
// stdout for the console's tables and JSON.
std::FILE* out();
// Redirects the library's console lines; returns false when the descriptors could not be set.
bool separate_library_output(bool verbose);
// Whether the console's stdout is a terminal.
bool out_is_terminal();
void print(std::string_view text);

// One line "vexlor: <message>" on stderr; returns `status`.
int fail(const std::string& message, int status = kFailed);
// The --since time in the stored form ("" for all); false after its usage line on stderr.
bool since_option(const std::string& text, std::string* since);

// True when the database this console attached was replaced or removed since: its values are
// then nobody's any more. retired_line() says so.
bool database_retired();
std::string retired_line();
void warn(const std::string& message);

// Columns on a terminal: Chinese and other wide characters take two cells.
std::size_t display_width(std::string_view text);

// A text fit for one table cell: line breaks and tabs shown as \n, \r and \t, other
// control characters as '?', cut to `max` characters with "..." appended.
std::string cell(std::string_view text, std::size_t max = 60);
// A text in double quotes that shows where it ends: '"' and '\\' escaped with '\\', line breaks
// and tabs as \n, \r and \t, other control characters as \xHH; cut to `max` characters with
// "..." after the closing quote.
std::string quoted(std::string_view text, std::size_t max = 200);

// Rows printed as aligned columns separated by two blanks; the last column is not padded. The
// column headings are given as "ENGLISH|中文" and shown in the equipment's display language.
class TextTable {
 public:
  explicit TextTable(const std::vector<const char*>& header);
  void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  bool empty() const { return rows_.empty(); }
  std::string render() const;

 private:
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
};

// ---- Names ---------------------------------------------------------------------------------
// Case-insensitive (ASCII) match of a name against a pattern: a glob when the pattern holds
// '*' or '?', else a substring. The empty pattern matches everything.
bool name_matches(std::string_view name, std::string_view pattern);
bool equal_ignoring_case(std::string_view a, std::string_view b);
std::string upper(std::string_view text);

// ---- Attachment (main.cpp) -------------------------------------------------------------------
// Attaches the instance as the routine "VEXLOR_CONSOLE" for the life of the object.
class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  // False with one line on stderr when the instance has no database or no free extra slot.
  bool open();

 private:
  bool attached_ = false;
};

// ---- Subcommand groups -----------------------------------------------------------------------
struct Options {
  bool json = false;
};

// points.cpp
extern const char* const kKinds[3];  // "digital", "analog", "string" by IO_TYPE
// What a string point holds: longer values are cut.
constexpr std::size_t kStringCapacity = 1023;
struct PointRow {
  std::string name;
  std::string kind;  // "digital", "analog", "string"
  int index = -1;
  bool read_ok = false;
  std::string value;     // display text: enumeration text, formatted number or the string
  std::string raw;       // the number as read, shortest form (digital, analog); the text (string)
  bool numeric = false;  // digital or analog, read: `number` holds the value
  double number = 0;
  std::string unit;
  std::string status;  // "ok", "offline" (a driver of the point is offline), "fail"
};
// Every point whose name matches, digital then analog then string, each in table order.
std::vector<PointRow> collect_points(std::string_view pattern);
// Resolves a name to one point (exact name, ignoring case, as the library looks it up).
bool point_by_name(const std::string& name, PointRow* row);
PointRow read_point(Vexlor::IO_TYPE kind, int index);
Vexlor::IO_TYPE kind_of(const PointRow& row);
int input_driver(Vexlor::IO_TYPE kind, int index);
int output_driver(Vexlor::IO_TYPE kind, int index);
bool has_driver(int driver);  // a valid driver index
std::string decimal_text(double value, int decimal);
// The value as `points` shows it: enumeration text or number with the configured decimals,
// then the unit; "-" when it could not be read.
std::string display_text(const PointRow& row);
void table_of_points(const std::vector<PointRow>& rows, std::string* text);
// The fields every point object of the JSON output has: name, kind, index, value (display text
// or null), raw (number or null; null for strings), unit, status.
void json_of_point_fields(const PointRow& row, JsonWriter& json);
void json_of_point(const PointRow& row, JsonWriter& json);
void json_of_points(const std::vector<PointRow>& rows, JsonWriter& json);
int run_points(const Options& o, const std::string& pattern);
// `raw`: the number as read instead of the display text.
int run_point_get(const Options& o, const std::string& name, bool raw);
int run_point_set(const Options& o, const std::string& name, const std::string& value);

// info.cpp: everything about one point.
int run_info(const Options& o, const std::string& name);

// monitor.cpp: one line per change of the matching points until Ctrl-C or `count` changes (0:
// no limit), polled every `interval` seconds.
int run_monitor(const Options& o, const std::vector<std::string>& patterns, double interval,
                int count);

// status.cpp: the instance at a glance; works without a database (`attached` false).
int run_status(const Options& o, bool attached);

// audit.cpp: the operator audit trail.
int run_audit(const Options& o, const std::string& since);
// "2026-12-05T08:00" -> "2026/12/05 08:00"; false unless a leading part of
// "YYYY/MM/DD HH:MM:SS" with at least the year.
// Journals a console action; a failure to write is a warning, the action stands. `requested`:
// when the operator asked for an action that lasts (local "YYYY/MM/DD HH:MM:SS"), "" for now.
void journal(const std::string& action, const std::string& target, const std::string& value,
             const std::string& result, const std::string& requested = "");

// alarms.cpp
struct AlarmRow {
  int position = 0;  // place in the queue
  int point = -1;
  int id = 0;
  int level = 0;
  std::string module;
  std::string name;
  std::string text;  // text and append in the system language
  std::string post_time;
  std::string code_position;
  std::string status;                 // ALARM_STYLE name
  std::vector<std::string> choices;   // answer names without "ALM_"
  std::vector<std::string> captions;  // in the system language
};
std::vector<AlarmRow> collect_alarms();
void table_of_alarms(const std::vector<AlarmRow>& rows, std::string* text);
void json_of_alarms(const std::vector<AlarmRow>& rows, JsonWriter& json);
int run_alarms(const Options& o);
int run_alarm_answer(const Options& o, const std::string& id, const std::string& choice,
                     bool force);
int run_alarm_history(const Options& o, const std::string& since);
// "retry", "ALM_RETRY", "Retry" -> 1; -1 for anything else (ALM_PAUSED is not an answer).

// functions.cpp
// The process serving a function as the sequence manager sees it. The manager answers the
// routine query with "<pid> <state>": "1234 alive", "1234 alive(by hand)", "- stopped",
// "- backoff", "- -"; the state is the rest of the answer after the first blank. Both "-"
// when the manager does not answer.
struct ServingProcess {
  long pid = 0;             // 0: none
  std::string state = "-";  // "alive", "alive(by hand)", "stopped", "backoff" or "-"
};
ServingProcess serving_process(int index);
int run_functions(const Options& o, const std::string& pattern);
// Runs the function and waits for its final status: 0 for SYS_SUCCESS, 1 otherwise; with a
// `timeout` (seconds, 0 for none) kTimedOut when the run has not ended by then.
int run_function(const std::string& name, const std::string& param, double timeout);
// Sets a function that is not running back to SYS_AVAILABLE with its exit and abort flags
// cleared (journaled); 1 when it is running.
int run_reset(const Options& o, const std::string& name);

// drivers.cpp
// The driver of that name (ignoring case); -1 when none.
int find_driver(const std::string& name);
bool driver_offline(int driver);
int run_drivers(const Options& o);
int run_driver_state(const Options& o, const std::string& name, bool online);

// watch.cpp
int run_watch(const Options& o, const std::string& points, double interval, int count);

// scheduler.cpp: where every wafer is, and each module's state and routines.
int run_wafers(const Options& o);
int run_modules(const Options& o);

// gui.cpp: runs as the main form until Ctrl-C, an exit request or `count` commands (0: no
// limit).
int run_gui(const Options& o, int count);

}  // namespace vexlor_console
