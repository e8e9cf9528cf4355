// `vexlor gui`: a console main form. It starts as the main-form routine (function slot N, with
// its start lock, so a second main form is refused), serves the instance's GUI endpoint and
// prints every command the routines send as one timestamped line (JSON with --json). SHOW
// and HIDE are answered and shown; an exit request, the routine's exit flag, Ctrl-C or the
// --count limit end it, leaving the slot SYS_KILLED.
#include <vexlor/main_form.h>
#include <vexlor/vexlor.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "console.h"

namespace vexlor_console {
namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void on_gui_stop_signal(int) { g_stop = 1; }

// "YYYY/MM/DD HH:MM:SS.mmm".
std::string stamp() {
  const std::string date(Vexlor::VStr_Get_DateTime2());
  return date.substr(0, 10) + " " + Vexlor::VStr_Get_Time();
}

bool is_shown_command(const std::string& command) {
  return command == "SHOW" || command == "HIDE" || command == "MESSAGE" || command == "EVENT" ||
         command == "RECORD" || command == "EXIT";
}

struct Arrival {
  std::string time;
  vexlor::MainFormCommand command;
  bool visible = true;  // the main form's state after the command
};

std::string render(const Arrival& a, bool json) {
  const vexlor::MainFormCommand& c = a.command;
  if (json) {
    JsonWriter w;
    w.begin_object()
        .field("time", a.time)
        .field("command", c.command)
        .field("sender", c.sender)
        .field("text", c.text);
    std::vector<std::string> fields;
    if (c.command == "RECORD" && vexlor_tools::record_fields(c.text, &fields)) {
      w.key("fields").begin_array();
      for (const std::string& f : fields) w.value(f);
      w.end_array();
    }
    if (c.command == "SHOW" || c.command == "HIDE") w.field("visible", a.visible);
    w.end_object();
    return w.text() + "\n";
  }
  std::string line = a.time + "  " + c.command;
  line.append(c.command.size() < 7 ? 7 - c.command.size() : 0, ' ');
  line += "  [" + cell(c.sender, 63) + "]  ";
  if (c.command == "SHOW") {
    line += word("main form shown|主界面已显示");
  } else if (c.command == "HIDE") {
    line += word("main form hidden|主界面已隐藏");
  } else if (c.command == "EXIT") {
    line += word("exit requested (parents |请求退出 (父程序 ") + in_quotes(cell(c.text, 200)) + ")";
  } else {
    line += cell(c.text, 4096);
  }
  return line + "\n";
}

// The commands the endpoint accepted, handed from the serving threads to the main thread.
class Inbox {
 public:
  explicit Inbox(int limit) : limit_(limit) {}

  // On a serving thread: accepts a shown command while the limit allows.
  bool accept(const vexlor::MainFormCommand& command) {
    if (!is_shown_command(command.command)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || (limit_ > 0 && accepted_ >= limit_)) return false;
    ++accepted_;
    if (command.command == "SHOW") visible_ = true;
    if (command.command == "HIDE") visible_ = false;
    queue_.push_back(Arrival{stamp(), command, visible_});
    if (command.command == "EXIT" || (limit_ > 0 && accepted_ >= limit_)) closed_ = true;
    changed_.notify_one();
    return true;
  }

  // On the main thread: the next arrival, or false after `wait` without one.
  bool next(Arrival* out, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, wait, [this] { return !queue_.empty(); });
    if (queue_.empty()) return false;
    *out = std::move(queue_.front());
    queue_.pop_front();
    return true;
  }

  // No more arrivals will come and every one was taken.
  bool finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_ && queue_.empty();
  }

  void close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }

 private:
  const int limit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Arrival> queue_;
  int accepted_ = 0;
  bool closed_ = false;
  bool visible_ = true;
};

}  // namespace

int run_gui(const Options& o, int count) {
  std::string name, failure;
  if (!vexlor_tools::attach_main_form(kRoutineName, &name, &failure)) return fail(failure);

  Inbox inbox(count);
  vexlor::MainFormServer server;
  std::string error;
  bool busy = false;
  if (!server.start([&inbox](const vexlor::MainFormCommand& c) { return inbox.accept(c); }, &error,
                    &busy)) {
    Vexlor::VHub_Release();
    if (busy) {
      return fail("the GUI endpoint of instance " + in_quotes(instance_name()) +
                  " is served by another process (a vexlor-manager without --no-gui?)");
    }
    return fail("cannot serve the GUI endpoint: " + error);
  }
  // Running from here on: the routines' GUI calls now send instead of logging that the main
  // form is not started.
  Vexlor::VFunction_Set_Exit_Flag(false);
  Vexlor::VFunction_Set_Run_Status(Vexlor::SYS_RUNNING);

  g_stop = 0;
  std::signal(SIGINT, on_gui_stop_signal);
  std::signal(SIGTERM, on_gui_stop_signal);
  if (!o.json) {
    print(word("main form |主界面 ") + in_quotes(name) + word(" of instance | 实例 ") +
          in_quotes(instance_name()) + word(": showing commands|: 显示命令") +
          (count > 0 ? " (" + std::to_string(count) + ")" : "") +
          word(", Ctrl-C to stop|, Ctrl-C 停止") + "\n");
  }
  while (!g_stop && !inbox.finished()) {
    if (Vexlor::VFunction_Get_Exit_Flag()) inbox.close();  // still show what already came
    Arrival arrival;
    if (inbox.next(&arrival, std::chrono::milliseconds(50))) print(render(arrival, o.json));
  }
  // Not running any more, so routines stop sending; the serving threads write their replies
  // to what was accepted (the exit request's caller waits for its answer) before the endpoint
  // closes under them.
  Vexlor::VFunction_Set_Run_Status(Vexlor::SYS_KILLED);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.stop();
  Vexlor::VHub_Release();
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return kOk;
}

}  // namespace vexlor_console
