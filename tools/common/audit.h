// tools/common/audit.h
// The operator audit trail: what operators did to the equipment from the console or the panel,
// one row per action in the table "OperatorAudit" of the equipment's database file (the file
// the alarm log is written to). The writer needs the library attached (it reads the database
// path and the equipment's logged-in user from the system block).
#pragma once
#include <string>
#include <vector>
namespace vexlor_tools {
struct OperatorAction {
  std::string source;  // "console" or "panel"
  // "set", "driver online", "driver offline", "answer", "run", "abort", "reset"
  std::string action;
  std::string target;   // point name, driver name, alarm ID or function name
  std::string value;    // the value written, the choice, the run parameter ("" if none)
  std::string result;   // "ok" or the failure text
  std::string address;  // the panel client's address; "" for the console
  // Local "YYYY/MM/DD HH:MM:SS" when the operator asked for the action (an action that lasts,
  // such as a run, is journaled when it ends); "" when it was asked as the row is written.
  std::string requested;
};
// Appends one row (the time of the request, the action, the equipment's user name and level, the
// host user and pid, the time it ended: now) to the table "OperatorAudit" of the equipment's
// database file, adding the column "ended" to a table written before it had one. False with `error`
// set when the row could not be written.
bool journal_operator_action(const OperatorAction& action, std::string* error = nullptr);

// One journaled row as read back.
struct AuditRow {
  long long row = 0;
  std::string time;   // local "YYYY/MM/DD HH:MM:SS": when the operator asked
  std::string ended;  // the same form: when the action ended; "" in rows of older files
  OperatorAction action;
  std::string user_name;  // the equipment's user at the time
  int user_level = 0;
  std::string host_user;
  long long pid = 0;
};

// The rows of "OperatorAudit" of the file `file` logged at or after `since` (a leading part of
// "YYYY/MM/DD HH:MM:SS"; "" for all), oldest first. A file or a table that does not exist yet
// gives no rows and true; false with `error` set when the file cannot be read.
bool read_operator_actions(const std::string& file, const std::string& since,
                           std::vector<AuditRow>* rows, std::string* error = nullptr);

// The equipment's database file ("<database path>\vexlor.db", mapped onto the file system on
// POSIX); "" when the library is not attached or the equipment has no database path.
std::string equipment_database_file();

// A Windows-style system path mapped onto the file system: on POSIX a leading drive "X:" becomes
// "<VEXLOR_DRIVE_ROOT, else $HOME/.vexlor/drives, else /tmp/vexlor-drives>/X" and every '\'
// becomes '/'. Unchanged on Windows.
std::string map_system_path(const std::string& path);
}  // namespace vexlor_tools
