// The host link end to end with a factory host written apart from the equipment: the host
// simulator (tests/host_sim, its own SECS-II codec and HSMS framing) drives real vexlor-eap
// processes over 127.0.0.1 while this process and its children report as routines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/builder.h"
#include "config/loader.h"
#include "fifo/manager_process.h"
#include "host_sim/sim_host.h"
#include "support/instance.h"
#include "util/console_sink.h"
#include "util/text.h"
#include "util/vdb.h"
#include "vexlor/routine.h"
#include "vexlor/vexlor.h"

using namespace Vexlor;
using namespace vexlor::test;
using vexlor::hostsim::Duration;
using vexlor::hostsim::Host;
using vexlor::hostsim::Item;
using vexlor::hostsim::Message;
using vexlor::hostsim::Received;

namespace vexlor::hostsim {
// Failures show items as SML.
void PrintTo(const Item& item, std::ostream* os) { *os << to_sml(item); }
}  // namespace vexlor::hostsim

namespace {

constexpr int kEap = 0, kSenders = 4;
// The event each sender reports (CARRIER_LOADED, _UNLOADED, _DOCKED, _UNDOCKED) and the VID of
// its own sequence point, so an S6F11 names its sender and its place in that sender's order.
constexpr std::uint64_t kSenderCeid[kSenders + 1] = {0, 2003, 2005, 2021, 2023};
// The main form's slot follows the configured functions (EAP_ENGINE, REPORTER, PM1_VENT and the
// senders).
constexpr int kMainForm = 3 + kSenders;
constexpr std::uint64_t kClamped = 2011, kUnclamped = 2013;

// by_hand: EAP_ENGINE has no program (the test starts and kills vexlor-eap itself) and the
// equipment starts online remote, so its events are spooled while no host is connected.
std::string config_text(bool by_hand) {
  std::string text =
      "modules = [\n  { id = \"PM1\", name = \"PM1\", kind = \"PM\", side = 0 },\n]\n"
      "functions = [\n";
  text += by_hand ? "  { name = \"EAP_ENGINE\" },\n"
                  : "  { name = \"EAP_ENGINE\", command = [\"" VEXLOR_TOOLS_DIR
                    "/vexlor-eap\", \"--port\", \"0\", \"--t3\", \"2\"], start = \"startup\" },\n";
  text += "  { name = \"REPORTER\" },\n  { name = \"PM1_VENT\" },\n";
  for (int k = 1; k <= kSenders; ++k) text += "  { name = \"SENDER" + std::to_string(k) + "\" },\n";
  text += "]\nalarms = [ { id = 3001, name = \"DOOR\", text = \"Door open|门开\" } ]\ndigital = [\n";
  for (int k = 1; k <= kSenders; ++k)
    text += "  { name = \"SEQ" + std::to_string(k) + "\", min = 0, max = 100000000 },\n";
  if (by_hand) text += "  { name = \"FA.CtrlMD\", min = 0, max = 5, init = 5 },\n";
  text += "]\nstring = [ { name = \"GEM.Model_Number\", init = \"VX-200\" } ]\n[host]\nvariables = [\n";
  for (int k = 1; k <= kSenders; ++k)
    text += "  { vid = " + std::to_string(5000 + k) + ", point = \"SEQ" + std::to_string(k) + "\" },\n";
  return text + "]\n[system]\ndatabase_path = \"Z:\\\\Database\"\nstandard_vocabulary = true\n";
}

void publish(const PrivateInstance& instance, bool by_hand) {
  const std::string config = instance.runtime_dir() + "/equipment.toml";
  std::ofstream(config) << config_text(by_hand);
  vexlor::config::DatabaseBuilder builder;
  std::string error;
  ASSERT_TRUE(vexlor::config::load_configuration(config, builder, &error, nullptr)) << error;
  ASSERT_TRUE(builder.publish(true, "host_link_test", &error)) << error;
  const std::string vdb = vexlor::detail::vdb_file_for(
      vexlor::detail::field_text(builder.system().database_path));
  ASSERT_TRUE(vexlor::config::write_host_table(vdb, builder.host(), true, &error)) << error;
}

int point(const char* name) {
  int index = -1;
  EXPECT_TRUE(VIO_Find_Point(&index, IO_D, name)) << name;
  return index;
}

// The VID `vexlor host ids --json` gives a variable.
std::uint64_t vid_named(const std::string& runtime_dir, const std::string& name) {
  const auto ids = run_tool(VEXLOR_TOOLS_DIR "/vexlor", {"--json", "host", "ids"}, runtime_dir);
  EXPECT_EQ(ids.code, 0) << ids.err;
  const nlohmann::json table = nlohmann::json::parse(ids.out);
  for (const auto& v : table.at("variables")) {
    if (v.at("name") == name) return v.at("vid").get<std::uint64_t>();
  }
  ADD_FAILURE() << name << " not listed";
  return 0;
}

nlohmann::json link_json(const std::string& runtime_dir) {
  const auto run = run_tool(VEXLOR_TOOLS_DIR "/vexlor", {"--json", "host", "link"}, runtime_dir);
  EXPECT_EQ(run.code, 0) << run.err;
  return nlohmann::json::parse(run.out).at("link");
}

Item u4(std::uint64_t v) { return Item::u4({v}); }
Item i4(std::int64_t v) { return Item::i4({v}); }
Item ack(std::uint8_t v) { return Item::binary1(v); }
Item cp(const char* name, const char* value) {
  return Item::list({Item::ascii(name), Item::ascii(value)});
}

// A request's reply body; a missing reply or one of another function is a failure (the empty
// list then stands for the body).
Item ask(Host& host, std::uint8_t stream, std::uint8_t function,
         const std::optional<Item>& body) {
  const std::optional<Message> reply = host.request(stream, function, body, Duration(10000));
  if (!reply) {
    ADD_FAILURE() << "no reply to S" << int(stream) << "F" << int(function);
    return Item::list({Item::ascii("no reply")});
  }
  EXPECT_EQ(reply->function(), function + 1) << reply->to_text();
  EXPECT_TRUE(reply->item.has_value()) << reply->to_text();
  return reply->item.value_or(Item::list({Item::ascii("no body")}));
}

// Connects, selects and waits until the equipment established communication (its S1F13,
// answered by the simulator, is the nth that host received).
void bring_up(Host& host, int port, std::size_t nth_s1f13 = 1) {
  std::string error;
  ASSERT_TRUE(host.connect(static_cast<std::uint16_t>(port), &error)) << error;
  ASSERT_EQ(host.select(), 0);
  ASSERT_TRUE(host.wait_message(1, 13, nth_s1f13, Duration(10000)));
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_Comm_Status() == 1; }, 10));
}

