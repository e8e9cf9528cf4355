// The HSMS-SS session against a host written with raw sockets (secs/raw_peer.h): control
// messages, timers, transactions, bad frames and the S9 answers, connection handling, active
// mode. Timers are short; no assertion is about how long anything took.
#include "secs/session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "secs/raw_peer.h"

namespace {

using namespace vexlor::secs;
using vexlor::test::eventually;
using vexlor::test::hex;
using vexlor::test::raw_frame;
using vexlor::test::RawFrame;
using vexlor::test::RawPeer;

// A session with short timers and a record of everything its handlers saw.
struct Equipment {
  std::mutex mutex;
  std::vector<std::string> logs, states, primaries, traces;
  std::unique_ptr<Session> session;
  // What the primary handler does; by default S1F1 is answered S1F2 <L [0]>.
  std::function<void(Session&, const Message&)> on_primary = [](Session& s, const Message& m) {
    if (m.header.stream() == 1 && m.header.function() == 1) s.reply(m, Item::list());
  };

  // What the state handler does besides recording the state (optional).
  std::function<void(Session&, SessionState)> on_state;

  explicit Equipment(SessionSettings settings) {
    Session::Handlers h;
    h.state = [this](SessionState st) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        states.push_back(state_name(st));
      }
      if (on_state) on_state(*session, st);
    };
    h.primary = [this](const Message& m) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        primaries.push_back(m.to_sml());
      }
      on_primary(*session, m);
    };
    h.trace = [this](Direction d, const Message& m) {
      std::lock_guard<std::mutex> lock(mutex);
      traces.push_back((d == Direction::kIn ? "in " : "out ") + m.name());
    };
    h.log = [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex);
      logs.push_back(line);
    };
    session = std::make_unique<Session>(std::move(settings), std::move(h));
  }
  // The session's thread uses the members above: it ends first.
  ~Equipment() { session->stop(); }

  static SessionSettings passive() {
    SessionSettings s;
    s.local_port = 0;
    s.device_id = 1;
    s.t3_ms = 300;
    s.t5_ms = 100;
    s.t6_ms = 1000;
    s.t7_ms = 3000;
    s.t8_ms = 300;
    return s;
  }

  bool start() {
    std::string error;
    const bool ok = session->start(&error);
    EXPECT_EQ(error, "");
    return ok;
  }

  bool logged(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& line : logs) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  std::vector<std::string> state_list() {
    std::lock_guard<std::mutex> lock(mutex);
    return states;
  }
  std::vector<std::string> primary_list() {
    std::lock_guard<std::mutex> lock(mutex);
    return primaries;
  }
  bool selected() { return session->state() == SessionState::kSelected; }
};

// A data message from the host: device 1, W-bit, stream/function, system, hand-written body.
std::string host_data(uint16_t device, int stream, int function, bool wbit, uint32_t system,
                      const std::string& body = "") {
  return raw_frame(device, static_cast<uint8_t>((wbit ? 0x80 : 0) | stream),
                   static_cast<uint8_t>(function), 0, 0, system, body);
}

