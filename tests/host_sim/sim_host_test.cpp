// The host simulator's session against a scripted equipment in this test: a listening socket
// that reads the host's bytes and compares them with frames written out by hand, and writes
// hand-made frames back. These check the oracle itself: what it sends, how it answers, how it
// matches replies, and how it behaves when the peer or the test misbehaves.
#include "host_sim/sim_host.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "host_sim/scripted_equipment.h"

using namespace vexlor::hostsim;
using vexlor::test::bytes;
using vexlor::test::ScriptedEquipment;

namespace {

const std::string kSelectReq1 =
    bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01});
const std::string kSelectRsp1 =
    bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01});

std::string linktest_req(int system_low) {
  return bytes(
      {0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x02, system_low});
}
std::string linktest_rsp(int system_low) {
  return bytes(
      {0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x02, system_low});
}

// Connects a host with device ID 7 and selects it through the scripted equipment.
void connect_and_select(Host& host, ScriptedEquipment& equipment) {
  std::string error;
  ASSERT_TRUE(host.connect(equipment.port(), &error)) << error;
  ASSERT_TRUE(equipment.accept());
  std::thread answer([&] {
    EXPECT_EQ(equipment.read(14), kSelectReq1);
    equipment.write(kSelectRsp1);
  });
  EXPECT_EQ(host.select(), 0);
  answer.join();
  EXPECT_TRUE(host.selected());
}

}  // namespace

