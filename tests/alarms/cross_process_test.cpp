// Alarms between real processes: managed alarms answered by another process, routines
// aborted or told to exit while they wait, and a storm of posts and answers followed through
// the alarm feed.
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "alarms/alarm_fixture.h"
#include "fifo/manager_process.h"
#include "vexlor/routine.h"

using namespace Vexlor;
using vexlor::test::spawn_child;
using vexlor::test::wait_child;
using vexlor::test::wait_until;

namespace {

constexpr int kWorkers = 8;
constexpr int kRounds = vexlor::test::storm_rounds(500);
constexpr int kDistinct = 20;  // per worker
constexpr int kShared = 10;

class CrossProcess : public vexlor::test::AlarmTest {
 protected:
  // Functions: OPERATOR (0), PM1_PROC (1), W0..W7 (2..9). Alarms: L0 the valve; then the
  // workers' distinct alarms (IDs 60000 + 100 * worker + j), then the shared ones (IDs 70000+).
  void SetUp() override {
    auto& b = builder();
    b.add_function("OPERATOR");
    b.add_function("PM1_PROC");
    for (int w = 0; w < kWorkers; ++w) b.add_function("W" + std::to_string(w));
    b.add_alarm(41001, "PM1_VALVE", "Valve open fail|阀门打开失败");
    for (int w = 0; w < kWorkers; ++w) {
      for (int j = 0; j < kDistinct; ++j) b.add_alarm(60000 + 100 * w + j, "D", "Distinct");
    }
    for (int s = 0; s < kShared; ++s) b.add_alarm(70000 + s, "S", "Shared");
    publish();
    ASSERT_TRUE(manager_.start());
  }
  static int distinct(int worker, int j) { return 1 + worker * kDistinct + j; }
  static int shared(int s) { return 1 + kWorkers * kDistinct + s; }

  // Forks PM1_PROC managing the valve (Manage_Here "proc.cpp":42, free or not); its exit
  // status is the answer it got.
  pid_t spawn_manager(bool free) {
    return spawn_child([free] {
      if (!VHub_Initial("PM1_PROC")) return 100;
      const ALARM_STYLE answer = free ? VAlarm_Manage_Free_Here(0, "proc.cpp", 42, "Port 2")
                                      : VAlarm_Manage_Here(0, "proc.cpp", 42, "Port 2");
      VHub_Release();
      return static_cast<int>(answer);
    });
  }
  static int posts_heard() { return vexlor::test::alarm_posts_heard("PM1_PROC", 0); }
  // The operator side waits until the routine waits for the answer: the alarm is managed and
  // the IO engine has heard one more post of the routine than `before` (so the routine is past
  // posting, and every field of the post is written).
  bool managed_now(int before) {
    return wait_until(
        [&] {
          return VAlarm_Status(0) == ALM_PAUSED && VAlarm_Get_Post_Type(0) == 2 &&
                 posts_heard() > before;
        },
        20);
  }

  vexlor::test::ManagerProcess manager_;
};

TEST_F(CrossProcess, AnotherProcessAnswersAManagedAlarm) {
  const char* const names[] = {"ALM_RETRY", "ALM_IGNORE", "ALM_ABORT"};
  for (ALARM_STYLE answer : {ALM_RETRY, ALM_IGNORE, ALM_ABORT}) {
    for (bool free : {false, true}) {
      const int before = posts_heard();
      const pid_t child = spawn_manager(free);
      ASSERT_TRUE(VHub_Initial("OPERATOR"));
      ASSERT_TRUE(managed_now(before)) << answer;
      EXPECT_EQ(VAlarm_Queue_Count(), 1);
      EXPECT_STREQ(VAlarm_Get_Code_Position(0), "PM1_PROC:proc.cpp:42");
      EXPECT_EQ(VAlarm_Get_Func_Point(0), 1);
      ASSERT_TRUE(VAlarm_Handle(0, answer));
      EXPECT_EQ(VAlarm_Get_Func_Point(0), 0);
      EXPECT_EQ(wait_child(child, 20), static_cast<int>(answer));
      EXPECT_EQ(VAlarm_Get_Post_Type(0), 0);
      EXPECT_EQ(VAlarm_Queue_Count(), 0);
      VHub_Release();
    }
  }
  // Only the abortable wait writes its line; one per answer.
  for (const char* name : names) {
    EXPECT_EQ(log_count(std::string("[ALM] [PM1_PROC] PM1_VALVE:41001 报警清除->") + name +
                        " [代码行:proc.cpp:42]\n"),
              1)
        << name;
  }
  // Six posts and six answers, in turn.
  const auto rows = log_rows();
  ASSERT_EQ(rows.size(), 12u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].item.answer, i % 2 == 0 ? "" : names[i / 4]) << i;
  }
}