// S6F11's CEID and its reports (DATAID left out).
std::pair<std::uint64_t, Item> event_of(const Received& r) {
  const Message& m = r.message;
  if (!m.item || !m.item->is_list() || m.item->size() != 3) return {0, Item()};
  std::uint64_t ceid = 0;
  (*m.item)[1].as_unsigned(&ceid);
  return {ceid, (*m.item)[2]};
}

// One report RPTID with one I4 value.
Item one_value(std::uint64_t rptid, std::int64_t value) {
  return Item::list({Item::list({u4(rptid), Item::list({i4(value)})})});
}

// Defines report k holding SEQk for each sender, links it to the sender's event, enables them.
void define_sender_reports(Host& host) {
  std::vector<Item> reports, links, ceids;
  for (int k = 1; k <= kSenders; ++k) {
    reports.push_back(Item::list({u4(k), Item::list({u4(5000 + k)})}));
    links.push_back(Item::list({u4(kSenderCeid[k]), Item::list({u4(k)})}));
    ceids.push_back(u4(kSenderCeid[k]));
  }
  EXPECT_EQ(ask(host, 2, 33, Item::list({u4(1), Item::list()})), ack(0));
  EXPECT_EQ(ask(host, 2, 33, Item::list({u4(2), Item::list(reports)})), ack(0));
  EXPECT_EQ(ask(host, 2, 35, Item::list({u4(3), Item::list(links)})), ack(0));
  EXPECT_EQ(ask(host, 2, 37, Item::list({Item::boolean1(true), Item::list(ceids)})), ack(0));
}

bool report_as_sender(int k, int i) {
  switch (k) {
    case 1: return VFA_Report_Event_CARRIER_LOADED(i);
    case 2: return VFA_Report_Event_CARRIER_UNLOADED(i);
    case 3: return VFA_Report_Event_CARRIER_DOCKED(i);
    default: return VFA_Report_Event_CARRIER_UNDOCKED(i);
  }
}

// Reports per sender under load: VEXLOR_HOST_LINK_REPORTS, else 5,000 (fewer under the
// sanitizers, whose slowdown is not what this checks).
int reports_per_sender() {
  const char* env = std::getenv("VEXLOR_HOST_LINK_REPORTS");
  if (env != nullptr && std::atoi(env) > 0) return std::atoi(env);
#if defined(__SANITIZE_ADDRESS__)
  return 1000;
#else
  return storm_rounds(5000);
#endif
}

class HostLink : public ::testing::Test {
 protected:
  void SetUp() override {
    publish(instance_, false);
    ASSERT_TRUE(manager_.start({"--config", instance_.runtime_dir() + "/equipment.toml"}));
  }
  void TearDown() override {
    VHub_Release();
    EXPECT_EQ(manager_.stop(), 0);
    vexlor::config::remove_database(nullptr);
  }
  // Joins the equipment as REPORTER once vexlor-eap listens; the port it listens on.
  void attach() {
    ASSERT_TRUE(VHub_Initial("REPORTER"));
    ASSERT_TRUE(wait_until([] { return routine_pid(kEap) > 0; }, 10));
    ASSERT_TRUE(wait_until([] { return VFA_Get_Local_Port() != 5000 && VFA_Get_Local_Port() > 0; }, 10));
    port_ = VFA_Get_Local_Port();
  }

