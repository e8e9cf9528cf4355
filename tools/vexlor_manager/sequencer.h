// The sequence manager's routines: which program serves each function, starting them (at
// start-up or on the first run request), forwarding requests to the process that serves a
// function, and noticing when that process ends.
//
// A function is served by whichever live process answers on its routine endpoint with a serve
// loop installed (<vexlor/routine.h>): one the manager started from the configuration or one
// started by hand. The manager holds one idle connection to each such process; the process's
// end closes it, which the manager sees at once (the bound is the scheduler's wake-up, a few
// milliseconds, at most 0.2 s more for a process started by hand while it finishes exiting; a
// routine program that starts but never serves is given 5 s). It then marks
// the function SYS_KILLED unless the routine did so itself, answers ALM_ABORT to the alarms the
// dead routine was waiting on, and starts a "startup" routine that ended that way again after a
// back-off.
//
// The routines it started are listed in the instance's "manager.children" file (function, pid,
// process token), so that a manager started after this one was killed takes them over as its own.
//
// Locking: mutex_ guards the entries' process fields and is never held while waiting for another
// thread or process (connecting, forwarding, reaping, joining).
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fifo/fifo_server.h"
#include "processes.h"

namespace vexlor_manager {

// How one function's routine is started: `command`, `workdir`, `env` and `start` of its entry
// in the equipment configuration's `functions` table.
struct RoutineProgram {
  std::string function;
  Launch launch;
  bool at_startup = false;  // start = "startup"; otherwise on the first run request
};

// The configuration the manager was started with, for the lines that tell an engineer what to
// change: its path ("" without --config) and the name of each `functions` entry by position.
struct ConfigSource {
  std::string path;
  std::vector<std::string> functions;
};

// Reads the programs of every function entry that has a `command`. Relative program paths (with a
// "/") and working folders are taken from the configuration file's folder. False with a
// message naming the file, line and field on a bad entry. With `source`, also notes the file
// and the names of all its function entries.
bool load_routine_programs(const std::string& path, std::vector<RoutineProgram>& programs,
                           std::string& error, ConfigSource* source = nullptr);

class Sequencer {
 public:
  Sequencer(std::vector<RoutineProgram> programs, bool quiet, ConfigSource source = {});
  ~Sequencer();
  Sequencer(const Sequencer&) = delete;
  Sequencer& operator=(const Sequencer&) = delete;

  // Attaches the database, starts the start-up routines and the watch for routines started by
  // hand. Call once, after the manager's endpoints serve.
  void start();
  // Makes every start in progress give up and refuses new ones; safe from any thread, at once.
  void request_stop();
  // Tells the routines it started to exit, and ends those that do not within a second.
  void stop();

  // True for the requests the sequencer takes: run, wait, exit, events, download, pool, reload
  // ("$F" P8) and the routine query ("$F" P9 R1).
  bool takes(const vexlor::fifo::Request& r) const;
  // The answer, or nothing when no routine serves the function and none is configured: the
  // manager then records and accepts the request as it does for any other.
  std::optional<vexlor::fifo::Reply> handle(const vexlor::fifo::Request& r);

 private:
  struct Entry;
  Entry* find(const std::string& function);
  Entry* find(int index);
  bool attach_db();
  bool served(Entry& e);
  bool ensure_started(Entry& e);
  bool start_process(Entry& e);
  // `seen`, when given, gets what the routine's endpoint showed when it did not attach.
  bool try_attach(Entry& e, std::string* seen = nullptr);
  void gone(Entry& e, uint64_t generation);
  void abort_alarms_of(const Entry& e);
  void adopt_children();
  void reset_on_demand();
  void save_children();
  // timeout_ms 0: the manager's forwarding time-out.
  std::optional<vexlor::fifo::Reply> forward(Entry& e, const vexlor::fifo::Request& r,
                                             int timeout_ms = 0);
  std::string describe(Entry& e);
  void mark_killed(Entry& e);
  // Says, once until a process serves it, why a run request for `e` reaches nobody.
  void explain_unserved(Entry& e);
  void say(const std::string& line);
  void discover_loop();

  std::vector<RoutineProgram> programs_;
  bool quiet_;
  ConfigSource source_;
  std::mutex mutex_;              // the entries' process fields
  std::condition_variable wake_;  // the discover loop: stop, or a restart is due
  std::vector<std::unique_ptr<Entry>> entries_;
  std::vector<std::thread> ended_watches_;  // joined by stop(), never under mutex_
  std::string children_file_;
  void* db_ = nullptr;  // the attached database (Vexlor::MMAP_STRU*)
  std::unique_ptr<class DbHolder> holder_;
  double next_attach_ = 0;
  bool stopping_ = false;
  bool stopped_ = false;
  std::thread discover_;
  int forward_timeout_ms_ = 3000;
};

}  // namespace vexlor_manager
