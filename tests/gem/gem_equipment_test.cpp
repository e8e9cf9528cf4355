// The GEM equipment through a fake link and runtime: the state models, the host's messages and
// their acknowledge codes, event and alarm reports, remote commands, spooling, persistence.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "gem/equipment.h"
#include "gem_fakes.h"

namespace gem_test {
namespace {

using vexlor::gem::CommState;
using vexlor::gem::ControlState;
using vexlor::gem::GemEquipment;
using vexlor::gem::GemSettings;
using vexlor::gem::Mapping;
using vexlor::gem::Prepared;
using vexlor::gem::Store;
using vexlor::secs::Format;
using vexlor::secs::ReplyResult;

Mapping test_mapping() {
  Mapping m;
  m.events = vexlor::gem::standard_events();
  m.variables = vexlor::gem::standard_variables();
  m.constants = vexlor::gem::standard_constants();
  m.alarms = {{800, "System alarm"}, {1001, "Chamber pressure high, far beyond what the pump can take"}};
  m.commands = {vexlor::gem::run_command(),
                {"PPSELECT", "PM1_PROCESS", {"PPID", "LOT"}, "{PPID};{LOT}"}};
  return m;
}

uint32_t vid_of(const Mapping& m, const std::string& name) {
  for (const auto& v : m.variables) {
    if (v.name == name) return v.vid;
  }
  ADD_FAILURE() << "no variable " << name;
  return 0;
}

Item ack(uint8_t v) { return Item::binary(v); }

class GemEquipmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = std::filesystem::temp_directory_path() /
            ("gem_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db");
    std::filesystem::remove(file_);
    runtime_.set("GEM.PortID", "2");
    runtime_.set("GEM.PMState_MdlID", "PM2");
    runtime_.set("FA.T3", "45");
    runtime_.set("GEM.Spool_Enable", "1");
    runtime_.set("GEM.OverWriteSpool", "0");
    runtime_.set("GEM.MaxSpoolTransmit", "0");
    make();
  }
  void TearDown() override {
    gem_.reset();
    store_.reset();
    std::filesystem::remove(file_);
    std::filesystem::remove(file_.string() + "-wal");
    std::filesystem::remove(file_.string() + "-shm");
  }
  void make(GemSettings settings = defaults()) {
    gem_.reset();
    store_ = std::make_unique<Store>();
    std::string error;
    ASSERT_TRUE(store_->open(file_.string(), &error)) << error;
    gem_ = std::make_unique<GemEquipment>(test_mapping(), runtime_, store_.get(), settings);
    ASSERT_TRUE(gem_->start(&error, false)) << error;
    gem_->set_link(&link_);
  }
  static GemSettings defaults() {
    GemSettings s;
    s.model = "VEXLOR-CLUSTER-TOOL-MODEL-X";  // longer than MDLN's 20 characters
    s.soft_revision = "0.1.0";
    return s;
  }
  // Select, S1F13 answered with COMMACK 0.
  void establish() {
    const std::size_t k = link_.count();
    gem_->on_selected(true);
    ASSERT_EQ(link_.count(), k + 1);
    ASSERT_EQ(link_.at(k).stream * 100 + link_.at(k).function, 113);
    link_.answer(k, Item::list({ack(0), Item::list()}));
    ASSERT_EQ(gem_->status().view.comm, CommState::kCommunicating);
  }
  Item ask(int stream, int function, Item body = Item::list()) {
    const std::size_t before = link_.replies.size();
    gem_->on_primary(primary(stream, function, std::move(body)));
    EXPECT_EQ(link_.replies.size(), before + 1) << "S" << stream << "F" << function << " not answered";
    if (link_.replies.size() == before) return Item::ascii("<none>");
    EXPECT_EQ(link_.replies.back().first, stream * 100 + function + 1);
    return link_.replies.back().second;
  }
  void online() {
    establish();
    EXPECT_EQ(ask(1, 17), ack(0));
    ASSERT_EQ(gem_->status().view.control, ControlState::kOnlineRemote);
  }
  // Defines report 10 with the given VIDs, links it to the event and enables the event.
  void report_on(uint32_t ceid, std::vector<uint32_t> vids) {
    std::vector<Item> v;
    for (uint32_t vid : vids) v.push_back(Item::u4(vid));
    ASSERT_EQ(ask(2, 33, Item::list({Item::u4(1), Item::list({Item::list({Item::u4(10), Item::list(v)})})})),
              ack(0));
    ASSERT_EQ(ask(2, 35, Item::list({Item::u4(2), Item::list({Item::list({Item::u4(ceid),
                                                                         Item::list({Item::u4(10)})})})})),
              ack(0));
    ASSERT_EQ(ask(2, 37, Item::list({Item::boolean(true), Item::list({Item::u4(ceid)})})), ack(0));
  }

