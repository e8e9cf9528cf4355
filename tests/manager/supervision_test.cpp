// Supervision across manager lives: restarts under load never hang the manager and a stop
// request always ends it; a killed manager's routines are taken over by the next one (and an
// unrelated process with a reused id is not); on-demand routines left SYS_KILLED run again after
// a restart; an alarm a dead routine waited on is answered; a run inside the restart back-off is
// refused at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fifo/fifo_server.h"
#include "fifo/manager_process.h"
#include "os/local_endpoint.h"
#include "support/child.h"
#include "support/equipment.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
using vexlor::test::PrivateInstance;
using vexlor::test::wait_until;

namespace {

constexpr int kSink = 0, kAlpha = 1, kBeta = 2, kMissing = 3, kLate = 9;
constexpr int kSenders = 4;

std::string config_text() {
  const std::string routine = VEXLOR_TEST_ROUTINE;
  auto served = [&routine](const char* name, const char* extra) {
    return std::string("  { name = \"") + name + "\", command = [\"" + routine + "\", \"" + name +
           "\"]" + extra + " },\n";
  };
  std::string text = "functions = [\n";
  text += served("SINK", ", start = \"startup\"");
  text += served("ALPHA", ", start = \"startup\"");
  text += served("BETA", "");
  text += "  { name = \"MISSING\", command = [\"no_such_routine_program\"] },\n";
  for (int k = 1; k <= kSenders; ++k) text += "  { name = \"SENDER" + std::to_string(k) + "\" },\n";
  text += "  { name = \"TESTER\" },\n";
  // A startup routine whose program ends at once until the file "late-ok" exists.
  text += "  { name = \"LATE\", command = [\"sh\", \"-c\", \"test -e \\\"$VEXLOR_RUNTIME_DIR/late-ok\\\" "
          "&& exec \\\"$0\\\" LATE\", \"" + routine + "\"], start = \"startup\" },\n";
  text += "]\nalarms = [\n";
  text += "  { id = 800, name = \"SYSTEM_ALARM_800\", text = \"System alarm|系统报警\" },\n";
  text += "  { id = 3001, name = \"WAITED\", text = \"Waited on|等待\" },\n]\n";
  return text;
}

using vexlor::test::routine_state;
pid_t pid_of(int index) { return vexlor::test::routine_pid(index); }
bool ended(pid_t pid) { return pid <= 0 || ::kill(pid, 0) != 0; }

class Supervision : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vexlor::test::publish_equipment(instance_, config_text(), "supervision_test"));
  }
  void TearDown() override {
    VHub_Release();
    if (manager_.pid() > 0) manager_.stop();
    vexlor::config::remove_database(nullptr);
  }
  bool start_manager() {
    return manager_.start({"--config", vexlor::test::equipment_file(instance_)}, errors_file());
  }
  std::string errors_file() const { return instance_.runtime_dir() + "/manager.err"; }
  std::string errors() const { return vexlor::test::slurp(errors_file()); }
  // SIGTERM; the manager must be gone within 5 s whatever it was doing.
  ::testing::AssertionResult stop_within_5_s() {
    const pid_t pid = manager_.pid();
    ::kill(pid, SIGTERM);
    const auto start = std::chrono::steady_clock::now();
    const int status = vexlor::test::wait_child(pid, 5);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    manager_ = vexlor::test::ManagerProcess();  // reaped
    if (status != 0) {
      return ::testing::AssertionFailure()
             << "manager stop: status " << status << " after " << took << " s\n"
             << errors();
    }
    return ::testing::AssertionSuccess();
  }

  PrivateInstance instance_{"superv"};
  vexlor::test::ManagerProcess manager_;
};

