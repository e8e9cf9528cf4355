// The sequence manager's routines: programs from the configuration, starting, forwarding and
// supervision.
#include "sequencer.h"

#include <strings.h>
#include <sys/types.h>
#include <toml++/toml.h>
#include <vexlor/records.h>
#include <vexlor/util.h>
#include <vexlor/vmmap.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "alarms/alarm_core.h"
#include "config/syntax_errors.h"
#include "os/atomic_field.h"
#include "os/instance.h"
#include "os/local_endpoint.h"
#include "util/text.h"

namespace vexlor_manager {

using vexlor::fifo::Reply;
using vexlor::fifo::Request;
using vexlor::fifo::RequestType;
using vexlor::os::IoResult;
using vexlor::os::LocalStream;

namespace {

// A started program must serve within this: room for one that opens its files while the
// machine is loaded, short enough to notice one that hangs.
constexpr double kStartBound = 10.0;
constexpr double kFirstBackoff = 5.0;    // after a failed start
constexpr double kLastBackoff = 60.0;    // doubling up to this
constexpr double kFirstRestart = 1.0;    // a "startup" routine that died, before its restart
constexpr double kSteadyServing = 60.0;  // serving this long resets the restart back-off
constexpr int kDiscoverPeriodMs = 500;   // looking for routines started by hand
constexpr int kExitAnswerMs = 1000;      // a routine's answer to the stop's exit request

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

#if defined(_WIN32)
constexpr const char* kFolderSeparators = "/\\";
#else
constexpr const char* kFolderSeparators = "/";
#endif

std::string where(const std::string& path, const toml::node& n, std::size_t i, const char* field) {
  return path + ":" + std::to_string(n.source().begin.line) + ": functions[" + std::to_string(i) +
         "]." + field + ": ";
}

}  // namespace

bool load_routine_programs(const std::string& path, std::vector<RoutineProgram>& programs,
                           std::string& error, ConfigSource* source) {
  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& e) {
    error = vexlor::config::syntax_error_line(path, e.source().begin.line, e.description());
    return false;
  }
  if (source != nullptr) source->path = path;
  const toml::array* list = root["functions"].as_array();
  if (list == nullptr) return true;
  if (source != nullptr) {
    for (const toml::node& entry : *list) {
      const toml::table* table = entry.as_table();
      auto name = table != nullptr ? table->get_as<std::string>("name") : nullptr;
      source->functions.push_back(name != nullptr ? name->get() : std::string());
    }
  }
  const std::filesystem::path base = std::filesystem::absolute(path).parent_path();
  // Configured texts are UTF-8, and so are the paths made of them.
  auto local = [&base](const std::string& p) {
    const std::filesystem::path given = std::filesystem::u8path(p);
    return p.empty() || given.is_absolute() ? p : (base / given).lexically_normal().u8string();
  };
  for (std::size_t i = 0; i < list->size(); ++i) {
    const toml::table* entry = list->get(i)->as_table();
    if (entry == nullptr) continue;  // the loader reports it
    const toml::node* command = entry->get("command");
    if (command == nullptr) continue;
    RoutineProgram program;
    auto name = entry->get_as<std::string>("name");
    if (name == nullptr) continue;
    program.function = name->get();
    const toml::array* words = command->as_array();
    if (words == nullptr || words->empty()) {
      error = where(path, *command, i, "command") + "must be a list: program, then arguments";
      return false;
    }
    for (const toml::node& w : *words) {
      auto text = w.as_string();
      if (text == nullptr) {
        error = where(path, w, i, "command") + "every item must be a text";
        return false;
      }
      program.launch.argv.push_back(text->get());
    }
    if (program.launch.argv[0].find_first_of(kFolderSeparators) != std::string::npos) {
      program.launch.argv[0] = local(program.launch.argv[0]);
    }
    if (const toml::node* wd = entry->get("workdir")) {
      if (!wd->is_string()) {
        error = where(path, *wd, i, "workdir") + "must be a text";
        return false;
      }
      program.launch.workdir = local(wd->as_string()->get());
    }
    if (const toml::node* env = entry->get("env")) {
      const toml::table* vars = env->as_table();
      if (vars == nullptr) {
        error = where(path, *env, i, "env") + "must be a table of texts";
        return false;
      }
      for (auto&& [key, value] : *vars) {
        if (!value.is_string()) {
          error = where(path, value, i, "env") + std::string(key.str()) + ": must be a text";
          return false;
        }
        program.launch.env.emplace_back(std::string(key.str()), value.as_string()->get());
      }
    }
    if (const toml::node* start = entry->get("start")) {
      auto text = start->as_string();
      if (text == nullptr || (text->get() != "startup" && text->get() != "demand")) {
        error = where(path, *start, i, "start") + "must be \"startup\" or \"demand\"";
        return false;
      }
      program.at_startup = text->get() == "startup";
    }
    programs.push_back(std::move(program));
  }
  return true;
}