  std::filesystem::path file_;
  FakeLink link_;
  FakeRuntime runtime_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<GemEquipment> gem_;
};

TEST_F(GemEquipmentTest, CommunicationStateFollowsS1F13AndTheLink) {
  EXPECT_EQ(gem_->status().view.comm, CommState::kWaitDelay);
  // Selected: S1F13 leaves at once, and the timer sends no second one while it is open. Not
  // communicating: only S1F13 is answered, anything else aborted.
  EXPECT_EQ(link_.count(), 0u);
  gem_->on_selected(true);
  ASSERT_EQ(link_.count(), 1u);
  gem_->tick(GemEquipment::Clock::now() + std::chrono::seconds(11));
  ASSERT_EQ(link_.count(), 1u);
  const Sent s1f13 = link_.at(0);
  EXPECT_EQ(s1f13.stream * 100 + s1f13.function, 113);
  EXPECT_TRUE(s1f13.wbit);
  EXPECT_EQ(s1f13.body, Item::list({Item::ascii("VEXLOR-CLUSTER-TOOL-"), Item::ascii("0.1.0")}));
  EXPECT_EQ(gem_->status().view.comm, CommState::kWaitCra);
  gem_->on_primary(primary(1, 3, Item::list()));
  EXPECT_EQ(link_.aborts, std::vector<int>{103});
  // The host refuses: WAIT DELAY, and a new S1F13 once the delay (10 s) has passed.
  link_.answer(0, Item::list({ack(1), Item::list()}));
  EXPECT_EQ(gem_->status().view.comm, CommState::kWaitDelay);
  gem_->tick(GemEquipment::Clock::now() + std::chrono::seconds(2));
  EXPECT_EQ(link_.count(), 1u);
  gem_->tick(GemEquipment::Clock::now() + std::chrono::seconds(11));
  ASSERT_EQ(link_.count(), 2u);
  link_.answer(1, Item::list({ack(0), Item::list()}));
  EXPECT_EQ(gem_->status().view.comm, CommState::kCommunicating);
  EXPECT_EQ(runtime_.last_view().comm, CommState::kCommunicating);
  // The TCP link breaks: not communicating at once.
  gem_->on_selected(false);
  EXPECT_EQ(gem_->status().view.comm, CommState::kWaitDelay);
  EXPECT_EQ(runtime_.last_view().comm, CommState::kWaitDelay);
  // The host's S1F13 establishes it from its side.
  gem_->on_selected(true);
  EXPECT_EQ(ask(1, 13), Item::list({ack(0), Item::list({Item::ascii("VEXLOR-CLUSTER-TOOL-"),
                                                        Item::ascii("0.1.0")})}));
  EXPECT_EQ(gem_->status().view.comm, CommState::kCommunicating);
  // Disabled: the link is to be stopped, and nothing is answered any more.
  EXPECT_EQ(gem_->request("REQUEST_DISABLE"), GemEquipment::LinkAction::kStop);
  EXPECT_EQ(gem_->status().view.comm, CommState::kDisabled);
  EXPECT_FALSE(runtime_.last_view().enabled);
  gem_->on_primary(primary(1, 13));
  EXPECT_EQ(link_.aborts.back(), 113);
  EXPECT_EQ(gem_->request("REQUEST_ENABLE"), GemEquipment::LinkAction::kStart);
  EXPECT_EQ(gem_->request("REQUEST_RECONNECT"), GemEquipment::LinkAction::kReconnect);
  EXPECT_EQ(gem_->status().view.comm, CommState::kWaitDelay);
}

