// tools/common/audit.h
#pragma once
#include <string>
namespace vexlor_tools {
struct OperatorAction {
  std::string source;   // "console" or "panel"
  std::string action;   // "set", "driver online", "driver offline", "answer", "run", "abort", "reset"
  std::string target;   // point name, driver name, alarm ID or function name
  std::string value;    // the value written, the choice, the run parameter ("" if none)
  std::string result;   // "ok" or the failure text
  std::string address;  // the panel client's address; "" for the console
};
// Appends one row (local time, the action, the equipment's user name and level, the host user and
// pid) to the table "OperatorAudit" of the equipment's database file. False with `error` set when
// the row could not be written.
bool journal_operator_action(const OperatorAction& action, std::string* error = nullptr);
}  // namespace vexlor_tools