TEST(SecsSession, ControlMessagesOnAPassiveSession) {
  Equipment eq(Equipment::passive());
  ASSERT_TRUE(eq.start());
  EXPECT_EQ(eq.session->state(), SessionState::kNotConnected);
  RawPeer host;
  ASSERT_TRUE(host.connect(eq.session->port()));
  ASSERT_TRUE(eventually([&] { return eq.session->state() == SessionState::kNotSelected; }));
  RawFrame f;

  // A data message before Select: Reject.req reason 4, byte 2 the rejected SType (0).
  ASSERT_TRUE(host.send(host_data(1, 1, 1, true, 0x10)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("00 01 00 04 00 07 00 00 00 10"));
  EXPECT_TRUE(eq.primary_list().empty());
  // The session cannot send while not selected.
  EXPECT_FALSE(eq.session->send(
      1, 1, true, Item(), [](const ReplyResult&) {}, false));

  // Select.req: Select.rsp status 0 with the same session ID and system bytes; again: status 1.
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 1, 0x11)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("FF FF 00 00 00 02 00 00 00 11"));
  EXPECT_EQ(f.body, "");
  EXPECT_TRUE(eq.selected());
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 1, 0x12)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("FF FF 00 01 00 02 00 00 00 12"));
  EXPECT_TRUE(eq.selected());

  // Linktest.req: Linktest.rsp; a Linktest.rsp nobody waits for: Reject.req reason 3.
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 5, 0x13)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("FF FF 00 00 00 06 00 00 00 13"));
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 6, 0x14)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("FF FF 06 03 00 07 00 00 00 14"));
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 2, 0x15)));  // a stray Select.rsp
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("FF FF 02 03 00 07 00 00 00 15"));

  // An SType nobody defines: reason 1 with the SType; a PType other than 0: reason 2 with it.
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 8, 0x16)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("FF FF 08 01 00 07 00 00 00 16"));
  ASSERT_TRUE(host.send(raw_frame(0x0001, 0x81, 0x01, 3, 0, 0x17)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("00 01 03 02 00 07 00 00 00 17"));
  EXPECT_TRUE(eq.selected());

  // S1F1 W is handed over and answered S1F2 <L [0]> with the primary's system bytes.
  ASSERT_TRUE(host.send(host_data(1, 1, 1, true, 0x20)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("00 01 01 02 00 00 00 00 00 20"));
  EXPECT_EQ(f.body, hex("01 00"));
  // S1F13 W with a body: the handler sees it decoded.
  ASSERT_TRUE(host.send(host_data(1, 1, 13, true, 0x21, hex("01 02 41 02 48 4F A5 01 07"))));
  ASSERT_TRUE(eventually([&] { return eq.primary_list().size() == 2; }));
  EXPECT_EQ(eq.primary_list()[0], "S1F1 W\n.");
  EXPECT_EQ(eq.primary_list()[1], "S1F13 W\n<L [2]\n  <A \"HO\">\n  <U1 7>\n>\n.");

  // Deselect.req: Deselect.rsp 0, NOT SELECTED; again: status 1. Select works again after.
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 3, 0x30)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("FF FF 00 00 00 04 00 00 00 30"));
  EXPECT_EQ(eq.session->state(), SessionState::kNotSelected);
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 3, 0x31)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("FF FF 00 01 00 04 00 00 00 31"));
  ASSERT_TRUE(host.select(0x32));

  // Counters: the data messages in and out, the bytes of every frame.
  SessionCounters c = eq.session->counters();
  EXPECT_EQ(c.connects, 1u);
  EXPECT_EQ(c.messages_in, 2u);
  EXPECT_EQ(c.messages_out, 1u);
  EXPECT_EQ(c.bytes_in, 14u * 13 + 9);
  EXPECT_EQ(c.bytes_out, 14u * 12 + 2);
  EXPECT_EQ(c.peer.rfind("127.0.0.1:", 0), 0u);
  EXPECT_GT(c.selected_since_ms, 0);

  // Separate.req: the session closes the connection; the state is NOT CONNECTED at once.
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 9, 0x40)));
  EXPECT_TRUE(host.closed_by_session());
  ASSERT_TRUE(eventually([&] { return eq.session->state() == SessionState::kNotConnected; }));
  c = eq.session->counters();
  EXPECT_EQ(c.peer, "");
  EXPECT_EQ(c.selected_since_ms, 0);
  EXPECT_EQ(eq.state_list(), (std::vector<std::string>{"NOT SELECTED", "SELECTED", "NOT SELECTED",
                                                       "SELECTED", "NOT CONNECTED"}));
  EXPECT_TRUE(eq.logged("closed: Separate.req from the peer"));
}