TEST_F(GemEquipmentTest, ControlStateOfflineOnlineLocalRemote) {
  establish();
  EXPECT_EQ(gem_->status().view.control, ControlState::kHostOffline);
  // Offline: S1F1 aborted; S1F17 accepted once, then "already online".
  gem_->on_primary(primary(1, 1));
  EXPECT_EQ(link_.aborts, std::vector<int>{101});
  EXPECT_EQ(ask(1, 17), ack(0));
  EXPECT_EQ(gem_->status().view.control, ControlState::kOnlineRemote);
  EXPECT_EQ(runtime_.last_view().control, ControlState::kOnlineRemote);
  EXPECT_EQ(ask(1, 17), ack(2));
  EXPECT_EQ(ask(1, 1), Item::list({Item::ascii("VEXLOR-CLUSTER-TOOL-"), Item::ascii("0.1.0")}));
  // The host takes it offline.
  EXPECT_EQ(ask(1, 15), ack(0));
  EXPECT_EQ(gem_->status().view.control, ControlState::kHostOffline);
  EXPECT_EQ(gem_->status().previous_control, ControlState::kOnlineRemote);
  EXPECT_EQ(ask(1, 17), ack(0));
  // The operator takes it offline; then the host may not bring it online.
  gem_->request("REQUEST_OFFLINE");
  EXPECT_EQ(gem_->status().view.control, ControlState::kEquipmentOffline);
  EXPECT_EQ(ask(1, 17), ack(1));
  // The operator asks for online local: S1F1 to the host, online once it answers.
  const std::size_t k = link_.count();
  gem_->request("REQUEST_LOCAL");
  EXPECT_EQ(gem_->status().view.control, ControlState::kAttemptOnline);
  ASSERT_EQ(link_.count(), k + 1);
  EXPECT_EQ(link_.at(k).stream * 100 + link_.at(k).function, 101);
  link_.answer(k, Item::list({Item::ascii("HOST"), Item::ascii("1")}));
  EXPECT_EQ(gem_->status().view.control, ControlState::kOnlineLocal);
  // Online local: remote commands cannot be performed now.
  EXPECT_EQ(ask(2, 41, Item::list({Item::ascii("RUN"), Item::list()})),
            Item::list({ack(2), Item::list()}));
  gem_->request("REQUEST_REMOTE");
  EXPECT_EQ(gem_->status().view.control, ControlState::kOnlineRemote);
  // An attempt the host does not answer ends in host offline.
  gem_->request("REQUEST_OFFLINE");
  gem_->request("REQUEST_REMOTE");
  link_.fail(link_.count() - 1, ReplyResult::kTimeout);
  EXPECT_EQ(gem_->status().view.control, ControlState::kHostOffline);
  // Without communication the attempt ends at once.
  gem_->request("REQUEST_OFFLINE");
  gem_->on_selected(false);
  gem_->request("REQUEST_REMOTE");
  EXPECT_EQ(gem_->status().view.control, ControlState::kHostOffline);
}

TEST_F(GemEquipmentTest, StatusVariablesNamesAndUnknownMessages) {
  online();
  const Mapping m = test_mapping();
  const uint32_t port = vid_of(m, "GEM.PortID");  // a DV: not a status variable
  const uint32_t t3 = vid_of(m, "FA.T3");
  EXPECT_EQ(ask(1, 3, Item::list({Item::u4(2), Item::u4(t3), Item::u4(port), Item::u4(999999)})),
            Item::list({Item::u1(5), Item::i4(45), Item::list(), Item::list()}));
  EXPECT_EQ(ask(1, 11, Item::list({Item::u4(t3), Item::u4(999999)})),
            Item::list({Item::list({Item::u4(t3), Item::ascii("FA.T3"), Item::ascii("")}),
                        Item::list({Item::u4(999999), Item::ascii(""), Item::ascii("")})}));
  // An empty list asks for every status variable.
  std::size_t svs = 0;
  for (const auto& v : m.variables) svs += v.status ? 1 : 0;
  EXPECT_EQ(ask(1, 3, Item::list()).size(), svs);
  EXPECT_EQ(ask(1, 11, Item::list()).size(), svs);
  // Unknown stream and function.
  gem_->on_primary(primary(7, 1));
  gem_->on_primary(primary(1, 99));
  EXPECT_EQ(link_.s9, (std::vector<std::pair<int, int>>{{3, 701}, {5, 199}}));
}

