// Running, waiting, events, messages, pool and exit across real processes: vexlor-manager
// starts test_routine programs from the configuration, this process calls them as CALLER, and
// the operator answers refusal alarms from another process (the console tool).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fifo/fifo_server.h"
#include "fifo/manager_process.h"
#include "os/local_endpoint.h"
#include "support/equipment.h"
#include "util/console_sink.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
using vexlor::test::PrivateInstance;
using vexlor::test::tagged_texts;
using vexlor::test::wait_until;

namespace {

constexpr char kConsoleTool[] = VEXLOR_TOOLS_DIR "/vexlor";

// Indices: the parent chain test needs 2 -> 5 -> 7, the permission test 3 and 9.
constexpr int kAlpha = 0, kBeta = 1, kCaller = 2, kGamma = 3, kMissing = 4, kFive = 5,
              kQuick = 6, kSeven = 7, kEight = 8, kNine = 9, kVirt = 10;

std::string config_text() {
  const std::string routine = VEXLOR_TEST_ROUTINE;
  auto served = [&routine](const char* name, const char* extra = "") {
    return std::string("  { name = \"") + name + "\", command = [\"" + routine + "\", \"" + name +
           "\"]" + extra + " },\n";
  };
  std::string text = "functions = [\n";
  text += served("ALPHA", ", pool_count = 3, start = \"startup\"");
  text += served("BETA");
  text += "  { name = \"CALLER\" },\n  { name = \"GAMMA\" },\n";
  text += "  { name = \"MISSING\", command = [\"no_such_routine_program\"] },\n";
  text += served("FIVE");
  text += "  { name = \"QUICK\", command = [\"true\"] },\n";
  text += served("SEVEN");
  text += served("EIGHT");
  text += "  { name = \"NINE\" },\n  { name = \"VIRT\", virtual = true },\n]\nalarms = [\n";
  for (int id = 800; id < 805; ++id) {
    text += "  { id = " + std::to_string(id) + ", name = \"SYSTEM_ALARM_" + std::to_string(id) +
            "\", text = \"System alarm|系统报警\", choices = [[\"RETRY\", \"Retry\"], "
            "[\"IGNORE\", \"Ignore\"], [\"ABORT\", \"Abort\"]] },\n";
  }
  return text + "]\n";
}

class RunControl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vexlor::test::publish_equipment(instance_, config_text(), "run_control_test"));
    ASSERT_TRUE(manager_.start({"--config", vexlor::test::equipment_file(instance_)},
                               instance_.runtime_dir() + "/manager.err"));
    ASSERT_TRUE(VHub_Initial("CALLER"));
    ASSERT_EQ(VFunction_Get_Point(), kCaller);
    VSystem_Set_Log_Status(LOG_DBG, LOG_STATUS_BOTH);
    // ALPHA starts with the manager.
    ASSERT_TRUE(wait_until([] { return pid_of(kAlpha) > 0; }, 10));
  }

  void TearDown() override {
    VHub_Release();
    EXPECT_EQ(manager_.stop(), 0);
    vexlor::config::remove_database(nullptr);
  }

  // The serving process of a function as the manager reports it, or -1.
  static pid_t pid_of(int index) {
    char answer[64] = "";
    if (!VFIFO_Engine_Read("$F", "P9", "R1", index, "-", answer, sizeof answer)) return -1;
    return std::atoi(answer) > 0 ? std::atoi(answer) : -1;
  }

  // Answers the next posting of system alarm `id` with `answer`, from the console tool.
  std::thread answer_alarm(int id, const char* answer) {
    return std::thread([this, id, answer] {
      ASSERT_TRUE(wait_until([id] { return VAlarm_ID_Status(id) == ALM_PAUSED; }, 30));
      auto run = vexlor::test::run_tool(kConsoleTool, {"answer", std::to_string(id), answer},
                                        instance_.runtime_dir());
      EXPECT_EQ(run.code, 0) << run.out << run.err;
    });
  }

  static std::string append_of(int id) {
    int point = -1;
    char text[512] = "";
    if (VAlarm_Find_Point(&point, id)) VAlarm_Get_Append(point, LANGUAGE(0), text);
    return text;
  }
  static bool has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  std::string manager_errors() const {
    return vexlor::test::slurp(instance_.runtime_dir() + "/manager.err");
  }
  // Parameters of the runs that reached `function`'s routine, in order, from the run log the
  // test routine keeps (a run is logged when it starts, after runs queued before it).
  std::vector<std::string> runs_of(const char* function) const {
    std::istringstream in(vexlor::test::slurp(instance_.runtime_dir() + "/runs.log"));
    const std::string prefix = std::string(function) + " ";
    std::vector<std::string> params;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(prefix, 0) == 0) params.push_back(line.substr(prefix.size()));
    }
    return params;
  }
  // Whether the manager's record holds a line starting with `prefix`.
  static bool manager_got(const std::string& prefix) {
    std::vector<std::string> record;
    vexlor::fifo::query_record(vexlor::os::kManagerEndpoint, 0, &record, nullptr, 5000);
    return std::any_of(record.begin(), record.end(),
                       [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  }
  using Runs = std::vector<std::string>;

  PrivateInstance instance_{"runctl"};
  vexlor::test::ManagerProcess manager_;
};

TEST_F(RunControl, CallerFlagsParentsAndManagerAbortDecideWhetherARunIsSent) {
  struct Case {
    const char* what;
    bool own_abort, own_free, manager_abort;
    const char* parents;
    bool gamma_abort, nine_free;
    bool sent;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"own abort", true, false, false, "", false, false, false,
       {"[DBG] Vexlor::VFunction_Run_Set:BETA ABORT_FLAG = true , 运行参数:STATUS 3."}},
      {"own free ends the checks", true, true, true, "3", true, false, true,
       {"[DBG] Vexlor::VFunction_Run_Set:BETA FREE_FLAG = true , 运行参数:STATUS 3."}},
      {"aborted parent, then a free one", false, false, false, "3&9", true, true, true,
       {"[DBG] Vexlor::VFunction_Run_Set:BETA , PARENT:GAMMA ABORT_FLAG = true.",
        "[DBG] Vexlor::VFunction_Run_Set:BETA , PARENT:NINE FREE_FLAG = true."}},
      {"free parent first", false, false, true, "9&3", true, true, true,
       {"[DBG] Vexlor::VFunction_Run_Set:BETA , PARENT:NINE FREE_FLAG = true."}},
      {"aborted parent only", false, false, false, "3&9", true, false, false,
       {"[DBG] Vexlor::VFunction_Run_Set:BETA , PARENT:GAMMA ABORT_FLAG = true."}},
      {"manager abort", false, false, true, "", false, false, false,
       {"[ALM] Vexlor::VFunction_Run_Set:BETA , MANAGE_ABORT_FLAG = true. 不能运行![运行参数:STATUS "
        "3]"}},
  };
  int sent = 0;
  for (const Case& c : cases) {
    VFunction_Set_Abort_Flag(c.own_abort);
    VFunction_Set_Free_Flag(c.own_free);
    VSystem_Abort_Manager_Set(c.manager_abort);
    VFunction_Set_Parent_Points(c.parents);
    VFunction_Set_Abort_Flag(kGamma, c.gamma_abort);
    VFunction_Set_Free_Flag(kNine, c.nine_free);
    vexlor::detail::ConsoleCapture capture;
    EXPECT_EQ(VFunction_Run_Set("BETA", "STATUS 3"), c.sent) << c.what;
    if (c.sent) {
      ++sent;
      EXPECT_EQ(VFunction_Run_Wait(kBeta), SYS_SUCCESS) << c.what;
    }
    const auto lines = tagged_texts(capture);
    for (const auto& line : c.lines) EXPECT_TRUE(has(lines, line)) << c.what << ": " << line;
  }
  // A free run skips every check and marks the target free; an ordinary run clears the mark.
  VSystem_Abort_Manager_Set(true);
  VFunction_Set_Free_Flag(false);
  EXPECT_EQ(VFunction_Run_Free("BETA", "STATUS 4"), SYS_ERROR);
  EXPECT_TRUE(VFunction_Get_Free_Flag(kBeta));
  VSystem_Abort_Manager_Set(false);
  VFunction_Set_Abort_Flag(false);
  VFunction_Set_Parent_Points("");
  EXPECT_EQ(VFunction_Run(kBeta, "STATUS 105"), SYS_ERRCODE5);
  EXPECT_FALSE(VFunction_Get_Free_Flag(kBeta));
  // Runs of one routine come one after another: a refused request sent anyway would be here.
  Runs expected(sent, "STATUS 3");
  expected.insert(expected.end(), {"STATUS 4", "STATUS 105"});
  EXPECT_EQ(runs_of("BETA"), expected);

  // A virtual target is not asked at all; its stored status is the result of the wait.
  VFunction_Set_Run_Status(kVirt, SYS_SKIP);
  EXPECT_TRUE(VFunction_Run_Set(kVirt, "anything"));
  EXPECT_EQ(VFunction_Run_Wait(kVirt), SYS_SKIP);
  EXPECT_FALSE(manager_got("FunctionRun function=VIRT "));
  // One that still runs: the wait logs its LOG_VIR line once, then polls quietly until the
  // status changes.
  VSystem_Set_Log_Status(LOG_VIR, LOG_STATUS_BOTH);
  VFunction_Set_Run_Status(kVirt, SYS_RUNNING);
  {
    vexlor::detail::ConsoleCapture capture;
    std::thread ends([&] {
      wait_until([&] { return tagged_texts(capture).size() >= 2; }, 30);
      VFunction_Set_Run_Status(kVirt, SYS_ERROR);
    });
    EXPECT_EQ(VFunction_Run_Wait(kVirt), SYS_ERROR);
    ends.join();
    EXPECT_EQ(tagged_texts(capture),
              (std::vector<std::string>{
                  "[VIR] Vexlor::VFunction_Run_Wait:VIRT , VIRTUAL_FLAG = true 忽略等待, return "
                  "SYS_RUNNING.",
                  "[ERR]  调VIRT 出现异常 等待结果不应该是SYS_RUNNING状态,进入轮询等待..."}));
  }
  VSystem_Set_Log_Status(LOG_VIR, LOG_STATUS_OFF);
  // A process attached under the function's name that does not serve it (this one) passes the
  // run on to the manager instead of swallowing it.
  EXPECT_TRUE(VFunction_Run_Set(kCaller, "SELF"));
  EXPECT_TRUE(manager_got("FunctionRun function=CALLER param=SELF argument=2 sender=CALLER"));
}