TEST_F(Supervision, RestartsUnderFourSendersNeverHangAndEveryStopEndsTheManager) {
  // Four routines report to SINK without pause, through manager restarts and reloads of SINK.
  std::vector<pid_t> senders;
  const std::string stop_file = instance_.runtime_dir() + "/stop-senders";
  for (int k = 1; k <= kSenders; ++k) {
    senders.push_back(vexlor::test::spawn_child([k, stop_file] {
      const std::string name = "SENDER" + std::to_string(k);
      if (std::freopen("/dev/null", "w", stdout) == nullptr) return 89;  // refusals while down
      if (!VHub_Initial(name.c_str())) return 90;
      // As fast as a routine reports in earnest; SINK's event handler keeps up with it.
      while (::access(stop_file.c_str(), F_OK) != 0) {
        VFunction_Send_Event(kSink, "REPORT");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      VHub_Release();
      return 0;
    }));
  }
  const char* env = std::getenv("VEXLOR_SUPERVISION_TRIES");
  const int tries = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 8;
  ASSERT_TRUE(VHub_Initial("TESTER"));
  for (int i = 0; i < tries; ++i) {
    SCOPED_TRACE("try " + std::to_string(i));
    ASSERT_TRUE(start_manager()) << errors();
    // Bounds that leave room for one start the loaded machine could not finish within the
    // manager's 10 s: it is tried again after its 5 s back-off.
    ASSERT_TRUE(wait_until([] { return pid_of(kSink) > 0; }, 20)) << errors();
    if (i % 2 == 1) {
      // A reload ends SINK; the manager starts it afresh while the senders keep asking for it.
      const pid_t old = pid_of(kSink);
      EXPECT_TRUE(VFunction_Reload(kSink));
      EXPECT_TRUE(wait_until([old] { return pid_of(kSink) > 0 && pid_of(kSink) != old; }, 20))
          << errors();
    }
    ASSERT_TRUE(stop_within_5_s());
  }
  std::ofstream(stop_file) << "stop";
  for (pid_t pid : senders) EXPECT_EQ(vexlor::test::wait_child(pid, 30), 0);
}

TEST_F(Supervision, AKilledManagersRoutinesAreTakenOverRestartedAndStoppedByTheNextOne) {
  ASSERT_TRUE(start_manager());
  ASSERT_TRUE(VHub_Initial("TESTER"));
  ASSERT_TRUE(wait_until([] { return pid_of(kAlpha) > 0 && pid_of(kSink) > 0; }, 10));
  // BETA starts on demand, then waits for the operator's answer to alarm 3001.
  EXPECT_TRUE(VFunction_Run_Set(kBeta, "MANAGE 3001"));
  // Waiting: the IO engine has heard the post (a post whose notice the engine never got fails,
  // and the routine would not wait).
  const auto heard = [] {
    std::vector<std::string> record;
    vexlor::fifo::query_record(vexlor::os::kManagerEndpoint, 0, &record, nullptr, 10000);
    for (const std::string& line : record) {
      if (line.rfind("EngineWriteG kind=$L param=P1 command=W1 index=1 ", 0) == 0) return true;
    }
    return false;
  };
  ASSERT_TRUE(wait_until(heard, 10));
  ASSERT_EQ(VAlarm_ID_Get_Post_Type(3001), 2);
  const pid_t alpha = pid_of(kAlpha), beta = pid_of(kBeta);
  ASSERT_GT(beta, 0);

  manager_.kill9();
  EXPECT_FALSE(ended(alpha));
  EXPECT_FALSE(ended(beta));
  // A process that merely got the id of a listed child is no routine of ours.
  const pid_t stranger = vexlor::test::spawn_child([] {
    ::sleep(60);
    return 0;
  });
  {
    std::ofstream children(instance_.runtime_dir() + "/" + instance_.name() + "/manager.children",
                           std::ios::app);
    children << "MISSING " << stranger << " 0:12345\n";
  }
  ASSERT_TRUE(start_manager());
  ASSERT_TRUE(
      wait_until([beta] { return routine_state(kBeta) == std::to_string(beta) + " alive"; }, 10))
      << routine_state(kBeta);
  EXPECT_EQ(routine_state(kAlpha), std::to_string(alpha) + " alive");
  const std::string taken = errors();
  EXPECT_NE(taken.find("vexlor-manager: routine ALPHA (pid " + std::to_string(alpha) +
                       ") taken over from the previous manager\n"),
            std::string::npos)
      << taken;
  EXPECT_EQ(taken.find("MISSING (pid"), std::string::npos) << taken;

  // BETA dies while it waits: the alarm is answered for it, not left to hang.
  ::kill(beta, SIGKILL);
  EXPECT_TRUE(wait_until([] { return VAlarm_ID_Status(3001) == ALM_ABORT; }, 5));
  EXPECT_TRUE(wait_until([] { return VFunction_Get_Run_Status(kBeta) == SYS_KILLED; }, 5));
  EXPECT_EQ(VAlarm_ID_Get_Post_Type(3001), 0);
  EXPECT_EQ(VAlarm_Queue_Count(), 0);
  // ALPHA, a startup routine, dies and is started again after its back-off.
  ::kill(alpha, SIGKILL);
  EXPECT_TRUE(wait_until([alpha] { return pid_of(kAlpha) > 0 && pid_of(kAlpha) != alpha; }, 10))
      << errors();
  const pid_t alpha2 = pid_of(kAlpha);
  const std::string log = errors();
  EXPECT_NE(log.find("vexlor-manager: alarm 3001 waited on by BETA: answered ALM_ABORT (the "
                     "routine ended)\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("vexlor-manager: routine ALPHA: starting it again in 1 s\n"),
            std::string::npos)
      << log;

  // The stop ends the routines taken over and restarted, and only those.
  ASSERT_TRUE(stop_within_5_s());
  EXPECT_TRUE(wait_until([&] { return ended(alpha2) && ended(pid_of(kSink)); }, 5));
  EXPECT_FALSE(ended(stranger));
  ::kill(stranger, SIGKILL);
  vexlor::test::wait_child(stranger, 5);
}

TEST_F(Supervision, AfterARestartOnDemandRoutinesRunAndRunsInsideTheBackOffAreRefusedAtOnce) {
  ASSERT_TRUE(start_manager());
  ASSERT_TRUE(VHub_Initial("TESTER"));
  EXPECT_EQ(VFunction_Run(kBeta, "STATUS 3"), SYS_SUCCESS);
  ASSERT_TRUE(stop_within_5_s());
  EXPECT_EQ(VFunction_Get_Run_Status(kBeta), SYS_KILLED);

  ASSERT_TRUE(start_manager());
  EXPECT_TRUE(wait_until([] { return VFunction_Get_Run_Status(kBeta) == SYS_AVAILABLE; }, 5));
  EXPECT_NE(errors().find("vexlor-manager: routine BETA is not running: SYS_KILLED reset to "
                          "SYS_AVAILABLE (it starts on its next run request)\n"),
            std::string::npos)
      << errors();
  // No refusal alarm: the run starts the program again.
  EXPECT_EQ(VFunction_Run(kBeta, "STATUS 3"), SYS_SUCCESS);
  EXPECT_EQ(VAlarm_ID_Status(800), ALM_CLEAR);

  // A program that cannot start puts its function into back-off; a run request that reaches
  // the manager meanwhile is refused at once, without a second start.
  vexlor::fifo::Request run;
  run.type = vexlor::fifo::RequestType::FunctionRun;
  run.function = "MISSING";
  run.param = "P";
  run.argument = "-";
  run.sender = "TESTER";
  for (const char* expected : {"routine not started", "routine not started"}) {
    vexlor::fifo::Reply reply;
    ASSERT_TRUE(
        vexlor::fifo::send_request(vexlor::os::kManagerEndpoint, run, &reply, 10000, nullptr));
    EXPECT_FALSE(reply.accepted);
    EXPECT_EQ(reply.answer, expected);
  }
  const std::string log = errors();
  const std::string line = "vexlor-manager: routine MISSING: cannot start";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find(line), log.rfind(line)) << log;
  EXPECT_EQ(VFunction_Get_Run_Status(kMissing), SYS_KILLED);
}

// A startup routine whose start failed is tried again once its back-off has passed; a
// reloaded one whose process lingers (3 s) after it stopped serving is started again once that
// process has ended.
TEST_F(Supervision, AStartupRoutineWhoseStartFailedIsTriedAgainAfterItsBackOff) {
  vexlor::test::set_env("VEXLOR_TEST_EXIT_DELAY_MS", "3000");  // for the routines it starts
  const bool started = start_manager();
  vexlor::test::set_env("VEXLOR_TEST_EXIT_DELAY_MS", nullptr);
  ASSERT_TRUE(started);
  const std::string failed = "vexlor-manager: routine LATE: \"sh\" (pid ";
  ASSERT_TRUE(wait_until([&] { return errors().find(failed) != std::string::npos; }, 10))
      << errors();
  EXPECT_NE(errors().find(") ended at once (exit status 1); marked SYS_KILLED, not started again "
                          "for 5 s\n"),
            std::string::npos)
      << errors();
  std::ofstream(instance_.runtime_dir() + "/late-ok") << "ok";
  ASSERT_TRUE(VHub_Initial("TESTER"));
  EXPECT_TRUE(wait_until([] { return pid_of(kLate) > 0; }, 15)) << errors();
  const std::string log = errors();
  EXPECT_EQ(log.find(failed), log.rfind(failed)) << log;
  EXPECT_EQ(VFunction_Get_Run_Status(kLate), SYS_AVAILABLE);

  const pid_t old = pid_of(kSink);
  ASSERT_GT(old, 0);
  EXPECT_TRUE(VFunction_Reload(kSink));
  EXPECT_TRUE(wait_until([old] { return pid_of(kSink) > 0 && pid_of(kSink) != old; }, 15))
      << errors();
  EXPECT_NE(errors().find("vexlor-manager: routine SINK (pid " + std::to_string(old) +
                          ") stopped serving; marked SYS_KILLED\n"),
            std::string::npos)
      << errors();
  EXPECT_TRUE(ended(old));
  ASSERT_TRUE(stop_within_5_s());
}

}  // namespace