TEST_F(GemEquipmentTest, EquipmentConstantsRangeCheckedAndWritten) {
  online();
  // ECIDs 1 (T3, 1..120 s, on FA.T3) and 8 (SpoolMax, kept by the link).
  EXPECT_EQ(ask(2, 13, Item::list({Item::u4(1), Item::u4(8), Item::u4(77)})),
            Item::list({Item::u4(45), Item::u4(100000), Item::list()}));
  EXPECT_EQ(ask(2, 15, Item::list({Item::list({Item::u4(1), Item::u4(121)})})), ack(3));
  EXPECT_EQ(ask(2, 15, Item::list({Item::list({Item::u4(77), Item::u4(1)})})), ack(1));
  // All or nothing: a bad pair leaves the good one unapplied.
  EXPECT_EQ(ask(2, 15, Item::list({Item::list({Item::u4(1), Item::u4(30)}),
                                   Item::list({Item::u4(8), Item::u4(0)})})),
            ack(3));
  EXPECT_EQ(runtime_.get("FA.T3"), "45");
  EXPECT_EQ(ask(2, 15, Item::list({Item::list({Item::u4(1), Item::u4(30)}),
                                   Item::list({Item::u4(8), Item::ascii("500")})})),
            ack(0));
  EXPECT_EQ(runtime_.get("FA.T3"), "30");
  EXPECT_EQ(ask(2, 13, Item::list({Item::u4(1), Item::u4(8)})),
            Item::list({Item::u4(30), Item::u4(500)}));
  EXPECT_EQ(ask(2, 29, Item::list({Item::u4(1), Item::u4(77)})),
            Item::list({Item::list({Item::u4(1), Item::ascii("T3"), Item::u4(1), Item::u4(120),
                                    Item::u4(45), Item::ascii("s")}),
                        Item::list({Item::u4(77), Item::ascii(""), Item::ascii(""), Item::ascii(""),
                                    Item::ascii(""), Item::ascii("")})}));
}

