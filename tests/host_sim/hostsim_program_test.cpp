// vexlor-hostsim, the command-line host, against a scripted equipment: the exact messages it
// sends to set up the link and the event reports, the lines it prints for what it receives,
// and how it ends.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "host_sim/scripted_equipment.h"
#include "host_sim/sim_hsms.h"
#include "host_sim/sim_item.h"

using namespace vexlor::hostsim;
using vexlor::test::ScriptedEquipment;

namespace {

// The program as a child, its stdout read line by line.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv{const_cast<char*>(VEXLOR_HOSTSIM)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(VEXLOR_HOSTSIM, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  // The next line printed (without its newline); empty when none came within five seconds.
  std::string line() {
    for (;;) {
      const auto end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string text = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return text;
      }
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 5000) != 1) return "";
      char chunk[1024];
      const ssize_t n = ::read(out_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  void signal(int number) { ::kill(pid_, number); }
  // The exit status (128 + signal when killed), -1 when it did not end within ten seconds.
  int wait() {
    for (int i = 0; i < 1000; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      ::usleep(10000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

// Reads the next message and answers it with `reply` (function + 1, same system bytes);
// returns the message as text.
std::string answer(ScriptedEquipment& equipment, std::uint16_t device,
                   const std::optional<Item>& reply) {
  const std::optional<Message> m = equipment.read_message();
  if (!m) return "nothing";
  if (m->is_data()) {
    equipment.write(
        encode_frame(data_header(device, m->stream(), static_cast<std::uint8_t>(m->function() + 1),
                                 false, m->header.system),
                     reply ? encode(*reply) : std::string()));
  } else if (m->header.stype == static_cast<std::uint8_t>(SType::SelectReq)) {
    equipment.write(encode_frame(control_header(SType::SelectRsp, m->header.system)));
  }
  return m->to_text() + " sys " + std::to_string(m->header.system);
}

void send_primary(ScriptedEquipment& equipment, std::uint8_t stream, std::uint8_t function,
                  std::uint32_t system, const Item& body) {
  equipment.write(encode_frame(data_header(3, stream, function, true, system), encode(body)));
}

}  // namespace

TEST(HostSimProgram, SetsUpEveryEventAndPrintsWhatArrives) {
  const std::string ids = ::testing::TempDir() + "hostsim_ids.json";
  std::ofstream(ids)
      << R"({"events":[{"ceid":1205,"name":"CARRIER_CLAMPED","token":"CARRIER_ACTION","code":11},
    {"ceid":1300,"name":"LOT_START","token":"LOT","code":1}],
   "variables":[{"vid":2001,"name":"GEM.PortID","class":"SV","format":"U4"},
    {"vid":2002,"name":"GEM.CarrierID","class":"DV","format":"A"}],
   "constants":[],"alarms":[{"alid":3001,"text":"Quick"}],"commands":[]})";
  ScriptedEquipment equipment;
  Program program({"--port", std::to_string(equipment.port()), "--device-id", "3", "--events-all",
                   "--ids", ids});
  ASSERT_TRUE(equipment.accept());
  const Item ok = Item::binary1(0);
  EXPECT_EQ(answer(equipment, 3, std::nullopt), "Select.req sys 1");
  EXPECT_EQ(
      answer(equipment, 3, Item::list({ok, Item::list({Item::ascii("M"), Item::ascii("1")})})),
      "S1F13 W <L [0]> sys 2");
  EXPECT_EQ(answer(equipment, 3, ok), "S1F17 W sys 3");
  EXPECT_EQ(answer(equipment, 3, ok), "S2F33 W <L [2] <U4 1> <L [0]>> sys 4");
  EXPECT_EQ(answer(equipment, 3, ok),
            "S2F33 W <L [2] <U4 1> <L [2] <L [2] <U4 1205> <L [2] <U4 2001> <U4 2002>>> "
            "<L [2] <U4 1300> <L [2] <U4 2001> <U4 2002>>>>> sys 5");
  EXPECT_EQ(answer(equipment, 3, ok),
            "S2F35 W <L [2] <U4 1> <L [2] <L [2] <U4 1205> <L [1] <U4 1205>>> "
            "<L [2] <U4 1300> <L [1] <U4 1300>>>>> sys 6");
  EXPECT_EQ(answer(equipment, 3, ok), "S2F37 W <L [2] <BOOLEAN T> <L [0]>> sys 7");
  EXPECT_EQ(answer(equipment, 3, ok), "S5F3 W <L [2] <B 0x80> <U4>> sys 8");

  // An event with the report this host defined, one with a report it does not know, alarms
  // set and cleared, a terminal message.
  send_primary(
      equipment, 6, 11, 100,
      Item::list({Item::u4({1}), Item::u4({1205}),
                  Item::list({Item::list(
                      {Item::u4({1205}), Item::list({Item::u4({2}), Item::ascii("C 1")})})})}));
  send_primary(
      equipment, 6, 11, 101,
      Item::list({Item::u4({2}), Item::u4({77}),
                  Item::list({Item::list({Item::u4({9}), Item::list({Item::f4({1.5})})})})}));
  send_primary(equipment, 6, 11, 102, Item::list({Item::u4({3}), Item::u4({1300}), Item::list()}));
  send_primary(equipment, 5, 1, 103,
               Item::list({Item::binary1(0x84), Item::u4({3001}), Item::ascii("Quick")}));
  send_primary(equipment, 5, 1, 104,
               Item::list({Item::binary1(0x04), Item::u4({3001}), Item::ascii("Quick")}));
  send_primary(equipment, 10, 1, 105, Item::list({Item::binary1(0), Item::ascii("hello \"op\"")}));
  send_primary(equipment, 6, 11, 106, Item::ascii("not a report"));
  EXPECT_EQ(program.line(), "S6F11 CEID 1205 CARRIER_CLAMPED  GEM.PortID=2 GEM.CarrierID=\"C 1\"");
  EXPECT_EQ(program.line(), "S6F11 CEID 77  RPT9[0]=1.5");
  EXPECT_EQ(program.line(), "S6F11 CEID 1300 LOT_START");
  EXPECT_EQ(program.line(), "S5F1 ALID 3001 SET  ALCD=132 ALTX=\"Quick\"");
  EXPECT_EQ(program.line(), "S5F1 ALID 3001 CLEAR  ALCD=4 ALTX=\"Quick\"");
  EXPECT_EQ(program.line(), "S10F1 TID 0  TEXT=\"hello \\\"op\\\"\"");
  EXPECT_EQ(program.line(), "S6F11 <A \"not a report\">");
  // Each was acknowledged, in order.
  const char* const kAcks[] = {"S6F12 <B 0x00> sys 100", "S6F12 <B 0x00> sys 101",
                               "S6F12 <B 0x00> sys 102", "S5F2 <B 0x00> sys 103",
                               "S5F2 <B 0x00> sys 104",  "S10F2 <B 0x00> sys 105",
                               "S6F12 <B 0x00> sys 106"};
  for (const char* ack : kAcks) {
    const std::optional<Message> m = equipment.read_message();
    ASSERT_TRUE(m.has_value()) << ack;
    EXPECT_EQ(m->to_text() + " sys " + std::to_string(m->header.system), ack);
    EXPECT_EQ(m->header.session, 3);
  }
  // SIGTERM: a Separate.req, then exit 0.
  program.signal(SIGTERM);
  const std::optional<Message> separate = equipment.read_message();
  ASSERT_TRUE(separate.has_value());
  EXPECT_EQ(separate->name(), "Separate.req");
  EXPECT_EQ(program.wait(), 0);
  std::remove(ids.c_str());
}

