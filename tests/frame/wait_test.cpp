// The stopwatch and the interruptible wait: the order of the stop conditions, free routines
// and free parents, ignore_parent, and waits interrupted for real by another process.
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "support/equipment.h"
#include "support/forked_child.h"

using namespace Vexlor;
namespace d = vexlor::detail;
using vexlor::test::tagged_texts;

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

class Wait : public vexlor::test::EquipmentTest {
 protected:
  void SetUp() override {
    for (const char* name : {"PM1_PROC", "SCHED", "TMC"}) b_.add_function(name);
    start();
  }
};

}  // namespace

TEST_F(Wait, StopwatchAndStopConditionsInTheirOrder) {
  VTimer_Ready();
  VTime_MSleep(20);
  EXPECT_TRUE(VTimer_Reach(0.02));
  EXPECT_FALSE(VTimer_Reach(3600));
  EXPECT_GE(VTimer_Elapsed(), 0.02);
  // Before start-up a wait only sleeps.
  d::ConsoleCapture capture;
  EXPECT_TRUE(VTimer_Wait_Seconds(0) && VTimer_Wait_Seconds(-3) && VTimer_Wait_Seconds(0.01, true));
  EXPECT_TRUE(capture.lines().empty());
  // Start-up restarts the routine's own stopwatch.
  ASSERT_TRUE(VHub_Initial("PM1_PROC"));
  EXPECT_FALSE(VTimer_Reach(3600));
  VTimer_Ready();
  EXPECT_TRUE(VTimer_Reach(0) && VTimer_Reach(-1));
  VTime_MSleep(20);
  EXPECT_TRUE(VTimer_Reach(0.02));
  // A zero wait per combination of flags: which condition wins, which ones a free routine, a free
  // parent and ignore_parent leave unwatched. Flags as routine masks: 1 the waiting routine, 2
  // its parent, 4 its grandparent.
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
    EXPECT_EQ(tagged_texts(capture),
              c.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.line});
  }
  // The lines follow the category switches.
  VSystem_Set_Log_Status(LOG_CIM, LOG_STATUS_OFF);
  capture.clear();
  EXPECT_FALSE(VTimer_Wait_Seconds(5));
  EXPECT_TRUE(capture.lines().empty());
}

// Another process interrupts a running 30-second wait (manager, own or parent abort); a free
// routine waits through its parent's and the manager abort but not through the exit flag.
TEST_F(Wait, AnotherProcessInterruptsARunningWait) {
  const struct {
    const char* what;
    std::function<bool()> prepare;
    std::function<void()> interrupt;
    std::string line;
  } cases[] = {
      {"manager abort", [] { return true; }, [] { VSystem_Abort_Manager_Set(true); }, kManagerLine},
      {"own abort", [] { return true; }, [] { VFunction_Set_Abort_Flag(kProc, true); }, kAbortLine},
      {"parent abort", [] { return true; }, [] { VFunction_Set_Abort_Flag(kTmc, true); },
       parent_line("TMC")},
      {"free routine, told to exit",
       [] {
         VFunction_Set_Free_Flag(true);
         VFunction_Set_Abort_Flag(kSched, true);
         VSystem_Abort_Manager_Set(true);
         // Two cycles of checks with both aborts set: the wait runs out (else no 'R' is sent).
         return VTimer_Wait_Seconds(1.2);
       },
       [] { VFunction_Set_Exit_Flag(kProc, true); }, kExitLine},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    VHub_Release();
    // The routine starts as PM1_PROC with the parent chain "1&2", prepares, says "ready", waits
    // 30 s and then tells its lines and whether the wait ran out.
    vexlor::test::ForkedChild routine([&](vexlor::test::ChildIo& io) {
      if (!VHub_Initial("PM1_PROC")) return;
      VFunction_Set_Parent_Points("1&2");
      if (!c.prepare()) return;
      d::ConsoleCapture capture;
      io.say("ready");
      const bool ran_out = VTimer_Wait_Seconds(30);
      for (const std::string& line : tagged_texts(capture)) io.say("%s", line.c_str());
      io.say("ran out %d", ran_out);
      VHub_Release();
    });
    ASSERT_EQ(routine.read_line(20000), "ready");
    ASSERT_TRUE(VHub_Initial("SCHED"));
    c.interrupt();
    EXPECT_EQ(routine.read_line(10000), c.line);
    EXPECT_EQ(routine.read_line(), "ran out 0");
    EXPECT_EQ(routine.wait_exit(), 0);
    for (int f : {kProc, kSched, kTmc}) {
      VFunction_Set_Abort_Flag(f, false);
      VFunction_Set_Free_Flag(f, false);
      VFunction_Set_Exit_Flag(f, false);
    }
    VSystem_Abort_Manager_Set(false);
  }
}