TEST_F(GemEquipmentTest, EventReportsCarryTheValuesOfTheirMoment) {
  online();
  const Mapping m = test_mapping();
  const uint32_t port = vid_of(m, "GEM.PortID"), mdl = vid_of(m, "GEM.PMState_MdlID");
  const uint32_t clamped = m.event_by_name("CARRIER_CLAMPED")->ceid;
  EXPECT_EQ(clamped, 2011u);
  // Not enabled yet: nothing to send.
  EXPECT_FALSE(gem_->prepare_event("CARRIER_CLAMPED").valid);
  // Define: unknown VID (4), then a good one; the same RPTID again (3); bad format (2).
  EXPECT_EQ(ask(2, 33, Item::list({Item::u4(1), Item::list({Item::list(
                                                    {Item::u4(10), Item::list({Item::u4(424242)})})})})),
            ack(4));
  report_on(clamped, {port, mdl});
  EXPECT_EQ(ask(2, 33, Item::list({Item::u4(1), Item::list({Item::list(
                                                    {Item::u4(10), Item::list({Item::u4(port)})})})})),
            ack(3));
  EXPECT_EQ(ask(2, 33, Item::ascii("x")), ack(2));
  // Link: unknown CEID (4), unknown RPTID (5), already linked (3).
  EXPECT_EQ(ask(2, 35, Item::list({Item::u4(2), Item::list({Item::list(
                                                    {Item::u4(1), Item::list({Item::u4(10)})})})})),
            ack(4));
  EXPECT_EQ(ask(2, 35, Item::list({Item::u4(2), Item::list({Item::list(
                                                    {Item::u4(clamped), Item::list({Item::u4(11)})})})})),
            ack(5));
  EXPECT_EQ(ask(2, 35, Item::list({Item::u4(2), Item::list({Item::list(
                                                    {Item::u4(clamped), Item::list({Item::u4(10)})})})})),
            ack(3));
  EXPECT_EQ(ask(2, 37, Item::list({Item::boolean(true), Item::list({Item::u4(1)})})), ack(1));

  // The values are taken when the event happens, not when it is sent.
  Prepared p = gem_->prepare_event("CARRIER_CLAMPED");
  runtime_.set("GEM.PortID", "7");
  ASSERT_TRUE(p.valid);
  const std::size_t k = link_.count();
  gem_->deliver(p);
  ASSERT_EQ(link_.count(), k + 1);
  const Sent s = link_.at(k);
  EXPECT_EQ(s.stream * 100 + s.function, 611);
  EXPECT_TRUE(s.wbit);
  ASSERT_EQ(s.body.size(), 3u);
  EXPECT_EQ(s.body.items()[1], Item::u4(clamped));
  EXPECT_EQ(s.body.items()[2],
            Item::list({Item::list({Item::u4(10), Item::list({Item::i4(2), Item::ascii("PM2")})})}));
  // The host asks for the report now (S6F15): the current value.
  const Item now = ask(6, 15, Item::u4(clamped));
  EXPECT_EQ(now.items()[2],
            Item::list({Item::list({Item::u4(10), Item::list({Item::i4(7), Item::ascii("PM2")})})}));
  // Several transactions open at once: the next event leaves before the first is answered.
  gem_->deliver(gem_->prepare_event("CARRIER_CLAMPED"));
  EXPECT_EQ(link_.count(), k + 2);
  EXPECT_GT(link_.at(k + 1).body.items()[0].uint_values()[0], s.body.items()[0].uint_values()[0]);
  link_.answer(k + 1, ack(0));
  link_.answer(k, ack(0));
  EXPECT_EQ(gem_->status().events_sent, 2u);
  // Deleting the report unlinks it; disabling the event stops it.
  EXPECT_EQ(ask(2, 33, Item::list({Item::u4(3), Item::list({Item::list({Item::u4(10), Item::list()})})})),
            ack(0));
  EXPECT_EQ(gem_->definitions().links.count(clamped), 0u);
  EXPECT_EQ(ask(2, 37, Item::list({Item::boolean(false), Item::list()})), ack(0));
  EXPECT_FALSE(gem_->prepare_event("CARRIER_CLAMPED").valid);
  // Offline, an enabled event is not sent.
  ASSERT_EQ(ask(2, 37, Item::list({Item::boolean(true), Item::list()})), ack(0));
  EXPECT_EQ(gem_->definitions().enabled_events.size(), m.events.size());
  EXPECT_EQ(ask(1, 15), ack(0));
  const std::size_t offline = link_.count();  // after HOST_OFFLINE's own report
  gem_->deliver(gem_->prepare_event("CARRIER_CLAMPED"));
  EXPECT_EQ(link_.count(), offline);
  EXPECT_EQ(link_.at(offline - 1).body.items()[1], Item::u4(m.event_by_name("HOST_OFFLINE")->ceid));
}

TEST_F(GemEquipmentTest, AlarmsReportedEnabledAndListed) {
  online();
  const std::size_t k = link_.count();
  gem_->deliver(gem_->prepare_alarm(1001, true, ""));
  gem_->deliver(gem_->prepare_alarm(1001, false, ""));
  ASSERT_EQ(link_.count(), k + 2);
  EXPECT_EQ(link_.at(k).stream * 100 + link_.at(k).function, 501);
  EXPECT_EQ(link_.at(k).body, Item::list({ack(0x80), Item::u4(1001),
                                          Item::ascii("Chamber pressure high, far beyond what t")}));
  EXPECT_EQ(link_.at(k + 1).body.items()[0], ack(0));
  // An alarm the table does not know goes with the given text.
  gem_->deliver(gem_->prepare_alarm(5, true, "Door open"));
  EXPECT_EQ(link_.at(k + 2).body, Item::list({ack(0x80), Item::u4(5), Item::ascii("Door open")}));
  // Disabled alarms are not reported, but their state is kept.
  EXPECT_EQ(ask(5, 3, Item::list({ack(0), Item::u4(1001)})), ack(0));
  EXPECT_EQ(ask(5, 3, Item::list({ack(0x80), Item::u4(4)})), ack(1));
  EXPECT_FALSE(gem_->prepare_alarm(1001, true, "").valid);
  EXPECT_EQ(ask(5, 5, Item::uints(Format::kU4, {1001, 800})),
            Item::list({Item::list({ack(0x80), Item::u4(1001),
                                    Item::ascii("Chamber pressure high, far beyond what t")}),
                        Item::list({ack(0), Item::u4(800), Item::ascii("System alarm")})}));
  EXPECT_EQ(ask(5, 5, Item::uints(Format::kU4, {})).size(), 2u);
  // Enabling all again.
  EXPECT_EQ(ask(5, 3, Item::list({ack(0x80), Item::uints(Format::kU4, {})})), ack(0));
  EXPECT_TRUE(gem_->prepare_alarm(1001, false, "").valid);
}

