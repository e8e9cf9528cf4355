// The operator console `vexlor` as a real child process against a private equipment: each
// subcommand as text and JSON, and the exit status and error line of bad usage and unknown names.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "config/builder.h"
#include "config/loader.h"
#include "db/attach_registry.h"
#include "fifo/manager_process.h"
#include "os/instance.h"
#include "support/forked_child.h"
#include "support/instance.h"
#include "vexlor/vexlor.h"

namespace nlohmann {
// Failures print the document, not its elements one by one.
inline void PrintTo(const json& j, std::ostream* os) { *os << j.dump(); }
}  // namespace nlohmann

namespace vexlor::test {
namespace {

using Json = nlohmann::json;
using Texts = std::vector<std::string>;

// The fields `names` of `j`, in that order (each must be there; "/a/b" is a JSON pointer).
Json fields(const Json& j, std::initializer_list<const char*> names) {
  Json out = Json::array();
  for (const char* name : names)
    out.push_back(name[0] == '/' ? j.at(Json::json_pointer(name)) : j.at(name));
  return out;
}

// The words of a command line (no argument here holds a blank).
Texts words(const std::string& line) {
  std::istringstream in(line);
  return Texts(std::istream_iterator<std::string>(in), {});
}

// Exactly one JSON document (the parser also refuses raw control characters), whose \u escapes
// are of control characters only: the console prints every other character as UTF-8.
Json parse_json(const std::string& text) {
  static const std::regex non_ascii_escape(R"((^|[^\\])(\\\\)*\\u(?!00[0-7]))");
  EXPECT_FALSE(std::regex_search(text, non_ascii_escape)) << text;
  Json out = Json::parse(text, nullptr, false);
  EXPECT_FALSE(out.is_discarded()) << "not one JSON document: " << text;
  return out;
}

// Waits until a process attached to the instance's database as `routine`.
bool attached(const std::string& routine) {
  return wait_until(
      [&] {
        for (const auto& p : detail::attached_processes(os::instance_dir()))
          if (p.routine == routine) return true;
        return false;
      },
      30);
}

class Console : public ::testing::Test {
 protected:
  static constexpr int kValve = 0, kCount = 1;  // digital points

  void SetUp() override {
    const std::string path = instance_.runtime_dir() + "/console.toml";
    std::ofstream(path) << R"(
modules = [ { id = "PM1", kind = "PM", side = 0, alarm_base = 5, annotation = "Etch chamber|刻蚀腔" } ]
drivers = [ { name = "DIO", type = 1 }, { name = "DEAD", type = 2, offline = true } ]
enums = [ { name = "Valve", items = [["Close|关闭", 0], ["Open|打开", 1]] } ]
digital = [
  { name = "PM1.Valve", enum = "Valve", input_driver = "DIO", output_driver = "DIO" },
  { name = "PM1.Count", max = 100, unit = "pcs" },
  { name = "PM1.Dead", input_driver = "DEAD" },
  { name = "CTC.Language" },
]
analog = [ { name = "PM1.Pressure", init = 12.5, decimal = 2, min = 0, max = 1000, unit = "Torr" } ]
string = [ { name = "PM1.Recipe", init = "ETCH \"A\"\\B\tC\u0001 刻蚀" } ]
functions = [ { name = "PM1_PROC" }, { name = "TM1_MOVE", virtual = true } ]
alarms = [
  { id = 5001, module = "PM1", level = 1, name = "PM1_VALVE_FAIL", text = "Valve did not open|阀门未打开", choices = [["RETRY", "Retry|重试"], ["ABORT", "Abort|中止"]] },
  { id = 5002, level = 3, name = "PM1_LEAK", text = "Leak rate high|泄漏率高" },
  { id = 800, name = "SYSTEM_ALARM_800", text = "Refused|拒绝", choices = [["RETRY", "Retry"], ["IGNORE", "Ignore"], ["ABORT", "Abort"]] },
]
)";
    std::string error;
    ASSERT_TRUE(config::load_configuration(path, b_, &error, nullptr)) << error;
    ASSERT_TRUE(b_.publish(true, "console_test", &error)) << error;
    ASSERT_TRUE(Vexlor::VHub_Initial("PM1_PROC"));
  }
  void TearDown() override { Vexlor::VHub_Release(); }

  ToolRun vexlor(const std::vector<std::string>& args) {
    return run_tool(VEXLOR_TOOLS_DIR "/vexlor", args, instance_.runtime_dir());
  }
  // `vexlor --json ARGS...`: exit status 0 and one JSON document.
  Json vexlor_json(std::vector<std::string> args) {
    args.insert(args.begin(), "--json");
    const ToolRun run = vexlor(args);
    EXPECT_EQ(run.code, 0) << run.err;
    return parse_json(run.out);
  }
  // Exit status 0 and exactly `out` on stdout.
  void expect_ok(const ToolRun& run, const std::string& out) {
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, out);
  }
  // One error line "vexlor: ..." and the exit status, nothing on stdout.
  void expect_error(const ToolRun& run, int status, const std::string& line) {
    EXPECT_EQ(run.code, status);
    EXPECT_EQ(run.err, "vexlor: " + line + "\n");
    EXPECT_EQ(run.out, "");
  }
  // Each call (its words, as on a command line) refused with its status and error line.
  void expect_errors(const std::vector<std::tuple<std::string, int, std::string>>& calls) {
    for (const auto& [command, status, line] : calls) {
      SCOPED_TRACE(line);
      expect_error(vexlor(words(command)), status, line);
    }
  }

  PrivateInstance instance_{"console"};
  config::DatabaseBuilder b_;
};

