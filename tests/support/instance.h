// Test support: a private instance per test (its own runtime folder and instance name),
// and real child processes with bounded waits.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace vexlor::test {

// ThreadSanitizer slows every memory access several times over: storms run fewer rounds there
// (the interleavings, not the count, are what it checks).
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif
inline constexpr int storm_rounds(int rounds) { return kThreadSanitizer ? rounds / 5 : rounds; }

// A fresh VEXLOR_RUNTIME_DIR, a unique VEXLOR_INSTANCE and VEXLOR_DRIVE_ROOT inside it for the
// life of the object; the folder is removed and all three restored afterwards.
class PrivateInstance {
 public:
  explicit PrivateInstance(const std::string& tag = "t");
  ~PrivateInstance();
  PrivateInstance(const PrivateInstance&) = delete;
  PrivateInstance& operator=(const PrivateInstance&) = delete;

  const std::string& name() const { return name_; }
  const std::string& runtime_dir() const { return runtime_dir_; }
  std::string drive_root() const { return runtime_dir_ + "/drives"; }
  // Switches the process to another instance name under the same runtime folder.
  void use(const std::string& instance) const;

 private:
  std::string name_, runtime_dir_, old_instance_, old_runtime_, old_drive_;
  bool had_instance_ = false, had_runtime_ = false, had_drive_ = false;
};

// Runs `body` in a forked child process, which exits with its return value.
pid_t spawn_child(const std::function<int()>& body);

// Waits for the child up to `seconds`; returns its exit status, 128+signal when it was
// killed by a signal, or -1 on time-out (the child is then killed and reaped).
int wait_child(pid_t pid, double seconds);

// What a tool run as a child process gave: exit status (as wait_child) and its output.
struct ToolRun {
  int code = -1;
  std::string out, err;
};

// Runs `path` with `args` as a child, its output collected in `scratch_dir`; waits up to 60 s.
ToolRun run_tool(const std::string& path, const std::vector<std::string>& args,
                 const std::string& scratch_dir);

// The whole content of a file ("" when it cannot be read).
std::string slurp(const std::string& path);

// Polls `condition` every millisecond up to `seconds`; true when it became true.
bool wait_until(const std::function<bool()>& condition, double seconds);

}  // namespace vexlor::test