TEST_F(GemEquipmentTest, RemoteCommandsRunRoutines) {
  online();
  auto cp = [](const char* name, Item value) { return Item::list({Item::ascii(name), value}); };
  EXPECT_EQ(ask(2, 41, Item::list({Item::ascii("RUN"), Item::list({cp("ROUTINE", Item::ascii("PM1_VENT")),
                                                                   cp("ARGS", Item::ascii("3,fast"))})})),
            Item::list({ack(4), Item::list()}));
  EXPECT_EQ(ask(2, 41, Item::list({Item::ascii("PPSELECT"),
                                   Item::list({cp("LOT", Item::ascii("L7")), cp("PPID", Item::u4(12))})})),
            Item::list({ack(4), Item::list()}));
  EXPECT_EQ(runtime_.runs, (std::vector<std::pair<std::string, std::string>>{
                               {"PM1_VENT", "3,fast"}, {"PM1_PROCESS", "12;L7"}}));
  EXPECT_EQ(ask(2, 41, Item::list({Item::ascii("FLY"), Item::list()})), Item::list({ack(1), Item::list()}));
  EXPECT_EQ(ask(2, 41, Item::list({Item::ascii("RUN"), Item::list({cp("ARGS", Item::ascii("x"))})})),
            Item::list({ack(3), Item::list({cp("ROUTINE", ack(2))})}));
  EXPECT_EQ(ask(2, 41, Item::list({Item::ascii("RUN"), Item::list({cp("ROUTINE", Item::ascii("NO_SUCH")),
                                                                   cp("SPEED", Item::u4(1))})})),
            Item::list({ack(3), Item::list({cp("SPEED", ack(1))})}));
  EXPECT_EQ(ask(2, 41, Item::list({Item::ascii("RUN"), Item::list({cp("ROUTINE", Item::ascii("NO_SUCH"))})})),
            Item::list({ack(3), Item::list({cp("ROUTINE", ack(2))})}));
  EXPECT_EQ(runtime_.runs.size(), 3u);
}

TEST_F(GemEquipmentTest, TerminalServicesAndClock) {
  online();
  EXPECT_EQ(ask(10, 3, Item::list({ack(1), Item::ascii("Lot L7 on hold")})), ack(0));
  runtime_.terminal = false;
  EXPECT_EQ(ask(10, 3, Item::list({ack(1), Item::ascii("again")})), ack(2));
  EXPECT_EQ(runtime_.messages, (std::vector<std::pair<int, std::string>>{{1, "Lot L7 on hold"}, {1, "again"}}));
  const std::size_t k = link_.count();
  gem_->deliver(gem_->prepare_terminal(0, "operator here"));
  EXPECT_EQ(link_.at(k).stream * 100 + link_.at(k).function, 1001);
  EXPECT_EQ(link_.at(k).body, Item::list({ack(0), Item::ascii("operator here")}));
  // The host sets the clock: an offset, the machine's clock untouched.
  EXPECT_EQ(ask(2, 31, Item::ascii("2041013112000000")), ack(0));
  EXPECT_EQ(ask(2, 17).text().substr(0, 12), "204101311200");
  EXPECT_NE(gem_->status().clock_offset_ms, 0);
  EXPECT_EQ(ask(2, 31, Item::ascii("2041133112000000")), ack(1));
  EXPECT_EQ(ask(2, 31, Item::ascii("41013112000")), ack(1));
  EXPECT_EQ(ask(2, 31, Item::ascii("410131120000")), ack(0));
  EXPECT_EQ(ask(2, 17).text().substr(0, 12), "204101311200");
}

