// Supervision of the driver programs.
#include "drivers.h"

#include <vexlor/vexlor.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <climits>

#include "kinds.h"
#include "os/atomic_field.h"
#include "os/clock.h"
#include "processes.h"
#include "util/text.h"

namespace vexlor_manager {

namespace {
constexpr double kFirstRestart = 1.0;
constexpr double kLongestRestart = 30.0;
constexpr double kSteadyServing = 60.0;

// The program beside the manager's own executable when it is there, else its bare name.
std::string program_path(const char* program) {
#ifndef _WIN32
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, static_cast<std::size_t>(n));
    dir.resize(dir.rfind('/') + 1);
    for (const std::string& candidate : {dir + program, dir + "../drivers/" + program}) {
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
  }
#endif
  return program;
}
}  // namespace

void DriverPrograms::say(const std::string& line) {
  if (!quiet_) Vexlor::VPrint("vexlor-manager", "%s", line.c_str());
}

void DriverPrograms::start(Vexlor::MMAP_STRU* db) {
  db_ = db;
  if (db == nullptr || db->system_block->simulation != 0) return;
  for (int i = 0; i < db->system_block->driver_count; ++i) {
    const char* program = vexlor::drivers::driver_program(db->driver_sp[i].type);
    if (program == nullptr) continue;
    Child c;
    c.driver = i;
    c.name = std::string(vexlor::detail::field_text(db->driver_sp[i].name));
    c.program = program_path(program);
    children_.push_back(c);
  }
  if (children_.empty()) return;
  for (Child& c : children_) {
    vexlor::os::store_relaxed(db->driver_sp[c.driver].params[Vexlor::kDriverParamOffline], 1);
    launch(c);
  }
  watch_ = std::thread([this] { watch(); });
}

void DriverPrograms::launch(Child& c) {
  Launch l;
  l.argv = {c.program, c.name};
  std::string error;
  c.pid = vexlor_manager::launch(l, &error);
  c.started = vexlor::os::clock_seconds();
  if (c.pid < 0) {
    say("driver " + c.name + ": cannot start " + c.program + ": " + error);
    c.backoff = c.backoff == 0 ? kFirstRestart : std::min(c.backoff * 2, kLongestRestart);
    c.restart_at = c.started + c.backoff;
  } else {
    say("driver " + c.name + ": started " + c.program + " (pid " + std::to_string(c.pid) + ")");
  }
}

void DriverPrograms::watch() {
  std::unique_lock<std::mutex> lock(lock_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::milliseconds(100));
    if (stopping_) break;
    const double now = vexlor::os::clock_seconds();
    for (Child& c : children_) {
      std::string how;
      if (c.pid > 0 && reap(c.pid, 0, &how)) {
        c.pid = -1;
        vexlor::os::store_relaxed(db_->driver_sp[c.driver].params[Vexlor::kDriverParamOffline], 1);
        if (now - c.started >= kSteadyServing) c.backoff = 0;
        c.backoff = c.backoff == 0 ? kFirstRestart : std::min(c.backoff * 2, kLongestRestart);
        c.restart_at = now + c.backoff;
        Vexlor::VDriver_Log(c.name.c_str(), Vexlor::LOG_ERR, "driver program ended (%s); restart in %g s",
                            how.c_str(), c.backoff);
        say("driver " + c.name + ": program ended (" + how + ")");
      }
      if (c.pid < 0 && now >= c.restart_at) launch(c);
    }
  }
}

void DriverPrograms::stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (watch_.joinable()) watch_.join();
  for (Child& c : children_) {
    if (c.pid <= 0) continue;
    kill_now(c.pid);
    std::string how;
    reap(c.pid, 2000, &how);
    c.pid = -1;
  }
}

}  // namespace vexlor_manager
