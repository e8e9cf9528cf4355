// Child processes of the sequence manager: starting a routine's program and learning how it
// ended.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace vexlor_manager {

struct Launch {
  std::vector<std::string> argv;  // program, then its arguments; a bare name is searched in PATH
  std::string workdir;            // "" keeps the manager's
  std::vector<std::pair<std::string, std::string>> env;  // added to the manager's environment
};

// Starts the program. On failure returns -1 with the reason in `error` (also when the program
// cannot be executed: a missing or non-executable file is reported here, not as an exit).
pid_t launch(const Launch& launch, std::string* error);

// True (with a description such as "exit status 3" or "signal 9") when the child has ended;
// reaps it. With `block` waits for it.
bool reap(pid_t pid, bool block, std::string* how);

}  // namespace vexlor_manager