  PrivateInstance instance_{"hostlink"};
  ManagerProcess manager_;
  int port_ = 0;
};

TEST_F(HostLink, ScenarioFromSelectionToTheSpoolUploadAfterALinkLoss) {
  // PM1_VENT is served by a child of this process, which writes down every run it gets.
  const std::string runs_file = instance_.runtime_dir() + "/pm1_vent.runs";
  const pid_t vent = spawn_child([runs_file] {
    vexlor::routine::Handlers h;
    h.run = [runs_file](const vexlor::routine::Run& run) {
      std::ofstream(runs_file, std::ios::app) << run.param << "\n";
      return SYS_SUCCESS;
    };
    return vexlor::routine::serve("PM1_VENT", h);
  });
  attach();
  const int vent_index = VFunction_Get_Point("PM1_VENT");
  ASSERT_TRUE(wait_until([vent_index] { return routine_pid(vent_index) > 0; }, 10));
  const std::uint64_t port_id = vid_named(instance_.runtime_dir(), "GEM.PortID");
  const int seq1 = point("SEQ1");

  auto host = std::make_unique<Host>();
  bring_up(*host, port_);
  // MDLN from GEM.Model_Number; GEM.Soft_Revision is empty on this equipment.
  const Item mdln_softrev = Item::list({Item::ascii("VX-200"), Item::ascii("")});
  EXPECT_EQ(host->wait_message(1, 13)->message.item, mdln_softrev);
  EXPECT_EQ(VIO_Get_GEM_Control_State(), 3);
  // Host offline: S1F1 is aborted like every other primary but S1F13, S1F15 and S1F17.
  EXPECT_EQ(host->request(1, 1, std::nullopt, Duration(10000))->name(), "S1F0");
  // Online: remote by the operator's switch; a second S1F17 finds it online already.
  EXPECT_EQ(ask(*host, 1, 17, std::nullopt), ack(0));
  EXPECT_TRUE(wait_until([] { return VIO_Get_GEM_Control_State() == 5; }, 10));
  EXPECT_EQ(VIO_Get_GEM_Online_Status(), 1);
  EXPECT_EQ(VIO_Get_GEM_Remote_Status(), 1);
  EXPECT_EQ(ask(*host, 1, 17, std::nullopt), ack(2));
  EXPECT_EQ(ask(*host, 1, 1, std::nullopt), mdln_softrev);

  // Status variables: the control state and a configured point, by name too.
  VDigital_Write_Mem(seq1, 41);
  EXPECT_EQ(ask(*host, 1, 3, Item::list({u4(2), u4(5001)})), Item::list({Item::u1({5}), i4(41)}));
  EXPECT_EQ(ask(*host, 1, 3, Item::list({u4(999999)})), Item::list({Item::list()}));
  EXPECT_EQ(ask(*host, 1, 11, Item::list({u4(2), u4(5001)})),
            Item::list({Item::list({u4(2), Item::ascii("ControlState"), Item::ascii("")}),
                        Item::list({u4(5001), Item::ascii("SEQ1"), Item::ascii("")})}));

  // Equipment constants: set within range, refused out of range or unknown (all or nothing).
  EXPECT_EQ(ask(*host, 2, 15, Item::list({Item::list({u4(10), u4(5)})})), ack(0));
  EXPECT_EQ(ask(*host, 2, 13, Item::list({u4(10)})), Item::list({u4(5)}));
  EXPECT_EQ(ask(*host, 2, 15, Item::list({Item::list({u4(10), u4(6)}), Item::list({u4(7), u4(2)})})),
            ack(3));
  EXPECT_EQ(ask(*host, 2, 13, Item::list({u4(10), u4(7)})), Item::list({u4(5), u4(1)}));
  EXPECT_EQ(ask(*host, 2, 15, Item::list({Item::list({u4(99999), u4(1)})})), ack(1));
  const Item namelist = ask(*host, 2, 29, Item::list({u4(7)}));
  ASSERT_EQ(namelist.size(), 1u) << vexlor::hostsim::to_sml(namelist);
  ASSERT_EQ(namelist[0].size(), 6u) << vexlor::hostsim::to_sml(namelist);
  EXPECT_EQ(namelist[0][0], u4(7));
  EXPECT_EQ(namelist[0][1], Item::ascii("SpoolEnable"));

  // Reports: one on CARRIER_CLAMPED with the port's ID and SEQ1; the errors the host may make.
  const Item report = Item::list({Item::list({u4(10), Item::list({u4(port_id), u4(5001)})})});
  EXPECT_EQ(ask(*host, 2, 33, Item::list({u4(1), report})), ack(0));
  EXPECT_EQ(ask(*host, 2, 33, Item::list({u4(2), report})), ack(3));
  EXPECT_EQ(ask(*host, 2, 33,
                Item::list({u4(3), Item::list({Item::list({u4(11), Item::list({u4(999999)})})})})),
            ack(4));
  EXPECT_EQ(ask(*host, 2, 35,
                Item::list({u4(4), Item::list({Item::list({u4(kClamped), Item::list({u4(10)})})})})),
            ack(0));
  EXPECT_EQ(ask(*host, 2, 35,
                Item::list({u4(5), Item::list({Item::list({u4(999999), Item::list({u4(10)})})})})),
            ack(4));
  EXPECT_EQ(ask(*host, 2, 35,
                Item::list({u4(6), Item::list({Item::list({u4(kUnclamped), Item::list({u4(77)})})})})),
            ack(5));
  EXPECT_EQ(ask(*host, 2, 37, Item::list({Item::boolean1(true), Item::list({u4(999999)})})), ack(1));
  EXPECT_EQ(ask(*host, 2, 37, Item::list({Item::boolean1(true), Item::list({u4(kClamped)})})), ack(0));

  // The routine's report carries the values of its moment, not those written after it; an
  // event the host did not enable sends nothing.
  ASSERT_TRUE(VFA_Set_DVID_PortID(2));
  VDigital_Write_Mem(seq1, 7);
  ASSERT_TRUE(VFA_Report_Event_CARRIER_UNCLAMPED(9));
  ASSERT_TRUE(VFA_Report_Event_CARRIER_CLAMPED(2));
  ASSERT_TRUE(VFA_Set_DVID_PortID(3));
  VDigital_Write_Mem(seq1, 8);
  auto s6f11 = host->wait_message(6, 11, 1, Duration(10000));
  ASSERT_TRUE(s6f11);
  const Item clamped_2_7 = Item::list({Item::list({u4(10), Item::list({i4(2), i4(7)})})});
  EXPECT_EQ(event_of(*s6f11), std::make_pair(kClamped, clamped_2_7));
  // The event report request gives today's values.
  const Item now = ask(*host, 6, 15, u4(kClamped));
  ASSERT_EQ(now.size(), 3u) << vexlor::hostsim::to_sml(now);
  EXPECT_EQ(now[1], u4(kClamped));
  EXPECT_EQ(now[2], Item::list({Item::list({u4(10), Item::list({i4(3), i4(8)})})}));

  // Alarms: a post and its answer at once give S5F1 set and clear; S5F5 lists it cleared.
  int alarm = -1;
  ASSERT_TRUE(VAlarm_Find_Point(&alarm, 3001));
  ASSERT_TRUE(VAlarm_Post(alarm, "door"));
  ASSERT_TRUE(VAlarm_Retry(alarm));
  const auto set = host->wait_message(5, 1, 1, Duration(10000));
  const auto clear = host->wait_message(5, 1, 2, Duration(10000));
  ASSERT_TRUE(set && clear);
  EXPECT_EQ(set->message.item, Item::list({ack(0x80), u4(3001), Item::ascii("Door open")}));
  EXPECT_EQ(clear->message.item, Item::list({ack(0), u4(3001), Item::ascii("Door open")}));
  EXPECT_EQ(ask(*host, 5, 5, u4(3001)),
            Item::list({Item::list({ack(0), u4(3001), Item::ascii("Door open")})}));

  // A remote command runs the routine with its argument text; the host's mistakes.
  EXPECT_EQ(ask(*host, 2, 41,
                Item::list({Item::ascii("RUN"), Item::list({cp("ROUTINE", "PM1_VENT"), cp("ARGS", "fast")})})),
            Item::list({ack(4), Item::list()}));
  EXPECT_TRUE(wait_until([&] { return slurp(runs_file) == "fast\n"; }, 10)) << slurp(runs_file);
  EXPECT_TRUE(wait_until([] { return VFunction_Get_Run_Status("PM1_VENT") == SYS_SUCCESS; }, 10));
  EXPECT_EQ(ask(*host, 2, 41, Item::list({Item::ascii("RUN"), Item::list({cp("ROUTINE", "NOPE")})})),
            Item::list({ack(3), Item::list({Item::list({Item::ascii("ROUTINE"), ack(2)})})}));
  EXPECT_EQ(ask(*host, 2, 41, Item::list({Item::ascii("FLY"), Item::list()})),
            Item::list({ack(1), Item::list()}));

  // Terminal services: the host's text reaches the main form; the equipment's reaches the host.
  VFunction_Set_Run_Status(kMainForm, SYS_RUNNING);
  const std::size_t record_before = manager_.record().size();
  EXPECT_EQ(ask(*host, 10, 3, Item::list({ack(0), Item::ascii("lot 7 on hold")})), ack(0));
  std::vector<std::string> shown;
  wait_until([&] { return !(shown = manager_.record(static_cast<int>(record_before))).empty(); }, 10);
  EXPECT_EQ(shown, std::vector<std::string>{
                       "GuiMainForm command=MESSAGE text=HOST: lot 7 on hold sender=EAP_ENGINE"});
  ASSERT_TRUE(VFA_Send_SxxFxx(10, 1, "operator here", nullptr, nullptr, nullptr, nullptr));
  const auto s10f1 = host->wait_message(10, 1, 1, Duration(10000));
  ASSERT_TRUE(s10f1);
  EXPECT_EQ(s10f1->message.item, Item::list({ack(0), Item::ascii("operator here")}));

  // Offline: everything but S1F13/S1F15/S1F17 is aborted, and no event leaves (nor is spooled).
  EXPECT_EQ(ask(*host, 1, 15, std::nullopt), ack(0));
  EXPECT_TRUE(wait_until([] { return VIO_Get_GEM_Control_State() == 3; }, 10));
  const auto aborted = host->request(1, 3, Item::list({u4(2)}), Duration(10000));
  ASSERT_TRUE(aborted);
  EXPECT_EQ(aborted->name(), "S1F0");
  ASSERT_TRUE(VFA_Report_Event_CARRIER_CLAMPED(5));
  EXPECT_EQ(ask(*host, 1, 17, std::nullopt), ack(0));
  EXPECT_TRUE(wait_until([] { return VIO_Get_GEM_Control_State() == 5; }, 10));
  ASSERT_TRUE(VFA_Set_DVID_PortID(6));
  VDigital_Write_Mem(seq1, 60);
  ASSERT_TRUE(VFA_Report_Event_CARRIER_CLAMPED(6));
  s6f11 = host->wait_message(6, 11, 2, Duration(10000));
  ASSERT_TRUE(s6f11);
  EXPECT_EQ(event_of(*s6f11).second, Item::list({Item::list({u4(10), Item::list({i4(6), i4(60)})})}));
  EXPECT_EQ(VIO_Get_GEM_SpoolCountActual(), 0);

  // The link breaks: the equipment stops communicating at once and spools, still online.
  host->reset();
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_Comm_Status() == 0; }, 10));
  ASSERT_TRUE(VFA_Set_DVID_PortID(4));
  VDigital_Write_Mem(seq1, 9);
  ASSERT_TRUE(VFA_Report_Event_CARRIER_CLAMPED(4));
  ASSERT_TRUE(VFA_Set_DVID_PortID(5));
  VDigital_Write_Mem(seq1, 10);
  ASSERT_TRUE(VFA_Report_Event_CARRIER_CLAMPED(5));
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_SpoolCountActual() == 2; }, 10));
  EXPECT_EQ(link_json(instance_.runtime_dir())["spool_state"], "NOT FULL");
  // Back: nothing leaves the spool until the host asks; then oldest first, each once.
  host = std::make_unique<Host>();
  bring_up(*host, port_);
  EXPECT_EQ(VIO_Get_GEM_Control_State(), 5);
  EXPECT_EQ(ask(*host, 1, 3, Item::list({u4(2)})), Item::list({Item::u1({5})}));
  EXPECT_EQ(host->count(6, 11), 0u);
  EXPECT_EQ(link_json(instance_.runtime_dir())["spool_state"], "NO SPOOL OUTPUT");
  EXPECT_EQ(ask(*host, 6, 23, Item::u1({0})), ack(0));
  const auto first = host->wait_message(6, 11, 1, Duration(10000));
  const auto second = host->wait_message(6, 11, 2, Duration(10000));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(event_of(*first), std::make_pair(kClamped, Item::list({Item::list({u4(10), Item::list({i4(4), i4(9)})})})));
  EXPECT_EQ(event_of(*second), std::make_pair(kClamped, Item::list({Item::list({u4(10), Item::list({i4(5), i4(10)})})})));
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_SpoolCountActual() == 0; }, 10));
  EXPECT_EQ(ask(*host, 6, 23, Item::u1({0})), ack(2));
  EXPECT_EQ(host->count(6, 11), 2u);
  host->separate();

  ::kill(vent, SIGKILL);
  wait_child(vent, 10);
}

