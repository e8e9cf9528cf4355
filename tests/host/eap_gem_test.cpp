// vexlor-eap as a GEM equipment over a real HSMS connection on 127.0.0.1: this process is the
// host (an active link/secs session) and a reporting routine at once; vexlor-manager starts
// vexlor-eap on a free port.
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/builder.h"
#include "config/loader.h"
#include "fifo/manager_process.h"
#include "util/text.h"
#include "util/vdb.h"
#include "gem/mapping.h"
#include "secs/session.h"
#include "support/instance.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
using namespace vexlor::test;
using vexlor::secs::Item;
using vexlor::secs::Message;
using vexlor::secs::ReplyResult;
using vexlor::secs::Session;
using vexlor::secs::SessionState;

namespace {

constexpr int kEap = 0;

std::string config_text() {
  return "modules = [\n  { id = \"PM1\", name = \"PM1\", kind = \"PM\", side = 0 },\n]\n"
         "functions = [\n"
         "  { name = \"EAP_ENGINE\", command = [\"" VEXLOR_TOOLS_DIR
         "/vexlor-eap\", \"--port\", \"0\", \"--t3\", \"5\"], start = \"startup\" },\n"
         "  { name = \"REPORTER\" },\n  { name = \"PM1_VENT\" },\n]\n"
         "alarms = [ { id = 3001, name = \"DOOR\", text = \"Door open|门开\" } ]\n"
         "digital = [ { name = \"PM1.MaxTemp\", min = 0, max = 1000, init = 350 } ]\n"
         "string = [ { name = \"PM1.Recipe\", init = \"ETCH\" } ]\n"
         "[host]\n"
         "variables = [ { vid = 5001, point = \"PM1.Recipe\" } ]\n"
         "constants = [ { ecid = 100, point = \"PM1.MaxTemp\", min = 0, max = 400, default = 350 } ]\n"
         "commands = [ { rcmd = \"VENT\", routine = \"PM1_VENT\", params = [\"SPEED\"], args = "
         "\"speed={SPEED}\" } ]\n"
         "[system]\ndatabase_path = \"Z:\\\\Database\"\nstandard_vocabulary = true\n";
}

uint32_t vid_of(const std::string& name) {
  for (const auto& v : vexlor::gem::standard_variables()) {
    if (v.name == name) return v.vid;
  }
  return 0;
}

// The host's side: an active session that answers the equipment's primaries and keeps them.
class Host {
 public:
  explicit Host(int port) {
    vexlor::secs::SessionSettings s;
    s.active = true;
    s.remote_port = port;
    s.t3_ms = 5000;
    s.t5_ms = 200;
    Session::Handlers h;
    h.primary = [this](const Message& m) {
      const int sf = m.header.stream() * 100 + m.header.function();
      if (sf == 113) {
        session_->reply(m, Item::list({Item::binary(0), Item::list()}));
      } else if (sf == 1001 || sf == 501 || sf == 611 || sf == 601) {
        session_->reply(m, Item::binary(0));
      }
      std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(m);
      cv_.notify_all();
    };
    session_ = std::make_unique<Session>(s, h);
    std::string error;
    EXPECT_TRUE(session_->start(&error)) << error;
  }
  ~Host() { session_->stop(); }
  bool selected() { return wait_until([this] { return session_->state() == SessionState::kSelected; }, 10); }
  // The n-th (from 0) received primary S<stream>F<function>, waiting up to 10 s.
  bool nth(int stream, int function, std::size_t n, Message* out) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] {
      std::size_t seen = 0;
      for (const Message& m : received_) {
        if (m.header.stream() == stream && m.header.function() == function && seen++ == n) {
          *out = m;
          return true;
        }
      }
      return false;
    });
  }
  std::size_t count(int stream, int function) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    for (const Message& m : received_) {
      n += m.header.stream() == stream && m.header.function() == function ? 1 : 0;
    }
    return n;
  }
  Item ask(int stream, int function, const Item& body, bool has_body = true) {
    const ReplyResult r = session_->request(stream, function, body, has_body);
    EXPECT_EQ(r.kind, ReplyResult::kReply) << "S" << stream << "F" << function;
    EXPECT_EQ(r.reply.header.function(), function + 1);
    return r.reply.body;
  }

 private:
  std::unique_ptr<Session> session_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Message> received_;
};

