// vexlor-panel as a real child process, driven through its HTTP API: requests that must be
// refused get their 4xx with the exact reason and change nothing on the equipment; the panel
// holds the main-form slot like any main form; writes and answers are journaled.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "fifo/manager_process.h"
#include "support/instance.h"
#include "util/sql_rows.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;

namespace vexlor::test {
namespace {

constexpr char kPanel[] = VEXLOR_TOOLS_DIR "/vexlor-panel";
constexpr char kConfig[] = VEXLOR_SOURCE_DIR "/tests/panel/panel_test.toml";
constexpr char kToken[] = "s3cret-panel-token-0123";
const std::string kBearer = std::string("Bearer ") + kToken;

struct Call {
  const char* method;
  std::string path;
  std::string body;
  httplib::Headers headers;  // beside the token and JSON content type, unless replaced
  int status;
  std::string error;
};

class PanelApi : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(run_tool(VEXLOR_TOOLS_DIR "/vexlor-db", {"create", kConfig}, dir()).code, 0);
    ASSERT_TRUE(manager_.start({"--no-gui"}));
    ASSERT_TRUE(VHub_Initial("PANEL_ROUTINE"));
    setenv("VEXLOR_PANEL_TOKEN", kToken, 1);
    const std::string out = dir() + "/panel-out.txt";
    panel_ = spawn_child([&]() {
      const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, 1);
      ::execl(kPanel, kPanel, "--port", "0", static_cast<char*>(nullptr));
      return 127;
    });
    unsetenv("VEXLOR_PANEL_TOKEN");
    std::smatch m;
    std::string text;
    ASSERT_TRUE(wait_until(
        [&] {
          text = slurp(out);
          return std::regex_search(text, m, std::regex(R"(at http://127\.0\.0\.1:(\d+)/)"));
        },
        20))
        << text;
    port_ = std::stoi(m[1]);
    ASSERT_TRUE(
        wait_until([&] { return state().find("\"online\":true") != std::string::npos; }, 20));
  }
  void TearDown() override {
    if (panel_ > 0) {
      ::kill(panel_, SIGTERM);
      EXPECT_EQ(wait_child(panel_, 20), 0);
    }
    VHub_Release();
  }

  std::string dir() const { return instance_.runtime_dir(); }
  // The body of a GET with the token ("" without an answer).
  std::string get(const std::string& path) {
    auto r = httplib::Client("127.0.0.1", port_).Get(path, {{"Authorization", kBearer}});
    return r ? r->body : std::string();
  }
  std::string state() { return get("/api/state"); }
  // Sends the call; returns "<status> <error text>".
  std::string send(const Call& call) {
    httplib::Client c("127.0.0.1", port_);
    httplib::Headers h = call.headers;
    if (h.count("Authorization") == 0) h.emplace("Authorization", kBearer);
    std::string type = "application/json";
    if (auto t = h.find("Content-Type"); t != h.end()) {
      type = t->second;
      h.erase(t);
    }
    auto r = std::string(call.method) == "GET" ? c.Get(call.path, h)
                                               : c.Post(call.path, h, call.body, type);
    if (!r) return "no answer";
    const nlohmann::json body = nlohmann::json::parse(r->body, nullptr, false);
    const bool error = body.is_object() && body.size() == 1 && body.contains("error");
    return std::to_string(r->status) + " " + (error ? body["error"].get<std::string>() : "");
  }

  PrivateInstance instance_{"panel"};
  ManagerProcess manager_;
  pid_t panel_ = -1;
  int port_ = 0;
};

}  // namespace

