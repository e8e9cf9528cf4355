// Instance folders on POSIX: /dev/shm/vexlor/<instance> unless VEXLOR_RUNTIME_DIR says
// otherwise.
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "os/instance.h"

namespace vexlor::os {

std::string runtime_base() {
  const char* env = std::getenv("VEXLOR_RUNTIME_DIR");
  if (env && *env) return env;
  struct stat st;
  if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) return "/dev/shm/vexlor";
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/vexlor";
}

bool make_dirs(const std::string& path) {
  if (path.empty()) return false;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0770) == 0) {
      ::chmod(partial.c_str(), 0770);  // whatever the umask, the instance's group shares it
    } else if (errno != EEXIST) {
      return false;
    }
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// The pid, asked of the kernel once per process: the alarm log checks it on every row. A
// forked child forgets the parent's before it runs anything.
std::atomic<long> g_pid{0};

void forget_pid() { g_pid.store(0, std::memory_order_relaxed); }

}  // namespace

long process_id() {
  long pid = g_pid.load(std::memory_order_relaxed);
  if (pid != 0) return pid;
  static const bool watching_forks = ::pthread_atfork(nullptr, nullptr, forget_pid) == 0;
  pid = static_cast<long>(::getpid());
  if (watching_forks) g_pid.store(pid, std::memory_order_relaxed);
  return pid;
}

bool remove_instance_dir_if_empty() {
  const std::string dir = instance_dir();
  ::rmdir((dir + "/mutex").c_str());
  ::rmdir((dir + "/endpoint").c_str());
  return ::rmdir(dir.c_str()) == 0 || errno == ENOENT;
}

}  // namespace vexlor::os