TEST_F(RunControl, ABusyTargetRetriesFiveTimesThenTheOperatorDecides) {
  // The main form (the manager's stand-in) is up, so refusals reach it as messages.
  VFunction_Set_Run_Status(VSystem_Get_Function_Count(), SYS_RUNNING);
  ASSERT_TRUE(VFunction_Run_Set(kAlpha, "SLEEP 60"));
  ASSERT_EQ(VFunction_Get_Run_Status(kAlpha), SYS_RUNNING);
  {
    vexlor::detail::ConsoleCapture capture;
    std::thread operator_ = answer_alarm(800, "abort");
    EXPECT_FALSE(VFunction_Run_Set(kAlpha, "SECOND"));
    operator_.join();
    std::vector<std::string> expected;
    for (int i = 1; i <= 5; ++i) {
      expected.push_back("ALPHA已处于SYS_RUNNING运行状态,延时1秒.重试:" + std::to_string(i) + "/5");
    }
    expected.push_back("[ERR] ALPHA已处于SYS_RUNNING运行状态,不能调用.[运行参数:SECOND]");
    std::vector<std::string> lines;
    for (const auto& l : tagged_texts(capture)) {
      if (l.rfind("[ALM]", 0) != 0 && l.rfind("[DBG]", 0) != 0) lines.push_back(l);
    }
    EXPECT_EQ(lines, expected);
  }
  EXPECT_EQ(append_of(800), "CALLER不能调用ALPHA 已是SYS_RUNNING运行状态");

  // Timed: Retry asks again after the period, Ignore sends the request although ALPHA runs.
  std::thread operator_ = std::thread([this] {
    answer_alarm(800, "retry").join();
    answer_alarm(800, "ignore").join();
  });
  EXPECT_TRUE(VFunction_Run_Set(kAlpha, 0.3, "THIRD"));
  operator_.join();
  // THIRD waits in ALPHA behind the sleep; the aborted SECOND never reached it.
  VFunction_Set_Abort_Flag(kAlpha, true);
  EXPECT_TRUE(wait_until([this] { return runs_of("ALPHA").size() >= 2; }, 10));
  EXPECT_EQ(runs_of("ALPHA"), (Runs{"SLEEP 60", "THIRD"}));

  // The GUI main form was told each time.
  std::vector<std::string> gui;
  vexlor::fifo::query_record(vexlor::os::kManagerEndpoint, 0, &gui, nullptr, 5000);
  EXPECT_EQ(std::count(gui.begin(), gui.end(),
                       "GuiMainForm command=MESSAGE text=ALPHA已处于SYS_RUNNING运行状态,不能调用.["
                       "运行参数:THIRD]. sender=CALLER"),
            2);
}