TEST_F(PanelApi, RefusesBadRequestsChangingNothingAndJournalsWhatItDoes) {
  int alarm = -1;
  ASSERT_TRUE(VAlarm_Find_Point(&alarm, 5001));
  ASSERT_TRUE(VAlarm_Post(alarm, ""));
  const std::string answer = "/api/alarms/5001/answer";
  const httplib::Headers text_body = {{"Content-Type", "text/plain"}};
  // clang-format off
  const std::vector<Call> refused = {
      {"POST", "/api/alarms/9999/answer", R"({"choice":"RETRY"})", {}, 404,
       "no alarm with ID 9999"},
      {"POST", answer, R"({"choice":"IGNORE"})", {}, 422,
       "alarm 5001 does not offer IGNORE (offered: RETRY, ABORT)"},
      {"POST", answer, R"({"choice":"PAUSED"})", {}, 400, "unknown answer \"PAUSED\""},
      {"POST", "/api/alarms/50x1/answer", R"({"choice":"RETRY"})", {}, 400,
       "alarm ID must be a number"},
      {"POST", "/api/points/PM1.Pressure", R"({"value":"800.5"})", {}, 422,
       "cannot write \"800.5\" to PM1.Pressure: not a number in 0.00..800.00"},
      {"POST", "/api/points/PM1.Pressure", R"({"value":"1e400"})", {}, 422,
       "cannot write \"1e400\" to PM1.Pressure: not a number in 0.00..800.00"},
      {"POST", "/api/points/PM1.GateValve", R"({"value":"Ajar"})", {}, 422,
       "cannot write \"Ajar\" to PM1.GateValve: not a value in 0..1"},
      {"POST", "/api/points/PM1.Nothing", R"({"value":"1"})", {}, 404,
       "unknown point \"PM1.Nothing\""},
      {"POST", "/api/points/PM1.Pressure", R"({"value":["1"]})", {}, 400,
       "the body must be a JSON object of texts"},
      {"POST", "/api/points/PM1.Pressure", R"({"value":"1"})", text_body, 415,
       "the body must be JSON (Content-Type: application/json)"},
      {"POST", answer, R"({"choice":"RETRY"})", {{"Origin", "http://evil.example"}}, 403,
       "request from another site (http://evil.example)"},
      {"POST", answer, R"({"choice":"RETRY"})", {{"Host", "evil.example:80"}}, 403,
       "unexpected Host \"evil.example:80\""},
      {"POST", answer, R"({"choice":"RETRY"})",
       {{"Authorization", "Bearer forged-token-000000"}}, 401, "wrong access token"},
      {"GET", "/api/state?token=forged", "", {{"Authorization", ""}}, 401, "wrong access token"},
      {"GET", "/api/state", "", {{"Authorization", ""}}, 401, "access token required"},
      {"POST", answer, R"({"choice":"RETRY"})",
       {{"Authorization", kBearer.substr(0, kBearer.size() - 1)}}, 401, "wrong access token"},
      {"GET", "/api/history?since=yesterday", "", {}, 400,
       "bad time \"yesterday\" (YYYY/MM/DD HH:MM:SS or a part)"},
      {"POST", "/api/functions/PANEL_ROUTINE/launch", "{}", {}, 404,
       "no such request: POST /api/functions/PANEL_ROUTINE/launch"},
  };
  // clang-format on
  for (const Call& c : refused) {
    EXPECT_EQ(send(c), std::to_string(c.status) + " " + c.error) << c.method << " " << c.path;
  }
  // Below the levels (writes 2, routines 5) the same requests, valid now, are refused too.
  VSystem_Set_User_Level(1);
  EXPECT_EQ(send({"POST", answer, R"({"choice":"retry"})", {}, 0, ""}),
            "403 answering alarms needs user level 2");
  EXPECT_EQ(send({"POST", "/api/points/PM1.Pressure", R"({"value":"12.5"})", {}, 0, ""}),
            "403 writing points needs user level 2");
  VSystem_Set_User_Level(4);
  EXPECT_EQ(send({"POST", "/api/functions/PANEL_ROUTINE/abort", "{}", {}, 0, ""}),
            "403 abort needs user level 5");

  // Nothing changed, nothing crashed.
  EXPECT_EQ(VAlarm_Status(alarm), ALM_PAUSED);
  EXPECT_EQ(VAlarm_Queue_Count(), 1);
  EXPECT_DOUBLE_EQ(VAnalog_Read("PM1.Pressure"), 760.0);
  EXPECT_EQ(VDigital_Read("PM1.GateValve"), 0);
  EXPECT_FALSE(VFunction_Get_Abort_Flag(VFunction_Get_Point("PANEL_ROUTINE")));

  // Texts follow the equipment's language.
  VSystem_Set_Language(LANGUAGE_CHINESE);
  const std::string chinese = state();
  EXPECT_NE(chinese.find(R"("text":"腔体压力过高")"), std::string::npos) << chinese;
  EXPECT_NE(chinese.find(R"({"answer":"RETRY","caption":"重试"})"), std::string::npos) << chinese;
  VSystem_Set_Language(LANGUAGE_ENGLISH);

  // Allowed: the operator's writes land and the answer reaches the alarm.
  EXPECT_EQ(send({"POST", "/api/points/PM1.GateValve", R"({"value":"Open"})", {}, 0, ""}), "200 ");
  EXPECT_EQ(VDigital_Read("PM1.GateValve"), 1);
  EXPECT_EQ(send({"POST", answer, R"({"choice":"retry"})", {}, 0, ""}), "200 ");
  EXPECT_EQ(VAlarm_Status(alarm), ALM_RETRY);
  EXPECT_EQ(VAlarm_Queue_Count(), 0);

  // Reset: an ended routine is runnable again; a running one is refused and keeps its state.
  const int routine = VFunction_Get_Point("PANEL_ROUTINE");
  const std::string reset = "/api/functions/PANEL_ROUTINE/reset";
  VSystem_Set_User_Level(9);
  VFunction_Set_Run_Status(routine, SYS_KILLED);
  VFunction_Set_Abort_Flag(routine, true);
  VFunction_Set_Exit_Flag(routine, true);
  EXPECT_EQ(send({"POST", reset, "{}", {}, 0, ""}), "200 ");
  EXPECT_EQ(VFunction_Get_Run_Status(routine), SYS_AVAILABLE);
  EXPECT_FALSE(VFunction_Get_Abort_Flag(routine) || VFunction_Get_Exit_Flag(routine));
  VFunction_Set_Run_Status(routine, SYS_RUNNING);
  VFunction_Set_Abort_Flag(routine, true);
  EXPECT_EQ(send({"POST", reset, "{}", {}, 0, ""}),
            "409 cannot reset PANEL_ROUTINE: it is running (SYS_RUNNING)");
  EXPECT_EQ(VFunction_Get_Run_Status(routine), SYS_RUNNING);
  EXPECT_TRUE(VFunction_Get_Abort_Flag(routine));
  VFunction_Set_Run_Status(routine, SYS_AVAILABLE);

  // Numbers as read keep 15 significant digits.
  int pressure = -1;
  ASSERT_TRUE(VIO_Find_Point(&pressure, IO_A, "PM1.Pressure"));
  for (const std::string number : {"1234.56789012345", "0.000123456789012345"}) {
    ASSERT_TRUE(VAnalog_Write_Mem_Str(pressure, number.c_str()));
    const std::string points = get("/api/points?module=PM1");
    EXPECT_NE(points.find("\"raw\":" + number + ","), std::string::npos) << points;
  }

  // The alarm history, filtered by time.
  std::vector<std::string> events;
  for (const auto& h : nlohmann::json::parse(get("/api/history?since=2000-01-01T00:00")))
    events.push_back(h.at("id").get<std::string>() + " " + h.at("event").get<std::string>() + " " +
                     h.at("text").get<std::string>());
  EXPECT_EQ(events, (std::vector<std::string>{"5001 POST Chamber pressure too high",
                                              "5001 ALM_RETRY Chamber pressure too high"}));
  EXPECT_EQ(get("/api/history?until=2000/01/01"), "[]");

  // A second main form is refused while the panel runs: another panel and `vexlor gui`.
  const std::string taken = "the main form \"GUI_MAINFORM\" of instance \"" + instance_.name() +
                            "\" is already running\n";
  EXPECT_EQ(run_tool(kPanel, {"--port", "0"}, dir()).err, "vexlor-panel: " + taken);
  EXPECT_EQ(run_tool(VEXLOR_TOOLS_DIR "/vexlor", {"gui"}, dir()).err, "vexlor: " + taken);
  const ToolRun open = run_tool(kPanel, {"--listen", "0.0.0.0"}, dir());
  EXPECT_EQ(open.code, 2);
  EXPECT_EQ(open.err,
            "vexlor-panel: listening on 0.0.0.0 needs an access token (--token-file or "
            "$VEXLOR_PANEL_TOKEN)\n");

  // The journal: every write and answer that passed the door, with who asked.
  const auto rows = sql_rows(instance_.drive_root() + "/Z/Database/vexlor.db",
                             "SELECT source, action, target, value, result, address, user_name, "
                             "user_level FROM OperatorAudit ORDER BY row");
  ASSERT_EQ(rows.size(), 15u);
  using Row = std::vector<std::string>;
  EXPECT_EQ(rows[1], (Row{"panel", "answer", "5001", "IGNORE",
                          "alarm 5001 does not offer IGNORE (offered: RETRY, ABORT)", "127.0.0.1",
                          "tester", "9"}));
  EXPECT_EQ(rows[9], (Row{"panel", "set", "PM1.Pressure", "12.5",
                          "writing points needs user level 2", "127.0.0.1", "tester", "1"}));
  EXPECT_EQ(rows[12], (Row{"panel", "answer", "5001", "retry", "ok", "127.0.0.1", "tester", "4"}));
  EXPECT_EQ(rows[13],
            (Row{"panel", "reset", "PANEL_ROUTINE", "", "ok", "127.0.0.1", "tester", "9"}));
  EXPECT_EQ(rows[14], (Row{"panel", "reset", "PANEL_ROUTINE", "",
                           "cannot reset PANEL_ROUTINE: it is running (SYS_RUNNING)", "127.0.0.1",
                           "tester", "9"}));
}