class EapGem : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string config = instance_.runtime_dir() + "/equipment.toml";
    std::ofstream(config) << config_text();
    vexlor::config::DatabaseBuilder builder;
    std::string error;
    ASSERT_TRUE(vexlor::config::load_configuration(config, builder, &error, nullptr)) << error;
    ASSERT_TRUE(builder.publish(true, "eap_gem_test", &error)) << error;
    // As vexlor-db create does: the [host] entries go to the equipment's database file.
    const std::string vdb = vexlor::detail::vdb_file_for(
        vexlor::detail::field_text(builder.system().database_path));
    ASSERT_TRUE(vexlor::config::write_host_table(vdb, builder.host(), true, &error)) << error;
    ASSERT_TRUE(manager_.start({"--config", config}));
    ASSERT_TRUE(VHub_Initial("REPORTER"));
    ASSERT_TRUE(wait_until([] { return routine_pid(kEap) > 0; }, 10));
    // The port listened on replaces the vocabulary's 5000 once the link listens.
    ASSERT_TRUE(wait_until([] { return VFA_Get_Local_Port() != 5000 && VFA_Get_Local_Port() > 0; }, 10));
    port_ = VFA_Get_Local_Port();
  }
  void TearDown() override {
    VHub_Release();
    EXPECT_EQ(manager_.stop(), 0);
    vexlor::config::remove_database(nullptr);
  }

  PrivateInstance instance_{"eapgem"};
  ManagerProcess manager_;
  int port_ = 0;
};