TEST(HostSimProgram, EnablesAllWithoutIdsAndEndsWithTheLink) {
  {
    ScriptedEquipment equipment;
    Program program({"--port", std::to_string(equipment.port()), "--events-all"});
    ASSERT_TRUE(equipment.accept());
    const Item ok = Item::binary1(0);
    EXPECT_EQ(answer(equipment, 0, std::nullopt), "Select.req sys 1");
    EXPECT_EQ(answer(equipment, 0, Item::list({ok, Item::list()})), "S1F13 W <L [0]> sys 2");
    EXPECT_EQ(answer(equipment, 0, Item::binary1(2)), "S1F17 W sys 3");  // already online
    EXPECT_EQ(answer(equipment, 0, ok), "S2F37 W <L [2] <BOOLEAN T> <L [0]>> sys 4");
    EXPECT_EQ(answer(equipment, 0, ok), "S5F3 W <L [2] <B 0x80> <U4>> sys 5");
    send_primary(equipment, 6, 11, 7,
                 Item::list({Item::u4({1}), Item::u4({5}),
                             Item::list({Item::list(
                                 {Item::u4({4}), Item::list({Item::i2({-3}), Item::u1({})})})})}));
    EXPECT_EQ(program.line(), "S6F11 CEID 5  RPT4[0]=-3 RPT4[1]=[]");
    // The equipment goes away: exit 3.
    equipment.close();
    EXPECT_EQ(program.wait(), 3);
  }
  {
    // Communication refused: exit 1 after the S1F13.
    ScriptedEquipment equipment;
    Program program({"--port", std::to_string(equipment.port())});
    ASSERT_TRUE(equipment.accept());
    EXPECT_EQ(answer(equipment, 0, std::nullopt), "Select.req sys 1");
    EXPECT_EQ(answer(equipment, 0, Item::list({Item::binary1(1), Item::list()})),
              "S1F13 W <L [0]> sys 2");
    EXPECT_EQ(program.wait(), 1);
  }
  {
    // --seconds ends a quiet session with a Separate.req and exit 0.
    ScriptedEquipment equipment;
    Program program({"--port", std::to_string(equipment.port()), "--seconds", "0.5"});
    ASSERT_TRUE(equipment.accept());
    EXPECT_EQ(answer(equipment, 0, std::nullopt), "Select.req sys 1");
    EXPECT_EQ(answer(equipment, 0, Item::list({Item::binary1(0), Item::list()})),
              "S1F13 W <L [0]> sys 2");
    EXPECT_EQ(answer(equipment, 0, Item::binary1(0)), "S1F17 W sys 3");
    const std::optional<Message> separate = equipment.read_message();
    ASSERT_TRUE(separate.has_value());
    EXPECT_EQ(separate->name(), "Separate.req");
    EXPECT_EQ(program.wait(), 0);
  }
  // Usage errors: exit 2.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{},
        {"--port", "0"},
        {"--port", "70000"},
        {"--port", "5000", "--x"},
        {"--port", "5000", "--device-id", "40000"},
        {"--port", "5000", "--ids", "/nonexistent/ids.json"}}) {
    Program program(args);
    EXPECT_EQ(program.wait(), 2) << testing::PrintToString(args);
  }
}