TEST(HostSimSession, RequestsRepliesAndAutomaticAnswers) {
  ScriptedEquipment equipment;
  Host host(7);
  connect_and_select(host, equipment);

  // S1F1 W to device 7 with system bytes 2; a reply to some other transaction comes first and
  // is not taken for this one.
  std::thread answer([&] {
    EXPECT_EQ(equipment.read(14), bytes({0x00, 0x00, 0x00, 0x0A, 0x00, 0x07, 0x81, 0x01, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x02}));
    equipment.write(bytes({0x00, 0x00, 0x00, 0x0C, 0x00, 0x07, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00,
                           0x00, 0x63, 0x01, 0x00}));
    // S1F2 <L [2] <A "M"> <A "1">>
    equipment.write(bytes({0x00, 0x00, 0x00, 0x12, 0x00, 0x07, 0x01, 0x02, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0x02, 0x01, 0x02, 0x41, 0x01, 0x4D, 0x41, 0x01, 0x31}));
  });
  const std::optional<Message> s1f2 = host.request(1, 1, std::nullopt);
  answer.join();
  ASSERT_TRUE(s1f2.has_value());
  EXPECT_EQ(s1f2->to_text(), "S1F2 <L [2] <A \"M\"> <A \"1\">>");
  EXPECT_EQ(host.unmatched_replies(), 1u);

  // The equipment's S6F11 W (system 0x100) is acknowledged with S6F12 <B 0> under the same
  // system bytes and the host's device ID.
  const std::string s6f11_w = bytes({0x00, 0x00, 0x00, 0x0C, 0x00, 0x07, 0x86, 0x0B, 0x00, 0x00,
                                     0x00, 0x00, 0x01, 0x00, 0x01, 0x00});
  equipment.write(s6f11_w);
  EXPECT_EQ(equipment.read(17), bytes({0x00, 0x00, 0x00, 0x0D, 0x00, 0x07, 0x06, 0x0C, 0x00, 0x00,
                                       0x00, 0x00, 0x01, 0x00, 0x21, 0x01, 0x00}));
  // S1F13 W gets <L [2] <B 0> <L [0]>>.
  equipment.write(bytes({0x00, 0x00, 0x00, 0x0C, 0x00, 0x07, 0x81, 0x0D, 0x00, 0x00, 0x00, 0x00,
                         0x01, 0x01, 0x01, 0x00}));
  EXPECT_EQ(equipment.read(21),
            bytes({0x00, 0x00, 0x00, 0x11, 0x00, 0x07, 0x01, 0x0E, 0x00, 0x00, 0x00,
                   0x00, 0x01, 0x01, 0x01, 0x02, 0x21, 0x01, 0x00, 0x01, 0x00}));
  // S5F1 W and S10F1 W are acknowledged with <B 0>.
  equipment.write(
      bytes({0x00, 0x00, 0x00, 0x0A, 0x00, 0x07, 0x85, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02}));
  EXPECT_EQ(equipment.read(17), bytes({0x00, 0x00, 0x00, 0x0D, 0x00, 0x07, 0x05, 0x02, 0x00, 0x00,
                                       0x00, 0x00, 0x01, 0x02, 0x21, 0x01, 0x00}));
  equipment.write(
      bytes({0x00, 0x00, 0x00, 0x0A, 0x00, 0x07, 0x8A, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x03}));
  EXPECT_EQ(equipment.read(17), bytes({0x00, 0x00, 0x00, 0x0D, 0x00, 0x07, 0x0A, 0x02, 0x00, 0x00,
                                       0x00, 0x00, 0x01, 0x03, 0x21, 0x01, 0x00}));
  // A primary the host does not know is aborted: S99F0.
  equipment.write(
      bytes({0x00, 0x00, 0x00, 0x0A, 0x00, 0x07, 0xE3, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x04}));
  EXPECT_EQ(equipment.read(14), bytes({0x00, 0x00, 0x00, 0x0A, 0x00, 0x07, 0x63, 0x00, 0x00, 0x00,
                                       0x00, 0x00, 0x01, 0x04}));
  // Linktest.req is answered.
  equipment.write(linktest_req(1));
  EXPECT_EQ(equipment.read(14), linktest_rsp(1));
  // An S6F11 without the W-bit gets no reply, nor one a silent responder stops: the next bytes
  // the host writes are the answer to the linktest after them.
  host.set_responder(6, 11, Host::silent());
  equipment.write(bytes({0x00, 0x00, 0x00, 0x0C, 0x00, 0x07, 0x06, 0x0B, 0x00, 0x00, 0x00, 0x00,
                         0x01, 0x05, 0x01, 0x00}));
  equipment.write(s6f11_w);
  equipment.write(linktest_req(2));
  EXPECT_EQ(equipment.read(14), linktest_rsp(2));
  // A responder of the test's own chooses the body.
  host.set_responder(6, 11, [](const Message& primary, std::optional<Item>* body) {
    *body = Item::binary1(primary.item ? 0 : 3);
    return true;
  });
  equipment.write(
      bytes({0x00, 0x00, 0x00, 0x0A, 0x00, 0x07, 0x86, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x01, 0x06}));
  EXPECT_EQ(equipment.read(17), bytes({0x00, 0x00, 0x00, 0x0D, 0x00, 0x07, 0x06, 0x0C, 0x00, 0x00,
                                       0x00, 0x00, 0x01, 0x06, 0x21, 0x01, 0x03}));

  // Everything received is logged in arrival order; the nth S6F11 is found by count.
  const std::optional<Received> third = host.wait_message(6, 11, 3);
  ASSERT_TRUE(third.has_value());
  EXPECT_EQ(third->message.to_text(), "S6F11 W <L [0]>");
  EXPECT_EQ(third->message.header.system, 0x0100u);
  EXPECT_EQ(host.count(6, 11), 4u);
  const std::vector<Received> log = host.received();
  std::vector<std::string> names;
  for (const Received& r : log) names.push_back(std::to_string(r.order) + " " + r.message.name());
  EXPECT_EQ(names,
            (std::vector<std::string>{"1 Select.rsp", "2 S1F2", "3 S1F2", "4 S6F11 W", "5 S1F13 W",
                                      "6 S5F1 W", "7 S10F1 W", "8 S99F1 W", "9 Linktest.req",
                                      "10 S6F11", "11 S6F11 W", "12 Linktest.req", "13 S6F11 W"}));
  EXPECT_FALSE(host.wait_message(6, 11, 5, Duration(50)).has_value());
  EXPECT_EQ(host.take_received().size(), 13u);
  EXPECT_EQ(host.received_count(), 0u);
  EXPECT_EQ(host.count(6, 11), 0u);
}