// The attached equipment database, for the run statuses the manager writes.
class DbHolder {
 public:
  Vexlor::VMMAP mmap;
};

struct Sequencer::Entry {
  std::string name;
  int index = -1;
  const RoutineProgram* program = nullptr;

  // Under Sequencer::mutex_.
  pid_t pid = -1;      // the serving process
  pid_t child = -1;    // the process this manager started (or adopted), until reaped
  std::string token;   // process_token(child)
  bool alive = false;  // a serving process is attached
  uint64_t generation = 0;
  bool restart_on_end = false;  // a reload asked for a fresh process
  bool restart_due = false;     // the discover loop starts it once backoff_until has passed
  double backoff_until = 0, backoff = 0;
  double serving_since = 0;
  bool unserved_told = false;  // explain_unserved said it since the last process served
  std::shared_ptr<LocalStream> watch_stream;
  std::thread watch_thread;

  std::mutex start_mutex;  // one start at a time

  // Idle forwarding connections to the serving process.
  std::mutex forward_mutex;
  std::vector<LocalStream> idle;
  uint32_t sequence = 0;
};

Sequencer::Sequencer(std::vector<RoutineProgram> programs, bool quiet, ConfigSource source)
    : programs_(std::move(programs)),
      quiet_(quiet),
      source_(std::move(source)),
      holder_(std::make_unique<DbHolder>()) {
  const char* env = std::getenv("VEXLOR_FIFO_TIMEOUT_MS");
  if (env != nullptr && std::atoi(env) > 0) forward_timeout_ms_ = std::atoi(env);
  const std::string dir = vexlor::os::instance_dir({}, true);
  if (!dir.empty()) children_file_ = dir + "/manager.children";
}

Sequencer::~Sequencer() { stop(); }

void Sequencer::say(const std::string& line) {
  // Supervision lines are the operator's business: always shown, also with --quiet.
  std::fprintf(stderr, "vexlor-manager: %s\n", line.c_str());
  std::fflush(stderr);
}

bool Sequencer::attach_db() {
  if (db_ != nullptr) return true;
  if (now() < next_attach_) return false;
  next_attach_ = now() + 1.0;
  if (!holder_->mmap.VMMAP_Initial("vexlor-manager") || holder_->mmap.DB() == nullptr) return false;
  Vexlor::MMAP_STRU* db = holder_->mmap.DB();
  const int n = db->system_block->function_count;
  for (int i = 0; i < n; ++i) {
    auto e = std::make_unique<Entry>();
    e->name = vexlor::detail::field_text(db->function_sp[i].name);
    e->index = i;
    for (const RoutineProgram& s : programs_) {
      if (::strcasecmp(s.function.c_str(), e->name.c_str()) == 0) e->program = &s;
    }
    entries_.push_back(std::move(e));
  }
  for (const RoutineProgram& s : programs_) {
    bool known = false;
    for (auto& e : entries_) known = known || e->program == &s;
    if (!known) say("routine command for \"" + s.function + "\": no such function; ignored");
  }
  db_ = db;
  return true;
}

Sequencer::Entry* Sequencer::find(const std::string& function) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!attach_db()) return nullptr;
  for (auto& e : entries_) {
    if (::strcasecmp(e->name.c_str(), function.c_str()) == 0) return e.get();
  }
  return nullptr;
}

Sequencer::Entry* Sequencer::find(int index) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!attach_db()) return nullptr;
  for (auto& e : entries_) {
    if (e->index == index) return e.get();
  }
  return nullptr;
}