TEST_F(Console, PointsListShowsValuesUnitsAndStatusAsTextAndJson) {
  expect_ok(vexlor({"points", "count"}),
            "NAME       KIND     VALUE  UNIT  STATUS\n"
            "PM1.Count  digital  0      pcs   ok\n");

  const Json rows = vexlor_json({"points"});
  ASSERT_EQ(rows.size(), 6u);
  // The enumeration text, in English; a point behind an offline driver has no value.
  EXPECT_EQ(fields(rows[0], {"name", "value", "raw"}), (Json{"PM1.Valve", "Close", 0}));
  EXPECT_EQ(fields(rows[2], {"name", "status", "value"}), (Json{"PM1.Dead", "offline", nullptr}));
  EXPECT_EQ(fields(rows[4], {"kind", "value", "unit"}), (Json{"analog", "12.50", "Torr"}));
  // Quotes, backslash, tab, a control character and Chinese survive the JSON escaping.
  EXPECT_EQ(fields(rows[5], {"kind", "value"}), (Json{"string", "ETCH \"A\"\\B\tC\x01 刻蚀"}));

  // Glob, case ignored; enumeration texts follow the equipment's language.
  Vexlor::VSystem_Set_Language(Vexlor::LANGUAGE_CHINESE);
  const Json valve = vexlor_json({"points", "pm1.v*"});
  ASSERT_EQ(valve.size(), 1u);
  EXPECT_EQ(valve[0].at("value"), "关闭");

  expect_error(vexlor({"points", "NoSuchThing"}), 1, "no point matches \"NoSuchThing\"");
}

TEST_F(Console, InfoGetAndSetGoThroughTheByNameAccess) {
  // `info`: everything about a point of each kind.
  const std::pair<const char*, Texts> cases[] = {
      {"pm1.valve",
       {"name         PM1.Valve\n", "kind         digital point 0\n",
        "value        Close (raw 0)\n", "limits       0..1\n",
        "enumeration  Valve: 0 Close, 1 Open\n", "input        DIO (driver 0, type 1, online)\n"}},
      {"PM1.Pressure",
       {"value        12.50 Torr (raw 12.5)\n", "limits       0.00..1000.00\n", "decimals     2\n",
        "unit         Torr\n", "input        -\n", "initial      12.50\n"}},
      {"PM1.Dead", {"status       offline\n", "input        DEAD (driver 1, type 2, offline)\n"}},
      {"PM1.Recipe",
       {"kind         string point 0\n", "capacity     1023 bytes\n",
        "value        \"ETCH \\\"A\\\"\\\\B\\tC\\x01 刻蚀\"\n"}},
  };
  for (const auto& [name, lines] : cases) {
    const ToolRun run = vexlor({"info", name});
    EXPECT_EQ(run.code, 0) << run.err;
    for (const std::string& line : lines)
      EXPECT_NE(run.out.find(line), std::string::npos) << name << ": " << line << run.out;
  }
  const Json valve = vexlor_json({"info", "PM1.Valve"});
  EXPECT_EQ(fields(valve, {"/enumeration/items/1/text", "/enumeration/items/1/number",
                           "/input_driver/name", "/input_driver/state"}),
            (Json{"Open", 1, "DIO", "online"}));
  EXPECT_EQ(fields(vexlor_json({"info", "PM1.Recipe"}), {"capacity", "min", "enumeration"}),
            (Json{1023, nullptr, nullptr}));
  expect_error(vexlor({"info", "PM9.None"}), 1, "unknown point \"PM9.None\"");

  // As `points` shows it, or the number as read.
  expect_ok(vexlor({"points", "get", "PM1.Pressure"}), "12.50 Torr\n");
  expect_ok(vexlor({"get", "PM1.Pressure", "--raw"}), "12.5\n");

  expect_ok(vexlor({"points", "set", "pm1.valve", "Open"}), "PM1.Valve = Open\n");
  EXPECT_EQ(Vexlor::VDigital_Read_Mem(kValve), 1);
  const Json got = vexlor_json({"points", "get", "PM1.Valve"});
  EXPECT_EQ(fields(got, {"value", "raw"}), (Json{"Open", 1}));
  expect_ok(vexlor({"points", "set", "PM1.Pressure", "7.25"}), "PM1.Pressure = 7.25 Torr\n");
  EXPECT_DOUBLE_EQ(Vexlor::VAnalog_Read_Mem(0), 7.25);
  // Numbers as read keep 15 significant digits, in JSON too.
  for (const std::string number : {"1234.56789012345", "0.000123456789012345"}) {
    ASSERT_TRUE(Vexlor::VAnalog_Write_Mem_Str(0, number.c_str()));
    expect_ok(vexlor({"get", "PM1.Pressure", "--raw"}), number + "\n");
    const ToolRun run = vexlor({"--json", "get", "PM1.Pressure"});
    EXPECT_NE(run.out.find("\"raw\":" + number + ","), std::string::npos) << run.out;
  }

  expect_errors(
      {{"points set PM1.Count 500", 1, "cannot write \"500\" to PM1.Count: out of range 0..100"},
       {"set PM1.Pressure 1000.5", 1,
        "cannot write \"1000.5\" to PM1.Pressure: out of range 0.00..1000.00"},
       {"points set PM1.Valve Half", 1,
        "cannot write \"Half\" to PM1.Valve: not one of Close, Open or a number in 0..1"},
       {"points set PM1.Pressure high", 1,
        "cannot write \"high\" to PM1.Pressure: not a number in 0.00..1000.00"},
       {"points get PM1.Dead", 1, "cannot read PM1.Dead: input driver DEAD is offline"},
       {"points set PM9.Nothing 1", 1, "unknown point \"PM9.Nothing\""}});
  EXPECT_EQ(Vexlor::VDigital_Read_Mem(kCount), 0);
  // A string longer than the point holds is written cut, with a warning.
  const ToolRun cut = vexlor({"set", "PM1.Recipe", std::string(1500, 'x')});
  EXPECT_EQ(cut.err, "vexlor: warning: PM1.Recipe holds 1023 bytes: the value was cut from 1500\n");
  EXPECT_EQ(vexlor_json({"get", "PM1.Recipe"}).at("value"), std::string(1023, 'x'));
}

