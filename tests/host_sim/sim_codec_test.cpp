// The host simulator's own codec against byte strings written out by hand from the SECS-II item
// encoding (format code in the upper six bits of the header byte, the count of length bytes in
// the lower two, big-endian lengths and values) and the HSMS frame layout (four-byte length, ten
// header bytes). These are the oracle's checks: the equipment's link is tested against it.
#include <gtest/gtest.h>

#include <string>

#include "host_sim/sim_hsms.h"
#include "host_sim/sim_item.h"

using namespace vexlor::hostsim;

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string encoded(const Item& item, int min_length_bytes = 1) {
  std::string out;
  EXPECT_TRUE(encode(item, &out, min_length_bytes));
  return out;
}

Item decoded(const std::string& data) {
  Item item;
  std::string error;
  EXPECT_TRUE(decode(data, &item, &error)) << error;
  return item;
}

std::string decode_error(const std::string& data) {
  Item item;
  std::string error;
  EXPECT_FALSE(decode(data, &item, &error));
  return error;
}

}  // namespace

TEST(HostSimCodec, EveryFormatWithOneLengthByte) {
  struct Case {
    Item item;
    std::string wire;
  };
  const Case cases[] = {
      {Item::list(), bytes({0x01, 0x00})},
      {Item::binary({0x00, 0xFF}), bytes({0x21, 0x02, 0x00, 0xFF})},
      {Item::boolean({true, false}), bytes({0x25, 0x02, 0x01, 0x00})},
      {Item::ascii("ABC"), bytes({0x41, 0x03, 0x41, 0x42, 0x43})},
      {Item::ascii(""), bytes({0x41, 0x00})},
      {Item::jis8("x"), bytes({0x45, 0x01, 0x78})},
      {Item::i8({-1}), bytes({0x61, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {Item::i1({-1, 127}), bytes({0x65, 0x02, 0xFF, 0x7F})},
      {Item::i2({-2, 258}), bytes({0x69, 0x04, 0xFF, 0xFE, 0x01, 0x02})},
      {Item::i4({-1000000}), bytes({0x71, 0x04, 0xFF, 0xF0, 0xBD, 0xC0})},
      {Item::f8({-2.0}), bytes({0x81, 0x08, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00})},
      {Item::f8({0.1}), bytes({0x81, 0x08, 0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A})},
      {Item::f4({1.5, -0.25}), bytes({0x91, 0x08, 0x3F, 0xC0, 0x00, 0x00, 0xBE, 0x80, 0x00, 0x00})},
      {Item::u8({0x0102030405060708ull}),
       bytes({0xA1, 0x08, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08})},
      {Item::u1({255, 0}), bytes({0xA5, 0x02, 0xFF, 0x00})},
      {Item::u2({65535, 1}), bytes({0xA9, 0x04, 0xFF, 0xFF, 0x00, 0x01})},
      {Item::u4({1205}), bytes({0xB1, 0x04, 0x00, 0x00, 0x04, 0xB5})},
      {Item::u4({}), bytes({0xB1, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(to_sml(c.item));
    EXPECT_EQ(encoded(c.item), c.wire);
    EXPECT_EQ(decoded(c.wire), c.item);
  }
  // Decoded values as the numbers they stand for.
  EXPECT_EQ(decoded(bytes({0x71, 0x04, 0xFF, 0xF0, 0xBD, 0xC0})).signed_values(),
            (std::vector<std::int64_t>{-1000000}));
  EXPECT_EQ(decoded(bytes({0x91, 0x04, 0xBE, 0x80, 0x00, 0x00})).float_values(),
            (std::vector<double>{-0.25}));
  EXPECT_EQ(decoded(bytes({0xA9, 0x02, 0x80, 0x01})).unsigned_values(),
            (std::vector<std::uint64_t>{0x8001}));
  // A BOOLEAN keeps the byte sent: any non-zero byte is true, and it stays visible.
  EXPECT_EQ(decoded(bytes({0x25, 0x01, 0x02})).bytes(), (std::vector<std::uint8_t>{2}));
}

TEST(HostSimCodec, TwoAndThreeLengthBytes) {
  // 256 characters need two length bytes: 0x42 0x01 0x00.
  const std::string text(256, 'x');
  EXPECT_EQ(encoded(Item::ascii(text)), bytes({0x42, 0x01, 0x00}) + text);
  // 255 still fit in one.
  EXPECT_EQ(encoded(Item::ascii(std::string(255, 'y'))),
            bytes({0x41, 0xFF}) + std::string(255, 'y'));
  // 64 U4 values are 256 bytes: the length counts bytes, not elements.
  std::vector<std::uint64_t> values(64, 0x01020304);
  std::string wire = bytes({0xB2, 0x01, 0x00});
  for (int i = 0; i < 64; ++i) wire += bytes({0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(encoded(Item::u4(values)), wire);
  EXPECT_EQ(decoded(wire), Item::u4(values));
  // 65536 bytes need three: 0x23 0x01 0x00 0x00.
  const std::vector<std::uint8_t> block(65536, 0xA5);
  const std::string block_wire = bytes({0x23, 0x01, 0x00, 0x00}) + std::string(65536, '\xA5');
  EXPECT_EQ(encoded(Item::binary(block)), block_wire);
  EXPECT_EQ(decoded(block_wire), Item::binary(block));
  // 70000 characters: 0x011170.
  EXPECT_EQ(encoded(Item::ascii(std::string(70000, 'z'))).substr(0, 4),
            bytes({0x43, 0x01, 0x11, 0x70}));
  // A list's length counts its items: 256 empty lists.
  std::string list_wire = bytes({0x02, 0x01, 0x00});
  for (int i = 0; i < 256; ++i) list_wire += bytes({0x01, 0x00});
  const Item list = Item::list(std::vector<Item>(256));
  EXPECT_EQ(encoded(list), list_wire);
  EXPECT_EQ(decoded(list_wire), list);
  // The largest three-byte length encodes; one more does not, and nothing is written.
  EXPECT_EQ(encoded(Item::binary(std::vector<std::uint8_t>(0xFFFFFF))).substr(0, 4),
            bytes({0x23, 0xFF, 0xFF, 0xFF}));
  std::string out = "keep";
  EXPECT_FALSE(encode(Item::binary(std::vector<std::uint8_t>(0x1000000)), &out));
  EXPECT_EQ(out, "keep");
  EXPECT_THROW(encode(Item::binary(std::vector<std::uint8_t>(0x1000000))), std::length_error);
  // More length bytes than needed are legal on the wire, and this encoder writes them on request.
  EXPECT_EQ(decoded(bytes({0x42, 0x00, 0x03, 0x41, 0x42, 0x43})), Item::ascii("ABC"));
  EXPECT_EQ(decoded(bytes({0x43, 0x00, 0x00, 0x01, 0x41})), Item::ascii("A"));
  EXPECT_EQ(decoded(bytes({0x03, 0x00, 0x00, 0x01, 0xA7, 0x00, 0x00, 0x01, 0x05})),
            Item::list({Item::u1({5})}));
  EXPECT_EQ(encoded(Item::list({Item::u1({5})}), 3),
            bytes({0x03, 0x00, 0x00, 0x01, 0xA7, 0x00, 0x00, 0x01, 0x05}));
  EXPECT_EQ(encoded(Item::ascii("AB"), 2), bytes({0x42, 0x00, 0x02, 0x41, 0x42}));
}

TEST(HostSimCodec, NestedLists) {
  // <L [2] <U4 7> <L [2] <A "ab"> <L [0]>>>
  const Item nested = Item::list({Item::u4({7}), Item::list({Item::ascii("ab"), Item::list()})});
  const std::string wire = bytes({0x01, 0x02, 0xB1, 0x04, 0x00, 0x00, 0x00, 0x07, 0x01, 0x02, 0x41,
                                  0x02, 0x61, 0x62, 0x01, 0x00});
  EXPECT_EQ(encoded(nested), wire);
  EXPECT_EQ(decoded(wire), nested);
  EXPECT_EQ(to_sml(nested), "<L [2] <U4 7> <L [2] <A \"ab\"> <L [0]>>>");

  // An event report: <L [3] DATAID CEID <L [1] <L [2] RPTID <L [2] <U4 2> <A "C1">>>>>
  const Item report = Item::list(
      {Item::u4({1}), Item::u4({1205}),
       Item::list(
           {Item::list({Item::u4({1205}), Item::list({Item::u4({2}), Item::ascii("C1")})})})});
  const std::string report_wire =
      bytes({0x01, 0x03, 0xB1, 0x04, 0x00, 0x00, 0x00, 0x01, 0xB1, 0x04, 0x00, 0x00,
             0x04, 0xB5, 0x01, 0x01, 0x01, 0x02, 0xB1, 0x04, 0x00, 0x00, 0x04, 0xB5,
             0x01, 0x02, 0xB1, 0x04, 0x00, 0x00, 0x00, 0x02, 0x41, 0x02, 0x43, 0x31});
  EXPECT_EQ(encoded(report), report_wire);
  EXPECT_EQ(decoded(report_wire), report);
  EXPECT_EQ(to_sml(report),
            "<L [3] <U4 1> <U4 1205> <L [1] <L [2] <U4 1205> <L [2] <U4 2> <A \"C1\">>>>>");

  // Nesting down to the decoder's limit decodes; one level more is refused.
  std::string deep;
  for (int i = 0; i < kMaxDepth; ++i) deep += bytes({0x01, 0x01});
  EXPECT_TRUE(decoded(deep + bytes({0x01, 0x00})).is_list());
  EXPECT_EQ(decode_error(bytes({0x01, 0x01}) + deep + bytes({0x01, 0x00})),
            "lists nested deeper than 64 at byte 130");
}

TEST(HostSimCodec, StrictDecodingNamesTheFault) {
  EXPECT_EQ(decode_error(""), "missing item header at byte 0");
  EXPECT_EQ(decode_error(bytes({0x40, 0x00})), "zero length bytes at byte 0");
  EXPECT_EQ(decode_error(bytes({0x0D, 0x00})), "unknown format code 03 at byte 0");
  EXPECT_EQ(decode_error(bytes({0xFD, 0x00})), "unknown format code 77 at byte 0");
  EXPECT_EQ(decode_error(bytes({0x42, 0x01})), "truncated length field at byte 0");
  EXPECT_EQ(decode_error(bytes({0xB1, 0x03, 0x00, 0x00, 0x01})),
            "U4 length 3 not a multiple of 4 at byte 0");
  EXPECT_EQ(decode_error(bytes({0x69, 0x01, 0x00})), "I2 length 1 not a multiple of 2 at byte 0");
  EXPECT_EQ(decode_error(bytes({0x81, 0x04, 0, 0, 0, 0})),
            "F8 length 4 not a multiple of 8 at byte 0");
  EXPECT_EQ(decode_error(bytes({0x41, 0x05, 0x41})),
            "A item of 5 bytes longer than the data at byte 0");
  EXPECT_EQ(decode_error(bytes({0x01, 0x02, 0x01, 0x00})),
            "list of 2 items longer than the data at byte 0");
  EXPECT_EQ(decode_error(bytes({0x03, 0xFF, 0xFF, 0xFF})),
            "list of 16777215 items longer than the data at byte 0");
  EXPECT_EQ(decode_error(bytes({0x01, 0x01, 0x41, 0x03, 0x41})),
            "A item of 3 bytes longer than the data at byte 2");
  EXPECT_EQ(decode_error(bytes({0x41, 0x00, 0x00})), "1 bytes after the item at byte 2");
  EXPECT_EQ(decode_error(bytes({0x01, 0x01, 0x01, 0x00, 0x01, 0x00})),
            "2 bytes after the item at byte 4");
  // A failed decode leaves the caller's item alone.
  Item kept = Item::ascii("kept");
  EXPECT_FALSE(decode(bytes({0x41, 0x02, 0x41}), &kept));
  EXPECT_EQ(kept, Item::ascii("kept"));
}

TEST(HostSimCodec, TextForms) {
  EXPECT_EQ(to_sml(Item::binary({0x00, 0x80})), "<B 0x00 0x80>");
  EXPECT_EQ(to_sml(Item::boolean({true, false})), "<BOOLEAN T F>");
  EXPECT_EQ(to_sml(Item::i4({-5, 6})), "<I4 -5 6>");
  EXPECT_EQ(to_sml(Item::u8({})), "<U8>");
  EXPECT_EQ(to_sml(Item::f4({1.5})), "<F4 1.5>");
  EXPECT_EQ(to_sml(Item::f8({0.1})), "<F8 0.10000000000000001>");
  EXPECT_EQ(to_sml(Item::jis8("a\"b\\c\n")), "<J \"a\\\"b\\\\c\\x0A\">");
  EXPECT_EQ(value_text(Item::u4({2})), "2");
  EXPECT_EQ(value_text(Item::u4({})), "[]");
  EXPECT_EQ(value_text(Item::u4({1, 2})), "[1 2]");
  EXPECT_EQ(value_text(Item::ascii("C 1\"")), "\"C 1\\\"\"");
  EXPECT_EQ(value_text(Item::boolean1(true)), "true");
  EXPECT_EQ(value_text(Item::binary1(0x80)), "0x80");
  EXPECT_EQ(value_text(Item::f4({-0.25})), "-0.25");
  EXPECT_EQ(value_text(Item::list({Item::u1({1}), Item::ascii("x"), Item::list()})),
            "[1 \"x\" []]");
}

TEST(HostSimFrame, HeadersAndFramesByteForByte) {
  // Select.req, system bytes 1: session 0xFFFF, SType 1.
  EXPECT_EQ(
      encode_frame(control_header(SType::SelectReq, 1)),
      bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01}));
  // Select.rsp status 1 (already active) answering system bytes 0x01020304.
  EXPECT_EQ(
      encode_frame(control_header(SType::SelectRsp, 0x01020304, 0, 1)),
      bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x02, 0x01, 0x02, 0x03, 0x04}));
  // Reject.req of an SType 8 message, reason 1.
  EXPECT_EQ(
      encode_frame(control_header(SType::RejectReq, 9, 8, 1)),
      bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x08, 0x01, 0x00, 0x07, 0x00, 0x00, 0x00, 0x09}));
  // S1F1 W to device 0x0102, no body.
  EXPECT_EQ(
      encode_frame(data_header(0x0102, 1, 1, true, 0x0A0B0C0D)),
      bytes({0x00, 0x00, 0x00, 0x0A, 0x01, 0x02, 0x81, 0x01, 0x00, 0x00, 0x0A, 0x0B, 0x0C, 0x0D}));
  // S6F12 <B 0> to device 0, system bytes 7.
  const std::string s6f12 = bytes({0x00, 0x00, 0x00, 0x0D, 0x00, 0x00, 0x06, 0x0C, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x07, 0x21, 0x01, 0x00});
  EXPECT_EQ(encode_frame(data_header(0, 6, 12, false, 7), encode(Item::binary1(0))), s6f12);

  Message m;
  std::string error;
  EXPECT_EQ(decode_frame(s6f12, &m, &error), s6f12.size());
  EXPECT_EQ(error, "");
  EXPECT_EQ(m.name(), "S6F12");
  EXPECT_EQ(m.header.system, 7u);
  EXPECT_EQ(m.header.session, 0u);
  ASSERT_TRUE(m.item.has_value());
  EXPECT_EQ(*m.item, Item::binary1(0));
  EXPECT_EQ(m.to_text(), "S6F12 <B 0x00>");
  // One byte short: more is needed, no error.
  EXPECT_EQ(decode_frame(s6f12.substr(0, s6f12.size() - 1), &m, &error), 0u);
  EXPECT_EQ(error, "");
  EXPECT_EQ(decode_frame(s6f12.substr(0, 3), &m, &error), 0u);
  EXPECT_EQ(error, "");
  // Two frames back to back: the first is taken, its length returned.
  const std::string linktest =
      bytes({0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x05, 0x80, 0x00, 0x00, 0x01});
  EXPECT_EQ(decode_frame(linktest + s6f12, &m, &error), 14u);
  EXPECT_EQ(m.name(), "Linktest.req");
  EXPECT_EQ(m.header.session, 0xFFFF);
  EXPECT_EQ(m.header.system, 0x80000001u);
  EXPECT_FALSE(m.item.has_value());
  // S6F11 W with a body that does not decode: the frame is fine, the item is not.
  const std::string bad_body = bytes({0x00, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x86, 0x0B, 0x00, 0x00,
                                      0x00, 0x00, 0x00, 0x01, 0x41, 0x05});
  EXPECT_EQ(decode_frame(bad_body, &m, &error), bad_body.size());
  EXPECT_EQ(m.name(), "S6F11 W");
  EXPECT_FALSE(m.item.has_value());
  EXPECT_EQ(m.decode_error, "A item of 5 bytes longer than the data at byte 0");
  EXPECT_EQ(m.to_text(), "S6F11 W <undecodable: A item of 5 bytes longer than the data at byte 0>");
  // Lengths below a header or beyond the limit are bad frames.
  EXPECT_EQ(decode_frame(bytes({0x00, 0x00, 0x00, 0x09}) + std::string(9, '\0'), &m, &error), 0u);
  EXPECT_EQ(error, "message length 9 out of range");
  EXPECT_EQ(decode_frame(bytes({0x01, 0x00, 0x00, 0x01}), &m, &error), 0u);
  EXPECT_EQ(error, "message length 16777217 out of range");
  EXPECT_EQ(stype_name(8), "SType 8");
}
