// Test support: child processes on every platform. A body registered with VEXLOR_TEST_CHILD runs
// in a fork on POSIX and in the test program started again on Windows, so it uses only its
// arguments and the environment, never the parent's memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexlor::test {

using ChildBody = int (*)(const std::vector<std::string>& args);

struct ChildRegistration {
  ChildRegistration(const char* name, ChildBody body);
};

#define VEXLOR_TEST_CHILD(name)                                                                \
  static int name##_child_body(const std::vector<std::string>& args);                          \
  static const ::vexlor::test::ChildRegistration name##_child_registration(#name,              \
                                                                           name##_child_body); \
  static int name##_child_body([[maybe_unused]] const std::vector<std::string>& args)

// The exit code of the child argv names ("--vexlor-child=<name>" first); -1 when it names none.
int run_child_from_args(int argc, char** argv);

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool start(const std::string& name, const std::vector<std::string>& args = {});
  // Exit code, 128+signal when killed on POSIX, or -1 on time-out (the child is then killed).
  int wait(double seconds);
  // Ends the child at once, as `kill -9` does; it runs no clean-up of its own.
  void kill();
  bool running() const { return native_ != -1; }

 private:
  intptr_t native_ = -1;  // pid on POSIX, process handle on Windows
};

// Sets or (value null) clears an environment variable, for this process and its children.
void set_env(const char* name, const char* value);

}  // namespace vexlor::test