TEST_F(RunControl, WaitsEndOnTimeOutAndWhenTheRoutineIsKilled) {
  ASSERT_TRUE(VFunction_Run_Set(kBeta, "SLEEP 60"));
  {
    vexlor::detail::ConsoleCapture capture;
    EXPECT_EQ(VFunction_Run_Wait(kBeta, 0.5), SYS_RUNNING);
    EXPECT_EQ(tagged_texts(capture), std::vector<std::string>{"等待超时:BETA,返回."});
  }
  EXPECT_EQ(VFunction_Run_Free(kBeta, 0.2, "NOT SENT"), SYS_ABORTED);
  EXPECT_EQ(runs_of("BETA"), Runs{"SLEEP 60"});

  // kill -9 mid-run: the wait ends long before the 60 s mutex slice. The abandoned run mutex
  // and the manager's SYS_KILLED race: either the wait sees SYS_RUNNING and polls until the
  // manager's mark, or it sees the mark and asks the operator (Ignore gives SYS_SUCCESS).
  const pid_t pid = pid_of(kBeta);
  ASSERT_GT(pid, 0);
  std::thread killer([pid] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, SIGKILL);
  });
  std::thread operator_([] {
    if (wait_until([] { return VAlarm_ID_Status(800) == ALM_PAUSED; }, 3)) {
      VAlarm_ID_Handle(800, ALM_IGNORE);
    }
  });
  vexlor::detail::ConsoleCapture capture;
  const auto start = std::chrono::steady_clock::now();
  const FUNC_STATUS status = VFunction_Run_Wait(kBeta);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  killer.join();
  operator_.join();
  EXPECT_LT(took, 10.0);
  const auto lines = tagged_texts(capture);
  if (has(lines, "[ERR]  调BETA 出现异常 等待结果不应该是SYS_RUNNING状态,进入轮询等待...")) {
    EXPECT_EQ(status, SYS_KILLED);
  } else {
    EXPECT_EQ(status, SYS_SUCCESS);
    EXPECT_TRUE(has(lines, "[ERR] BETA 退出状态( SYS_KILLED ) , 选择 ALM_IGNORE , "
                           "返回SYS_SUCCESS.(3) [代码行:Vexlor::VFunction_Run_Wait:N]"));
  }
  EXPECT_EQ(VFunction_Get_Run_Status(kBeta), SYS_KILLED);
  EXPECT_NE(manager_errors().find("vexlor-manager: routine BETA (pid " + std::to_string(pid) +
                                  ") ended (signal 9); marked SYS_KILLED"),
            std::string::npos)
      << manager_errors();

  // A killed function: waits ask the operator; a reload starts the routine again.
  std::thread abort_it = answer_alarm(800, "abort");
  EXPECT_EQ(VFunction_Run_Wait(kBeta), SYS_ABORTED);
  abort_it.join();
  EXPECT_TRUE(VFunction_Reload(kBeta));
  EXPECT_TRUE(wait_until([] { return VFunction_Get_Run_Status(kBeta) == SYS_AVAILABLE; }, 10));
  EXPECT_EQ(VFunction_Run(kBeta, "STATUS 3"), SYS_SUCCESS);
  EXPECT_NE(pid_of(kBeta), pid);
}

