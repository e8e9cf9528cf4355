// Test support: a forked child process that runs a body with a line channel to the test, for
// children that use the parent's memory (handles, objects, captured state; POSIX only). Every
// read on either side is bounded, and the destructor kills a child still running.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>

#include "support/instance.h"

namespace vexlor::test {

// One line from `fd`: "<timeout>" after `ms`, "<eof>" when the other end closed.
inline std::string read_line(int fd, int ms) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (char c;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return "<timeout>";
    if (::read(fd, &c, 1) != 1) return "<eof>";
    if (c == '\n') return line;
    line.push_back(c);
  }
}

// The child's end of the channel.
struct ChildIo {
  int to_parent, from_parent;
  void say(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    ::vdprintf(to_parent, format, args);
    va_end(args);
    if (::write(to_parent, "\n", 1) != 1) ::_exit(2);
  }
  // A child whose parent is gone or silent for 10 s ends itself: no test leaves processes.
  std::string hear() {
    std::string line = read_line(from_parent, 10000);
    if (line == "<timeout>" || line == "<eof>") ::_exit(3);
    return line;
  }
};

// A forked child running `body`, then _exit(0).
class ForkedChild {
 public:
  explicit ForkedChild(const std::function<void(ChildIo&)>& body) {
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(up[0]);
      ::close(down[1]);
      ChildIo io{up[1], down[0]};
      body(io);
      ::_exit(0);
    }
    ::close(up[1]);
    ::close(down[0]);
    from_child_ = up[0];
    to_child_ = down[1];
  }
  ~ForkedChild() {
    kill9();
    ::close(from_child_);
    ::close(to_child_);
  }
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;

  std::string read_line(int ms = 5000) { return test::read_line(from_child_, ms); }
  bool send(const std::string& line) {
    return ::write(to_child_, (line + "\n").data(), line.size() + 1) ==
           static_cast<ssize_t>(line.size() + 1);
  }
  void kill9() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // The child's exit code, or -1 when it does not end within `seconds` (it is killed then).
  int wait_exit(double seconds = 5) {
    const int code = wait_child(pid_, seconds);
    pid_ = -1;
    return code;
  }

 private:
  pid_t pid_ = -1;
  int from_child_ = -1;
  int to_child_ = -1;
};

}  // namespace vexlor::test
