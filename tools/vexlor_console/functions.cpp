// `vexlor functions`: the function (routine) table with run and event status and the flags,
// the configured functions followed by the extra slots that are in use, with the process that
// serves each routine as the sequence manager sees it; `vexlor run` and `vexlor reset`.
#include <vexlor/vexlor.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "console.h"

namespace vexlor_console {

namespace {

ServingProcess parse_serving_process(const std::string& answer) {
  ServingProcess p;
  const std::size_t blank = answer.find(' ');
  const std::string pid = answer.substr(0, blank);
  int number = 0;
  if (Vexlor::VStr_To_Int(pid.c_str(), &number) && number > 0) p.pid = number;
  if (blank != std::string::npos && blank + 1 < answer.size()) p.state = answer.substr(blank + 1);
  return p;
}

}  // namespace

ServingProcess serving_process(int index) {
  char answer[64] = "";
  if (!Vexlor::VFIFO_Engine_Read("$F", "P9", "R1", index, "-", answer, sizeof answer)) return {};
  return parse_serving_process(answer);
}

int run_functions(const Options& o, const std::string& pattern) {
  const int n = Vexlor::VSystem_Get_Function_Count();
  const int own = Vexlor::VFunction_Get_Point();
  TextTable t({"#", "NAME|名称", "RUN|运行状态", "EVENT|事件", "ABORT|中止", "FREE|自由运行",
               "EXIT|退出", "VIRTUAL|虚拟", "SLOT|槽位", "PID", "ROUTINE|程序"});
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
    const ServingProcess serving = i < n ? serving_process(i) : ServingProcess();
    const std::string pid = serving.pid > 0 ? std::to_string(serving.pid) : "-";
    t.add({std::to_string(i), name + (i == own ? " (this console)" : ""), status_name(run),
           status_name(event), yes(abort), yes(free), yes(exit), yes(virt), slot, pid,
           serving.state});
    json.begin_object().field("index", i).field("name", name).field("slot", slot);
    json.field("run_status", status_name(run)).field("event_status", status_name(event));
    json.field("abort", abort).field("free", free).field("exit", exit).field("virtual", virt);
    json.key("pid");
    serving.pid > 0 ? json.value(static_cast<int64_t>(serving.pid)) : json.null();
    json.field("routine", serving.state);
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

namespace {

int report_end(const std::string& name, const std::string& param, const std::string& requested,
               Vexlor::FUNC_STATUS status) {
  journal("run", name, param,
          status == Vexlor::SYS_SUCCESS ? "ok" : std::string("ended ") + status_name(status),
          requested);
  print(name + word(" ended | 结束: ") + status_name(status) + "\n");
  return status == Vexlor::SYS_SUCCESS ? kOk : kFailed;
}

// The alarm this console waits on: posted by it and managed (its refusal alarm); -1 when none.
int own_managed_alarm(std::string* description) {
  const int own = Vexlor::VFunction_Get_Point();
  for (const AlarmRow& r : collect_alarms()) {
    if (Vexlor::VAlarm_Get_Func_Point(r.point) == own &&
        Vexlor::VAlarm_Get_Post_Type(r.point) == 2 &&
        Vexlor::VAlarm_Status(r.point) == Vexlor::ALM_PAUSED) {
      *description = "alarm " + std::to_string(r.id) + " " + in_quotes(cell(r.text, 120));
      return r.point;
    }
  }
  return -1;
}

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

}  // namespace

int run_function(const std::string& name, const std::string& param, double timeout) {
  const int index = Vexlor::VFunction_Get_Point(name.c_str());
  if (index < 0) return fail("no function " + in_quotes(name));
  // The journal row is written when the run ends, stamped with the time it was asked for.
  const std::string requested = vexlor_tools::local_time_text();
  if (timeout <= 0) {
    return report_end(name, param, requested, Vexlor::VFunction_Run(index, param.c_str()));
  }

  // The run goes out and is waited for on a thread of its own, the wait bounded by what is left
  // of the time. When the time is up while a refusal alarm of this console waits for the
  // operator, the console answers it ABORT itself, so that no alarm stays posted for a caller
  // that is gone; the request ends then, and the console with it. A run that was sent goes on.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                        std::chrono::duration<double>(timeout));
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  Vexlor::FUNC_STATUS status = Vexlor::SYS_ABORTED;
  std::thread request([&] {
    Vexlor::FUNC_STATUS result = Vexlor::SYS_ABORTED;
    if (Vexlor::VFunction_Run_Set(index, param.c_str())) {
      const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
      result = left > 0 ? Vexlor::VFunction_Run_Wait(index, left) : Vexlor::SYS_RUNNING;
    }
    std::lock_guard<std::mutex> lock(mutex);
    status = result;
    done = true;
    ended.notify_all();
  });
  std::string waited_on;  // the alarm answered on the way out
  {
    std::unique_lock<std::mutex> lock(mutex);
    if (!ended.wait_until(lock, deadline, [&] { return done; })) {
      while (!done) {
        lock.unlock();
        std::string description;
        const int alarm = own_managed_alarm(&description);
        if (alarm >= 0 && Vexlor::VAlarm_Handle(alarm, Vexlor::ALM_ABORT) && waited_on.empty()) {
          waited_on = description;
        }
        lock.lock();
        ended.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; });
      }
    }
  }
  request.join();
  // A final status, even one that came just after the time (the operator answered), is the
  // run's result.
  if (waited_on.empty() && status != Vexlor::SYS_RUNNING && status != Vexlor::SYS_WAITTING) {
    return report_end(name, param, requested, status);
  }
  const std::string line =
      "timed out after " + seconds_text(timeout) + " s waiting for the run of " + name +
      (waited_on.empty() ? " to end; the run goes on"
                         : ": " + waited_on + " was not answered; the console answered it ABORT");
  journal("run", name, param, line, requested);
  return fail(line, kTimedOut);
}

int run_reset(const Options& o, const std::string& name) {
  const int index = Vexlor::VFunction_Get_Point(name.c_str());
  if (index < 0) return fail("no function " + in_quotes(name));
  const std::string function = Vexlor::VFunction_Get_Name(index);
  int was = 0;
  std::string failure;
  if (!vexlor_tools::reset_routine(index, &was, &failure)) {
    journal("reset", function, "", failure);
    return fail(failure);
  }
  journal("reset", function, "", "ok");
  if (o.json) {
    JsonWriter json;
    json.begin_object().field("index", index).field("name", function);
    json.field("was", status_name(was)).field("run_status", status_name(Vexlor::SYS_AVAILABLE));
    print(json.end_object().text() + "\n");
  } else {
    print(function + word(" reset: | 已复位: ") + status_name(was) + " -> SYS_AVAILABLE" +
          word(", exit and abort flags cleared|, 退出和中止标志已清除") + "\n");
  }
  return kOk;
}

}  // namespace vexlor_console
