// `vexlor audit`: the operator audit trail of the equipment (every set, driver change, answer
// and run from the console and the panel), and the console's own journaling.
#include <vexlor/vexlor.h>

#include "audit.h"
#include "console.h"

namespace vexlor_console {

void journal(const std::string& action, const std::string& target, const std::string& value,
             const std::string& result, const std::string& requested) {
  std::string error;
  if (!vexlor_tools::journal_operator_action(
          {"console", action, target, value, result, "", requested}, &error)) {
    warn("the operator audit trail was not written: " + error);
  }
}

int run_audit(const Options& o, const std::string& since_text) {
  std::string since;
  if (!since_option(since_text, &since)) return kUsage;
  const std::string file = vexlor_tools::equipment_database_file();
  if (file.empty()) return fail("the equipment has no database path");
  std::vector<vexlor_tools::AuditRow> rows;
  std::string error;
  if (!vexlor_tools::read_operator_actions(file, since, &rows, &error)) {
    return fail("audit trail: " + error);
  }
  if (o.json) {
    JsonWriter json;
    json.begin_array();
    for (const auto& r : rows) {
      json.begin_object().field("time", r.time).field("ended", r.ended);
      json.field("source", r.action.source);
      json.field("action", r.action.action).field("target", r.action.target);
      json.field("value", r.action.value).field("result", r.action.result);
      json.field("user_name", r.user_name).field("user_level", r.user_level);
      json.field("host_user", r.host_user).field("pid", static_cast<int64_t>(r.pid));
      json.field("address", r.action.address).end_object();
    }
    json.end_array();
    print(json.text() + "\n");
    return kOk;
  }
  if (rows.empty()) {
    print(word("no operator actions|无操作记录") +
          (since.empty() ? std::string() : word(" since | 自 ") + since) + "\n");
    return kOk;
  }
  TextTable t({"TIME|时间", "ENDED|结束时间", "SOURCE|来源", "ACTION|操作", "TARGET|对象",
               "VALUE|值", "RESULT|结果", "USER|用户", "LEVEL|级别", "HOST USER|主机用户", "PID"});
  for (const auto& r : rows) {
    const std::string source =
        r.action.address.empty() ? r.action.source : r.action.source + " " + r.action.address;
    t.add({r.time, r.ended.empty() ? "-" : r.ended, source, r.action.action, r.action.target,
           r.action.value.empty() ? "-" : cell(r.action.value, 40), cell(r.action.result, 60),
           r.user_name.empty() ? "-" : r.user_name, std::to_string(r.user_level),
           r.host_user.empty() ? "-" : r.host_user, std::to_string(r.pid)});
  }
  print(t.render());
  return kOk;
}

}  // namespace vexlor_console