TEST_F(GemEquipmentTest, TraceDataCollectionSamplesAtThePeriod) {
  online();
  const Mapping m = test_mapping();
  const uint32_t t3 = vid_of(m, "FA.T3");
  EXPECT_EQ(ask(2, 23, Item::list({Item::u4(5), Item::ascii("000001"), Item::u4(4), Item::u4(2),
                                   Item::list({Item::u4(t3)})})),
            ack(0));
  EXPECT_EQ(ask(2, 23, Item::list({Item::u4(6), Item::ascii("000000"), Item::u4(4), Item::u4(2),
                                   Item::list({Item::u4(t3)})})),
            ack(3));
  EXPECT_EQ(ask(2, 23, Item::list({Item::u4(6), Item::ascii("000001"), Item::u4(4), Item::u4(5),
                                   Item::list({Item::u4(t3)})})),
            ack(5));
  EXPECT_EQ(ask(2, 23, Item::list({Item::u4(6), Item::ascii("000001"), Item::u4(4), Item::u4(1),
                                   Item::list({Item::u4(vid_of(m, "GEM.PortID"))})})),
            ack(4));
  const auto start = GemEquipment::Clock::now();
  const std::size_t k = link_.count();
  gem_->tick(start + std::chrono::milliseconds(1100));
  EXPECT_EQ(link_.count(), k);  // one sample of a group of two
  runtime_.set("FA.T3", "46");
  gem_->tick(start + std::chrono::milliseconds(2100));
  ASSERT_EQ(link_.count(), k + 1);
  const Sent s = link_.at(k);
  EXPECT_EQ(s.stream * 100 + s.function, 601);
  EXPECT_EQ(s.body.items()[0], Item::u4(5));
  EXPECT_EQ(s.body.items()[1], Item::u4(2));
  EXPECT_EQ(s.body.items()[3], Item::list({Item::i4(45), Item::i4(46)}));
  gem_->tick(start + std::chrono::milliseconds(3100));
  gem_->tick(start + std::chrono::milliseconds(4100));
  ASSERT_EQ(link_.count(), k + 2);
  EXPECT_EQ(link_.at(k + 1).body.items()[1], Item::u4(4));
  EXPECT_EQ(gem_->status().traces, 0u);  // all four samples taken
  gem_->tick(start + std::chrono::milliseconds(9100));
  EXPECT_EQ(link_.count(), k + 2);
}