TEST_F(EapGem, HostEstablishesGoesOnlineAndGetsReportsAlarmsAndRunsARoutine) {
  auto host = std::make_unique<Host>(port_);
  ASSERT_TRUE(host->selected());
  // The equipment establishes communication (S1F13), the host brings it online remote.
  Message m;
  if (!host->nth(1, 13, 0, &m)) {
    const auto link = run_tool(VEXLOR_TOOLS_DIR "/vexlor", {"--json", "host", "link"}, instance_.runtime_dir());
    const auto trace = run_tool(VEXLOR_TOOLS_DIR "/vexlor", {"host", "trace"}, instance_.runtime_dir());
    FAIL() << "no S1F13\n" << link.out << link.err << "\n" << trace.out << trace.err;
  }
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_Comm_Status() == 1; }, 10));
  EXPECT_EQ(VIO_Get_GEM_Control_State(), 3);
  EXPECT_EQ(host->ask(1, 17, Item::list(), false), Item::binary(0));
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_Control_State() == 5; }, 10));
  EXPECT_EQ(VIO_Get_GEM_Online_Status(), 1);
  EXPECT_EQ(VIO_Get_GEM_Remote_Status(), 1);
  // Status variables: the control state, and the clock as 16 digits.
  const Item svs = host->ask(1, 3, Item::list({Item::u4(2), Item::u4(1)}));
  ASSERT_EQ(svs.size(), 2u);
  EXPECT_EQ(svs.items()[0], Item::u1(5));
  EXPECT_EQ(svs.items()[1].text().size(), 16u);
  // A report on PM_START with the module's ID; enabled.
  const uint32_t mdl = vid_of("GEM.PMState_MdlID");
  ASSERT_NE(mdl, 0u);
  EXPECT_EQ(host->ask(2, 33, Item::list({Item::u4(1), Item::list({Item::list({Item::u4(7),
                                                                     Item::list({Item::u4(mdl)})})})})),
            Item::binary(0));
  EXPECT_EQ(host->ask(2, 35, Item::list({Item::u4(2), Item::list({Item::list({Item::u4(14002),
                                                                     Item::list({Item::u4(7)})})})})),
            Item::binary(0));
  EXPECT_EQ(host->ask(2, 37, Item::list({Item::boolean(true), Item::list({Item::u4(14002)})})),
            Item::binary(0));
  // The routine's report carries the value of its moment, not the one written after it.
  ASSERT_TRUE(VFA_Set_DVID_PMState_MdlID("PM2"));
  ASSERT_TRUE(VFA_Report_Event_PM_START(2));
  ASSERT_TRUE(VFA_Set_DVID_PMState_MdlID("PMX"));
  ASSERT_TRUE(host->nth(6, 11, 0, &m));
  ASSERT_EQ(m.body.size(), 3u);
  EXPECT_EQ(m.body.items()[1], Item::u4(14002));
  EXPECT_EQ(m.body.items()[2],
            Item::list({Item::list({Item::u4(7), Item::list({Item::ascii("PM2")})})}));
  // Alarms: a post and its answer, at once.
  int alarm = -1;
  ASSERT_TRUE(VAlarm_Find_Point(&alarm, 3001));
  ASSERT_TRUE(VAlarm_Post(alarm, "fast"));
  ASSERT_TRUE(VAlarm_Retry(alarm));
  Message set, clear;
  ASSERT_TRUE(host->nth(5, 1, 0, &set));
  ASSERT_TRUE(host->nth(5, 1, 1, &clear));
  EXPECT_EQ(set.body, Item::list({Item::binary(0x80), Item::u4(3001), Item::ascii("Door open")}));
  EXPECT_EQ(clear.body, Item::list({Item::binary(0), Item::u4(3001), Item::ascii("Door open")}));
  // A remote command runs a routine; an unknown routine is a bad parameter.
  auto cp = [](const char* n, const char* v) { return Item::list({Item::ascii(n), Item::ascii(v)}); };
  EXPECT_EQ(host->ask(2, 41, Item::list({Item::ascii("RUN"), Item::list({cp("ROUTINE", "PM1_VENT"),
                                                                        cp("ARGS", "fast")})})),
            Item::list({Item::binary(4), Item::list()}));
  EXPECT_EQ(host->ask(2, 41, Item::list({Item::ascii("RUN"), Item::list({cp("ROUTINE", "NOPE")})})),
            Item::list({Item::binary(3), Item::list({Item::list({Item::ascii("ROUTINE"), Item::binary(2)})})}));
  // No main form runs: the terminal is not available.
  EXPECT_EQ(host->ask(10, 3, Item::list({Item::binary(0), Item::ascii("hello")})), Item::binary(2));
  // The equipment's terminal line.
  ASSERT_TRUE(VFA_Send_SxxFxx(10, 1, "operator here", nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(host->nth(10, 1, 0, &m));
  EXPECT_EQ(m.body, Item::list({Item::binary(0), Item::ascii("operator here")}));
  // The console sees the link.
  const auto link = run_tool(VEXLOR_TOOLS_DIR "/vexlor", {"--json", "host", "link"}, instance_.runtime_dir());
  EXPECT_EQ(link.code, 0) << link.err;
  EXPECT_NE(link.out.find(R"("session":"SELECTED")"), std::string::npos) << link.out;
  EXPECT_NE(link.out.find(R"("communication":"COMMUNICATING","control":"ONLINE REMOTE")"),
            std::string::npos)
      << link.out;
  const auto trace = run_tool(VEXLOR_TOOLS_DIR "/vexlor", {"host", "trace"}, instance_.runtime_dir());
  EXPECT_EQ(trace.code, 0) << trace.err;
  EXPECT_NE(trace.out.find("S6F11 W"), std::string::npos) << trace.out;
  EXPECT_NE(trace.out.find("<A \"PM2\">"), std::string::npos) << trace.out;

  // The host goes away: reports are spooled; after reconnecting the host asks for them.
  host.reset();
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_Comm_Status() == 0; }, 10));
  ASSERT_TRUE(VFA_Set_DVID_PMState_MdlID("PM3"));
  ASSERT_TRUE(VFA_Report_Event_PM_START(3));
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_SpoolCountActual() == 1; }, 10));
  host = std::make_unique<Host>(port_);
  ASSERT_TRUE(host->selected());
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_Comm_Status() == 1; }, 10));
  EXPECT_EQ(host->count(6, 11), 0u);
  EXPECT_EQ(host->ask(6, 23, Item::u1(0)), Item::binary(0));
  ASSERT_TRUE(host->nth(6, 11, 0, &m));
  EXPECT_EQ(m.body.items()[2],
            Item::list({Item::list({Item::u4(7), Item::list({Item::ascii("PM3")})})}));
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_SpoolCountActual() == 0; }, 10));
  EXPECT_EQ(host->ask(6, 23, Item::u1(0)), Item::binary(2));
}