TEST(HostSimSession, TimeoutsLateRepliesAndControlTransactions) {
  ScriptedEquipment equipment;
  Host host(7);
  connect_and_select(host, equipment);

  // No reply in time: empty; the late reply then counts as unmatched and crashes nothing.
  const std::uint32_t system = host.send(2, 13, true, Item::list());
  EXPECT_EQ(system, 2u);
  EXPECT_EQ(equipment.read(16), bytes({0x00, 0x00, 0x00, 0x0C, 0x00, 0x07, 0x82, 0x0D, 0x00, 0x00,
                                       0x00, 0x00, 0x00, 0x02, 0x01, 0x00}));
  EXPECT_FALSE(host.wait_reply(system, Duration(50)).has_value());
  equipment.write(bytes({0x00, 0x00, 0x00, 0x0C, 0x00, 0x07, 0x02, 0x0E, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x02, 0x01, 0x00}));
  ASSERT_TRUE(host.wait_message(2, 14, 1).has_value());
  EXPECT_EQ(host.unmatched_replies(), 1u);
  // A reply waited for twice: the second wait knows no such transaction.
  EXPECT_FALSE(host.wait_reply(system, Duration(0)).has_value());

  // Without the W-bit nothing is waited for.
  const std::uint32_t no_wait =
      host.send(10, 3, false, Item::list({Item::binary1(0), Item::ascii("hi")}));
  EXPECT_EQ(no_wait, 3u);
  EXPECT_EQ(equipment.read(23),
            bytes({0x00, 0x00, 0x00, 0x13, 0x00, 0x07, 0x0A, 0x03, 0x00, 0x00, 0x00, 0x00,
                   0x00, 0x03, 0x01, 0x02, 0x21, 0x01, 0x00, 0x41, 0x02, 0x68, 0x69}));
  EXPECT_FALSE(host.wait_reply(no_wait, Duration(0)).has_value());

  // A wrong device ID on request.
  EXPECT_EQ(host.send_as(0x1234, 1, 1, true, std::nullopt), 4u);
  EXPECT_EQ(equipment.read(14), bytes({0x00, 0x00, 0x00, 0x0A, 0x12, 0x34, 0x81, 0x01, 0x00, 0x00,
                                       0x00, 0x00, 0x00, 0x04}));
  // The equipment's S9F1 is logged like any primary; the open transaction ends with an abort.
  equipment.write(
      bytes({0x00, 0x00, 0x00, 0x16, 0x00, 0x07, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
             0x09, 0x21, 0x0A, 0x00, 0x00, 0x00, 0x0A, 0x12, 0x34, 0x81, 0x01, 0x00, 0x00}));
  const std::optional<Received> s9f1 = host.wait_message(9, 1);
  ASSERT_TRUE(s9f1.has_value());
  EXPECT_EQ(s9f1->message.to_text(), "S9F1 <B 0x00 0x00 0x00 0x0A 0x12 0x34 0x81 0x01 0x00 0x00>");
  equipment.write(
      bytes({0x00, 0x00, 0x00, 0x0A, 0x00, 0x07, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04}));
  const std::optional<Message> abort = host.wait_reply(4);
  ASSERT_TRUE(abort.has_value());
  EXPECT_EQ(abort->name(), "S1F0");

  // Linktest and a rejected Deselect.
  std::thread answer([&] {
    EXPECT_EQ(equipment.read(14), bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x05,
                                         0x00, 0x00, 0x00, 0x05}));
    equipment.write(bytes(
        {0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x05}));
    EXPECT_EQ(equipment.read(14), bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x03,
                                         0x00, 0x00, 0x00, 0x06}));
    equipment.write(bytes(
        {0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x03, 0x01, 0x00, 0x07, 0x00, 0x00, 0x00, 0x06}));
  });
  EXPECT_TRUE(host.linktest());
  EXPECT_EQ(host.deselect(), -2);
  answer.join();
  EXPECT_TRUE(host.selected());
  // An unknown SType from the equipment is rejected with reason 1; a PType other than SECS-II
  // with reason 2.
  equipment.write(
      bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x03, 0x00}));
  EXPECT_EQ(equipment.read(14), bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x08, 0x01, 0x00, 0x07,
                                       0x00, 0x00, 0x03, 0x00}));
  equipment.write(
      bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x05, 0x05, 0x00, 0x00, 0x03, 0x01}));
  EXPECT_EQ(equipment.read(14), bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x05, 0x02, 0x00, 0x07,
                                       0x00, 0x00, 0x03, 0x01}));

  // The equipment selects a selected host: "already active".
  equipment.write(
      bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x04, 0x00}));
  EXPECT_EQ(equipment.read(14), bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x02,
                                       0x00, 0x00, 0x04, 0x00}));

  // Separate.req from the equipment ends the link.
  equipment.write(
      bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x05, 0x00}));
  EXPECT_TRUE(host.wait_closed(Duration(5000)));
  EXPECT_EQ(host.close_reason(), "Separate.req received");
  EXPECT_FALSE(host.selected());
  EXPECT_EQ(host.send(1, 1, true, std::nullopt), 0u);
  EXPECT_FALSE(host.request(1, 1, std::nullopt).has_value());
  EXPECT_EQ(host.select(), -1);
}

