// The stopwatch and the interruptible wait: the order of the stop conditions, free routines
// and free parents, ignore_parent, and waits interrupted for real by another process.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/builder.h"
#include "support/instance.h"
#include "util/console_sink.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::config::DatabaseBuilder;
using vexlor::test::PrivateInstance;

namespace {

constexpr int kProc = 0;   // the waiting routine
constexpr int kSched = 1;  // its parent
constexpr int kTmc = 2;    // its grandparent

const std::string kExitLine = "[CIM] Vexlor::VTimer_Wait_Seconds 收到退出信号，返回 false";
const std::string kAbortLine = "[CIM] Vexlor::VTimer_Wait_Seconds 收到中止信号，返回 false";
const std::string kManagerLine =
    "[ERR] Vexlor::VTimer_Wait_Seconds 收到中止信号, 来自MANAGE_ABORT=true, 返回 false";
std::string parent_line(const char* name) {
  return std::string("[CIM] Vexlor::VTimer_Wait_Seconds收到中止信号, 来自PARENT[") + name +
         "], 返回 false";
}

// The console lines captured, as "<tag> <text>".
std::vector<std::string> lines_of(const d::ConsoleCapture& capture) {
  std::vector<std::string> out;
  for (const auto& line : capture.console_lines()) out.push_back(line.tag + " " + line.text);
  return out;
}

bool send_byte(int fd, char byte) { return ::write(fd, &byte, 1) == 1; }

// The next byte from fd within `seconds`; 0 on time-out or end.
char receive_byte(int fd, double seconds) {
  pollfd p{fd, POLLIN, 0};
  char byte = 0;
  if (::poll(&p, 1, static_cast<int>(seconds * 1000)) != 1 || ::read(fd, &byte, 1) != 1) return 0;
  return byte;
}

class Wait : public ::testing::Test {
 protected:
  void SetUp() override {
    DatabaseBuilder b;
    b.add_function("PM1_PROC");
    b.add_function("SCHED");
    b.add_function("TMC");
    std::string error;
    ASSERT_TRUE(b.publish(true, "wait_test", &error)) << error;
  }
  void TearDown() override { VHub_Release(); }

  PrivateInstance instance_{"wait"};
};

// A routine in a child process that starts as PM1_PROC with the parent chain "1&2", runs
// `prepare`, reports 'R', and then waits VTimer_Wait_Seconds(seconds). It exits 0 when the
// wait ran out, 1 when it was interrupted, and sends the wait's console lines, each ended by
// a line feed.
class WaitingRoutine {
 public:
  WaitingRoutine(double seconds, const std::function<bool()>& prepare) {
    if (::pipe(pipe_) != 0) return;
    pid_ = vexlor::test::spawn_child([&] {
      ::close(pipe_[0]);
      if (!VHub_Initial("PM1_PROC")) return 10;
      VFunction_Set_Parent_Points("1&2");
      if (!prepare()) return 11;
      d::ConsoleCapture capture;
      if (!send_byte(pipe_[1], 'R')) return 12;
      const bool ran_out = VTimer_Wait_Seconds(seconds);
      std::string text;
      for (const std::string& line : lines_of(capture)) text += line + "\n";
      if (::write(pipe_[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        return 13;
      }
      VHub_Release();
      return ran_out ? 0 : 1;
    });
    ::close(pipe_[1]);
  }
  ~WaitingRoutine() {
    if (pid_ > 0) vexlor::test::wait_child(pid_, 1);
    ::close(pipe_[0]);
  }
  // True when the routine reported that it is about to wait.
  bool ready() { return pid_ > 0 && receive_byte(pipe_[0], 20) == 'R'; }
  // The routine's exit status (-1 when it had to be killed after `seconds`) and its lines.
  int finish(double seconds, std::string* lines) {
    const int status = vexlor::test::wait_child(pid_, seconds);
    pid_ = -1;
    lines->clear();
    char buffer[1024];
    for (ssize_t n; (n = ::read(pipe_[0], buffer, sizeof buffer)) > 0;) lines->append(buffer, n);
    return status;
  }

 private:
  int pipe_[2] = {-1, -1};
  pid_t pid_ = -1;
};

}  // namespace

TEST_F(Wait, StopwatchBeforeAndAfterStartUp) {
  VTimer_Ready();
  VTime_MSleep(20);
  EXPECT_TRUE(VTimer_Reach(0.02));
  EXPECT_FALSE(VTimer_Reach(3600));
  EXPECT_GE(VTimer_Elapsed(), 0.02);
  // Start-up restarts the routine's own stopwatch.
  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  EXPECT_FALSE(VTimer_Reach(3600));
  VTimer_Ready();
  EXPECT_TRUE(VTimer_Reach(0) && VTimer_Reach(-1));
  VTime_MSleep(20);
  EXPECT_TRUE(VTimer_Reach(0.02));
}

TEST_F(Wait, BeforeStartUpAWaitOnlySleeps) {
  d::ConsoleCapture capture;
  EXPECT_TRUE(VTimer_Wait_Seconds(0) && VTimer_Wait_Seconds(-3) && VTimer_Wait_Seconds(0.01, true));
  EXPECT_TRUE(lines_of(capture).empty());
}

// One cycle of checks (a zero wait) for each combination of flags: which condition wins, and
// which ones a free routine, a free parent and ignore_parent leave unwatched.
TEST_F(Wait, StopConditionsAreCheckedInTheirOrder) {
  // Flags as routine masks: 1 the waiting routine, 2 its parent, 4 its grandparent.
  const struct {
    const char* what;
    int exit, abort, free;
    bool manager, ignore_parent, ran_out;
    std::string line;  // empty: none
  } cases[] = {
      {"nothing set", 0, 0, 0, false, false, true, ""},
      {"exit before abort", 1, 1, 0, true, false, false, kExitLine},
      {"abort before free", 0, 1, 1, false, false, false, kAbortLine},
      {"free routine ignores parents and manager", 0, 2, 1, true, false, true, ""},
      {"nearest aborted parent", 0, 4, 0, true, false, false, parent_line("TMC")},
      {"parent before manager", 0, 6, 0, true, false, false, parent_line("SCHED")},
      {"free parent cuts the chain and the manager", 0, 4, 2, true, false, true, ""},
      {"free grandparent after an aborted parent", 0, 2, 4, false, false, false,
       parent_line("SCHED")},
      {"manager", 0, 0, 0, true, false, false, kManagerLine},
      {"ignore_parent leaves parents and manager", 0, 2, 0, true, true, true, ""},
      {"ignore_parent still stops on the own abort", 0, 1, 0, true, true, false, kAbortLine},
  };
  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  VFunction_Set_Parent_Points("1&2");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (int f : {kProc, kSched, kTmc}) {
      VFunction_Set_Exit_Flag(f, (c.exit >> f) & 1);
      VFunction_Set_Abort_Flag(f, (c.abort >> f) & 1);
      VFunction_Set_Free_Flag(f, (c.free >> f) & 1);
    }
    VSystem_Abort_Manager_Set(c.manager);
    d::ConsoleCapture capture;
    EXPECT_EQ(VTimer_Wait_Seconds(0, c.ignore_parent), c.ran_out);
    EXPECT_EQ(lines_of(capture),
              c.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.line});
  }
}