// The children file: one line per routine process this manager started, "function pid token".
// Under mutex_; written whole and renamed into place, so a kill never leaves half a file.
void Sequencer::save_children() {
  if (children_file_.empty()) return;
  std::string text;
  for (auto& e : entries_) {
    if (e->child > 0 && !e->token.empty()) {
      text += e->name + " " + std::to_string(e->child) + " " + e->token + "\n";
    }
  }
  std::error_code ec;
  if (text.empty()) {
    std::filesystem::remove(std::filesystem::u8path(children_file_), ec);
    return;
  }
  const std::string temporary = children_file_ + ".new";
  {
    std::ofstream out(std::filesystem::u8path(temporary), std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return;
  }
  std::filesystem::rename(std::filesystem::u8path(temporary),
                          std::filesystem::u8path(children_file_), ec);
}

// Routine processes that an earlier manager started and left running (it was killed) become
// this manager's children: stopped with it, restarted when they die.
void Sequencer::adopt_children() {
  if (children_file_.empty()) return;
  std::ifstream in(std::filesystem::u8path(children_file_));
  std::string line;
  std::vector<std::pair<Entry*, std::string>> adopted;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string function, token;
    long pid = -1;
    if (!(fields >> function >> pid >> token) || pid <= 0) continue;
    Entry* e = nullptr;
    for (auto& candidate : entries_) {
      if (::strcasecmp(candidate->name.c_str(), function.c_str()) == 0) e = candidate.get();
    }
    if (e == nullptr || e->child > 0) continue;
    if (!adopt(static_cast<pid_t>(pid), token)) continue;  // ended, or its id was reused
    e->child = static_cast<pid_t>(pid);
    e->token = token;
    adopted.emplace_back(e, std::to_string(pid));
  }
  for (auto& [e, pid] : adopted) {
    say("routine " + e->name + " (pid " + pid + ") taken over from the previous manager");
  }
  save_children();
}

// A routine started on demand that no process serves any more may still read SYS_KILLED (or
// SYS_RUNNING, when it died with the last manager): callers would refuse to run it. It is set
// SYS_AVAILABLE, so that its next run request starts it. Only statuses this manager found are
// reset: a routine it took over (or attached) and then saw die stays SYS_KILLED, as it would
// after the start.
void Sequencer::reset_on_demand() {
  auto* db = static_cast<Vexlor::MMAP_STRU*>(db_);
  if (db == nullptr) return;
  std::vector<Entry*> candidates;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& e : entries_) {
      if (e->program != nullptr && !e->program->at_startup && !e->alive && e->generation == 0)
        candidates.push_back(e.get());
    }
  }
  for (Entry* e : candidates) {
    if (try_attach(*e)) continue;
    int32_t& status = db->function_rt[e->index].run_status;
    const int32_t was = vexlor::os::load_relaxed(status);
    if (was != Vexlor::SYS_KILLED && was != Vexlor::SYS_RUNNING && was != Vexlor::SYS_WAITTING) {
      continue;
    }
    vexlor::os::store_relaxed(status, static_cast<int32_t>(Vexlor::SYS_AVAILABLE));
    say("routine " + e->name + " is not running: " + vexlor::detail::status_name(was) +
        " reset to SYS_AVAILABLE (it starts on its next run request)");
  }
}

void Sequencer::start() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    attach_db();
    adopt_children();
  }
  std::vector<Entry*> boot;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& e : entries_) {
      if (e->child > 0) boot.push_back(e.get());  // taken over: attach its watch now
    }
    for (auto& e : entries_) {
      if (e->program != nullptr && e->program->at_startup && e->child <= 0) {
        boot.push_back(e.get());
      }
    }
  }
  for (Entry* e : boot) ensure_started(*e);
  reset_on_demand();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!stopping_) discover_ = std::thread([this] { discover_loop(); });
}

