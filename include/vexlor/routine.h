// Writing a routine: the function's side of runs, events, messages and pool requests.
//
//   int main() {
//     vexlor::routine::Handlers h;
//     h.run = [](const vexlor::routine::Run& run) {
//       Vexlor::VPrint("PM1_VENT", "venting (%s)", run.param.c_str());
//       return Vexlor::VTimer_Wait_Seconds(2.0) ? Vexlor::SYS_SUCCESS : Vexlor::SYS_ABORTED;
//     };
//     return vexlor::routine::serve("PM1_VENT", h);
//   }
//
// serve() starts the library under the function's name (unless the routine already did), then
// serves the function until it is told to exit:
//  - run: one run at a time on the thread that called serve(). Before the request is
//    acknowledged the routine holds the function's run mutex "<name>_RUN", has stored the parent
//    chain (VFunction_Get_Parent_Points) and written SYS_RUNNING; the handler's status is written
//    before the mutex is released. A handler's value that ends no run (SYS_AVAILABLE,
//    SYS_RUNNING, SYS_WAITTING, SYS_KILLED, or no FUNC_STATUS at all) is written as SYS_ERROR,
//    with a log line naming it. A request that arrives during a run is acknowledged at once and
//    runs next.
//  - event: sent and posted events, one at a time in arrival order on the library's event
//    thread, also while a run is in progress (after `keep`, when the routine has one). For a posted
//    event the handler's status becomes the event status (without a handler: SYS_SUCCESS).
//  - message: answers another routine's VFunction_Dnload_Message (without a handler the sequence
//    manager answers with the routine's last VFunction_Upload_Message).
//  - pool: answers VFunction_Run_Pool on the endpoint's threads, at most the function's pool
//    count at once (further requests wait for a free slot).
//  - exit: called once after the last run, before the function is marked SYS_KILLED. An exit
//    request sets the routine's exit flag, so interruptible waits of a run end early.
//  - reload: asked to reload ("$F" P8); true keeps serving, false (or no handler) ends the
//    routine like an exit, so that the sequence manager starts it afresh.
// Handlers other than run are called on the library's threads: guard shared data.
//
// AlarmFeed follows every post and answer of the equipment's alarms, in the order they took
// effect, without sampling the alarm queue: an alarm posted and answered within a millisecond
// still gives both changes.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace vexlor::routine {

struct Run {
  std::string param;    // the run parameter
  std::string parents;  // parent chain, nearest parent first ("7&5&2"; "" when none)
  bool free = false;    // started by a free run
};

struct Event {
  std::string message;
  int sender = -1;  // function index of the sending routine
  bool posted = false;
};

struct Handlers {
  std::function<Vexlor::FUNC_STATUS(const Run&)> run;
  std::function<Vexlor::FUNC_STATUS(const Event&)> event;
  std::function<std::string(int sender)> message;
  std::function<std::string(const std::string& param, int sender)> pool;
  std::function<void()> exit;
  std::function<bool()> reload;
  // Optional: events that must not be lost. Called on the endpoint's thread for every sent or
  // posted event, in arrival order per sender, with `done`; the sender's call returns only when
  // the routine calls done(true) (kept: for example, written to disk) or done(false) (refused),
  // from any thread, before its exit handler returns. A kept event then goes to `event`.
  std::function<void(const Event&, std::function<void(bool kept)> done)> keep;
};

// Serves the function `name` until it is told to exit (or to reload without a reload handler);
// leaves it SYS_KILLED and releases the library when serve() started it. Returns 0 then; 2 when
// the library cannot start or `name` is not a function of the equipment.
VEXLOR_API int serve(const char* name, const Handlers& handlers);

// One post or answer of an alarm.
struct AlarmChange {
  uint64_t number = 0;  // its place in the equipment's alarm feed, counted from 1
  int point = -1;       // the alarm point
  int id = 0;           // its alarm ID
  Vexlor::ALARM_STYLE status = Vexlor::ALM_PAUSED;  // ALM_PAUSED: posted; otherwise the answer
  int function = -1;  // function index of the routine that posted or answered it
};

// Follows the alarm feed of the attached equipment (VHub_Initial first). The feed keeps the
// last 4096 changes; a reader that falls further behind counts what it missed and goes on with
// the oldest change kept.
class VEXLOR_API AlarmFeed {
 public:
  // Follows the changes after the newest one at construction (0 without a database).
  AlarmFeed();
  // Follows the changes after change `after` (a position() kept from an earlier run).
  explicit AlarmFeed(uint64_t after);
  // The next change: waits up to timeout_ms for it (0: only looks). False when none came, or
  // without a database.
  bool next(AlarmChange& change, int timeout_ms = 0);
  // The number of the last change next() returned (or skipped).
  uint64_t position() const { return position_; }
  // Changes that were overwritten before this reader took them.
  uint64_t missed() const { return missed_; }

 private:
  uint64_t position_ = 0;
  uint64_t missed_ = 0;
};

}  // namespace vexlor::routine
