// The sequence manager's processes: starting a routine's program, learning how it ended,
// ending it, and the manager's own stop request. One side per platform: processes_posix.cpp
// (fork/exec, waitpid, signals) and processes_win32.cpp (CreateProcessW, process handles,
// console control events).
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

// Starts the program in a process group of its own, so that Ctrl+C at the manager's terminal
// or console reaches only the manager, which then stops its routines. On failure returns -1
// with the reason in `error` (also when the program cannot be executed: a missing or
// non-executable file is reported here, not as an exit).
pid_t launch(const Launch& launch, std::string* error);

// For a child started by launch(): true once it has ended, with a description such as
// "exit status 3" or "signal 9" in `how`; the child is then forgotten. Waits for its end up to
// wait_ms (0: only looks; negative: until it ends).
bool reap(pid_t pid, int wait_ms, std::string* how);

// Ends a child started by launch() at once, as `kill -9` does; reap() it afterwards.
void kill_now(pid_t pid);

// Any process, started here or by hand: true when it has ended (or never existed), waiting up to
// wait_ms for that.
bool process_ended(pid_t pid, int wait_ms);

// What tells this process apart from any later one that gets the same id: its start time (and,
// on POSIX, the boot it started in). "" when no such process runs.
std::string process_token(pid_t pid);

// Takes over a routine process that an earlier manager started and left running (it was killed):
// when `pid` still runs with the same token, reap(), kill_now() and process_ended() then work on
// it as on a child of launch() (reap() cannot learn its exit status: `how` says "exit status unknown: taken over").
bool adopt(pid_t pid, const std::string& token);

// The manager's own stop: SIGTERM, SIGINT or SIGHUP on POSIX; Ctrl+C, Ctrl+Break, closing the
// console, log-off or shut-down on Windows. Call catch_stop_requests() first thing, before any
// thread starts; wait_for_stop_request() returns when one has arrived; stop_done() after the
// clean-up (on Windows the system ends the process once a console-close handler returns, so the
// handler waits for it).
void catch_stop_requests();
void wait_for_stop_request();
void stop_done();

// Sets a variable of the manager's own environment (getenv and the routines it starts).
void set_environment(const std::string& name, const std::string& value);

}  // namespace vexlor_manager