TEST(SecsSession, NotSelectedAndInterCharacterTimeoutsThenANewConnectionWorks) {
  SessionSettings s = Equipment::passive();
  s.t7_ms = 200;
  Equipment eq(s);
  ASSERT_TRUE(eq.start());

  // T7: connected but never selected.
  RawPeer host;
  ASSERT_TRUE(host.connect(eq.session->port()));
  EXPECT_TRUE(host.closed_by_session());
  EXPECT_TRUE(eq.logged("closed: T7 timeout: not selected within 200 ms"));

  // T8: six bytes of a frame, then nothing.
  ASSERT_TRUE(host.connect(eq.session->port()));
  ASSERT_TRUE(host.select());
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 5, 1).substr(0, 6)));
  EXPECT_TRUE(host.closed_by_session());
  EXPECT_TRUE(eq.logged("closed: T8 timeout: a frame stopped after 6 bytes"));
  EXPECT_EQ(eq.session->state(), SessionState::kNotConnected);

  // A frame sent in pieces with short gaps arrives whole.
  ASSERT_TRUE(host.connect(eq.session->port()));
  ASSERT_TRUE(host.select());
  const std::string linktest = raw_frame(0xFFFF, 0, 0, 0, 5, 2);
  for (char byte : linktest) {
    ASSERT_TRUE(host.send(std::string(1, byte)));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  RawFrame f;
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("FF FF 00 00 00 06 00 00 00 02"));
  EXPECT_EQ(eq.session->counters().connects, 3u);
}

