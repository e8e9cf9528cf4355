// HSMS frames against bytes written out by hand: 4-byte length, 10-byte header, body.
#include "secs/message.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace vexlor::secs;

std::string hex(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

TEST(SecsMessage, FramesNamesAndText) {
  // S1F1 W without a body, device 1, system bytes 01020304.
  Message s1f1 = data_message(1, 1, 1, true, Item(), false);
  s1f1.header.system = 0x01020304;
  std::string frame;
  ASSERT_TRUE(encode_frame(s1f1, &frame));
  EXPECT_EQ(frame, hex("00 00 00 0A 00 01 81 01 00 00 01 02 03 04"));
  EXPECT_EQ(s1f1.name(), "S1F1 W");
  EXPECT_EQ(s1f1.to_sml(), "S1F1 W\n.");

  // S1F2 <L [2] <A "EQ"> <A "1.0">>, device 0x0102, system 0xFFFFFFFE: 21 bytes after the length.
  Message s1f2 =
      data_message(0x0102, 1, 2, false, Item::list({Item::ascii("EQ"), Item::ascii("1.0")}));
  s1f2.header.system = 0xFFFFFFFE;
  frame.clear();
  ASSERT_TRUE(encode_frame(s1f2, &frame));
  EXPECT_EQ(frame,
            hex("00 00 00 15 01 02 01 02 00 00 FF FF FF FE 01 02 41 02 45 51 41 03 31 2E 30"));
  EXPECT_EQ(s1f2.name(), "S1F2");
  EXPECT_EQ(s1f2.to_sml(), "S1F2\n<L [2]\n  <A \"EQ\">\n  <A \"1.0\">\n>\n.");

  // Stream 127 with W-bit, function 255.
  EXPECT_EQ(header_bytes(data_message(0, 127, 255, true, Item()).header),
            hex("00 00 FF FF 00 00 00 00 00 00"));

  // Control messages: session ID FFFF, the SType in byte 5.
  frame.clear();
  ASSERT_TRUE(encode_frame(control_message(SType::kSelectReq, 7), &frame));
  EXPECT_EQ(frame, hex("00 00 00 0A FF FF 00 00 00 01 00 00 00 07"));
  const Message reject = control_message(SType::kRejectReq, 0x10, 0x0001, 0, 4);
  EXPECT_EQ(header_bytes(reject.header), hex("00 01 00 04 00 07 00 00 00 10"));
  EXPECT_EQ(reject.name(), "Reject.req");
  EXPECT_EQ(reject.to_sml(), "Reject.req reason 4");
  EXPECT_EQ(control_message(SType::kSelectRsp, 1, 0xFFFF, 0, 1).to_sml(), "Select.rsp status 1");
  EXPECT_EQ(control_message(SType::kLinktestReq, 1).name(), "Linktest.req");
  EXPECT_EQ(control_message(SType::kSeparateReq, 1).name(), "Separate.req");
  EXPECT_EQ(control_message(SType::kDeselectRsp, 1).name(), "Deselect.rsp");
  Message odd = control_message(static_cast<SType>(8), 1);
  EXPECT_EQ(odd.name(), "SType 8");
  odd.header.ptype = 1;
  odd.header.stype = 0;
  EXPECT_EQ(odd.name(), "PType 1 SType 0");

  // A body that cannot be encoded makes no frame.
  frame = "keep";
  EXPECT_FALSE(encode_frame(
      data_message(0, 6, 11, true, Item::binary(std::vector<uint8_t>(0x1000000))), &frame));
  EXPECT_EQ(frame, "keep");

  // Splitting: the header fields and the undecoded body.
  Header h;
  std::string_view body;
  const std::string after = hex("01 02 81 0D 00 00 AA BB CC DD 41 01 7A");
  ASSERT_TRUE(split_frame(after, &h, &body));
  EXPECT_EQ(h.session_id, 0x0102);
  EXPECT_EQ(h.stream(), 1);
  EXPECT_EQ(h.function(), 13);
  EXPECT_TRUE(h.wbit());
  EXPECT_TRUE(h.is_data());
  EXPECT_TRUE(h.is_primary());
  EXPECT_EQ(h.system, 0xAABBCCDDu);
  EXPECT_EQ(body, hex("41 01 7A"));
  EXPECT_EQ(header_bytes(h), after.substr(0, 10));
  EXPECT_FALSE(split_frame(after.substr(0, 9), &h, &body));
}

}  // namespace