TEST_F(RunControl, ParentChainPoolRequestsAndPostedEvents) {
  // The parent chain reaches the grandchild.
  EXPECT_EQ(VFunction_Run(kFive, "CHILD SEVEN CHILD EIGHT PARENTS"), SYS_SUCCESS);
  char message[512] = "";
  EXPECT_TRUE(VFunction_Dnload_Message("EIGHT", message));
  EXPECT_STREQ(message, "parents=7&5&2 free=0");
  // A free run: the child sees its free flag; its own children see it as a free parent.
  VFunction_Set_Abort_Flag(kFive, true);
  EXPECT_EQ(VFunction_Run_Free(kFive, "PARENTS"), SYS_SUCCESS);
  EXPECT_TRUE(VFunction_Dnload_Message(kFive, message, 64));
  EXPECT_STREQ(message, "parents=2 free=1");
  VFunction_Set_Abort_Flag(kFive, false);

  // Pool requests run up to the pool count at once.
  std::vector<std::string> answers(5);
  std::vector<std::thread> callers;
  for (int i = 0; i < 5; ++i) {
    callers.emplace_back([i, &answers] { answers[i] = VFunction_Run_PoolF("ALPHA", "Q%d", i); });
  }
  for (auto& t : callers) t.join();
  int most = 0;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(answers[i].rfind("Q" + std::to_string(i) + "|busy=", 0), 0u) << answers[i];
    most = std::max(most, std::atoi(answers[i].c_str() + answers[i].find("max=") + 4));
  }
  EXPECT_EQ(most, 3);

  // The bool form hands over the queue's memory; odd texts pass unchanged.
  char* out = nullptr;
  const std::string odd = "a|b&c$1\n" + std::string(5000, 'x');
  ASSERT_TRUE(VFunction_Run_Pool(kAlpha, odd.c_str(), &out));
  EXPECT_EQ(std::string(out), odd.substr(0, 4095) + "|busy=1|max=3");
  VFunction_Relase_Mem(&out);
  EXPECT_EQ(out, nullptr);

  vexlor::detail::ConsoleCapture capture;
  EXPECT_EQ(VFunction_Run_Pool(kBeta, "Q"), "");
  EXPECT_FALSE(VFunction_Run_Pool(-1, "Q", &out));
  const auto lines = capture.console_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].source, "BETA");
  EXPECT_EQ(lines[0].text, "并发线程池配置Pool_Count = 0 , VFunction_Run_Pool 不可用");
  EXPECT_EQ(vexlor::test::without_line(lines[1].text),
            "Function Func_Point  = ERROR_IO_POINT.[代码行:Vexlor::VFunction_Run_Pool:N]");

  // Posted events are handled or cost the time-out; the handler's status is the event status.
  EXPECT_TRUE(VFunction_Post_Event(kAlpha, "HELLO"));
  EXPECT_TRUE(VFunction_Wait_Event("ALPHA"));
  EXPECT_TRUE(VFunction_Dnload_Message(kAlpha, message));
  EXPECT_STREQ(message, "event=HELLO from=2 posted=1");
  EXPECT_EQ(VFunction_Get_Event_Status(kAlpha), SYS_SUCCESS);
  EXPECT_TRUE(VFunction_Post_Event(kAlpha, "STATUS 104"));
  EXPECT_TRUE(VFunction_Wait_Event(kAlpha));
  EXPECT_EQ(VFunction_Get_Event_Status(kAlpha), SYS_ERRCODE4);
  EXPECT_TRUE(VFunction_Send_EventF(kAlpha, "S%d", 1));
  EXPECT_TRUE(wait_until(
      [&] {
        return VFunction_Dnload_Message(kAlpha, message) &&
               std::strcmp(message, "event=S1 from=2 posted=0") == 0;
      },
      5));

  // A routine that never answers: 5 s, one time-out line naming the pending status.
  capture.clear();
  EXPECT_TRUE(VFunction_Post_Event(kAlpha, "SILENT"));
  EXPECT_FALSE(VFunction_Wait_Event(kAlpha));
  const auto timed_out = tagged_texts(capture);
  EXPECT_EQ(std::count(timed_out.begin(), timed_out.end(),
                       "[ALM] ALPHA等待事件超时(当前事件状态:SYS_RUNNING)[代码行:Vexlor::"
                       "VFunction_Wait_Event:N]"),
            1);
}