TEST_F(GemEquipmentTest, SpoolWhileTheLinkIsDownThenUploadInOrder) {
  online();
  report_on(2011, {vid_of(test_mapping(), "GEM.PortID")});
  // The link breaks: three events are spooled (with their values of that moment).
  gem_->on_selected(false);
  for (int port = 1; port <= 3; ++port) {
    runtime_.set("GEM.PortID", std::to_string(port));
    gem_->deliver(gem_->prepare_event("CARRIER_CLAMPED"));
  }
  EXPECT_EQ(gem_->status().view.spool_count, 3);
  EXPECT_EQ(gem_->status().view.spool_state, "NOT FULL");
  EXPECT_EQ(runtime_.last_view().spool_count, 3);
  // A message whose transaction ends without an answer is spooled too, before the newer ones.
  establish();
  EXPECT_EQ(gem_->status().view.spool_state, "NO SPOOL OUTPUT");
  runtime_.set("GEM.PortID", "0");
  const std::size_t lost = link_.count();
  gem_->deliver(gem_->prepare_event("CARRIER_CLAMPED"));
  gem_->on_selected(false);
  link_.fail(lost, ReplyResult::kClosed);
  EXPECT_EQ(gem_->status().view.spool_count, 4);
  // Reconnected: the host asks for the spool.
  establish();
  const std::size_t k = link_.count();
  EXPECT_EQ(ask(6, 23, Item::u1(0)), ack(0));
  for (int i = 0; i < 1000 && link_.count() < k + 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(link_.count(), k + 4);
  std::vector<int64_t> ports;
  for (std::size_t i = k; i < k + 4; ++i) {
    ports.push_back(link_.at(i).body.items()[2].items()[0].items()[1].items()[0].int_values()[0]);
  }
  EXPECT_EQ(ports, (std::vector<int64_t>{1, 2, 3, 0}));
  EXPECT_EQ(ask(6, 23, Item::u1(0)), ack(1));  // still transmitting
  for (std::size_t i = k; i < k + 4; ++i) link_.answer(i, ack(0));
  for (int i = 0; i < 1000 && gem_->status().view.spool_state != "INACTIVE"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(gem_->status().view.spool_count, 0);
  EXPECT_EQ(store_->spool_count(), 0);
  EXPECT_EQ(ask(6, 23, Item::u1(0)), ack(2));
}

TEST_F(GemEquipmentTest, SpoolBoundedSwitchableAndPurged) {
  online();
  report_on(2011, {1});
  ASSERT_EQ(ask(2, 15, Item::list({Item::list({Item::u4(8), Item::u4(2)})})), ack(0));  // SpoolMax
  gem_->on_selected(false);
  for (int i = 0; i < 3; ++i) gem_->deliver(gem_->prepare_event("CARRIER_CLAMPED"));
  EXPECT_EQ(gem_->status().view.spool_count, 2);
  EXPECT_EQ(gem_->status().view.spool_state, "FULL");
  EXPECT_EQ(gem_->status().events_dropped, 1u);
  // Overwrite: the oldest gives way.
  runtime_.set("GEM.OverWriteSpool", "1");
  gem_->deliver(gem_->prepare_event("CARRIER_CLAMPED"));
  std::vector<vexlor::gem::SpoolEntry> entries;
  std::string error;
  ASSERT_TRUE(store_->spool_front(10, &entries, &error));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].seq - entries[0].seq, 2);
  // Spooling switched off by its constant: dropped.
  runtime_.set("GEM.Spool_Enable", "0");
  gem_->deliver(gem_->prepare_event("CARRIER_CLAMPED"));
  EXPECT_EQ(gem_->status().events_dropped, 2u);
  EXPECT_EQ(gem_->status().view.spool_count, 2);
  establish();
  EXPECT_EQ(ask(6, 23, Item::u1(1)), ack(0));
  EXPECT_EQ(store_->spool_count(), 0);
  EXPECT_EQ(gem_->status().view.spool_state, "INACTIVE");
}

TEST_F(GemEquipmentTest, HostDefinitionsOutliveARestart) {
  online();
  report_on(2011, {vid_of(test_mapping(), "GEM.PortID"), 1});
  ASSERT_EQ(ask(2, 15, Item::list({Item::list({Item::u4(1), Item::u4(20)}),
                                   Item::list({Item::u4(12), Item::u4(30)})})),
            ack(0));
  ASSERT_EQ(ask(5, 3, Item::list({ack(0), Item::u4(800)})), ack(0));
  ASSERT_EQ(ask(2, 31, Item::ascii("2041013112000000")), ack(0));
  gem_->on_selected(false);
  gem_->deliver(gem_->prepare_event("CARRIER_CLAMPED"));
  const vexlor::gem::Definitions before = gem_->definitions();
  // The equipment restarts (its points back at their configured values).
  runtime_.set("FA.T3", "45");
  make();
  EXPECT_TRUE(gem_->definitions() == before);
  EXPECT_EQ(gem_->definitions().reports.at(10), (std::vector<uint32_t>{vid_of(test_mapping(), "GEM.PortID"), 1}));
  EXPECT_EQ(gem_->definitions().constants.at(12), 30.0);
  EXPECT_EQ(runtime_.get("FA.T3"), "20");
  EXPECT_EQ(gem_->status().view.spool_count, 1);
  // The event stays enabled and the alarm disabled (nothing is reported until the host brings
  // the restarted equipment online).
  EXPECT_EQ(gem_->definitions().disabled_alarms.count(800), 1u);
  EXPECT_EQ(gem_->definitions().enabled_events.count(
                test_mapping().event_by_name("CARRIER_CLAMPED")->ceid),
            1u);
  EXPECT_FALSE(gem_->prepare_event("CARRIER_CLAMPED").valid);
  EXPECT_EQ(gem_->clock_text().substr(0, 8), "20410131");
}

}  // namespace
}  // namespace gem_test