// Every half second: routines started by hand that began serving, and restarts that are due.
void Sequencer::discover_loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait_for(lock, std::chrono::milliseconds(kDiscoverPeriodMs));
    if (stopping_) return;
    if (!attach_db()) continue;
    std::vector<Entry*> look, restart;
    for (auto& e : entries_) {
      if (e->restart_due && now() >= e->backoff_until) {
        e->restart_due = false;
        restart.push_back(e.get());
      } else if (!e->alive && e->child < 0) {
        look.push_back(e.get());
      }
    }
    lock.unlock();
    for (Entry* e : look) try_attach(*e);
    std::vector<Entry*> again;
    for (Entry* e : restart) {
      if (!ensure_started(*e)) again.push_back(e);
    }
    lock.lock();
    if (stopping_) return;
    // A restart that waits for the last process to end is tried again on the next round.
    for (Entry* e : again) {
      if (!e->alive && e->child > 0) e->restart_due = true;
    }
  }
}

void Sequencer::request_stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
}

void Sequencer::stop() {
  std::vector<Entry*> children;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    stopping_ = true;
    for (auto& e : entries_) {
      if (e->child > 0) children.push_back(e.get());
    }
  }
  wake_.notify_all();
  if (discover_.joinable()) discover_.join();
  // Routines this manager started are told to exit, all at once; whatever still runs after a
  // second ends.
  std::vector<std::thread> exits;
  for (Entry* e : children) {
    exits.emplace_back([this, e] {
      Request r;
      r.type = RequestType::FunctionExit;
      r.function = e->name;
      r.param = "-";
      forward(*e, r, kExitAnswerMs);
    });
  }
  for (auto& t : exits) t.join();
  const double deadline = now() + 1.0;
  for (Entry* e : children) {
    pid_t pid;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pid = e->child;
    }
    if (pid <= 0) continue;
    const int left_ms = static_cast<int>(std::max(0.0, deadline - now()) * 1000);
    if (!reap(pid, left_ms, nullptr)) {
      kill_now(pid);
      reap(pid, 2000, nullptr);
    }
  }
  std::vector<std::thread> watches;
  for (auto& e : entries_) {
    std::shared_ptr<LocalStream> stream;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stream = e->watch_stream;
      if (e->watch_thread.joinable()) watches.push_back(std::move(e->watch_thread));
    }
    if (stream) stream->shutdown();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& t : ended_watches_) watches.push_back(std::move(t));
    ended_watches_.clear();
  }
  for (auto& t : watches) t.join();
  std::lock_guard<std::mutex> lock(mutex_);
  for (Entry* e : children) {
    mark_killed(*e);
    e->child = -1;
  }
  save_children();
}

bool Sequencer::takes(const Request& r) const {
  switch (r.type) {
    case RequestType::FunctionRun:
    case RequestType::FunctionWait:
    case RequestType::FunctionExit:
    case RequestType::SendEvent:
    case RequestType::PostEvent:
    case RequestType::Dnload:
    case RequestType::Pool:
      return true;
    case RequestType::EngineWrite:
      return r.kind == "$F" && r.param == "P8";
    case RequestType::EngineRead:
      return r.kind == "$F" && r.param == "P9" && r.command == "R1";
    default:
      return false;
  }
}

// A run request for a function that nobody serves and that the manager cannot start is
// accepted (a routine started by hand may serve it later), but the caller's wait then finds no
// run mutex and ends SYS_ABORTED with only the library's "MutexRun" line in its log. This line
// names the cause and what to change.
void Sequencer::explain_unserved(Entry& e) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (e.unserved_told || e.alive) return;
    e.unserved_told = true;
  }
  std::string why, fix;
  if (source_.path.empty()) {
    why = "vexlor-manager was started without --config, so it starts no routine programs";
    fix =
        "start it by hand, or start vexlor-manager with --config FILE and give the function's "
        "entry a command = [...]";
  } else {
    std::size_t i = 0;
    while (i < source_.functions.size() &&
           ::strcasecmp(source_.functions[i].c_str(), e.name.c_str()) != 0) {
      ++i;
    }
    if (i < source_.functions.size()) {
      why = "its configuration entry has no `command`";
      fix = "start it by hand or add command = [...] to functions[" + std::to_string(i) + "] in " +
            source_.path;
    } else {
      why = source_.path + " has no functions entry for it";
      fix = "start it by hand or add { name = \"" + e.name +
            "\", command = [...] } to functions in " + source_.path;
    }
  }
  say("no process serves " + e.name + " and " + why + "; its callers' waits find no run mutex \"" +
      e.name + "_RUN\" and end SYS_ABORTED (\"MutexRun创建失败\" in their log); " + fix);
}

