// The manager's processes on POSIX: routine programs start with fork/exec (an exec failure comes
// back through a close-on-exec pipe, so "no such program" is an error of launch(), never a child
// that exits at once); the manager stops on SIGTERM, SIGINT or SIGHUP, taken with sigwait.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "processes.h"

namespace vexlor_manager {
namespace {

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

// Waits (sleeping, in short steps) up to wait_ms for `ended` to hold.
template <typename Check>
bool poll_for(int wait_ms, Check ended) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (!ended()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// True while the process exists and is not a zombie.
bool process_alive(pid_t pid) {
  if (pid <= 0 || ::kill(pid, 0) != 0) return false;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/stat", static_cast<long>(pid));
  std::FILE* stat = std::fopen(path, "re");
  if (stat == nullptr) return true;
  char line[512];
  const std::size_t n = std::fread(line, 1, sizeof line - 1, stat);
  std::fclose(stat);
  line[n] = '\0';
  const char* paren = std::strrchr(line, ')');
  return paren == nullptr || paren[1] == '\0' || paren[2] != 'Z';
}

// Routines adopted from an earlier manager: not our children, so waitpid cannot see them.
std::mutex adopted_mutex;
std::set<pid_t> adopted;

bool is_adopted(pid_t pid) {
  std::lock_guard<std::mutex> lock(adopted_mutex);
  return adopted.count(pid) != 0;
}

}  // namespace

pid_t launch(const Launch& launch, std::string* error) {
  if (launch.argv.empty() || launch.argv[0].empty()) {
    if (error) *error = "empty command";
    return -1;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    if (error) *error = std::string("pipe: ") + ::strerror(errno);
    return -1;
  }
  // Everything the child needs is made here, before the fork: the manager has threads, and a
  // child forked beside them may only make calls that take no lock (no allocation, no setenv)
  // until its exec.
  std::vector<char*> argv;
  for (const auto& a : launch.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_text;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string entry(*e);
    bool replaced = false;
    for (const auto& [key, value] : launch.env) {
      replaced = replaced || entry.compare(0, key.size() + 1, key + "=") == 0;
    }
    if (!replaced) env_text.push_back(entry);
  }
  for (const auto& [key, value] : launch.env) env_text.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    if (error) *error = std::string("fork: ") + ::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    // The manager blocks its stop signals for sigwait; a routine gets the default dispositions.
    sigset_t none;
    sigemptyset(&none);
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
    ::setpgid(0, 0);  // Ctrl-C at the terminal reaches the manager, which stops its routines
    int err = 0;
    if (!launch.workdir.empty() && ::chdir(launch.workdir.c_str()) != 0) {
      err = errno;
    } else {
      // execvpe builds each candidate path on the stack: no allocation in this child.
      ::execvpe(argv[0], argv.data(), envp.data());
      err = errno;
    }
    ssize_t ignored = ::write(fds[1], &err, sizeof err);
    (void)ignored;
    ::_exit(127);
  }
  ::close(fds[1]);
  int err = 0;
  ssize_t n;
  do {
    n = ::read(fds[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  ::close(fds[0]);
  if (n == static_cast<ssize_t>(sizeof err)) {
    ::waitpid(pid, nullptr, 0);
    if (error) {
      *error =
          (!launch.workdir.empty() && err == ENOENT
               ? "working folder \"" + launch.workdir + "\" or program \"" + launch.argv[0] + "\": "
               : "\"" + launch.argv[0] + "\": ") +
          ::strerror(err);
    }
    return -1;
  }
  return pid;
}

bool reap(pid_t pid, int wait_ms, std::string* how) {
  if (is_adopted(pid)) {
    const bool ended = wait_ms < 0 ? process_ended(pid, 1 << 30) : process_ended(pid, wait_ms);
    if (!ended) return false;
    if (how) *how = "exit status unknown: taken over";
    std::lock_guard<std::mutex> lock(adopted_mutex);
    adopted.erase(pid);
    return true;
  }
  int status = 0;
  pid_t r;
  auto look = [&](int flags) {
    do {
      r = ::waitpid(pid, &status, flags);
    } while (r < 0 && errno == EINTR);
    return r != 0;
  };
  if (wait_ms < 0) {
    look(0);
  } else {
    poll_for(wait_ms, [&] { return look(WNOHANG); });
  }
  if (r != pid) return false;
  if (how) {
    if (WIFSIGNALED(status)) {
      *how = "signal " + std::to_string(WTERMSIG(status));
    } else {
      *how = "exit status " + std::to_string(WEXITSTATUS(status));
    }
  }
  return true;
}

void kill_now(pid_t pid) {
  if (pid > 0) ::kill(pid, SIGKILL);
}

bool process_ended(pid_t pid, int wait_ms) {
  return poll_for(wait_ms, [pid] { return !process_alive(pid); });
}

std::string process_token(pid_t pid) {
  if (pid <= 0 || !process_alive(pid)) return {};
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/stat", static_cast<long>(pid));
  std::ifstream stat(path);
  std::string line;
  if (!std::getline(stat, line)) return {};
  // The fields after the command's closing parenthesis: state is field 3, start time field 22.
  const std::size_t paren = line.rfind(')');
  if (paren == std::string::npos) return {};
  std::size_t at = paren + 2;
  for (int field = 3; field < 22 && at != std::string::npos; ++field) {
    at = line.find(' ', at);
    if (at != std::string::npos) ++at;
  }
  if (at == std::string::npos) return {};
  const std::string start = line.substr(at, line.find(' ', at) - at);
  std::ifstream boot("/proc/sys/kernel/random/boot_id");
  std::string boot_id;
  std::getline(boot, boot_id);
  return boot_id + ":" + start;
}

bool adopt(pid_t pid, const std::string& token) {
  if (token.empty() || process_token(pid) != token) return false;
  std::lock_guard<std::mutex> lock(adopted_mutex);
  adopted.insert(pid);
  return true;
}

void catch_stop_requests() {
  // Taken by sigwait in wait_for_stop_request(); every thread started later inherits the mask.
  const sigset_t set = stop_signals();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void wait_for_stop_request() {
  const sigset_t set = stop_signals();
  int signal_number = 0;
  while (::sigwait(&set, &signal_number) != 0) {
  }
}

void stop_done() {}

void set_environment(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace vexlor_manager