// An aborted routine answers its alarm with abort; one told to exit leaves it posted.
TEST_F(CrossProcess, AnAbortedRoutineAnswersAbortOneToldToExitLeavesItsAlarmPosted) {
  const pid_t child = spawn_manager(false);
  ASSERT_TRUE(VHub_Initial("OPERATOR"));
  ASSERT_TRUE(managed_now(0));
  VFunction_Set_Abort_Flag(1, true);
  EXPECT_EQ(wait_child(child, 20), ALM_ABORT);
  EXPECT_EQ(VAlarm_Status(0), ALM_ABORT);
  EXPECT_EQ(VAlarm_Get_Func_Point(0), 1);  // answered by the routine itself
  EXPECT_EQ(VAlarm_Get_Post_Type(0), 0);
  EXPECT_EQ(VAlarm_Queue_Count(), 0);
  const auto rows = log_rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].item.answer, "ALM_ABORT");
  EXPECT_EQ(rows[1].item.code_position, "PM1_PROC:proc.cpp:42");
  // The IO engine heard the post and the answer, both from the routine.
  EXPECT_EQ(vexlor::test::alarm_notices("PM1_PROC", 2), (std::vector<std::string>{"W1 0", "W2 0"}));
  VFunction_Set_Abort_Flag(1, false);
  VHub_Release();

  for (bool free : {false, true}) {
    const int before = posts_heard();
    const pid_t child = spawn_manager(free);
    ASSERT_TRUE(VHub_Initial("OPERATOR"));
    ASSERT_TRUE(managed_now(before));
    VFunction_Set_Exit_Flag(1, true);
    EXPECT_EQ(wait_child(child, 20), ALM_PAUSED);
    EXPECT_EQ(VAlarm_Status(0), ALM_PAUSED);
    EXPECT_EQ(VAlarm_Get_Post_Type(0), 0);
    EXPECT_EQ(VAlarm_Queue_Count(), 1);
    VFunction_Set_Exit_Flag(1, false);
    ASSERT_TRUE(VAlarm_Clear(0));
    VHub_Release();
  }
  EXPECT_EQ(log_rows().size(), 6u);
}