TEST_F(Wait, LogLinesFollowTheCategorySwitches) {
  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  VSystem_Set_Log_Status(LOG_CIM, LOG_STATUS_OFF);
  VFunction_Set_Abort_Flag(true);
  d::ConsoleCapture capture;
  EXPECT_FALSE(VTimer_Wait_Seconds(5));
  EXPECT_TRUE(capture.lines().empty());
}

// Another process interrupts a running 30-second wait: through the manager abort, the
// routine's own abort flag or a parent's abort flag.
TEST_F(Wait, AnotherProcessInterruptsARunningWait) {
  const struct {
    const char* what;
    int routine;  // whose abort flag is set; -1: the manager abort
    std::string line;
  } cases[] = {{"manager abort", -1, kManagerLine},
               {"own abort", kProc, kAbortLine},
               {"parent abort", kTmc, parent_line("TMC")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    VHub_Release();
    WaitingRoutine routine(30, [] { return true; });
    ASSERT_TRUE(routine.ready());
    ASSERT_TRUE(VHub_Initial("SCHED"));
    if (c.routine < 0) VSystem_Abort_Manager_Set(true);
    if (c.routine >= 0) VFunction_Set_Abort_Flag(c.routine, true);
    std::string lines;
    EXPECT_EQ(routine.finish(10, &lines), 1);
    EXPECT_EQ(lines, c.line + "\n");
    VFunction_Set_Abort_Flag(kProc, false);
    VFunction_Set_Abort_Flag(kTmc, false);
    VSystem_Abort_Manager_Set(false);
  }
}

// A routine started free keeps waiting through its parent's abort and the manager abort, and
// still ends its wait when it is told to exit.
TEST_F(Wait, AFreeRoutineStopsOnlyOnItsOwnFlags) {
  WaitingRoutine routine(30, [] {
    VFunction_Set_Free_Flag(true);
    VFunction_Set_Abort_Flag(kSched, true);
    VSystem_Abort_Manager_Set(true);
    // Two cycles of checks with both aborts set: the wait runs out (else no 'R' is sent).
    return VTimer_Wait_Seconds(1.2);
  });
  ASSERT_TRUE(routine.ready());
  ASSERT_TRUE(VHub_Initial("SCHED"));
  EXPECT_TRUE(VSystem_Abort_Manager_Get());
  VFunction_Set_Exit_Flag(kProc, true);
  std::string lines;
  EXPECT_EQ(routine.finish(10, &lines), 1);
  EXPECT_EQ(lines, kExitLine + "\n");
}