TEST_F(Console, AlarmsListAnswerAndHistory) {
  expect_ok(vexlor({"alarms"}), "no alarms posted\n");

  Vexlor::VAlarm_Post(1, "");
  Vexlor::VAlarm_Post_Here(0, "pm1_proc.cpp", 42, "stuck|卡住");
  const Json alarms = vexlor_json({"alarms"});
  ASSERT_EQ(alarms.size(), 2u);  // queue order: first posted first
  EXPECT_EQ(fields(alarms[0], {"id", "module", "choices"}), (Json{5002, nullptr, Json::array()}));
  const Json& fail = alarms[1];
  EXPECT_EQ(fields(fail, {"id", "level", "module", "text", "code_position", "post_time", "status"}),
            (Json{5001, 1, "PM1", "Valve did not open(stuck)", "PM1_PROC:pm1_proc.cpp:42",
                  Vexlor::VAlarm_Get_Post_Time(0), "ALM_PAUSED"}));
  EXPECT_EQ(fail.at("choices"), Json::parse(R"([{"answer":"RETRY","caption":"Retry"},
                                                 {"answer":"ABORT","caption":"Abort"}])"));

  // The text in the system language.
  Vexlor::VSystem_Set_Language(Vexlor::LANGUAGE_CHINESE);
  ToolRun run = vexlor({"alarms"});
  EXPECT_NE(run.out.find("阀门未打开(卡住)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("RETRY,ABORT"), std::string::npos) << run.out;
  Vexlor::VSystem_Set_Language(Vexlor::LANGUAGE_ENGLISH);

  expect_errors(
      {{"alarms answer 5001 ignore", 1,
        "alarm 5001 does not offer IGNORE (offered: RETRY, ABORT; --force answers anyway)"},
       {"alarms answer 5001 later", 2,
        "unknown answer \"later\" (one of clear, retry, wait, ignore, disable, enable, stop, "
        "abort)"},
       {"alarms answer 9999 retry", 1, "no alarm with ID 9999"},
       {"alarms answer 50x1 retry", 2, "alarm ID must be a number, not \"50x1\""},
       {"alarms history --since yesterday", 2,
        "bad time \"yesterday\" for --since (YYYY/MM/DD HH:MM:SS or a leading part of it)"}});
  EXPECT_EQ(Vexlor::VAlarm_Status(0), Vexlor::ALM_PAUSED);

  // No IO engine runs here: the answer is recorded all the same, with a warning.
  run = vexlor({"alarms", "answer", "5001", "Retry"});
  expect_ok(run, "alarm 5001 answered RETRY\n");
  EXPECT_EQ(run.err,
            "vexlor: warning: the IO engine did not take the answer notice (is it running?)\n");
  EXPECT_EQ(Vexlor::VAlarm_Status(0), Vexlor::ALM_RETRY);
  EXPECT_EQ(Vexlor::VAlarm_Queue_Count(), 1);
  expect_error(vexlor({"alarms", "answer", "5001", "retry"}), 1, "alarm 5001 is not posted");

  // An alarm without choices takes any answer; ALM_ prefix and case are accepted.
  const Json answered = vexlor_json({"alarms", "answer", "5002", "alm_clear"});
  EXPECT_EQ(fields(answered, {"answer", "notified"}), (Json{"CLEAR", false}));
  EXPECT_EQ(Vexlor::VAlarm_Queue_Count(), 0);

  const Json history = vexlor_json({"alarms", "history"});
  Texts events;
  for (const Json& h : history)
    events.push_back(h.at("event").get<std::string>() + " " + h.at("id").dump());
  EXPECT_EQ(events, (Texts{"POST 5002", "POST 5001", "ALM_RETRY 5001", "ALM_CLEAR 5002"}));
  EXPECT_EQ(history[1].at("code_position"), "PM1_PROC:pm1_proc.cpp:42");

  expect_ok(vexlor({"--json", "alarms", "history", "--since", "2999-01-01"}), "[]\n");
  run = vexlor({"alarms", "history", "--since", "2000/01/01 00:00"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.rfind("TIME", 0), 0u) << run.out;
}

// The console's own words (headings, labels, sentences) follow the equipment's display
// language, which the operator switches through "CTC.Language"; names, codes and JSON do not.
TEST_F(Console, OwnWordsFollowTheDisplayLanguage) {
  Vexlor::VSystem_Set_Language(Vexlor::LANGUAGE_CHINESE);
  expect_ok(vexlor({"points", "count"}),
            "名称       类型     值  单位  状态\n"
            "PM1.Count  digital  0   pcs   ok\n");
  expect_ok(vexlor({"alarms"}), "无报警\n");
  ToolRun run = vexlor({"info", "PM1.Count"});
  EXPECT_EQ(run.code, 0) << run.err;
  for (const std::string line : {"名称         PM1.Count\n", "单位         pcs\n", "联锁         "})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
  Vexlor::VAlarm_Post(1, "");
  expect_ok(vexlor({"answer", "5002", "clear"}), "报警 5002 已应答 CLEAR\n");
  EXPECT_EQ(fields(vexlor_json({"points", "count"})[0], {"name", "kind", "status"}),
            (Json{"PM1.Count", "digital", "ok"}));

  // The operator writes the point: the next command speaks English.
  expect_ok(vexlor({"set", "CTC.Language", "0"}), "CTC.Language = 0\n");
  expect_ok(vexlor({"points", "count"}),
            "NAME       KIND     VALUE  UNIT  STATUS\n"
            "PM1.Count  digital  0      pcs   ok\n");
  expect_ok(vexlor({"alarms"}), "no alarms posted\n");
  run = vexlor({"info", "PM1.Count"});
  EXPECT_NE(run.out.find("name         PM1.Count\n"), std::string::npos) << run.out;
  Vexlor::VAlarm_Post(1, "");
  expect_ok(vexlor({"answer", "5002", "clear"}), "alarm 5002 answered CLEAR\n");
}

TEST_F(Console, FunctionsAndDrivers) {
  Vexlor::VFunction_Set_Run_Status(0, Vexlor::SYS_RUNNING);
  Vexlor::VFunction_Set_Event_Status(0, Vexlor::SYS_ERRCODE3);
  Vexlor::VFunction_Set_Abort_Flag(0, true);
  const Json functions = vexlor_json({"functions"});
  // Two configured functions, the main form in slot 2 and the console's own extra slot.
  ASSERT_EQ(functions.size(), 4u);
  // No manager runs: no process serves any function.
  EXPECT_EQ(fields(functions[0], {"run_status", "event_status", "routine", "pid", "abort", "exit"}),
            (Json{"SYS_RUNNING", "SYS_ERRCODE3", "-", nullptr, true, false}));
  EXPECT_EQ(functions[1].at("virtual"), true);
  EXPECT_EQ(functions[2].at("slot"), "main form");
  EXPECT_EQ(fields(functions[3], {"name", "slot"}), (Json{"VEXLOR_CONSOLE", "extra"}));

  // A second run takes the same extra slot again (extra slots start as SYS_KILLED).
  expect_ok(vexlor({"functions", "console"}),
            "#  NAME                           RUN         EVENT         "
            " ABORT  FREE  EXIT  VIRTUAL  SLOT   PID  ROUTINE\n"
            "3  VEXLOR_CONSOLE (this console)  SYS_KILLED  SYS_AVAILABLE "
            " -      -     -     -        extra  -    -\n");
  expect_ok(vexlor({"drivers"}),
            "#  NAME  TYPE  STATE    PARAMS\n"
            "0  DIO   1     online   0,0,0,0,0,0,0,0,0,0\n"
            "1  DEAD  2     offline  0,0,0,0,0,0,0,0,0,1\n");

  expect_ok(vexlor({"driver", "offline", "dio"}), "driver DIO is now offline\n");
  expect_ok(vexlor({"driver", "offline", "DIO"}), "driver DIO was already offline\n");
  // The point behind it now reads as offline, and writes through it are refused.
  expect_errors(
      {{"points set PM1.Valve Open", 1, "cannot write PM1.Valve: output driver DIO is offline"},
       {"driver online NOPE", 1, "unknown driver \"NOPE\""}});

  const Json state = vexlor_json({"driver", "online", "DEAD"});
  EXPECT_EQ(fields(state, {"state", "changed"}), (Json{"online", true}));
  int params[10] = {};
  Vexlor::VDriver_Get_Param(1, params);
  EXPECT_EQ(params[Vexlor::kDriverParamOffline], 0);
}

TEST_F(Console, AnEndedProgramsExtraSlotIsGivenBackWhenAllAreTaken) {
  // Eleven helper programs take the extra slots 3 to 13 (slot 2 is the main form's) and stay.
  Vexlor::VHub_Release();
  std::vector<std::unique_ptr<ForkedChild>> helpers;
  for (int k = 1; k <= 11; ++k) {
    const std::string name = "HELPER_" + std::to_string(k);
    helpers.push_back(std::make_unique<ForkedChild>([name](ChildIo& io) {
      if (!Vexlor::VHub_Initial2(name.c_str())) return io.say("no slot");
      io.say("%d", Vexlor::VFunction_Get_Point());
      if (read_line(io.from_parent, 60000) != "end") return;
      Vexlor::VFunction_Set_Abort_Flag(true);  // left behind in its slot
      Vexlor::VHub_Release();
    }));
    ASSERT_EQ(helpers.back()->read_line(), std::to_string(k + 2));
  }
  const std::string full = "cannot attach to instance \"" + instance_.name() +
                           "\": every extra routine slot of the function table is held by a "
                           "running program (see vexlor status)";
  expect_error(vexlor({"functions"}), 1, full);

  // HELPER_5 (slot 7) ends, HELPER_8 (slot 10) is killed: the library's own start-up still
  // finds no room, the console takes the first ended program's slot, as the database built it.
  ASSERT_TRUE(helpers[4]->send("end"));
  EXPECT_EQ(helpers[4]->wait_exit(), 0);
  helpers[7]->kill9();
  EXPECT_EQ(wait_child(spawn_child([] { return Vexlor::VHub_Initial2("LIB_TOOL") ? 1 : 0; }), 30),
            0);
  for (int run = 0; run < 2; ++run) {  // the second run finds its slot by name
    const Json functions = vexlor_json({"functions"});
    Json names = Json::array();
    for (const Json& f : functions) names.push_back(f.at("name"));
    EXPECT_EQ(names, (Json{"PM1_PROC", "TM1_MOVE", "GUI_MAINFORM", "HELPER_1", "HELPER_2",
                           "HELPER_3", "HELPER_4", "VEXLOR_CONSOLE", "HELPER_6", "HELPER_7",
                           "HELPER_8", "HELPER_9", "HELPER_10", "HELPER_11"}));
    ASSERT_EQ(functions.size(), 14u);
    EXPECT_EQ(fields(functions[7], {"index", "run_status", "event_status", "abort", "slot"}),
              (Json{7, "SYS_KILLED", "SYS_AVAILABLE", false, "extra"}));
  }
}

TEST_F(Console, RunTimesOutOnItsUnansweredRefusalAndResetMakesAnEndedRoutineRunnable) {
  // PM1_PROC has ended: the run raises the refusal alarm (posted through the manager, which
  // stands in for the IO engine), and nobody answers it in time.
  ManagerProcess manager;
  ASSERT_TRUE(manager.start());
  ASSERT_TRUE(attached("vexlor-manager"));
  Vexlor::VFunction_Set_Run_Status(0, Vexlor::SYS_KILLED);
  const std::string timed_out =
      "timed out after 1 s waiting for the run of PM1_PROC: alarm 800 \"Refused("
      "VEXLOR_CONSOLE不能调用PM1_PROC 已是SYS_KILLED退出状态)\" was not answered; the console "
      "answered it ABORT";
  expect_error(vexlor({"run", "--timeout", "1", "PM1_PROC", "P1"}), 3, timed_out);
  // Nothing was left behind: the alarm is answered and out of the queue.
  EXPECT_EQ(Vexlor::VAlarm_ID_Status(800), Vexlor::ALM_ABORT);
  EXPECT_EQ(Vexlor::VAlarm_Queue_Count(), 0);
  EXPECT_EQ(manager.stop(), 0);

  Vexlor::VFunction_Set_Abort_Flag(0, true);
  Vexlor::VFunction_Set_Exit_Flag(0, true);
  expect_ok(vexlor({"reset", "pm1_proc"}),
            "PM1_PROC reset: SYS_KILLED -> SYS_AVAILABLE, exit and abort flags cleared\n");
  EXPECT_EQ(Vexlor::VFunction_Get_Run_Status(0), Vexlor::SYS_AVAILABLE);
  EXPECT_FALSE(Vexlor::VFunction_Get_Abort_Flag(0) || Vexlor::VFunction_Get_Exit_Flag(0));
  for (const auto running : {Vexlor::SYS_RUNNING, Vexlor::SYS_WAITTING}) {
    Vexlor::VFunction_Set_Run_Status(0, running);
    Vexlor::VFunction_Set_Abort_Flag(0, true);
    expect_error(vexlor({"reset", "PM1_PROC"}), 1,
                 std::string("cannot reset PM1_PROC: it is running (") +
                     (running == Vexlor::SYS_RUNNING ? "SYS_RUNNING)" : "SYS_WAITTING)"));
    EXPECT_EQ(Vexlor::VFunction_Get_Run_Status(0), running);
    EXPECT_TRUE(Vexlor::VFunction_Get_Abort_Flag(0));
  }
  Vexlor::VFunction_Set_Run_Status(0, Vexlor::SYS_ERROR);
  EXPECT_EQ(fields(vexlor_json({"reset", "PM1_PROC"}), {"index", "name", "was", "run_status"}),
            (Json{0, "PM1_PROC", "SYS_ERROR", "SYS_AVAILABLE"}));
  EXPECT_EQ(Vexlor::VFunction_Get_Run_Status(0), Vexlor::SYS_AVAILABLE);
  expect_errors({{"reset NOPE", 1, "no function \"NOPE\""},
                 {"run --timeout 0 PM1_PROC", 2,
                  "--timeout: \"0\" is not a number of seconds above 0 (see vexlor run --help)"}});

  Json journal = Json::array();
  const Json audit = vexlor_json({"audit"});
  for (const Json& r : audit) journal.push_back(fields(r, {"action", "value", "result"}));
  // The run's row has the time it was asked for and, a second later at least, its end.
  ASSERT_FALSE(audit.empty());
  EXPECT_LT(audit[0].at("time").get<std::string>(), audit[0].at("ended").get<std::string>());
  EXPECT_EQ(journal, (Json{{"run", "P1", timed_out},
                           {"reset", "", "ok"},
                           {"reset", "", "cannot reset PM1_PROC: it is running (SYS_RUNNING)"},
                           {"reset", "", "cannot reset PM1_PROC: it is running (SYS_WAITTING)"},
                           {"reset", "", "ok"}}));
}

TEST_F(Console, WatchPrintsBlocksOrJsonLinesAndStopsWhenItsDatabaseIsReplaced) {
  Vexlor::VAlarm_Post(0, "");
  ToolRun run =
      vexlor({"watch", "--points", "PM1.Count, PM1.Press*", "--interval", "0.05", "--count", "2"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.find("\x1b["), std::string::npos);  // no terminal control on a file
  // Two blocks, each with the alarm and both points.
  for (const char* line : {"ALARMS (1)\n", "PM1.Count     digital  0      pcs   ok\n",
                           "PM1.Pressure  analog   12.50  Torr  ok\n"}) {
    std::size_t seen = 0;
    for (auto at = run.out.find(line); at != std::string::npos; at = run.out.find(line, at + 1))
      ++seen;
    EXPECT_EQ(seen, 2u) << line << run.out;
  }

  run = vexlor({"--json", "watch", "--points", "PM1.Valve", "--interval", "0.05", "--count", "3"});
  ASSERT_EQ(run.code, 0) << run.err;
  std::istringstream lines(run.out);
  int documents = 0;
  for (std::string line; std::getline(lines, line); ++documents) {
    const Json frame = parse_json(line);
    EXPECT_EQ(frame.at("instance"), instance_.name());
    ASSERT_EQ(frame.at("alarms").size(), 1u);
    EXPECT_EQ(frame["alarms"][0].at("id"), 5001);
    ASSERT_EQ(frame.at("points").size(), 1u);
    EXPECT_EQ(frame["points"][0].at("value"), "Close");
  }
  EXPECT_EQ(documents, 3);

  expect_error(vexlor({"watch", "--points", "PM1.Count,Nope", "--count", "1"}), 1,
               "unknown point \"Nope\"");

  // One line when another process replaces the database once the console is attached to it.
  // This process lets go of the equipment first, so the forked child inherits no lock one of
  // the library's threads might hold at the fork.
  Vexlor::VHub_Release();
  const pid_t replacer = spawn_child([this] {
    std::string error;
    return attached("VEXLOR_CONSOLE") && b_.publish(true, "replaced", &error) ? 0 : 1;
  });
  run = vexlor({"watch", "--points", "PM1.Count", "--interval", "0.05", "--count", "600"});
  EXPECT_EQ(wait_child(replacer, 30), 0);
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "vexlor: the database of instance \"" + instance_.name() +
                         "\" was replaced or removed (vexlor-db); these values are no longer the "
                         "equipment's: start the console again\n");
}

TEST_F(Console, BadUsageAndMissingDatabaseGiveOneLineAndTheirStatus) {
  const std::string other = instance_.name() + "_none";
  expect_errors(
      {{"pointz", 2, "unknown command \"pointz\" (see vexlor --help)"},
       {"monitor PM1.Count --count -1", 2,
        "--count: \"-1\" is not a count (a whole number, 0 or more) (see vexlor monitor --help)"},
       {"points get", 2, "NAME is required (see vexlor points get --help)"},
       // `points` would take a third word as its pattern, the top level has no place for it.
       {"points set PM1.Count 1 2", 2,
        "too many words for set: a value with blanks goes in quotes, as in vexlor points set "
        "PM1.Count \"1 2\" (see vexlor points set --help)"},
       {"points set PM1.Recipe ETCH A B", 2,
        "too many words for set: a value with blanks goes in quotes, as in vexlor points set "
        "PM1.Recipe \"ETCH A B\" (see vexlor points set --help)"},
       {"set PM1.Count 1 2", 2,
        "too many words for set: a value with blanks goes in quotes, as in vexlor set PM1.Count "
        "\"1 2\" (see vexlor set --help)"},
       {"points get PM1.Count 2", 2, "unexpected argument \"2\" (see vexlor points get --help)"},
       {"--instance " + other + " points", 1,
        "no database in instance \"" + other + "\" (create one with vexlor-db)"}});
  EXPECT_EQ(Vexlor::VDigital_Read_Mem(kCount), 0);  // nothing was written
  EXPECT_EQ(Vexlor::VString_Read_Mem(0), std::string("ETCH \"A\"\\B\tC\x01 刻蚀"));
  for (const char* command : {"", "points set PM1.Count", "watch --interval 0"}) {
    const ToolRun run = vexlor(words(command));
    EXPECT_EQ(run.code, 2) << run.err;
    EXPECT_EQ(run.err.rfind("vexlor: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(Console, StatusShowsTheManagerNeverStartedUpAndKilled) {
  // A simulated function still running with no manager to play it: it died mid-run.
  Vexlor::VFunction_Set_Run_Status(1, Vexlor::SYS_RUNNING);
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "valve %s stuck", "V1");
  Json status = vexlor_json({"status"});
  EXPECT_EQ(fields(status, {"/instance", "/database/state", "/database/source", "/manager/state",
                            "/alarms/posted"}),
            (Json{instance_.name(), "valid", "console_test", "never started", 0}));
  EXPECT_TRUE(status["database"].at("size").is_number());
  const Json& routines = status.at("routines");
  ASSERT_GE(routines.size(), 4u);
  EXPECT_EQ(fields(routines[0], {"name", "process", "pids", "/last_error/text"}),
            (Json{"PM1_PROC", "alive", Json::array({::getpid()}), "valve V1 stuck"}));
  EXPECT_EQ(fields(routines[1], {"name", "run_status", "process"}),
            (Json{"TM1_MOVE", "SYS_RUNNING", "gone (died mid-run)"}));

  ManagerProcess manager;
  ASSERT_TRUE(manager.start());
  ASSERT_TRUE(attached("vexlor-manager"));  // just after its endpoints answer
  status = vexlor_json({"status"});
  EXPECT_EQ(fields(status, {"/manager/state", "/manager/pid", "/routines/1/process"}),
            (Json{"running", manager.pid(), "virtual"}));
  // The manager maps the database more than once: still one process, listed once.
  Json others = Json::array();
  for (const Json& r : status.at("routines"))
    if (r.at("index").is_null()) others.push_back(fields(r, {"name", "pids"}));
  EXPECT_EQ(others, Json::array({Json::array({"vexlor-manager", Json::array({manager.pid()})})}));

  // A routine started by hand serves PM1_PROC (this process lets go of the name first): the
  // manager's word for it holds a blank.
  Vexlor::VHub_Release();
  const pid_t by_hand = spawn_child([] {
    ::execl(VEXLOR_TEST_ROUTINE, VEXLOR_TEST_ROUTINE, "PM1_PROC", static_cast<char*>(nullptr));
    return 127;
  });
  struct Reap {
    pid_t pid;
    ~Reap() {
      if (pid > 0 && ::kill(pid, SIGKILL) == 0) wait_child(pid, 30);
    }
  } reap{by_hand};
  const std::string pid = std::to_string(by_hand);
  // The manager finds it within half a second of serving.
  ASSERT_TRUE(wait_until(
      [&] {
        const ToolRun run = vexlor({"--json", "functions", "PM1_PROC"});
        return run.code == 0 && run.out.find("\"routine\":\"alive") != std::string::npos;
      },
      30));
  status = vexlor_json({"status"});
  EXPECT_EQ(fields(status.at("routines")[0], {"name", "process", "pids"}),
            (Json{"PM1_PROC", "alive(by hand)", Json::array({by_hand})}));
  EXPECT_EQ(fields(vexlor_json({"functions", "PM1_PROC"})[0], {"name", "pid", "routine"}),
            (Json{"PM1_PROC", by_hand, "alive(by hand)"}));
  // The PID column is as wide as its widest cell.
  const std::string pad(pid.size() > 3 ? pid.size() - 3 : 0, ' ');
  const std::string pid_cell = pid + std::string(pid.size() < 3 ? 3 - pid.size() : 0, ' ');
  expect_ok(
      vexlor({"functions", "PM1_PROC"}),
      "#  NAME      RUN            EVENT          ABORT  FREE  EXIT  VIRTUAL  SLOT        "
      "PID" +
          pad +
          "  ROUTINE\n"
          "0  PM1_PROC  SYS_AVAILABLE  SYS_AVAILABLE  -      -     -     -        configured  " +
          pid_cell + "  alive(by hand)\n");
  reap.pid = -1;
  ::kill(by_hand, SIGKILL);
  EXPECT_EQ(wait_child(by_hand, 30), 128 + SIGKILL);
  ASSERT_TRUE(Vexlor::VHub_Initial("PM1_PROC"));

  manager.kill9();
  const ToolRun run = vexlor({"status"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(
      run.out.find("\nmanager   NOT RUNNING: it ended without closing its endpoint (killed or "
                   "crashed); last record "),
      std::string::npos)
      << run.out;
  EXPECT_TRUE(std::regex_search(
      run.out, std::regex("\n1 +TM1_MOVE +SYS_RUNNING +- +gone \\(died mid-run\\) +-\n")))
      << run.out;

  // Without a database the status still says what there is.
  status = vexlor_json({"--instance", instance_.name() + "_none", "status"});
  EXPECT_EQ(fields(status, {"/database/state", "/manager/state", "alarms"}),
            (Json{"none", "never started", nullptr}));
}

TEST_F(Console, MonitorPrintsExactlyTheChangesAnotherProcessMakes) {
  // The writer makes each change once the monitor has shown the one before.
  const std::string shown = instance_.runtime_dir() + "/tool-stdout.txt";
  Vexlor::VHub_Release();
  const pid_t writer = spawn_child([&shown] {
    auto seen = [&shown](const std::string& text) {
      return wait_until([&] { return slurp(shown).find(text) != std::string::npos; }, 30);
    };
    if (!Vexlor::VHub_Initial("PM1_PROC") || !seen("  PM1.Pressure  12.50 Torr\n")) return 1;
    const char* const steps[][3] = {{"PM1.Count", "5", "  PM1.Count  5 pcs\n"},
                                    {"PM1.Pressure", "7.25", "  PM1.Pressure  7.25 Torr\n"},
                                    {"PM1.Count", "6", "  PM1.Count  6 pcs\n"}};
    for (const auto& step : steps) {
      if (!Vexlor::VIO_Write(step[0], step[1], true) || !seen(step[2])) return 2;
    }
    Vexlor::VHub_Release();
    return 0;
  });
  const ToolRun run =
      vexlor({"monitor", "PM1.Count", "pm1.press*", "--count", "3", "--interval", "0.02"});
  EXPECT_EQ(wait_child(writer, 30), 0);
  ASSERT_TRUE(Vexlor::VHub_Initial("PM1_PROC"));
  ASSERT_EQ(run.code, 0) << run.err;
  // Each line: the time of the change, then the point as `points` shows it.
  std::istringstream lines(run.out);
  std::string changes;
  const std::regex stamp(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}  )");
  for (std::string line; std::getline(lines, line); changes += line.substr(25) + "\n")
    ASSERT_TRUE(std::regex_match(line.substr(0, 25), stamp)) << line;
  EXPECT_EQ(changes,
            "PM1.Count  0 pcs\nPM1.Pressure  12.50 Torr\n"
            "PM1.Count  5 pcs\nPM1.Pressure  7.25 Torr\nPM1.Count  6 pcs\n");
}

TEST_F(Console, SetDriverAndAnswerAreJournaledWithTheEquipmentsUser) {
  // A file journaled before rows had an end time: the table gets the column, its row reads "".
  const std::string folder = instance_.drive_root() + "/Z/Database";
  std::filesystem::create_directories(folder);
  sqlite3* file = nullptr;
  ASSERT_EQ(sqlite3_open((folder + "/vexlor.db").c_str(), &file), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(file,
                         "CREATE TABLE OperatorAudit(row INTEGER PRIMARY KEY AUTOINCREMENT, "
                         "time TEXT NOT NULL, source TEXT NOT NULL, action TEXT NOT NULL, "
                         "target TEXT NOT NULL, value TEXT NOT NULL, result TEXT NOT NULL, "
                         "user_name TEXT NOT NULL, user_level INTEGER NOT NULL, "
                         "host_user TEXT NOT NULL, pid INTEGER NOT NULL, address TEXT NOT NULL);"
                         "INSERT INTO OperatorAudit(time, source, action, target, value, result, "
                         "user_name, user_level, host_user, pid, address) VALUES('2026/01/02 "
                         "03:04:05', 'console', 'set', 'PM1.Count', '3', 'ok', 'alice', 3, "
                         "'bob', 42, '');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(file);
  const ToolRun old = vexlor({"audit"});
  EXPECT_EQ(old.code, 0) << old.err;
  EXPECT_TRUE(std::regex_search(
      old.out, std::regex("^TIME +ENDED +SOURCE +ACTION +TARGET +VALUE +RESULT +USER +LEVEL +"
                          "HOST USER +PID\n2026/01/02 03:04:05  -  +console  set  +PM1\\.Count  "
                          "3  +ok  +alice  3  +bob  +42\n$")))
      << old.out;

  Vexlor::VSystem_Set_User_Name("alice");
  Vexlor::VSystem_Set_User_Level(3);
  EXPECT_EQ(vexlor({"set", "PM1.Count", "7"}).code, 0);
  EXPECT_EQ(vexlor({"set", "PM1.Count", "500"}).code, 1);
  EXPECT_EQ(vexlor({"driver", "offline", "DIO"}).code, 0);
  Vexlor::VAlarm_Post(0, "");
  EXPECT_EQ(vexlor({"answer", "5001", "retry"}).code, 0);

  const Json rows = vexlor_json({"audit"});
  const Json expected[] = {
      {"set", "PM1.Count", "3", "ok"},  // the older file's row
      {"set", "PM1.Count", "7", "ok"},
      {"set", "PM1.Count", "500", "cannot write \"500\" to PM1.Count: out of range 0..100"},
      {"driver offline", "DIO", "", "ok"},
      {"answer", "5001", "RETRY", "ok"},
  };
  ASSERT_EQ(rows.size(), std::size(expected));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Json& r = rows[i];
    EXPECT_EQ(fields(r, {"action", "target", "value", "result"}), expected[i]);
    EXPECT_EQ(fields(r, {"source", "user_name", "address", "user_level"}),
              (Json{"console", "alice", "", 3}));
    EXPECT_GT(r.at("pid").get<int>(), 0);
    EXPECT_NE(r.at("pid"), ::getpid());
    EXPECT_FALSE(r.at("host_user").get<std::string>().empty());
    // Asked and ended within the same action: the end is the request time or later.
    const std::string time = r.at("time"), ended = r.at("ended");
    if (i == 0) {
      EXPECT_EQ(fields(r, {"time", "ended"}), (Json{"2026/01/02 03:04:05", ""}));
    } else {
      EXPECT_EQ(ended.size(), 19u) << ended;
      EXPECT_LE(time, ended);
    }
  }
  // The alarm history says who answered.
  const Json history = vexlor_json({"history"});
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].at("answered_by"), nullptr);  // the post
  EXPECT_EQ(fields(history[1].at("answered_by"), {"source", "user_name", "user_level"}),
            (Json{"console", "alice", 3}));
}

TEST_F(Console, JsonFieldsHaveOneTypeInEveryCommand) {
  Vexlor::VAlarm_Post(1, "");
  vexlor({"answer", "5002", "clear"});
  Vexlor::VAlarm_Post(0, "");
  const std::pair<Texts, Texts> kinds[] = {
      {{"string"}, {"name", "kind", "unit", "status", "event", "answer", "time", "text"}},
      {{"number"}, {"id", "level", "user_level"}},
      {{"boolean"}, {"notified", "changed", "initial"}},
      {{"string", "null"}, {"value", "module"}},
      {{"number", "null"}, {"index", "raw", "pid"}}};
  std::map<std::string, Texts> types;
  for (const auto& [allowed, fields] : kinds)
    for (const std::string& field : fields) types[field] = allowed;
  for (const char* command :
       {"status", "points", "get PM1.Valve", "set PM1.Count 2", "info PM1.Valve", "alarms",
        "answer 5001 abort", "history", "audit", "functions", "drivers", "driver online DIO",
        "watch --points PM1.* --count 1"}) {
    int seen = 0;
    std::function<void(const Json&)> walk = [&](const Json& j) {
      for (const auto& [field, member] : j.items()) {  // an array's keys are its indices
        const auto it = types.find(field);
        if (it != types.end()) {
          ++seen;
          EXPECT_NE(std::find(it->second.begin(), it->second.end(), member.type_name()),
                    it->second.end())
              << command << ": field " << field;
        }
        if (member.is_structured()) walk(member);
      }
    };
    walk(vexlor_json(words(command)));
    EXPECT_GT(seen, 0) << command;
  }
}

TEST_F(Console, BashCompletionOffersCommandsAndTheInstancesNames) {
  // What the completion function offers for a command line cut at the last word.
  auto complete = [this](const std::string& words) {
    const std::string script = "source " VEXLOR_SOURCE_DIR
                               "/tools/vexlor_console/vexlor.bash-completion; "
                               "COMP_WORDS=(" VEXLOR_TOOLS_DIR "/vexlor " +
                               words +
                               "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
                               "_vexlor; echo \"${COMPREPLY[*]}\"";
    const ToolRun run = run_tool("/bin/bash", {"-c", script}, instance_.runtime_dir());
    EXPECT_EQ(run.code, 0) << run.err;
    return run.out;
  };
  // Every command of the help (and the options); commands added later come with the help.
  const std::string offered = " " + complete("''");
  for (const char* word : {"status", "points", "info", "monitor", "alarms", "get", "set", "answer",
                           "history", "audit", "functions", "run", "drivers", "driver", "watch",
                           "gui", "--instance", "--json", "--verbose"}) {
    EXPECT_NE(offered.find(" " + std::string(word) + " "), std::string::npos) << word << offered;
  }
  EXPECT_EQ(complete("info pm1.p"), "\n");  // names are completed as the instance spells them
  EXPECT_EQ(complete("info PM1.P"), "PM1.Pressure\n");
  EXPECT_EQ(complete("driver offline D"), "DIO DEAD\n");
  EXPECT_EQ(complete("answer 5001 r"), "retry\n");
}

}  // namespace
}  // namespace vexlor::test