void Sequencer::mark_killed(Entry& e) {
  auto* db = static_cast<Vexlor::MMAP_STRU*>(db_);
  if (db == nullptr || e.index < 0) return;
  int32_t& status = db->function_rt[e.index].run_status;
  if (vexlor::os::load_relaxed(status) != Vexlor::SYS_KILLED) {
    vexlor::os::store_relaxed(status, static_cast<int32_t>(Vexlor::SYS_KILLED));
  }
}

// A routine that died while it waited for the operator's answer to an alarm leaves that alarm
// posted with nobody to act on the answer: it is answered ALM_ABORT, as the routine itself
// answers an alarm it waits on when it is told to exit.
void Sequencer::abort_alarms_of(const Entry& e) {
  auto* db = static_cast<Vexlor::MMAP_STRU*>(db_);
  if (db == nullptr || e.index < 0) return;
  const int count = db->system_block->alarm_count;
  for (int point = 0; point < count; ++point) {
    Vexlor::MEM_ALARM_RT_STRU& rt = db->alarm_rt[point];
    if (vexlor::os::load_relaxed(rt.post_type) != 2 ||
        vexlor::os::load_relaxed(rt.function_point) != e.index ||
        vexlor::detail::read_status(rt) != Vexlor::ALM_PAUSED) {
      continue;
    }
    bool answered = false;
    vexlor::detail::answer_alarm(*db, point, Vexlor::ALM_ABORT, e.index, &answered);
    if (answered) {
      say("alarm " + std::to_string(db->alarm_sp[point].alarm_id) + " waited on by " + e.name +
          ": answered ALM_ABORT (the routine ended)");
    }
  }
}

// Connects to the routine's endpoint and, when a serve loop answers there, keeps the
// connection as the process's watch. Never called under mutex_: it waits for the routine.
bool Sequencer::try_attach(Entry& e, std::string* seen) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    if (e.alive) return true;
  }
  auto stream = std::make_shared<LocalStream>();
  std::string error;
  if (!stream->connect(vexlor::os::routine_endpoint(e.name), &error)) {
    if (seen != nullptr) *seen = "no connection (" + error + ")";
    return false;
  }
  stream->set_timeout_ms(1000);
  Request q;
  q.type = RequestType::Query;
  q.sequence = 1;
  q.sender = "vexlor-manager";
  std::string out, in;
  vexlor::fifo::encode_request(q, out);
  uint32_t sequence = 0;
  Reply reply;
  if (stream->write_frame(out) != IoResult::kOk || stream->read_frame(in) != IoResult::kOk ||
      !vexlor::fifo::decode_reply(in, sequence, reply)) {
    if (seen != nullptr) *seen = "no answer to the query";
    return false;
  }
  long pid = -1;
  int serving = 0;
  if (std::sscanf(reply.answer.c_str(), "pid=%ld serving=%d", &pid, &serving) != 2 ||
      serving != 1) {
    if (seen != nullptr) *seen = "answered \"" + reply.answer + "\"";
    return false;
  }
  stream->set_timeout_ms(0);
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return false;
  if (e.alive) return true;  // another thread attached it meanwhile: its watch stands
  // The last watch has seen its end; it is joined at the stop, never here.
  if (e.watch_thread.joinable()) ended_watches_.push_back(std::move(e.watch_thread));
  e.pid = static_cast<pid_t>(pid);
  e.alive = true;
  e.unserved_told = false;
  e.serving_since = now();
  e.watch_stream = stream;
  const uint64_t generation = ++e.generation;
  const bool by_hand = e.pid != e.child;
  e.watch_thread = std::thread([this, &e, generation, stream] {
    std::string frame;
    while (stream->read_frame(frame) == IoResult::kOk) {
    }
    gone(e, generation);
  });
  say("routine " + e.name + " served by pid " + std::to_string(pid) +
      (by_hand ? " (started by hand)" : ""));
  return true;
}