TEST_F(HostLink, FaultsSilentHostWrongDeviceSecondConnectGarbageAndAHungHost) {
  attach();
  const int seq1 = point("SEQ1");
  auto host = std::make_unique<Host>();
  bring_up(*host, port_);
  EXPECT_EQ(ask(*host, 1, 17, std::nullopt), ack(0));
  EXPECT_EQ(ask(*host, 2, 33, Item::list({u4(1), Item::list({Item::list({u4(10), Item::list({u4(5001)})})})})), ack(0));
  EXPECT_EQ(ask(*host, 2, 35, Item::list({u4(2), Item::list({Item::list({u4(kClamped), Item::list({u4(10)})})})})), ack(0));
  EXPECT_EQ(ask(*host, 2, 37, Item::list({Item::boolean1(true), Item::list({u4(kClamped)})})), ack(0));

  // The host goes silent mid-transaction: the equipment's T3 (2 s) ends it with S9F9 naming the
  // S6F11's header; the event goes back to the spool and reaches the host when it asks.
  host->set_responder(6, 11, Host::silent());
  VDigital_Write_Mem(seq1, 1);
  ASSERT_TRUE(VFA_Report_Event_CARRIER_CLAMPED(1));
  const auto unanswered = host->wait_message(6, 11, 1, Duration(10000));
  ASSERT_TRUE(unanswered);
  EXPECT_EQ(event_of(*unanswered).second, one_value(10, 1));
  const auto s9f9 = host->wait_message(9, 9, 1, Duration(10000));
  ASSERT_TRUE(s9f9);
  EXPECT_EQ(s9f9->message.item,
            Item::binary([&] {
              const std::string head = vexlor::hostsim::encode_header(unanswered->message.header);
              return std::vector<std::uint8_t>(head.begin(), head.end());
            }()));
  EXPECT_EQ(link_json(instance_.runtime_dir())["t3_timeouts"], 1);
  host->clear_responder(6, 11);
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_SpoolCountActual() == 1; }, 10));
  EXPECT_EQ(ask(*host, 6, 23, Item::u1({0})), ack(0));
  const auto again = host->wait_message(6, 11, 2, Duration(10000));
  ASSERT_TRUE(again);
  EXPECT_EQ(event_of(*again).second, one_value(10, 1));
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_SpoolCountActual() == 0; }, 10))
      << link_json(instance_.runtime_dir()).dump();

  // A data message for another device ID gets S9F1 with its header and no other answer; an
  // unknown stream S9F3, an unknown function S9F5.
  const std::uint32_t wrong = host->send_as(7, 1, 1, true, std::nullopt);
  const auto s9f1 = host->wait_message(9, 1, 1, Duration(10000));
  ASSERT_TRUE(s9f1);
  const std::string wrong_head = vexlor::hostsim::encode_header(
      vexlor::hostsim::data_header(7, 1, 1, true, wrong));
  EXPECT_EQ(s9f1->message.item, Item::binary(std::vector<std::uint8_t>(wrong_head.begin(), wrong_head.end())));
  EXPECT_FALSE(host->wait_reply(wrong, Duration(500)));
  const std::uint32_t s99 = host->send(99, 1, true, std::nullopt);
  const auto s9f3 = host->wait_message(9, 3, 1, Duration(10000));
  ASSERT_TRUE(s9f3);
  const std::string s99_head = vexlor::hostsim::encode_header(vexlor::hostsim::data_header(0, 99, 1, true, s99));
  EXPECT_EQ(s9f3->message.item, Item::binary(std::vector<std::uint8_t>(s99_head.begin(), s99_head.end())));
  const std::uint32_t f99 = host->send(1, 99, true, std::nullopt);
  const auto s9f5 = host->wait_message(9, 5, 1, Duration(10000));
  ASSERT_TRUE(s9f5);
  const std::string f99_head = vexlor::hostsim::encode_header(vexlor::hostsim::data_header(0, 1, 99, true, f99));
  EXPECT_EQ(s9f5->message.item, Item::binary(std::vector<std::uint8_t>(f99_head.begin(), f99_head.end())));

  // A second host while the first is selected is refused; the first goes on undisturbed.
  {
    Host second;
    std::string error;
    if (second.connect(static_cast<std::uint16_t>(port_), &error)) {
      EXPECT_NE(second.select(Duration(5000)), 0);
      EXPECT_TRUE(second.wait_closed(Duration(10000))) << second.close_reason();
    }
    EXPECT_FALSE(second.selected());
  }
  EXPECT_TRUE(host->selected());
  EXPECT_TRUE(host->linktest());
  EXPECT_EQ(ask(*host, 1, 3, Item::list({u4(2)})), Item::list({Item::u1({5})}));
  EXPECT_EQ(VIO_Get_GEM_Comm_Status(), 1);

  // Garbage: a length field below the header's ten bytes closes the connection; the next
  // connect works.
  ASSERT_TRUE(host->send_raw(std::string("\x00\x00\x00\x03" "abc", 7)));
  EXPECT_TRUE(host->wait_closed(Duration(10000)));
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_Comm_Status() == 0; }, 10));
  host = std::make_unique<Host>();
  bring_up(*host, port_);
  EXPECT_EQ(ask(*host, 1, 3, Item::list({u4(2)})), Item::list({Item::u1({5})}));

  // A host that hangs with the connection open: reports are still acknowledged at once, the
  // open transactions run out (T3) and go back to the spool; the next host gets every one.
  host->stop_reading();
  for (int i = 100; i < 120; ++i) {
    VDigital_Write_Mem(seq1, i);
    ASSERT_TRUE(VFA_Report_Event_CARRIER_CLAMPED(i));
  }
  ASSERT_TRUE(wait_until([&] { return link_json(instance_.runtime_dir())["t3_timeouts"] >= 2; }, 20));
  host->reset();
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_Comm_Status() == 0; }, 10));
  host = std::make_unique<Host>();
  bring_up(*host, port_);
  EXPECT_EQ(ask(*host, 6, 23, Item::u1({0})), ack(0));
  ASSERT_TRUE(wait_until([] { return VIO_Get_GEM_SpoolCountActual() == 0; }, 20));
  std::set<std::int64_t> values;
  for (const Received& r : host->received()) {
    if (r.message.is_data() && r.message.stream() == 6 && r.message.function() == 11) {
      const Item reports = event_of(r).second;
      ASSERT_EQ(reports.size(), 1u);
      values.insert(reports[0][1][0].signed_values().at(0));
    }
  }
  std::set<std::int64_t> expected;
  for (int i = 100; i < 120; ++i) expected.insert(i);
  EXPECT_EQ(values, expected);
}

