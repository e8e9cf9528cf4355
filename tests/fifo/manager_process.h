// Test support for the message queue: runs the built vexlor-manager as a real child process
// of the test's private instance, and a few raw endpoint peers.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fifo/fifo_server.h"
#include "os/local_endpoint.h"
#include "support/instance.h"
#include "vexlor/vexlor.h"

namespace vexlor::test {

inline constexpr char kManagerTool[] = VEXLOR_TOOLS_DIR "/vexlor-manager";

// Forks and execs vexlor-manager with `args`. With `stderr_fd` >= 0 the child's stderr goes
// there; its stdout goes to /dev/null.
inline pid_t exec_manager(const std::vector<std::string>& args, int stderr_fd = -1) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::dup2(::open("/dev/null", O_WRONLY), 1);
  if (stderr_fd >= 0) ::dup2(stderr_fd, 2);
  std::vector<char*> argv{const_cast<char*>(kManagerTool)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(kManagerTool, argv.data());
  ::_exit(127);
}

// What the manager says of the process serving function `index` ("<pid> alive", "- stopped",
// ...), or "" when it does not answer; and that process's id, or -1. The caller is attached.
inline std::string routine_state(int index) {
  char answer[64] = "";
  if (!Vexlor::VFIFO_Engine_Read("$F", "P9", "R1", index, "-", answer, sizeof answer)) return "";
  return answer;
}
inline pid_t routine_pid(int index) {
  const int pid = std::atoi(routine_state(index).c_str());
  return pid > 0 ? pid : -1;
}

// A vexlor-manager serving the current instance for the life of the object.
class ManagerProcess {
 public:
  ~ManagerProcess() {
    if (pid_ > 0) stop();
  }
  // Starts it quiet (its stderr into the file `stderr_path` when given) and waits until its
  // endpoints answer. False when it did not come up.
  bool start(std::vector<std::string> args = {}, const std::string& stderr_path = "") {
    args.push_back("--quiet");
    const int fd =
        stderr_path.empty() ? -1 : ::open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_ = exec_manager(args, fd);
    if (fd >= 0) ::close(fd);
    if (pid_ <= 0) return false;
    bool up = wait_until(
        [&] { return fifo::query_record(os::kEngineEndpoint, 0, nullptr, nullptr, 500); }, 10);
    if (!up) stop();
    return up;
  }
  // SIGTERM (or SIGKILL) and wait; returns the exit status.
  int stop(int signal = SIGTERM) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    const int status = wait_child(pid_, 10);
    pid_ = -1;
    return status;
  }
  void kill9() { stop(SIGKILL); }
  pid_t pid() const { return pid_; }
  // The record from line `since` on (empty on failure).
  std::vector<std::string> record(int since = 0) const {
    std::vector<std::string> lines;
    fifo::query_record(os::kManagerEndpoint, since, &lines, nullptr, 10000);
    return lines;
  }

 private:
  pid_t pid_ = -1;
};

}  // namespace vexlor::test
