// Starting routine programs with fork/exec; an exec failure comes back through a close-on-exec
// pipe, so "no such program" is an error of launch(), never a child that exits at once.
#include "processes.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vexlor_manager {

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
  std::vector<char*> argv;
  for (const auto& a : launch.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
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
      for (const auto& [key, value] : launch.env) ::setenv(key.c_str(), value.c_str(), 1);
      ::execvp(argv[0], argv.data());
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
      *error = (!launch.workdir.empty() && err == ENOENT ? "working folder \"" + launch.workdir +
                                                               "\" or program \"" +
                                                               launch.argv[0] + "\": "
                                                         : "\"" + launch.argv[0] + "\": ") +
               ::strerror(err);
    }
    return -1;
  }
  return pid;
}

bool reap(pid_t pid, bool block, std::string* how) {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
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

}  // namespace vexlor_manager