TEST(SecsSession, BadMessagesGetTheirS9AnswersAndBadFramesCloseTheConnection) {
  SessionSettings s = Equipment::passive();
  s.max_message_bytes = 1024;
  Equipment eq(s);
  ASSERT_TRUE(eq.start());
  RawPeer host;
  ASSERT_TRUE(host.connect(eq.session->port()));
  ASSERT_TRUE(host.select());
  RawFrame f;

  // Device 5 is not ours: S9F1 whose body is B[10] with the message's header.
  ASSERT_TRUE(host.send(host_data(5, 1, 1, true, 0x50)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.session, 1);
  EXPECT_EQ(f.byte2, 9);  // S9, no W-bit
  EXPECT_EQ(f.byte3, 1);
  EXPECT_EQ(f.body, hex("21 0A 00 05 81 01 00 00 00 00 00 50"));
  EXPECT_TRUE(eq.logged("S1F1 W for device 5, not 1: S9F1 sent"));

  // A body that does not decode: S9F7, not handed over.
  ASSERT_TRUE(host.send(host_data(1, 2, 41, true, 0x51, hex("41 05 61"))));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.byte2, 9);
  EXPECT_EQ(f.byte3, 7);
  EXPECT_EQ(f.body, hex("21 0A 00 01 82 29 00 00 00 00 00 51"));
  EXPECT_TRUE(eq.logged(
      "S2F41 W refused: item at byte 0: data runs past the end (5 bytes, 1 left); S9F7 sent"));
  EXPECT_TRUE(eq.primary_list().empty());

  // Longer than max_message_bytes: S9F11 with the header, then the connection is closed.
  ASSERT_TRUE(host.send(hex("00 00 04 01") + hex("00 01 86 0B 00 00 00 00 00 52")));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.byte3, 11);
  EXPECT_EQ(f.body, hex("21 0A 00 01 86 0B 00 00 00 00 00 52"));
  EXPECT_TRUE(host.closed_by_session());
  EXPECT_TRUE(eq.logged("closed: message of 1025 bytes is over the limit of 1024"));

  // Exactly at the limit is taken.
  ASSERT_TRUE(host.connect(eq.session->port()));
  ASSERT_TRUE(host.select());
  ASSERT_TRUE(
      host.send(host_data(1, 1, 1, true, 0x53, hex("23 00 03 F2") + std::string(1010, 'x'))));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("00 01 01 02 00 00 00 00 00 53"));

  // An impossible length (under 10): closed. Garbage: closed. The next connection works.
  ASSERT_TRUE(host.send(hex("00 00 00 03 01 02 03")));
  EXPECT_TRUE(host.closed_by_session());
  EXPECT_TRUE(eq.logged("closed: bad frame: length 3"));
  ASSERT_TRUE(host.connect(eq.session->port()));
  ASSERT_TRUE(host.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_TRUE(host.closed_by_session());
  ASSERT_TRUE(host.connect(eq.session->port()));
  ASSERT_TRUE(host.select());
  ASSERT_TRUE(host.send(host_data(1, 1, 1, true, 0x54)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("00 01 01 02 00 00 00 00 00 54"));
  EXPECT_EQ(eq.primary_list().size(), 2u);
}

TEST(SecsSession, TransactionsOutOfOrderT3LateRepliesAndAborts) {
  Equipment eq(Equipment::passive());
  ASSERT_TRUE(eq.start());
  RawPeer host;
  ASSERT_TRUE(host.connect(eq.session->port()));
  ASSERT_TRUE(host.select());
  RawFrame f1, f2, f;

  // Two open transactions, answered in reverse order: each caller gets its own reply.
  std::mutex mutex;
  std::vector<std::string> results;
  auto record = [&](const std::string& who) {
    return [&, who](const ReplyResult& r) {
      std::lock_guard<std::mutex> lock(mutex);
      results.push_back(who + " " + std::to_string(r.kind) + " " + r.reply.to_sml());
    };
  };
  auto result_list = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return results;
  };
  ASSERT_TRUE(eq.session->send(1, 3, true, Item::list({Item::u4(1)}), record("first")));
  ASSERT_TRUE(eq.session->send(2, 13, true, Item(), record("second"), false));
  EXPECT_EQ(eq.session->counters().open_transactions, 2u);
  ASSERT_TRUE(host.read(&f1));
  ASSERT_TRUE(host.read(&f2));
  EXPECT_EQ(f1.session, 1);
  EXPECT_EQ(f1.byte2, 0x81);
  EXPECT_EQ(f1.byte3, 3);
  EXPECT_EQ(f1.body, hex("01 01 B1 04 00 00 00 01"));
  EXPECT_EQ(f2.byte2, 0x82);
  EXPECT_EQ(f2.byte3, 13);
  EXPECT_EQ(f2.body, "");
  EXPECT_NE(f1.system, f2.system);
  ASSERT_TRUE(host.send(host_data(1, 2, 14, false, f2.system, hex("41 01 42"))));
  ASSERT_TRUE(host.send(host_data(1, 1, 4, false, f1.system, hex("41 01 41"))));
  ASSERT_TRUE(eventually([&] { return result_list().size() == 2; }));
  EXPECT_EQ(result_list()[0], "second 0 S2F14\n<A \"B\">\n.");
  EXPECT_EQ(result_list()[1], "first 0 S1F4\n<A \"A\">\n.");
  EXPECT_EQ(eq.session->counters().open_transactions, 0u);

  // T3: no reply. The caller gets kTimeout and the host S9F9 with the primary's header.
  ASSERT_TRUE(eq.session->send(6, 11, true, Item::u1(9), record("t3")));
  ASSERT_TRUE(host.read(&f1));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.byte2, 9);
  EXPECT_EQ(f.byte3, 9);
  EXPECT_EQ(f.body, hex("21 0A") + f1.header);
  ASSERT_TRUE(eventually([&] { return result_list().size() == 3; }));
  EXPECT_EQ(result_list()[2], "t3 1 S0F0\n.");
  EXPECT_EQ(eq.session->counters().t3_timeouts, 1u);
  // The late reply is discarded with a log line; the session goes on.
  ASSERT_TRUE(host.send(host_data(1, 6, 12, false, f1.system, hex("21 01 00"))));
  ASSERT_TRUE(eventually([&] { return eq.logged("S6F12 (system "); }));
  EXPECT_TRUE(eq.logged(") answers no open transaction: discarded"));
  EXPECT_EQ(result_list().size(), 3u);

  // SxF0 from the host aborts the transaction; a blocking request gets its reply.
  ASSERT_TRUE(eq.session->send(7, 19, true, Item(), record("aborted"), false));
  ASSERT_TRUE(host.read(&f1));
  ASSERT_TRUE(host.send(host_data(1, 7, 0, false, f1.system)));
  ASSERT_TRUE(eventually([&] { return result_list().size() == 4; }));
  EXPECT_EQ(result_list()[3], "aborted 3 S7F0\n.");
  std::thread answer([&] {
    RawFrame q;
    if (host.read(&q)) host.send(host_data(1, 1, 2, false, q.system, hex("01 00")));
  });
  const ReplyResult r = eq.session->request(1, 1, Item(), false);
  answer.join();
  EXPECT_EQ(r.kind, ReplyResult::kReply);
  EXPECT_EQ(r.reply.to_sml(), "S1F2\n<L [0]>\n.");

  // Without W-bit: `done` once written, nothing left open.
  ASSERT_TRUE(eq.session->send(5, 1, false, Item::binary(1), record("nowait")));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.byte2, 5);
  EXPECT_EQ(result_list()[4], "nowait 0 S0F0\n.");
  EXPECT_EQ(eq.session->counters().open_transactions, 0u);

  // An open transaction when the connection ends: kClosed; the state is no longer SELECTED.
  ASSERT_TRUE(eq.session->send(1, 1, true, Item(), record("closed"), false));
  ASSERT_TRUE(host.read(&f));
  host.close();
  ASSERT_TRUE(eventually([&] { return result_list().size() == 6; }));
  EXPECT_EQ(result_list()[5], "closed 2 S0F0\n.");
  EXPECT_EQ(eq.session->state(), SessionState::kNotConnected);
  EXPECT_FALSE(eq.session->send(1, 1, false, Item(), nullptr, false));
}