// Eight routines post and answer their own alarms (the first three left posted) and ten shared
// ones at once: the queue then holds exactly the posted alarms, the log one row per change.
TEST_F(CrossProcess, StormOfPostsAndAnswersLosesNothing) {
  // A routine follows the alarm feed through the storm, writing "<ID> <status>" per change.
  const std::string feed_file = instance_.runtime_dir() + "/feed.txt";
  const std::string stop_file = instance_.runtime_dir() + "/stop";
  const pid_t follower = spawn_child([&] {
    if (!VHub_Initial("PM1_PROC")) return 100;
    std::ofstream out(feed_file);
    vexlor::routine::AlarmFeed feed(0);
    vexlor::routine::AlarmChange change;
    for (;;) {
      const bool stopping = ::access(stop_file.c_str(), F_OK) == 0;
      if (feed.next(change, 10)) {
        out << change.id << " " << change.status << "\n";
      } else if (stopping) {
        break;
      }
    }
    VHub_Release();
    return static_cast<int>(std::min<uint64_t>(feed.missed(), 99));
  });
  std::vector<pid_t> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.push_back(spawn_child([w] {
      if (!VHub_Initial(("W" + std::to_string(w)).c_str())) return 100;
      VSystem_Set_Log_Status(LOG_DBG, LOG_STATUS_OFF);
      int failures = 0;
      for (int i = 0; i < kRounds; ++i) {
        const int j = i % kDistinct;
        const int mine = distinct(w, j);
        if (!VAlarm_Post(mine, "run")) ++failures;
        VAlarm_Post(shared(i % kShared), "shared");
        const bool last_pass = i >= kRounds - kDistinct;
        if (!(last_pass && j < 3) && !VAlarm_Handle(mine, static_cast<ALARM_STYLE>(i % 4))) {
          ++failures;
        }
        VAlarm_Handle(shared((i + 3) % kShared), ALM_CLEAR);
      }
      VHub_Release();
      return failures == 0 ? 0 : 101;
    }));
  }
  for (pid_t pid : workers) EXPECT_EQ(wait_child(pid, 600), 0);
  std::ofstream(stop_file) << "stop";
  EXPECT_EQ(wait_child(follower, 60), 0);  // nothing missed

  ASSERT_TRUE(VHub_Initial("OPERATOR"));
  // The queue: exactly the posted alarms, each once.
  const MEM_ALARM_QUEUE_STRU& queue = *MMAP_DB()->alarm_queue;
  std::set<int> queued(queue.entries, queue.entries + queue.count);
  EXPECT_EQ(queued.size(), static_cast<std::size_t>(queue.count));
  std::set<int> posted;
  for (int l = 0; l < VSystem_Get_Alarm_Count(); ++l) {
    if (VAlarm_Status(l) == ALM_PAUSED) posted.insert(l);
  }
  EXPECT_EQ(queued, posted);
  for (int w = 0; w < kWorkers; ++w) {
    for (int j = 0; j < kDistinct; ++j) EXPECT_EQ(posted.count(distinct(w, j)), j < 3 ? 1u : 0u);
  }
  std::vector<int> known;
  bool changed = false;
  ASSERT_TRUE(VAlarm_Queue_Check(known, &changed, nullptr));
  EXPECT_EQ(std::set<int>(known.begin(), known.end()), posted);

  // The log, per alarm in insertion order: post, answer, post, answer, ... and the last row is
  // a post exactly when the alarm is still posted.
  std::map<int, std::vector<bool>> rows;  // alarm ID -> is-answer per row
  for (const auto& row : log_rows()) {
    rows[std::stoi(row.item.alarm_id)].push_back(!row.item.answer.empty());
  }
  for (int w = 0; w < kWorkers; ++w) {
    for (int j = 0; j < kDistinct; ++j) {
      const auto& r = rows[60000 + 100 * w + j];
      // A post and an answer per pass; the last pass leaves the first three posted.
      const std::size_t passes = kRounds / kDistinct;
      EXPECT_EQ(r.size(), 2 * passes - (j < 3 ? 1 : 0)) << w << " " << j;
    }
  }
  // The feed gave every post and answer of the log, per alarm in the same order.
  std::map<int, std::vector<bool>> fed;
  std::ifstream in(feed_file);
  std::size_t changes = 0;
  for (int id = 0, status = 0; in >> id >> status; ++changes)
    fed[id].push_back(status != ALM_PAUSED);
  EXPECT_EQ(fed, rows);
  // A reader from the start, after the storm, finds the last 4096 changes and counts the rest.
  vexlor::routine::AlarmFeed late(0);
  vexlor::routine::AlarmChange change;
  std::size_t read = 0;
  while (late.next(change)) ++read;
  const std::size_t kept = std::min<std::size_t>(changes, 4096);
  EXPECT_EQ(read, kept);
  EXPECT_EQ(late.missed(), changes - kept);
  EXPECT_EQ(late.position(), changes);
  for (const auto& [id, answers] : rows) {
    for (std::size_t i = 0; i < answers.size(); ++i) {
      ASSERT_EQ(answers[i], i % 2 == 1) << "alarm " << id << " row " << i;
    }
    int point = -1;
    ASSERT_TRUE(VAlarm_Find_Point(&point, id));
    EXPECT_EQ(!answers.back(), posted.count(point) == 1) << id;
  }
}

}  // namespace