// Four routines report at full speed while the host is connected: every event reaches the host
// exactly once, each sender's in the order it sent them, with the value of its moment.
TEST_F(HostLink, FourSendersEveryEventDeliveredOnceInOrder) {
  const int per_sender = reports_per_sender();
  // The senders are forked while this process has no thread yet; they report once the host
  // is set up.
  const std::string go_file = instance_.runtime_dir() + "/go";
  std::vector<pid_t> children;
  for (int k = 1; k <= kSenders; ++k) {
    children.push_back(spawn_child([k, per_sender, go_file] {
      const std::string name = "SENDER" + std::to_string(k);
      if (!VHub_Initial(name.c_str())) return 90;
      if (!wait_until([&go_file] { return ::access(go_file.c_str(), F_OK) == 0; }, 60)) return 92;
      int seq = -1;
      if (!VIO_Find_Point(&seq, IO_D, ("SEQ" + std::to_string(k)).c_str())) return 91;
      int failed = 0;
      for (int i = 0; i < per_sender; ++i) {
        VDigital_Write_Mem(seq, i);
        failed += report_as_sender(k, i) ? 0 : 1;
      }
      VHub_Release();
      return failed > 0 ? 1 : 0;
    }));
  }
  attach();
  Host host;
  bring_up(host, port_);
  EXPECT_EQ(ask(host, 1, 17, std::nullopt), ack(0));
  define_sender_reports(host);
  std::ofstream(go_file) << "go";
  for (pid_t child : children) EXPECT_EQ(wait_child(child, 300), 0);
  const std::size_t total = static_cast<std::size_t>(kSenders) * per_sender;
  std::vector<Received> got;
  ASSERT_TRUE(wait_until(
      [&] {
        for (Received& r : host.take_received()) {
          if (r.message.is_data() && r.message.stream() == 6 && r.message.function() == 11)
            got.push_back(std::move(r));
        }
        return got.size() >= total;
      },
      120))
      << got.size() << " of " << total;
  // Nothing more comes (no duplicate) once the equipment has nothing open.
  EXPECT_EQ(ask(host, 1, 3, Item::list({u4(2)})), Item::list({Item::u1({5})}));
  for (Received& r : host.take_received()) {
    if (r.message.is_data() && r.message.stream() == 6 && r.message.function() == 11)
      got.push_back(std::move(r));
  }
  ASSERT_EQ(got.size(), total);
  std::vector<int> next(kSenders + 1, 0);
  for (const Received& r : got) {
    const auto [ceid, reports] = event_of(r);
    int k = 1;
    while (k <= kSenders && kSenderCeid[k] != ceid) ++k;
    ASSERT_LE(k, kSenders) << r.message.to_text();
    ASSERT_EQ(reports, one_value(k, next[k])) << "sender " << k;
    ++next[k];
  }
  EXPECT_EQ(link_json(instance_.runtime_dir())["events_spooled"], 0);
}