// The equipment's own [host] entries join the default table: `vexlor host ids` lists them and
// the host reads, sets and runs them.
TEST_F(EapGem, ConfiguredVariablesConstantsAndCommandsJoinTheTable) {
  const auto ids = run_tool(VEXLOR_TOOLS_DIR "/vexlor", {"--json", "host", "ids"}, instance_.runtime_dir());
  EXPECT_EQ(ids.code, 0) << ids.err;
  for (const char* entry :
       {R"({"ceid":14002,"name":"PM_START","token":"PM_STATE","code":2})",
        R"({"vid":5001,"name":"PM1.Recipe","class":"SV","format":"A","point":"PM1.Recipe"})",
        R"({"ecid":100,"name":"PM1.MaxTemp","point":"PM1.MaxTemp","min":0,"max":400,"default":350,"unit":""})",
        R"({"alid":3001,"text":"Door open"})",
        R"({"rcmd":"RUN","routine":"","params":["ROUTINE","ARGS"],"args":"{ARGS}"})",
        R"({"rcmd":"VENT","routine":"PM1_VENT","params":["SPEED"],"args":"speed={SPEED}"})"}) {
    EXPECT_NE(ids.out.find(entry), std::string::npos) << entry;
  }
  Host host(port_);
  ASSERT_TRUE(host.selected());
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_Comm_Status() == 1; }, 10));
  EXPECT_EQ(host.ask(1, 17, Item::list(), false), Item::binary(0));
  EXPECT_EQ(host.ask(1, 3, Item::list({Item::u4(5001)})), Item::list({Item::ascii("ETCH")}));
  EXPECT_EQ(host.ask(2, 15, Item::list({Item::list({Item::u4(100), Item::u4(401)})})), Item::binary(3));
  EXPECT_EQ(host.ask(2, 15, Item::list({Item::list({Item::u4(100), Item::u4(380)})})), Item::binary(0));
  int point = -1;
  ASSERT_TRUE(VIO_Find_Point(&point, IO_D, "PM1.MaxTemp"));
  EXPECT_EQ(VDigital_Read_Mem(point), 380);
  EXPECT_EQ(host.ask(2, 13, Item::list({Item::u4(100)})), Item::list({Item::u4(380)}));
  auto cp = [](const char* n, const char* v) { return Item::list({Item::ascii(n), Item::ascii(v)}); };
  EXPECT_EQ(host.ask(2, 41, Item::list({Item::ascii("VENT"), Item::list({cp("SPEED", "slow")})})),
            Item::list({Item::binary(4), Item::list()}));
  EXPECT_EQ(host.ask(2, 41, Item::list({Item::ascii("VENT"), Item::list({cp("FORCE", "1")})})),
            Item::list({Item::binary(3), Item::list({Item::list({Item::ascii("FORCE"), Item::binary(1)})})}));
}

}  // namespace