// The watch connection closed: the process ended, or it stopped serving.
void Sequencer::gone(Entry& e, uint64_t generation) {
  pid_t pid, child;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation != e.generation || !e.alive || stopping_) return;
    pid = e.pid;
    child = e.child;
  }
  std::string how = "ended";
  if (child > 0 && child == pid) {
    std::string ended;
    // A routine that released the library is about to exit; give it a moment to do so.
    reap(child, 500, &ended);
    how = ended.empty() ? "stopped serving" : "ended (" + ended + ")";
  } else {
    // The connection closes while the process is still on its way out.
    if (!process_ended(pid, 200)) how = "stopped serving";
  }
  auto* db = static_cast<Vexlor::MMAP_STRU*>(db_);
  // serve() marks its function SYS_KILLED itself when it ends on an exit request; a process that
  // died (killed, crashed) leaves another status.
  const bool died =
      how != "stopped serving" && db != nullptr &&
      vexlor::os::load_relaxed(db->function_rt[e.index].run_status) != Vexlor::SYS_KILLED;
  if (died) abort_alarms_of(e);
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != e.generation) return;
  e.alive = false;
  e.watch_stream.reset();
  if (how != "stopped serving" && child == pid) {
    e.child = -1;
    save_children();
  }
  {
    std::lock_guard<std::mutex> forward_lock(e.forward_mutex);
    e.idle.clear();
  }
  mark_killed(e);
  say("routine " + e.name + " (pid " + std::to_string(pid) + ") " + how + "; marked SYS_KILLED");
  if (stopping_ || e.program == nullptr) return;
  if (e.restart_on_end) {
    e.restart_on_end = false;
    e.restart_due = true;
    e.backoff_until = 0;
    wake_.notify_all();
  } else if (died && child == pid && e.program->at_startup) {
    // A routine that runs for the whole session is brought back, sooner after a long good run.
    e.backoff = now() - e.serving_since >= kSteadyServing || e.backoff == 0
                    ? kFirstRestart
                    : std::min(e.backoff * 2, kLastBackoff);
    e.backoff_until = now() + e.backoff;
    e.restart_due = true;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", e.backoff);
    say("routine " + e.name + ": starting it again in " + seconds + " s");
  }
}

bool Sequencer::served(Entry& e) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (e.alive) return true;
  }
  return try_attach(e);
}

bool Sequencer::ensure_started(Entry& e) {
  if (served(e)) return true;
  if (e.program == nullptr) return false;
  std::lock_guard<std::mutex> start_lock(e.start_mutex);
  if (served(e)) return true;
  pid_t last = -1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || now() < e.backoff_until) return false;
    last = e.child;
  }
  if (last > 0) {
    // Its last process stopped serving but was still on its way out when its end was seen:
    // once it has ended, a new one is started; while it runs (taken over, or slow to exit),
    // not.
    if (!process_ended(last, 0)) return false;
    reap(last, 0, nullptr);  // no zombie is left behind
    std::lock_guard<std::mutex> lock(mutex_);
    if (e.child == last) {
      e.child = -1;
      save_children();
    }
  }
  return start_process(e);
}

bool Sequencer::start_process(Entry& e) {
  std::string error;
  const pid_t pid = launch(e.program->launch, &error);
  auto fail = [&](const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    e.backoff = e.backoff == 0 ? kFirstBackoff : std::min(e.backoff * 2, kLastBackoff);
    e.backoff_until = now() + e.backoff;
    // A routine that runs for the whole session is tried again once the back-off has passed;
    // an on-demand one starts on its next run request.
    if (e.program->at_startup) e.restart_due = true;
    mark_killed(e);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", e.backoff);
    say("routine " + e.name + ": " + why + "; marked SYS_KILLED, not started again for " + seconds +
        " s");
    return false;
  };
  if (pid < 0) return fail("cannot start " + error);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    e.child = pid;
    e.token = process_token(pid);
    save_children();
  }
  const double deadline = now() + kStartBound;
  std::string seen = "not tried";
  while (now() < deadline) {
    std::string how;
    if (reap(pid, 0, &how)) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        e.child = -1;
        save_children();
      }
      return fail("\"" + e.program->launch.argv[0] + "\" (pid " + std::to_string(pid) +
                  ") ended at once (" + how + ")");
    }
    if (try_attach(e, &seen)) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (now() - e.serving_since >= kSteadyServing) e.backoff = 0;
      return true;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return false;  // the stop ends the child with the others
    }
    sleep_ms(5);
  }
  kill_now(pid);
  reap(pid, -1, nullptr);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    e.child = -1;
    save_children();
  }
  char bound[32];
  std::snprintf(bound, sizeof bound, "%g", kStartBound);
  return fail("\"" + e.program->launch.argv[0] + "\" did not serve " + e.name + " within " +
              bound + " s (its endpoint, last asked: " + seen + ")");
}

