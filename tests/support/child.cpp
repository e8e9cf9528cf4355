#include "support/child.h"

#include <cstdlib>
#include <map>

#if defined(_WIN32)
#include "os/windows_api.h"
#else
#include <signal.h>
#include <sys/wait.h>

#include "support/instance.h"
#endif

namespace vexlor::test {
namespace {

constexpr char kChildFlag[] = "--vexlor-child=";

std::map<std::string, ChildBody>& registry() {
  static std::map<std::string, ChildBody> bodies;
  return bodies;
}

}  // namespace

ChildRegistration::ChildRegistration(const char* name, ChildBody body) { registry()[name] = body; }

int run_child_from_args(int argc, char** argv) {
  if (argc < 2) return -1;
  const std::string flag = argv[1];
  if (flag.rfind(kChildFlag, 0) != 0) return -1;
  auto found = registry().find(flag.substr(sizeof kChildFlag - 1));
  if (found == registry().end()) return 98;
  return found->second(std::vector<std::string>(argv + 2, argv + argc));
}

ChildProcess::~ChildProcess() {
  if (running()) kill();
}

#if defined(_WIN32)

void set_env(const char* name, const char* value) {
  // The C runtime's copy for getenv and the process block that children inherit.
  _putenv_s(name, value ? value : "");
  ::SetEnvironmentVariableA(name, value);
}

bool ChildProcess::start(const std::string& name, const std::vector<std::string>& args) {
  if (running() || registry().count(name) == 0) return false;
  char exe[MAX_PATH];
  DWORD n = ::GetModuleFileNameA(nullptr, exe, sizeof exe);
  if (n == 0 || n >= sizeof exe) return false;
  std::string line = "\"" + std::string(exe) + "\" " + kChildFlag + name;
  for (const std::string& a : args) line += " \"" + a + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
    return false;
  }
  ::CloseHandle(pi.hThread);
  native_ = reinterpret_cast<intptr_t>(pi.hProcess);
  return true;
}

int ChildProcess::wait(double seconds) {
  if (!running()) return -1;
  HANDLE process = reinterpret_cast<HANDLE>(native_);
  if (::WaitForSingleObject(process, static_cast<DWORD>(seconds * 1000)) != WAIT_OBJECT_0) {
    kill();
    return -1;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  native_ = -1;
  return static_cast<int>(code);
}

void ChildProcess::kill() {
  if (!running()) return;
  HANDLE process = reinterpret_cast<HANDLE>(native_);
  ::TerminateProcess(process, 137);
  ::WaitForSingleObject(process, INFINITE);
  ::CloseHandle(process);
  native_ = -1;
}

#else

void set_env(const char* name, const char* value) {
  value ? ::setenv(name, value, 1) : ::unsetenv(name);
}

bool ChildProcess::start(const std::string& name, const std::vector<std::string>& args) {
  auto found = registry().find(name);
  if (running() || found == registry().end()) return false;
  const pid_t pid = spawn_child([&] { return found->second(args); });
  if (pid < 0) return false;
  native_ = pid;
  return true;
}

int ChildProcess::wait(double seconds) {
  if (!running()) return -1;
  const int code = wait_child(static_cast<pid_t>(native_), seconds);  // kills on time-out
  native_ = -1;
  return code;
}

void ChildProcess::kill() {
  if (!running()) return;
  const pid_t pid = static_cast<pid_t>(native_);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  native_ = -1;
}

#endif

}  // namespace vexlor::test