TEST(SecsSession, ASecondConnectionIsRefusedWithoutDisturbingTheFirst) {
  Equipment eq(Equipment::passive());
  ASSERT_TRUE(eq.start());
  RawPeer host, intruder;
  ASSERT_TRUE(host.connect(eq.session->port()));
  ASSERT_TRUE(host.select());
  ASSERT_TRUE(intruder.connect(eq.session->port()));
  EXPECT_TRUE(intruder.closed_by_session());
  EXPECT_TRUE(eq.logged(" refused: already selected"));
  RawFrame f;
  ASSERT_TRUE(host.send(host_data(1, 1, 1, true, 0x60)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.header, hex("00 01 01 02 00 00 00 00 00 60"));
  EXPECT_TRUE(eq.selected());
  EXPECT_EQ(eq.session->counters().connects, 1u);

  // stop(): Separate.req to the host, then the connection ends.
  eq.session->stop();
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.stype, 9);
  EXPECT_TRUE(host.closed_by_session());
  EXPECT_EQ(eq.session->state(), SessionState::kNotConnected);
}

// A data message sent from the state handler on selection leaves after Select.rsp: a host that
// takes data only once selected never sees it early.
TEST(SecsSession, SelectResponseLeavesBeforeWhatTheStateHandlerSends) {
  Equipment eq(Equipment::passive());
  std::atomic<int> sent{0};
  eq.on_state = [&sent](Session& s, SessionState st) {
    if (st != SessionState::kSelected) return;
    const bool ok = s.send(1, 13, false, Item::list(), nullptr);
    sent = ok ? 1 : 2;
  };
  ASSERT_TRUE(eq.start());
  for (uint32_t round = 0; round < 20; ++round) {
    RawPeer host;
    ASSERT_TRUE(host.connect(eq.session->port()));
    ASSERT_TRUE(eventually([&] { return eq.session->state() == SessionState::kNotSelected; }));
    sent = 0;
    ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 1, 0x100 + round)));
    RawFrame first, second;
    ASSERT_TRUE(host.read(&first));
    ASSERT_TRUE(host.read(&second));
    char system[16];
    std::snprintf(system, sizeof system, "%02X %02X", (0x100 + round) >> 8, (0x100 + round) & 0xFF);
    EXPECT_EQ(first.header, hex("FF FF 00 00 00 02 00 00 " + std::string(system))) << round;
    EXPECT_EQ(second.header.substr(0, 6), hex("00 01 01 0D 00 00")) << round;
    EXPECT_EQ(second.body, hex("01 00"));
    EXPECT_TRUE(eventually([&] { return sent.load() == 1; })) << sent.load();
    host.close();
    ASSERT_TRUE(eventually([&] { return eq.session->state() == SessionState::kNotConnected; }));
  }
}

