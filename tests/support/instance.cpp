#include "support/instance.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "os/instance.h"
#include "support/child.h"

namespace vexlor::test {

PrivateInstance::PrivateInstance(const std::string& tag) {
  if (const char* v = std::getenv("VEXLOR_INSTANCE")) had_instance_ = true, old_instance_ = v;
  if (const char* v = std::getenv("VEXLOR_RUNTIME_DIR")) had_runtime_ = true, old_runtime_ = v;
  if (const char* v = std::getenv("VEXLOR_DRIVE_ROOT")) had_drive_ = true, old_drive_ = v;
#if defined(_WIN32)
  static int counter = 0;
  std::error_code ec;
  runtime_dir_ =
      (std::filesystem::temp_directory_path(ec) /
       ("vexlor-t." + std::to_string(os::process_id()) + "." + std::to_string(++counter)))
          .string();
  std::filesystem::create_directories(runtime_dir_, ec);
#else
  char templ[] = "/tmp/vexlor-t.XXXXXX";
  runtime_dir_ = ::mkdtemp(templ);
#endif
  name_ = tag + "-" + std::to_string(os::process_id());
  set_env("VEXLOR_RUNTIME_DIR", runtime_dir_.c_str());
  set_env("VEXLOR_INSTANCE", name_.c_str());
  set_env("VEXLOR_DRIVE_ROOT", drive_root().c_str());
}

PrivateInstance::~PrivateInstance() {
  std::error_code ec;
  std::filesystem::remove_all(runtime_dir_, ec);
  set_env("VEXLOR_INSTANCE", had_instance_ ? old_instance_.c_str() : nullptr);
  set_env("VEXLOR_RUNTIME_DIR", had_runtime_ ? old_runtime_.c_str() : nullptr);
  set_env("VEXLOR_DRIVE_ROOT", had_drive_ ? old_drive_.c_str() : nullptr);
}

void PrivateInstance::use(const std::string& instance) const {
  set_env("VEXLOR_INSTANCE", instance.c_str());
}

#if !defined(_WIN32)

pid_t spawn_child(const std::function<int()>& body) {
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    // A child never outlives its test: when the test process is killed (a time-out), its
    // children, looping reporters among them, go with it instead of loading the machine.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(98);
    int code = 99;
    try {
      code = body();
    } catch (...) {
    }
    ::_exit(code);
  }
  return pid;
}

int wait_child(pid_t pid, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  while (true) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

#endif

bool wait_until(const std::function<bool()>& condition, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

#if !defined(_WIN32)
ToolRun run_tool(const std::string& path, const std::vector<std::string>& args,
                 const std::string& scratch_dir) {
  const std::string out_path = scratch_dir + "/tool-stdout.txt";
  const std::string err_path = scratch_dir + "/tool-stderr.txt";
  const pid_t pid = spawn_child([&]() {
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0) return 126;
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
    return 127;
  });
  ToolRun r;
  r.code = wait_child(pid, 60);
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  return r;
}

#endif

}  // namespace vexlor::test