// The cards of the main page from the state the page reads: one per module of the module table
// (named "LP1 (CM1)" where name and ID differ), with mode, state, wafers, posted alarms and the
// routines named after the module in words; the routines and alarms of no module on the
// "Equipment" card; the host link and the drivers.
TEST_F(PanelApi, CardsShowEachModuleItsWafersAlarmsAndRoutinesInWords) {
  auto overview = [&] { return nlohmann::json::parse(state()).at("overview"); };
  auto card = [&](const nlohmann::json& o, const std::string& label) {
    for (const auto& c : o.at("cards")) {
      if (c.at("label") == label) return c;
    }
    ADD_FAILURE() << "no card " << label << " in " << o.dump();
    return nlohmann::json::object();
  };
  auto routines = [&](const nlohmann::json& c) {
    std::vector<std::string> out;
    for (const auto& r : c.at("routines")) {
      out.push_back(r.at("name").get<std::string>() + " " + r.at("state").get<std::string>() + " " +
                    r.at("tone").get<std::string>() +
                    (r.at("resettable").get<bool>() ? " resettable" : ""));
    }
    return out;
  };
  using Texts = std::vector<std::string>;

  nlohmann::json o = overview();
  EXPECT_EQ(o.at("host"), nlohmann::json::parse(
                              R"({"configured":true,"communication":"Offline","control":null,
                                   "communicating":false,"spool":0})"));
  EXPECT_EQ(o.at("drivers"), nlohmann::json::parse(R"([{"name":"SIM_DIO","online":true},
                                                       {"name":"SIM_PM1","online":false}])"));
  Texts labels;
  for (const auto& c : o.at("cards")) labels.push_back(c.at("label"));
  EXPECT_EQ(labels, (Texts{"PM1", "LP1 (CM1)", "Equipment"}));
  nlohmann::json pm = card(o, "PM1"), lp = card(o, "LP1 (CM1)"), eq = card(o, "Equipment");
  EXPECT_EQ(pm.at("kind"), "PM");
  EXPECT_EQ(pm.at("annotation"), "Etch chamber");
  EXPECT_EQ(pm.at("state_text"), "Idle");
  EXPECT_EQ(pm.at("wafers"), nlohmann::json::array());
  EXPECT_EQ(routines(pm), (Texts{"PM1_PROCESS Idle idle resettable"}));
  EXPECT_EQ(routines(lp), (Texts{"LP1_LOAD Idle idle resettable"}));
  EXPECT_EQ(routines(eq), (Texts{"PANEL_ROUTINE Idle idle resettable"}));
  EXPECT_EQ(lp.at("module"), "CM1");
  EXPECT_EQ(lp.at("name"), "LP1");
  EXPECT_FALSE(eq.contains("mode"));

  // The scheduler's picture and the vocabulary points change what the cards say.
  ASSERT_TRUE(VSCH_Set_PM_Enable(0, true));
  ASSERT_TRUE(VSCH_Set_PM_Ready_Flag(0, true));
  ASSERT_TRUE(VSCH_Set_CM_Enable(0, false));
  ASSERT_TRUE(VSCH_Set_CM_Ready_Flag(0, false));
  VIO_Set_CTC_PMx_Wafer_Number(0, 0, 7);
  VIO_Set_CTC_CMx_Wafer_Status(0, 0, 1);  // empty
  VIO_Set_CTC_CMx_Wafer_Status(0, 1, 2);  // a wafer
  int alarm = -1;
  ASSERT_TRUE(VAlarm_Find_Point(&alarm, 1001));
  ASSERT_TRUE(VAlarm_Post(alarm, ""));
  const int process = VFunction_Get_Point("PM1_PROCESS");
  VFunction_Set_Run_Status(process, SYS_RUNNING);
  o = overview();
  pm = card(o, "PM1");
  lp = card(o, "LP1 (CM1)");
  EXPECT_EQ(pm.at("mode").get<std::string>() + " " + pm.at("state").get<std::string>(),
            "Enabled Ready");
  EXPECT_EQ(lp.at("mode").get<std::string>() + " " + lp.at("state").get<std::string>(),
            "Disabled Not ready");
  EXPECT_EQ(pm.at("wafers"), nlohmann::json::parse(R"([{"slot":"slot 1","wafer":7}])"));
  EXPECT_EQ(lp.at("wafers"), nlohmann::json::parse(R"([{"slot":"slot 2","wafer":2}])"));
  EXPECT_EQ(lp.at("alarms"),
            nlohmann::json::parse(R"([{"id":1001,"level":2,"text":"Carrier clamp failed"}])"));
  EXPECT_EQ(pm.at("alarms"), nlohmann::json::array());
  EXPECT_EQ(routines(pm), (Texts{"PM1_PROCESS Running busy"}));
  // The alarm list names the module by the same rule.
  const nlohmann::json alarms = nlohmann::json::parse(state()).at("alarms");
  ASSERT_EQ(alarms.size(), 1u);
  EXPECT_EQ(alarms[0].at("module_label"), "LP1 (CM1)");

  ASSERT_TRUE(VSCH_Set_PM_Running(0, true));
  EXPECT_EQ(card(overview(), "PM1").at("state"), "Running");
  VIO_Set_CTC_PM_PAUSE_FLAG(0, 1);
  EXPECT_EQ(card(overview(), "PM1").at("state"), "Pausing");
  VIO_Set_CTC_PM_PAUSE_FLAG(0, 2);
  EXPECT_EQ(card(overview(), "PM1").at("state"), "Paused");

  // Every run status in words, with its tone; a running routine cannot be reset.
  const std::vector<std::pair<int, std::string>> words = {
      {SYS_AVAILABLE, "Idle idle resettable"},  {SYS_RUNNING, "Running busy"},
      {SYS_WAITTING, "Waiting busy"},           {SYS_BUSY, "Busy busy resettable"},
      {SYS_SUCCESS, "Ended ok resettable"},     {SYS_SKIP, "Skipped ok resettable"},
      {SYS_ABORTED, "Aborted warn resettable"}, {SYS_ERROR, "Failed bad resettable"},
      {SYS_KILLED, "Stopped bad resettable"},   {SYS_ERRCODE3, "Failed bad resettable"},
      {42, "Unknown bad resettable"},
  };
  for (const auto& [status, word] : words) {
    VFunction_Set_Run_Status(process, static_cast<FUNC_STATUS>(status));
    EXPECT_EQ(routines(card(overview(), "PM1")), Texts{"PM1_PROCESS " + word}) << status;
  }
  VFunction_Set_Run_Status(process, SYS_AVAILABLE);
}

}  // namespace vexlor::test