std::optional<Reply> Sequencer::forward(Entry& e, const Request& r, int timeout_ms) {
  LocalStream stream;
  uint32_t sequence;
  {
    std::lock_guard<std::mutex> lock(e.forward_mutex);
    if (!e.idle.empty()) {
      stream = std::move(e.idle.back());
      e.idle.pop_back();
    }
    sequence = ++e.sequence;
  }
  if (!stream.valid()) {
    if (!stream.connect(vexlor::os::routine_endpoint(e.name), nullptr)) return std::nullopt;
  }
  stream.set_timeout_ms(timeout_ms > 0 ? timeout_ms : forward_timeout_ms_);
  Request copy = r;
  copy.sequence = sequence;
  std::string out, in;
  vexlor::fifo::encode_request(copy, out);
  uint32_t got = 0;
  Reply reply;
  if (stream.write_frame(out) != IoResult::kOk || stream.read_frame(in) != IoResult::kOk ||
      !vexlor::fifo::decode_reply(in, got, reply) || got != sequence) {
    return std::nullopt;
  }
  std::lock_guard<std::mutex> lock(e.forward_mutex);
  e.idle.push_back(std::move(stream));
  return reply;
}

std::string Sequencer::describe(Entry& e) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (e.alive) return std::to_string(e.pid) + (e.pid == e.child ? " alive" : " alive(by hand)");
  if (now() < e.backoff_until) return "- backoff";
  if (e.program != nullptr) return "- stopped";
  return "- -";
}

std::optional<Reply> Sequencer::handle(const Request& r) {
  if (r.type == RequestType::EngineRead || r.type == RequestType::EngineWrite) {
    Entry* e = find(r.index);
    if (e == nullptr) return std::nullopt;
    if (r.type == RequestType::EngineRead) return Reply{true, describe(*e)};
    // Reload: a served routine reloads itself or ends (and is started afresh when it has a
    // command); a stopped one with a command is started now, back-off or not.
    if (served(*e)) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        e->restart_on_end = e->program != nullptr;
      }
      auto reply = forward(*e, r);
      return reply ? *reply : Reply{false, "routine does not answer"};
    }
    if (e->program == nullptr) return std::nullopt;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      e->backoff_until = 0;
    }
    return Reply{ensure_started(*e), {}};
  }
  Entry* e = find(r.function);
  if (e == nullptr) return std::nullopt;
  switch (r.type) {
    case RequestType::FunctionRun: {
      if (!ensure_started(*e)) {
        if (e->program == nullptr) {
          explain_unserved(*e);
          return std::nullopt;
        }
        return Reply{false, "routine not started"};
      }
      auto reply = forward(*e, r);
      return reply ? *reply : Reply{false, "routine does not answer"};
    }
    case RequestType::SendEvent:
    case RequestType::PostEvent: {
      // An event is delivered to the routine or refused: never accepted on its behalf (between
      // a routine's death and its restart, say), so a sender told true can rely on it.
      if (!served(*e)) return Reply{false, "not served"};
      auto reply = forward(*e, r);
      return reply ? *reply : Reply{false, "routine does not answer"};
    }
    case RequestType::FunctionWait:
      // The wait itself is on the run mutex; the request only tells whether someone serves.
      if (served(*e)) return Reply{true, {}};
      return std::nullopt;
    case RequestType::Dnload: {
      if (!served(*e)) return std::nullopt;
      auto reply = forward(*e, r);
      if (reply && reply->accepted) return reply;
      return std::nullopt;  // no message handler: the manager's copy of the last upload
    }
    default: {
      if (!served(*e)) return std::nullopt;
      auto reply = forward(*e, r);
      return reply ? *reply : Reply{false, "routine does not answer"};
    }
  }
}

}  // namespace vexlor_manager