TEST(HostSimSession, PeerFaultsAndRawMisbehaviour) {
  {
    // A waiting request ends when the equipment drops the connection.
    ScriptedEquipment equipment;
    Host host(7);
    connect_and_select(host, equipment);
    std::thread drop([&] {
      EXPECT_EQ(equipment.read(14).size(), 14u);
      equipment.close();
    });
    EXPECT_FALSE(host.request(1, 1, std::nullopt, Duration(60000)).has_value());
    drop.join();
    EXPECT_FALSE(host.connected());
    EXPECT_EQ(host.close_reason(), "closed by peer");
  }
  {
    // A frame with a length below ten bytes: the host gives up the connection.
    ScriptedEquipment equipment;
    Host host(7);
    connect_and_select(host, equipment);
    equipment.write(bytes({0x00, 0x00, 0x00, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05}));
    EXPECT_TRUE(host.wait_closed(Duration(5000)));
    EXPECT_EQ(host.close_reason(), "bad frame: message length 5 out of range");
  }
  {
    // Raw bytes go out as they are; a close sends a FIN, a reset an RST.
    ScriptedEquipment equipment;
    Host host(7);
    connect_and_select(host, equipment);
    EXPECT_TRUE(host.send_raw(std::string("\x00\x00\x00\x0A\xFF garbage", 13)));
    EXPECT_EQ(equipment.read(13), std::string("\x00\x00\x00\x0A\xFF garbage", 13));
    EXPECT_TRUE(host.send_frame(control_header(SType::SelectReq, 0xAABBCCDD, 0, 0, 0x0000)));
    EXPECT_EQ(equipment.read(14), bytes({0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
                                         0xAA, 0xBB, 0xCC, 0xDD}));
    host.close();
    int error = -1;
    EXPECT_EQ(equipment.read_end(&error), 0);
    EXPECT_FALSE(host.send_raw("x"));
    EXPECT_EQ(host.close_reason(), "");
  }
  {
    ScriptedEquipment equipment;
    Host host(7);
    connect_and_select(host, equipment);
    host.reset();
    int error = 0;
    EXPECT_EQ(equipment.read_end(&error), -1);
    EXPECT_EQ(error, ECONNRESET);
  }
  {
    // A host that stops reading answers nothing until it reads again; then it answers all.
    ScriptedEquipment equipment;
    Host host(7);
    connect_and_select(host, equipment);
    host.stop_reading();
    equipment.write(linktest_req(1));
    EXPECT_EQ(equipment.read(14, 200), "");
    EXPECT_EQ(host.received_count(), 1u);  // the Select.rsp only
    host.resume_reading();
    EXPECT_EQ(equipment.read(14), linktest_rsp(1));
    // Without linktest answers the host still logs the request.
    host.set_answer_linktest(false);
    equipment.write(linktest_req(2));
    equipment.write(linktest_req(3));
    ASSERT_TRUE(host.wait_for([](const Received& r) { return r.message.name() == "Linktest.req"; },
                              3, Duration(5000)));
    host.set_answer_linktest(true);
    equipment.write(linktest_req(4));
    EXPECT_EQ(equipment.read(14), linktest_rsp(4));
    // Separate.req from the host, then the connection closes.
    host.separate();
    EXPECT_EQ(equipment.read(14), bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x09,
                                         0x00, 0x00, 0x00, 0x02}));
    int error = -1;
    EXPECT_EQ(equipment.read_end(&error), 0);
  }
  // Nobody listening.
  Host host;
  std::string error;
  ScriptedEquipment* closed = new ScriptedEquipment;
  const std::uint16_t port = closed->port();
  delete closed;
  EXPECT_FALSE(host.connect(port, &error));
  EXPECT_EQ(error, "connect 127.0.0.1:" + std::to_string(port) + ": Connection refused");
  EXPECT_FALSE(host.connect(port, &error, "127.0.0.256"));
  EXPECT_EQ(error, "bad address 127.0.0.256");
}
