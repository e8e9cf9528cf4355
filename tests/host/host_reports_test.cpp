// Host event reports end to end: this process reports as the routine REPORTER, vexlor-manager
// starts the host link vexlor-eap as "EAP_ENGINE", and the tests read what it
// journaled in the equipment's database file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "config/builder.h"
#include "config/loader.h"
#include "fifo/manager_process.h"
#include "frame/vdb_file.h"
#include "support/instance.h"
#include "util/console_sink.h"
#include "util/sql_rows.h"
#include "secs/session.h"
#include "util/text.h"
#include "util/vdb.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
using namespace vexlor::test;

namespace {

constexpr int kEap = 0, kSenders = 4;

// with_eap: the manager starts vexlor-eap; by_hand: EAP_ENGINE is configured without a program
// (the test starts it); neither: no EAP_ENGINE at all.
std::string config_text(bool with_eap, bool by_hand = false) {
  std::string text =
      "modules = [\n"
      "  { id = \"CM1\", name = \"LP1\", kind = \"CM\", side = 0 },\n"
      "  { id = \"TM1\", name = \"TM1\", kind = \"TM\", side = 0 },\n"
      "  { id = \"PM1\", name = \"PM1\", kind = \"PM\", side = 0 },\n"
      "  { id = \"PM2\", name = \"PM2\", kind = \"PM\", side = 1 },\n]\nfunctions = [\n";
  if (with_eap) {
    text += "  { name = \"EAP_ENGINE\", command = [\"" VEXLOR_TOOLS_DIR
            "/vexlor-eap\", \"--port\", \"0\"], start = \"startup\" },\n";
  } else if (by_hand) {
    text += "  { name = \"EAP_ENGINE\" },\n";
  }
  text += "  { name = \"REPORTER\" },\n";
  for (int k = 1; k <= kSenders; ++k) text += "  { name = \"SENDER" + std::to_string(k) + "\" },\n";
  text += "]\nalarms = [ { id = 3001, name = \"QUICK\", text = \"Quick|快\" } ]\n";
  return text + "[system]\ndatabase_path = \"Z:\\\\Database\"\nstandard_vocabulary = true\n";
}

void publish(const PrivateInstance& instance, bool with_eap, bool by_hand = false) {
  const std::string config = instance.runtime_dir() + "/equipment.toml";
  std::ofstream(config) << config_text(with_eap, by_hand);
  vexlor::config::DatabaseBuilder builder;
  std::string error;
  ASSERT_TRUE(vexlor::config::load_configuration(config, builder, &error, nullptr)) << error;
  ASSERT_TRUE(builder.publish(true, "host_reports_test", &error)) << error;
}

struct Journaled {
  std::string sender, status, event, fields, data, line;
};

// Every journaled row, in journal order (one table per day).
std::vector<Journaled> journal() {
  const std::string file = vexlor::detail::vdb_file();
  std::vector<Journaled> rows;
  const char* const kTables =
      "SELECT name FROM sqlite_master WHERE name LIKE 'HostEvent_%' ORDER BY name";
  for (const auto& t : sql_rows(file, kTables)) {
    const std::string sql = "SELECT sender_name, status, event, fields, data, line FROM \"" + t[0];
    for (const auto& r : sql_rows(file, sql + "\" ORDER BY row"))
      rows.push_back({r[0], r[1], r[2], r[3], r[4], r[5]});
  }
  return rows;
}

pid_t pid_of(int index) { return vexlor::test::routine_pid(index); }

class HostReports : public ::testing::Test {
 protected:
  void SetUp() override {
    publish(instance_, true);
    ASSERT_TRUE(manager_.start({"--config", instance_.runtime_dir() + "/equipment.toml"}));
  }
  void TearDown() override {
    VHub_Release();
    EXPECT_EQ(manager_.stop(), 0);
    vexlor::config::remove_database(nullptr);
  }
  void attach(const char* name) {
    ASSERT_TRUE(VHub_Initial(name));
    ASSERT_TRUE(wait_until([] { return pid_of(kEap) > 0; }, 10));
  }
  // The rows `sender` journaled, once there are `count` of them (at most 30 s).
  static std::vector<Journaled> rows_of(const std::string& sender, std::size_t count) {
    std::vector<Journaled> mine;
    wait_until(
        [&] {
          mine.clear();
          for (auto& r : journal()) {
            if (r.sender == sender) mine.push_back(std::move(r));
          }
          return mine.size() >= count;
        },
        30);
    return mine;
  }