// vexlor-eap killed again and again while four routines report and a host is connected: every
// event whose report the host link acknowledged reaches the host (sent, or spooled and sent
// when the host asks), however the kill fell.
TEST(HostLinkKilled, EveryAcknowledgedEventReachesTheHost) {
  PrivateInstance instance("hostlinkkill");
  publish(instance, true);
  ManagerProcess manager;
  ASSERT_TRUE(manager.start({"--config", instance.runtime_dir() + "/equipment.toml"}));
  const std::string eap = VEXLOR_TOOLS_DIR "/vexlor-eap";
  auto start_eap = [&eap] {
    return spawn_child([&eap] {
      // Only calls that take no lock before the exec: this process has threads by now.
      const int null_fd = ::open("/dev/null", O_WRONLY);
      if (null_fd < 0 || ::dup2(null_fd, 1) < 0) return 89;
      ::execl(eap.c_str(), eap.c_str(), "--port", "0", "--t3", "2", static_cast<char*>(nullptr));
      return 127;
    });
  };
  // The senders are forked first, while this process has no thread (a child forked beside
  // running threads may inherit a lock one of them held: the allocator's, under the
  // sanitizers); they report once the host is set up.
  const std::string stop_file = instance.runtime_dir() + "/stop";
  const std::string go_file = instance.runtime_dir() + "/go";
  std::vector<pid_t> senders;
  for (int k = 1; k <= kSenders; ++k) {
    senders.push_back(spawn_child([k, stop_file, go_file, &instance] {
      const std::string name = "SENDER" + std::to_string(k);
      if (!VHub_Initial(name.c_str())) return 90;
      if (!wait_until([&go_file] { return ::access(go_file.c_str(), F_OK) == 0; }, 60)) return 92;
      int seq = -1;
      if (!VIO_Find_Point(&seq, IO_D, ("SEQ" + std::to_string(k)).c_str())) return 91;
      std::ofstream acknowledged(instance.runtime_dir() + "/" + name + ".acknowledged");
      vexlor::detail::ConsoleCapture capture;
      for (int i = 0; ::access(stop_file.c_str(), F_OK) != 0; ++i) {
        capture.clear();
        VDigital_Write_Mem(seq, i);
        const bool sent = report_as_sender(k, i);
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
  ASSERT_TRUE(VHub_Initial("REPORTER"));
  const int port_point = point("FA.Local_Port");
  auto up = [&](pid_t* pid) {
    VDigital_Write_Mem(port_point, 0);
    *pid = start_eap();
    return wait_until([] { return routine_pid(kEap) > 0 && VFA_Get_Local_Port() > 0; }, 10);
  };
  std::vector<Received> got;
  auto keep = [&got](Host& host) {
    for (Received& r : host.take_received()) {
      if (r.message.is_data() && r.message.stream() == 6 && r.message.function() == 11)
        got.push_back(std::move(r));
    }
  };
  pid_t stand_in = -1;
  ASSERT_TRUE(up(&stand_in));
  auto host = std::make_unique<Host>();
  bring_up(*host, VFA_Get_Local_Port());
  EXPECT_EQ(VIO_Get_GEM_Control_State(), 5);
  define_sender_reports(*host);

  std::ofstream(go_file) << "go";
  const char* env = std::getenv("VEXLOR_EAP_KILLS");
  const int kills = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 6;
  for (int n = 0; n < kills; ++n) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150 + (n * 37) % 200));
    ::kill(stand_in, SIGKILL);
    ASSERT_EQ(wait_child(stand_in, 10), 128 + SIGKILL);
    ASSERT_TRUE(wait_until([&] { return !host->connected(); }, 10));
    keep(*host);
    ASSERT_TRUE(up(&stand_in)) << "kill " << n;
    host = std::make_unique<Host>();
    bring_up(*host, VFA_Get_Local_Port());
    EXPECT_EQ(VIO_Get_GEM_Control_State(), 5) << "kill " << n;
    const Item rsda = ask(*host, 6, 23, Item::u1({0}));
    EXPECT_TRUE(rsda == ack(0) || rsda == ack(2)) << vexlor::hostsim::to_sml(rsda);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::ofstream(stop_file) << "stop";
  for (pid_t pid : senders) EXPECT_EQ(wait_child(pid, 60), 0);
  // Whatever is still spooled is asked for until the spool is empty.
  ASSERT_TRUE(wait_until(
      [&] {
        const auto r = host->request(6, 23, Item::u1({0}), Duration(10000));
        return r && r->item == ack(2) && VIO_Get_GEM_SpoolCountActual() == 0;
      },
      60));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  keep(*host);
  host->separate();
  ::kill(stand_in, SIGKILL);
  EXPECT_EQ(wait_child(stand_in, 10), 128 + SIGKILL);

  std::map<int, std::set<std::int64_t>> delivered;
  for (const Received& r : got) {
    const auto [ceid, reports] = event_of(r);
    for (int k = 1; k <= kSenders; ++k) {
      if (kSenderCeid[k] == ceid) {
        ASSERT_EQ(reports.size(), 1u) << r.message.to_text();
        delivered[k].insert(reports[0][1][0].signed_values().at(0));
      }
    }
  }
  std::size_t checked = 0;
  std::vector<std::string> lost;
  for (int k = 1; k <= kSenders; ++k) {
    std::ifstream in(instance.runtime_dir() + "/SENDER" + std::to_string(k) + ".acknowledged");
    for (std::string i; std::getline(in, i); ++checked) {
      if (delivered[k].count(std::stoll(i)) == 0) lost.push_back(std::to_string(k) + ":" + i);
    }
  }
  EXPECT_GT(checked, static_cast<std::size_t>(kills));
  std::string lost_text;
  for (const auto& l : lost) lost_text += " " + l;
  EXPECT_TRUE(lost.empty()) << lost.size() << " acknowledged events never reached the host (sender:seq):"
                            << lost_text.substr(0, 2000);
  VHub_Release();
  EXPECT_EQ(manager.stop(), 0);
  vexlor::config::remove_database(nullptr);
}

}  // namespace