TEST_F(RunControl, ProgramsThatCannotServeAndExitedRoutinesAreMarkedKilled) {
  // Programs that cannot serve are marked killed once, with back-off.
  for (int index : {kMissing, kQuick}) {
    std::thread operator_ = answer_alarm(800, "abort");
    EXPECT_FALSE(VFunction_Run_Set(index, "P"));
    operator_.join();
    EXPECT_EQ(VFunction_Get_Run_Status(index), SYS_KILLED);
    // Killed now: the next request is refused before it is sent.
    operator_ = answer_alarm(800, "ignore");
    EXPECT_TRUE(VFunction_Run_Set(index, "P"));
    operator_.join();
  }
  EXPECT_EQ(append_of(800), "CALLER不能调用QUICK 已是SYS_KILLED退出状态");
  const std::string errors = manager_errors();
  const std::string missing =
      "vexlor-manager: routine MISSING: cannot start \"no_such_routine_program\": No such file or "
      "directory; marked SYS_KILLED, not started again for 5 s\n";
  EXPECT_NE(errors.find(missing), std::string::npos) << errors;
  EXPECT_EQ(errors.find(missing), errors.rfind(missing)) << errors;
  EXPECT_NE(errors.find("vexlor-manager: routine QUICK: \"true\" (pid "), std::string::npos);
  EXPECT_NE(errors.find(") ended at once (exit status 0); marked SYS_KILLED, not started again "
                        "for 5 s\n"),
            std::string::npos)
      << errors;

  // Exit tells a live routine and marks one without process.
  const pid_t alpha = pid_of(kAlpha);
  vexlor::detail::ConsoleCapture capture;
  EXPECT_TRUE(VFunction_Exit(kAlpha));
  EXPECT_TRUE(wait_until([] { return VFunction_Get_Run_Status(kAlpha) == SYS_KILLED; }, 5));
  EXPECT_TRUE(wait_until([alpha] { return ::kill(alpha, 0) != 0; }, 5));
  EXPECT_TRUE(VFunction_Exit(kAlpha));
  EXPECT_TRUE(VFunction_Exit(kGamma));
  EXPECT_EQ(VFunction_Get_Run_Status(kGamma), SYS_KILLED);
  // Events to an exited function are dropped as delivered.
  EXPECT_TRUE(VFunction_Send_Event(kGamma, "LATE"));
  EXPECT_EQ(tagged_texts(capture), (std::vector<std::string>{
                                "Vexlor::VFunction_Exit:ALPHA 已处于退出状态1(状态为:SYS_KILLED)",
                                "Vexlor::VFunction_Exit:GAMMA 已处于退出状态2(互斥锁不存在)",
                                "[ERR] Vexlor::VFunction_Send_Event:GAMMA 退出状态( SYS_KILLED ) , "
                                "忽略消息:LATE,  返回 true."}));
}