  PrivateInstance instance_{"host"};
  ManagerProcess manager_;
};

// Without the routine "EAP_ENGINE" nothing is sent and nothing is printed. The answer is kept for
// the life of a process, so this runs in a child, before any test here has asked in this one.
TEST(HostReportsWithoutEap, ReportsFailSilently) {
  PrivateInstance instance("noeap");
  publish(instance, false);
  const pid_t child = spawn_child([] {
    int failures = VFA_IsValid() ? 1 : 0;  // before start-up
    if (!VHub_Initial("REPORTER")) return 90;
    vexlor::detail::ConsoleCapture capture;
    failures += VFA_IsValid() ? 2 : 0;
    failures += VFA_Report_Event_PM_START(1) ? 4 : 0;
    failures += VFA_SEND_EVENT("%s", "PM_STATE 1|1") ? 8 : 0;
    failures += VFA_Request_Enable() ? 16 : 0;
    failures += capture.console_lines().empty() ? 0 : 32;
    VHub_Release();
    return failures;
  });
  EXPECT_EQ(wait_child(child, 20), 0);
  vexlor::config::remove_database(nullptr);
}

// ---- Every function of the line table, once ------------------------------------------------

std::deque<std::string> g_texts;  // keeps the distinctive texts alive

// The k-th argument of row `row`: a value no other argument of the table has.
template <typename T>
T distinct(int row, int k) {
  if constexpr (std::is_same_v<T, int>) {
    return 100 * row + k;
  } else if constexpr (std::is_same_v<T, const char*>) {
    return g_texts.emplace_back("t" + std::to_string(row) + "_" + std::to_string(k)).c_str();
  } else {
    return WAFER_MODULE{3, 1, k};
  }
}

std::string expected_line(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

struct Sent {
  std::string function, line;
  bool result = false;
};

template <typename... P, typename Expect, std::size_t... K>
Sent send_row(const char* function, bool (*report)(P...), Expect expect, int row,
              std::index_sequence<K...>) {
  const std::tuple<P...> args{distinct<P>(row, static_cast<int>(K) + 1)...};
  return Sent{function, std::apply(expect, args), std::apply(report, args)};
}
template <typename... P, typename Expect>
Sent send_row(const char* function, bool (*report)(P...), Expect expect, int row) {
  return send_row(function, report, expect, row, std::index_sequence_for<P...>{});
}

#define VEXLOR_HOST_UNPAREN(...) __VA_ARGS__
std::vector<Sent> send_whole_table() {
  std::vector<Sent> sent;
  int row = 0;
#define VEXLOR_HOST_REQUEST(function, token) \
  sent.push_back(Sent{#function, token, VFA_##function()});
#define VEXLOR_HOST_CODED(function, token) \
  sent.push_back(Sent{#function, token " " + std::to_string(++row), VFA_##function(row)});
#define VEXLOR_HOST_BARE(function, token, code) \
  sent.push_back(Sent{#function, token " " #code, VFA_##function()});
#define VEXLOR_HOST_LINE(function, token, code, fields, parameters, arguments)       \
  sent.push_back(send_row(                                                           \
      #function, &VFA_##function,                                                    \
      [] parameters {                                                                \
        return expected_line(token " " #code fields, VEXLOR_HOST_UNPAREN arguments); \
      },                                                                             \
      ++row));
#include "vexlor/host/event_reports.def"
  return sent;
}

TEST_F(HostReports, EveryFunctionSendsItsLineAndTheStandInReadsItBack) {
  attach("REPORTER");
  const std::vector<Sent> sent = send_whole_table();
  ASSERT_EQ(sent.size(), 210u);  // every row but the primary message, which is tested by hand
  const std::vector<Journaled> rows = rows_of("REPORTER", sent.size());
  ASSERT_EQ(rows.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(sent[i].function);
    EXPECT_TRUE(sent[i].result);
    EXPECT_EQ(rows[i].line, sent[i].line);
    EXPECT_EQ(rows[i].status, "ok");
    // Each collection event is told apart from every other line.
    const std::string prefix = "Report_Event_";
    if (sent[i].function.rfind(prefix, 0) == 0) {
      EXPECT_EQ(rows[i].event, sent[i].function.substr(prefix.size()));
    }
  }
}

// ---- The lines whose fields are not the parameters in order, and what the stand-in makes of
// lines that are not the table's ----------------------------------------------------------------

TEST_F(HostReports, OddLinesCutLinesBadLinesAndDataVariables) {
  attach("REPORTER");
  VFA_Set_DVID_PMState_MdlID("PM2");
  const std::string long_text(600, 'x');
  const int eap = VFunction_Get_Point("EAP_ENGINE");
  struct Case {
    bool sent;
    const char* line;
    const char* status;
    const char* fields;
  };
  const std::string cut = "ALARM_REPORT 1|1|2|" + std::string(511 - 19, 'x');
  const std::string too_long = "OPERATOR_COMMAND 1|" + long_text;
  const Case cases[] = {
      {VFA_Report_Event_CARRIER_CLAMPED(2), "CARRIER_ACTION 11|2", "ok", R"(["2"])"},
      {VFA_Report_Event_SUBST_AT_WORK(1, 3, 0, 1, WAFER_MODULE{3, 1, 0}),
       "SUBST_TRACK 6|1|3|TM1|FingerB|PM2|1", "ok", R"(["1","3","TM1","FingerB","PM2","1"])"},
      {VFA_Report_Event_SUBST_FROM_FOUP_AT_WORK(0, 4, 0, 0), "SUBST_TRACK 5|0|4|CM1|5|TM1|FingerA",
       "ok", R"(["0","4","CM1","5","TM1","FingerA"])"},
      {VFA_Report_Event_SUBST_FROM_WORK(7, 8, 0, 2, WAFER_MODULE{3, 0, 24}),
       "SUBST_TRACK 8|7|8|PM1|25|TM1|FingerC", "ok", nullptr},
      {VFA_Report_Event_SUBST_AT_DESTINATION(1, 2, 0, 0, WAFER_MODULE{3, -1, 0}),
       "SUBST_TRACK 7|1|2|TM1|FingerA||1", "ok", R"(["1","2","TM1","FingerA","","1"])"},
      {VFA_Report_Event_PM_RECIPE_CREATE("PM1", "ETCH_A"), "RECIPE_EDIT 21|ETCH_A|UNIT:PM1", "ok",
       R"(["ETCH_A","UNIT:PM1"])"},
      {VFA_Report_Recipe_PM_Create("ETCH_A", "PM1"), "RECIPE_EDIT 21|ETCH_A|UNIT:PM1", "ok",
       nullptr},
      {VFA_Report_Event_PORT_SERVICE_CHANGE_REJECT(2, 8, 9), "SUBST_MID 7|2", "ok", nullptr},
      {VFA_Report_ECID_Delete("T3"), "ECID_CHANGE 1|T3", "ok", nullptr},
      {VFA_Send_SxxFxx(6, 11, "a", nullptr, "c", "d", "e"), "SEND_PRIMIRY S6F|11 a", "ok",
       R"(["11","a"])"},
      {VFA_Send_SxxFxx(1, 3, nullptr, "b", nullptr, nullptr, nullptr), "SEND_PRIMIRY S1F|3", "ok",
       nullptr},
      {VFA_Send_SxxFxx(2, 41, "a", "b", "c", "d", "e"), "SEND_PRIMIRY S2F|41 a,b,c,d,e", "ok",
       nullptr},
      {VFA_Report_Event_OPERATOR_COMMAND(nullptr), "OPERATOR_COMMAND 1|", "ok", R"([""])"},
      {VFA_Report_Event_ALARM_DETECTED(5, 6, "over|under"), "ALARM_REPORT 1|5|6|over|under", "ok",
       R"(["5","6","over|under"])"},
      {VFA_Report_Event_ALARM_DETECTED(1, 2, long_text.c_str()), cut.c_str(), "ok", nullptr},
      {VFA_Report_Event_PM_START(3), "PM_STATE 2|3", "ok", nullptr},
      {VFunction_Send_Event(eap, "CARRIER_ACTION 11"), "CARRIER_ACTION 11", "malformed", "[]"},
      {VFunction_Send_Event(eap, "CARRIER_ACTION x|1"), "CARRIER_ACTION x|1", "malformed", "[]"},
      {VFunction_Send_Event(eap, "PM_STATE 6|1|2|3"), "PM_STATE 6|1|2|3", "malformed", nullptr},
      {VFunction_Send_Event(eap, "REQUEST_ENABLE 1"), "REQUEST_ENABLE 1", "malformed", nullptr},
      {VFunction_Send_Event(eap, "SUBST_TRACK 6|1|3|TM1|Finger|PM2|1"),
       "SUBST_TRACK 6|1|3|TM1|Finger|PM2|1", "malformed", nullptr},
      {VFunction_Send_Event(eap, too_long.c_str()), too_long.c_str(), "malformed", "[]"},
      {VFunction_Send_Event(eap, "NO_SUCH_EVENT 1|2"), "NO_SUCH_EVENT 1|2", "unknown", "[]"},
      {VFunction_Send_Event(eap, ""), "", "unknown", nullptr},
  };
  const std::size_t n = sizeof cases / sizeof cases[0];
  const std::vector<Journaled> rows = rows_of("REPORTER", n);
  ASSERT_EQ(rows.size(), n);
  for (std::size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(cases[i].line);
    EXPECT_TRUE(cases[i].sent);
    EXPECT_EQ(rows[i].line, cases[i].line);
    EXPECT_EQ(rows[i].status, cases[i].status);
    if (cases[i].fields != nullptr) {
      EXPECT_EQ(rows[i].fields, cases[i].fields);
    }
  }
  EXPECT_EQ(rows[5].event, "PM_RECIPE_CREATE");
  EXPECT_EQ(rows[9].event, "Send_SxxFxx");
  // The data variables of PM_STATE as they were when the line arrived.
  EXPECT_NE(rows[15].data.find(R"("GEM.PMState_MdlID":"PM2")"), std::string::npos) << rows[15].data;
  EXPECT_EQ(rows[15].data.find("GEM.AlarmReport_"), std::string::npos) << rows[15].data;

  // The console reads the same journal back, filtered by token.
  const auto run = run_tool(VEXLOR_TOOLS_DIR "/vexlor", {"--json", "host", "--token", "PM_STATE"},
                            instance_.runtime_dir());
  EXPECT_EQ(run.code, 0) << run.err;
  for (const char* row : {R"("token":"PM_STATE","code":"2","event":"PM_START","fields":["3"],)"
                          R"("data":{"GEM.PMState_PrcsResult":"0")",
                          R"("status":"malformed","token":"PM_STATE","code":"6")"})
    EXPECT_NE(run.out.find(row), std::string::npos) << row << run.out;
  EXPECT_EQ(run.out.find("CARRIER_ACTION"), std::string::npos) << run.out;
}

TEST_F(HostReports, LinkRequestsMoveTheControlState) {
  attach("REPORTER");
  struct Step {
    bool (*request)();
    int control_state, comm_status;
  };
  // No host is connected: online needs communication, so every attempt ends in host offline
  // (3); the operator's offline holds equipment offline (1).
  const Step steps[] = {{VFA_Request_Local, 3, 0},    {VFA_Request_Enable, 3, 0},
                        {VFA_Request_Remote, 3, 0},   {VFA_Request_Local, 3, 0},
                        {VFA_Request_Offline, 1, 0},  {VFA_Request_Disable, 1, 0},
                        {VFA_Request_Reconnect, 1, 0}};
  VIO_Set_GEM_Comm_Status(0);
  std::size_t count = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(count);
    ASSERT_TRUE(step.request());
    ASSERT_EQ(rows_of("REPORTER", ++count).size(), count);
    EXPECT_EQ(VIO_Get_GEM_Control_State(), step.control_state);
    EXPECT_EQ(VIO_Get_GEM_Comm_Status(), step.comm_status);
  }
  EXPECT_EQ(VFA_Get_Enable(), 0);
  const auto run =
      run_tool(VEXLOR_TOOLS_DIR "/vexlor", {"--json", "host", "link"}, instance_.runtime_dir());
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find(R"("GEM.Control_State":{"value":1,)"), std::string::npos) << run.out;
}

// ---- Load: four processes report at once ---------------------------------------------------
// Every line is journaled exactly once and in the order its sender sent it.
TEST_F(HostReports, FourSendersJournaledOnceInOrder) {
  const int per_sender = storm_rounds(5000);
  std::vector<pid_t> children;
  for (int k = 1; k <= kSenders; ++k) {
    children.push_back(spawn_child([k, per_sender] {
      const std::string name = "SENDER" + std::to_string(k);
      if (!VHub_Initial(name.c_str())) return 90;
      if (!wait_until([] { return pid_of(kEap) > 0; }, 10)) return 91;
      int failed = 0;
      for (int i = 0; i < per_sender; ++i) {
        failed += VFA_Report_Event_ALARM_DETECTED(k, i, "load") ? 0 : 1;
      }
      VHub_Release();
      return failed > 0 ? 1 : 0;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(wait_child(child, 120), 0);
  attach("REPORTER");
  std::vector<Journaled> rows;
  const std::size_t total = static_cast<std::size_t>(kSenders * per_sender);
  wait_until([&] { return (rows = journal()).size() >= total; }, 60);
  ASSERT_EQ(rows.size(), total);
  std::vector<int> next(kSenders + 1, 0);
  for (const Journaled& r : rows) {
    const int k = r.sender.size() == 7 ? r.sender[6] - '0' : 0;
    ASSERT_TRUE(k >= 1 && k <= kSenders) << r.sender;
    ASSERT_EQ(r.line,
              "ALARM_REPORT 1|" + std::to_string(k) + "|" + std::to_string(next[k]) + "|load");
    ++next[k];
  }
}

// vexlor-eap killed again and again while four routines report: every line whose report the
// host link acknowledged is in the journal. A report that returned true only because the
// stand-in was marked ended at that moment ("忽略消息") was never acknowledged by it.
TEST(HostReportsKilled, EveryAcknowledgedLineIsJournaledWhateverTheKill) {
  PrivateInstance instance("hostkill");
  publish(instance, false, true);
  ManagerProcess manager;
  ASSERT_TRUE(manager.start({"--config", instance.runtime_dir() + "/equipment.toml"}));
  const std::string eap = VEXLOR_TOOLS_DIR "/vexlor-eap";
  auto start_eap = [&eap] {
    return spawn_child([&eap] {
      // Only calls that take no lock before the exec: this process has threads by now.
      const int null_fd = ::open("/dev/null", O_WRONLY);
      if (null_fd < 0 || ::dup2(null_fd, 1) < 0) return 89;
      ::execl(eap.c_str(), eap.c_str(), "--port", "0", static_cast<char*>(nullptr));
      return 127;
    });
  };
  // The senders are forked first, while this process has no thread: a child forked beside
  // running threads may inherit a lock one of them held (the allocator's, under the sanitizers).
  const std::string stop_file = instance.runtime_dir() + "/stop";
  std::vector<pid_t> senders;
  for (int k = 1; k <= kSenders; ++k) {
    senders.push_back(spawn_child([k, stop_file, &instance] {
      const std::string name = "SENDER" + std::to_string(k);
      if (!VHub_Initial(name.c_str())) return 90;
      if (!wait_until([] { return pid_of(kEap) > 0; }, 20)) return 91;
      std::ofstream acknowledged(instance.runtime_dir() + "/" + name + ".acknowledged");
      vexlor::detail::ConsoleCapture capture;
      for (int i = 0; ::access(stop_file.c_str(), F_OK) != 0; ++i) {
        capture.clear();
        const bool sent = VFA_Report_Event_ALARM_DETECTED(k, i, "load");
        bool dropped = false;
        for (const auto& line : capture.lines()) {
          dropped = dropped || line.text.find("忽略消息") != std::string::npos;
        }
        if (sent && !dropped) acknowledged << i << "\n" << std::flush;
      }
      VHub_Release();
      return 0;
    }));
  }
  pid_t stand_in = start_eap();
  ASSERT_TRUE(VHub_Initial("REPORTER"));
  ASSERT_TRUE(wait_until([] { return pid_of(kEap) > 0; }, 10));
  const char* env = std::getenv("VEXLOR_EAP_KILLS");
  const int kills = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 12;
  for (int n = 0; n < kills; ++n) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + (n * 37) % 90));
    ::kill(stand_in, SIGKILL);
    ASSERT_EQ(wait_child(stand_in, 10), 128 + SIGKILL);
    stand_in = start_eap();
    ASSERT_TRUE(wait_until([] { return pid_of(kEap) > 0; }, 10)) << "kill " << n;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::ofstream(stop_file) << "stop";
  for (pid_t pid : senders) EXPECT_EQ(wait_child(pid, 60), 0);
  ::kill(stand_in, SIGKILL);
  EXPECT_EQ(wait_child(stand_in, 10), 128 + SIGKILL);

  std::set<std::string> journaled;
  for (const Journaled& r : journal()) journaled.insert(r.line);
  std::size_t checked = 0;
  for (int k = 1; k <= kSenders; ++k) {
    std::ifstream in(instance.runtime_dir() + "/SENDER" + std::to_string(k) + ".acknowledged");
    for (std::string i; std::getline(in, i); ++checked) {
      const std::string line = "ALARM_REPORT 1|" + std::to_string(k) + "|" + i + "|load";
      ASSERT_EQ(journaled.count(line), 1u) << line << " acknowledged, not journaled";
    }
  }
  EXPECT_GT(checked, static_cast<std::size_t>(kills));
  VHub_Release();
  EXPECT_EQ(manager.stop(), 0);
  vexlor::config::remove_database(nullptr);
}

// An alarm posted and answered within a millisecond reaches the journal as its set and its
// clear, from the alarm feed: nobody samples the alarm queue.
TEST_F(HostReports, AnAlarmAnsweredWithinAMillisecondIsJournaledSetAndClear) {
  attach("REPORTER");
  int point = -1;
  ASSERT_TRUE(VAlarm_Find_Point(&point, 3001));
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(VAlarm_Post(point, "fast"));
    ASSERT_TRUE(VAlarm_Retry(point));
  }
  std::vector<std::string> lines;
  wait_until(
      [&] {
        lines.clear();
        for (const Journaled& r : journal()) {
          if (r.line.rfind("ALARM_", 0) == 0)
            lines.push_back(r.sender + " " + r.event + " " + r.line);
        }
        return lines.size() >= 6;
      },
      10);
  const std::vector<std::string> pair = {"REPORTER ALM_PAUSED ALARM_SET 3001",
                                         "REPORTER ALM_RETRY ALARM_CLEAR 3001"};
  EXPECT_EQ(lines,
            (std::vector<std::string>{pair[0], pair[1], pair[0], pair[1], pair[0], pair[1]}));
}

}  // namespace
