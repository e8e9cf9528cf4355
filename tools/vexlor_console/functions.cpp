// `vexlor functions`: the function (routine) table with run and event status and the flags,
// the configured functions followed by the extra slots that are in use, with the process that
// serves each routine as the sequence manager sees it; and `vexlor run`.
#include <vexlor/vexlor.h>

#include <cstdio>

#include "console.h"

namespace vexlor_console {

int run_functions(const Options& o, const std::string& pattern) {
  const int n = Vexlor::VSystem_Get_Function_Count();
  const int own = Vexlor::VFunction_Get_Point();
  TextTable t(
      {"#", "NAME", "RUN", "EVENT", "ABORT", "FREE", "EXIT", "VIRTUAL", "SLOT", "PID", "ROUTINE"});
  JsonWriter json;
  json.begin_array();
  int shown = 0;
  for (int i = 0; i < n + 12; ++i) {
    const std::string name = Vexlor::VFunction_Get_Name(i);
    if (i >= n && name.empty()) continue;  // an extra slot nobody took
    if (!name_matches(name, pattern)) continue;
    // Slot N is the GUI main form; the others above N are routines without configuration.
    const char* slot = i < n ? "configured" : (i == n ? "main form" : "extra");
    const int run = Vexlor::VFunction_Get_Run_Status(i);
    const int event = Vexlor::VFunction_Get_Event_Status(i);
    const bool abort = Vexlor::VFunction_Get_Abort_Flag(i);
    const bool free = Vexlor::VFunction_Get_Free_Flag(i);
    const bool exit = Vexlor::VFunction_Get_Exit_Flag(i);
    const bool virt = Vexlor::VFunction_Get_Virtual_Flag(i);
    auto yes = [](bool flag) { return flag ? "yes" : "-"; };
    // The manager answers "<pid> <state>": "1234 alive", "- stopped", "- backoff", "- -".
    char routine[64] = "- -";
    if (i < n && !Vexlor::VFIFO_Engine_Read("$F", "P9", "R1", i, "-", routine, sizeof routine)) {
      std::snprintf(routine, sizeof routine, "- -");
    }
    char pid[32] = "-", state[32] = "-";
    std::sscanf(routine, "%31s %31s", pid, state);
    t.add({std::to_string(i), name + (i == own ? " (this console)" : ""), status_name(run),
           status_name(event), yes(abort), yes(free), yes(exit), yes(virt), slot, pid, state});
    json.begin_object().field("index", i).field("name", name).field("slot", slot);
    json.field("run_status", status_name(run)).field("event_status", status_name(event));
    json.field("abort", abort).field("free", free).field("exit", exit).field("virtual", virt);
    json.key("pid");
    int pid_number = 0;
    (Vexlor::VStr_To_Int(pid, &pid_number) && pid_number > 0) ? json.value(pid_number)
                                                              : json.null();
    json.field("routine", std::string(state));
    json.end_object();
    ++shown;
  }
  json.end_array();
  if (o.json) {
    print(json.text() + "\n");
    return kOk;
  }
  if (shown == 0) return fail("no function matches " + in_quotes(pattern));
  print(t.render());
  return kOk;
}

int run_function(const std::string& name, const std::string& param) {
  if (Vexlor::VFunction_Get_Point(name.c_str()) < 0) {
    return fail("no function " + in_quotes(name));
  }
  const Vexlor::FUNC_STATUS status = Vexlor::VFunction_Run(name.c_str(), param.c_str());
  journal("run", name, param,
          status == Vexlor::SYS_SUCCESS ? "ok" : std::string("ended ") + status_name(status));
  print(name + " ended " + status_name(status) + "\n");
  return status == Vexlor::SYS_SUCCESS ? kOk : kFailed;
}

}  // namespace vexlor_console