TEST_F(RunControl, MalformedRequestsNeverCrashEitherSide) {
  using vexlor::fifo::Request;
  using vexlor::fifo::RequestType;
  const std::string alpha = vexlor::os::routine_endpoint("ALPHA");
  for (RequestType type : {RequestType::FunctionRun, RequestType::PostEvent, RequestType::Pool,
                           RequestType::Dnload, RequestType::SendEvent}) {
    for (const char* argument : {"", "&&&", "x&-5&99999999&", "-99999999"}) {
      Request r;
      r.type = type;
      r.function = "ALPHA";
      r.param = "CHILD";  // a run without its target
      r.argument = argument;
      for (const std::string& endpoint : {std::string(vexlor::os::kManagerEndpoint), alpha}) {
        vexlor::fifo::Reply reply;
        EXPECT_TRUE(vexlor::fifo::send_request(endpoint, r, &reply, 5000, nullptr))
            << vexlor::fifo::describe(r) << " to " << endpoint;
      }
    }
  }
  EXPECT_TRUE(wait_until([] { return VFunction_Get_Run_Status(kAlpha) != SYS_RUNNING; }, 10));
  EXPECT_EQ(VFunction_Run(kAlpha, "STATUS 3"), SYS_SUCCESS);
  EXPECT_GT(pid_of(kAlpha), 0);
  EXPECT_EQ(VFunction_Run_Set(kAlpha, nullptr), true);
  EXPECT_EQ(VFunction_Run_Wait(kAlpha), SYS_SUCCESS);
  EXPECT_FALSE(VFunction_Run_SetF("NO_SUCH_FUNCTION", "%s", "x"));
  EXPECT_EQ(VFunction_RunF(kAlpha, nullptr), SYS_SUCCESS);
}

}  // namespace