TEST(SecsSession, ActiveModeRetriesAfterT5SelectsAndKeepsTheLinkTested) {
  // A port nobody listens on yet.
  RawPeer host;
  int port;
  {
    RawPeer probe;
    port = probe.listen();
    ASSERT_GT(port, 0);
  }
  SessionSettings s = Equipment::passive();
  s.active = true;
  s.remote_port = port;
  s.linktest_ms = 50;
  Equipment eq(s);
  ASSERT_TRUE(eq.start());
  ASSERT_TRUE(eventually([&] { return eq.logged("next try in 100 ms (T5)"); }));
  ASSERT_EQ(host.listen(port), port);

  // The session connects and sends Select.req; Select.rsp 0 selects.
  ASSERT_TRUE(host.accept());
  RawFrame f;
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.session, 0xFFFF);
  EXPECT_EQ(f.stype, 1);
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 2, f.system)));
  ASSERT_TRUE(eventually([&] { return eq.selected(); }));

  // The periodic Linktest.req, answered; an S1F1 from the equipment answered by the host.
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.stype, 5);
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 6, f.system)));
  ASSERT_TRUE(host.read(&f));
  EXPECT_EQ(f.stype, 5);
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 6, f.system)));
  EXPECT_TRUE(eq.selected());

  // The host drops the link: the session reconnects and selects again.
  host.close();
  ASSERT_TRUE(host.accept());
  do {
    ASSERT_TRUE(host.read(&f));
  } while (f.stype != 1);
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 0, 0, 2, f.system)));
  ASSERT_TRUE(eventually([&] { return eq.selected(); }));
  EXPECT_EQ(eq.session->counters().connects, 2u);
}

TEST(SecsSession, ActiveSelectRefusedOrUnansweredClosesTheConnection) {
  RawPeer host;
  const int port = host.listen();
  SessionSettings s = Equipment::passive();
  s.active = true;
  s.remote_port = port;
  s.t6_ms = 100;
  Equipment eq(s);
  ASSERT_TRUE(eq.start());
  RawFrame f;
  // Select.rsp status 1: closed.
  ASSERT_TRUE(host.accept());
  ASSERT_TRUE(host.read(&f));
  ASSERT_TRUE(host.send(raw_frame(0xFFFF, 0, 1, 0, 2, f.system)));
  EXPECT_TRUE(host.closed_by_session());
  EXPECT_TRUE(eq.logged("closed: Select.rsp status 1"));
  // No answer within T6: closed.
  ASSERT_TRUE(host.accept());
  ASSERT_TRUE(host.read(&f));
  EXPECT_TRUE(host.closed_by_session());
  EXPECT_TRUE(eq.logged("closed: T6 timeout: Select.req not answered"));
  EXPECT_NE(eq.session->state(), SessionState::kSelected);
}

TEST(SecsSession, SettingsAreChecked) {
  SessionSettings s = Equipment::passive();
  s.t3_ms = 0;
  Session bad(s, Session::Handlers());
  std::string error;
  EXPECT_FALSE(bad.start(&error));
  EXPECT_EQ(error,
            "timers must be positive (T3, T5, T6, T7, T8) and the linktest period not negative");
  s = Equipment::passive();
  s.local_ip = "not an address";
  Session bad_ip(s, Session::Handlers());
  EXPECT_FALSE(bad_ip.start(&error));
  EXPECT_EQ(error, "invalid local address not an address:0");
  // Two sessions cannot listen on one port.
  Session first(Equipment::passive(), Session::Handlers());
  ASSERT_TRUE(first.start(&error));
  s = Equipment::passive();
  s.local_port = first.port();
  Session second(s, Session::Handlers());
  EXPECT_FALSE(second.start(&error));
  EXPECT_EQ(error.rfind("cannot listen on 127.0.0.1:" + std::to_string(first.port()) + ": ", 0),
            0u);
  EXPECT_FALSE(first.start(&error));
  EXPECT_EQ(error, "the session is already started");
}

}  // namespace
