// SECS-II items against byte strings written out by hand from the encoding rules: format byte
// (code << 2 | number of length bytes), big-endian length, big-endian data.
#include "secs/item.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "secs/message.h"

namespace {

using vexlor::secs::decode;
using vexlor::secs::DecodeLimits;
using vexlor::secs::encode;
using vexlor::secs::Format;
using vexlor::secs::Item;

// "41 02 4F 4B" -> the bytes.
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

std::string decode_error(const std::string& bytes, const DecodeLimits& limits = DecodeLimits()) {
  Item item = Item::ascii("untouched");
  std::string error;
  if (decode(bytes, &item, &error, limits)) return "decoded";
  EXPECT_EQ(item, Item::ascii("untouched"));
  return error;
}

TEST(SecsItem, EveryFormatEncodesAndDecodesAsWrittenByHand) {
  struct Case {
    Item item;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {Item::list(), "01 00"},
      {Item::binary({0x00, 0xFF}), "21 02 00 FF"},
      {Item::boolean({true, false}), "25 02 01 00"},
      {Item::ascii("OK"), "41 02 4F 4B"},
      {Item::jis8("ab"), "45 02 61 62"},
      {Item::i1(-1), "65 01 FF"},
      {Item::i2(-2), "69 02 FF FE"},
      {Item::i4(-100000), "71 04 FF FE 79 60"},
      {Item::i8(0x0102030405060708), "61 08 01 02 03 04 05 06 07 08"},
      {Item::i8(INT64_MIN), "61 08 80 00 00 00 00 00 00 00"},
      {Item::u1(200), "A5 01 C8"},
      {Item::uints(Format::kU2, {1, 65535}), "A9 04 00 01 FF FF"},
      {Item::u4(3000000000u), "B1 04 B2 D0 5E 00"},
      {Item::u8(UINT64_MAX), "A1 08 FF FF FF FF FF FF FF FF"},
      {Item::f4(1.5), "91 04 3F C0 00 00"},
      {Item::f8(-2.0), "81 08 C0 00 00 00 00 00 00 00"},
      {Item::f8(0.1), "81 08 3F B9 99 99 99 99 99 9A"},
      {Item::ints(Format::kI2, {-32768, 32767}), "69 04 80 00 7F FF"},
      // Empty items of each kind.
      {Item::ascii(""), "41 00"},
      {Item::binary(std::vector<uint8_t>{}), "21 00"},
      {Item::uints(Format::kU4, {}), "B1 00"},
      {Item::floats(Format::kF8, {}), "81 00"},
      // Nested lists: L[2] { L[1] { A "x" }, U2 7 }, then L[2] { A "MDLN", A "1.0" }.
      {Item::list({Item::list({Item::ascii("x")}), Item::u2(7)}),
       "01 02 01 01 41 01 78 A9 02 00 07"},
      {Item::list({Item::ascii("MDLN"), Item::ascii("1.0")}),
       "01 02 41 04 4D 44 4C 4E 41 03 31 2E 30"},
      {Item::list({Item::list(), Item::list({Item::list()})}), "01 02 01 00 01 01 01 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(vexlor::secs::to_sml(c.item));
    EXPECT_EQ(encode(c.item), hex(c.bytes));
    Item back;
    std::string error;
    ASSERT_TRUE(decode(hex(c.bytes), &back, &error)) << error;
    EXPECT_EQ(back, c.item);
    EXPECT_EQ(back.format(), c.item.format());
  }

  // Values are narrowed to the format when encoded: I1 300 is 0x2C, U2 0x12345 is 0x2345.
  EXPECT_EQ(encode(Item::i1(300)), hex("65 01 2C"));
  EXPECT_EQ(encode(Item::u2(0x12345)), hex("A9 02 23 45"));
  // F4 beyond the float range is an infinity, not garbage.
  EXPECT_EQ(encode(Item::f4(1e300)), hex("91 04 7F 80 00 00"));
  // Sign extension of the narrower signed formats on decoding.
  Item back;
  ASSERT_TRUE(decode(hex("65 02 80 7F"), &back, nullptr));
  EXPECT_EQ(back.int_values(), (std::vector<int64_t>{-128, 127}));
  // encode(item, out) appends.
  std::string out = "xy";
  ASSERT_TRUE(encode(Item::u1(1), &out));
  EXPECT_EQ(out, "xy" + hex("A5 01 01"));
}

TEST(SecsItem, LengthBytesAreTheFewestThatHoldTheLength) {
  // 255 bytes: one length byte; 256: two; 65535: two; 65536 and 70000: three.
  EXPECT_EQ(encode(Item::ascii(std::string(255, 'a'))), hex("41 FF") + std::string(255, 'a'));
  EXPECT_EQ(encode(Item::ascii(std::string(256, 'a'))), hex("42 01 00") + std::string(256, 'a'));
  EXPECT_EQ(encode(Item::binary(std::vector<uint8_t>(65535, 7))).substr(0, 4), hex("22 FF FF 07"));
  EXPECT_EQ(encode(Item::ascii(std::string(65536, 'b'))).substr(0, 5), hex("43 01 00 00 62"));
  const std::string b70000 = encode(Item::binary(std::vector<uint8_t>(70000, 1)));
  EXPECT_EQ(b70000.size(), 4u + 70000u);
  EXPECT_EQ(b70000.substr(0, 4), hex("23 01 11 70"));
  // A numeric length counts bytes: 64 U4 values are 256 bytes.
  EXPECT_EQ(encode(Item::uints(Format::kU4, std::vector<uint64_t>(64, 0))).substr(0, 3),
            hex("B2 01 00"));
  // A list's length counts items: 256 empty lists.
  std::string lists = hex("02 01 00");
  for (int i = 0; i < 256; ++i) lists += hex("01 00");
  EXPECT_EQ(encode(Item::list(std::vector<Item>(256))), lists);

  // Both decode back; so does a length written with more bytes than needed.
  Item back;
  std::string error;
  ASSERT_TRUE(decode(b70000, &back, &error)) << error;
  EXPECT_EQ(back.size(), 70000u);
  ASSERT_TRUE(decode(lists, &back, &error)) << error;
  EXPECT_EQ(back.items().size(), 256u);
  ASSERT_TRUE(decode(hex("43 00 00 02 4F 4B"), &back, &error)) << error;
  EXPECT_EQ(back, Item::ascii("OK"));

  // 16 MiB of data does not fit three length bytes: refused, the output left as it was.
  std::string out = "keep";
  EXPECT_FALSE(encode(Item::binary(std::vector<uint8_t>(0x1000000, 0)), &out));
  EXPECT_EQ(out, "keep");
  EXPECT_FALSE(encode(Item::list({Item::u1(1), Item::ascii(std::string(0x1000000, 'z'))}), &out));
  EXPECT_EQ(out, "keep");
  // Exactly 0xFFFFFF bytes still does.
  const std::string max = encode(Item::binary(std::vector<uint8_t>(0xFFFFFF, 0)));
  EXPECT_EQ(max.substr(0, 4), hex("23 FF FF FF"));
}

TEST(SecsItem, StrictDecodingRefusesWithTheReason) {
  EXPECT_EQ(decode_error(""), "item at byte 0: no data");
  EXPECT_EQ(decode_error(hex("FD 00")), "item at byte 0: unknown format code 077");
  EXPECT_EQ(decode_error(hex("49 02 00 41")), "item at byte 0: unknown format code 022");
  EXPECT_EQ(decode_error(hex("01 01 0D 00")), "item at byte 2: unknown format code 003");
  EXPECT_EQ(decode_error(hex("40 00")), "item at byte 0: no length bytes");
  EXPECT_EQ(decode_error(hex("43 00 01")), "item at byte 0: length bytes run past the end");
  EXPECT_EQ(decode_error(hex("71 03 00 00 01")),
            "item at byte 0: length 3 is not a multiple of 4 (I4)");
  EXPECT_EQ(decode_error(hex("01 01 B1 02 00 01")),
            "item at byte 2: length 2 is not a multiple of 4 (U4)");
  EXPECT_EQ(decode_error(hex("81 04 00 00 00 00")),
            "item at byte 0: length 4 is not a multiple of 8 (F8)");
  EXPECT_EQ(decode_error(hex("41 05 61 62")),
            "item at byte 0: data runs past the end (5 bytes, 2 left)");
  EXPECT_EQ(decode_error(hex("01 02 41 00")), "item at byte 0: list of 2 items ends after 1");
  EXPECT_EQ(decode_error(hex("03 FF FF FF")),
            "item at byte 0: list of 16777215 items ends after 0");
  EXPECT_EQ(decode_error(hex("41 00 00")), "1 byte left over after the item");
  EXPECT_EQ(decode_error(hex("01 00 01 00 01")), "3 bytes left over after the item");

  // Nesting: with a limit of 2, the third list is refused.
  DecodeLimits shallow;
  shallow.max_depth = 2;
  EXPECT_EQ(decode_error(hex("01 01 01 01 01 00"), shallow),
            "item at byte 4: lists nested deeper than 2");
  EXPECT_EQ(decode_error(hex("01 01 01 00"), shallow), "decoded");
  // The default allows 64 levels, not 65.
  std::string deep64, deep65;
  for (int i = 0; i < 63; ++i) deep64 += hex("01 01");
  deep64 += hex("01 00");
  deep65 = hex("01 01") + deep64;
  EXPECT_EQ(decode_error(deep64), "decoded");
  EXPECT_EQ(decode_error(deep65), "item at byte 128: lists nested deeper than 64");

  // Items in the whole tree.
  DecodeLimits few;
  few.max_items = 3;
  EXPECT_EQ(decode_error(hex("01 03 41 00 41 00 41 00"), few), "item at byte 6: more than 3 items");
  EXPECT_EQ(decode_error(hex("01 02 41 00 41 00"), few), "decoded");
}

TEST(SecsItem, SmlTextAndAccessors) {
  const Item tree = Item::list({
      Item::ascii("OK \"q\" \\\n"),
      Item::list(),
      Item::list({Item::binary({0x00, 0xAB}), Item::boolean({true, false})}),
      Item::uints(Format::kU4, {1, 2}),
      Item::ints(Format::kI2, {-3}),
      Item::f4(0.1),
      Item::floats(Format::kF8, {0.1, -2.5}),
      Item::jis8("j"),
      Item::ascii(""),
      Item::uints(Format::kU1, {}),
  });
  EXPECT_EQ(vexlor::secs::to_sml(tree),
            "<L [10]\n"
            "  <A \"OK \\\"q\\\" \\\\\\x0A\">\n"
            "  <L [0]>\n"
            "  <L [2]\n"
            "    <B 0x00 0xAB>\n"
            "    <BOOLEAN TRUE FALSE>\n"
            "  >\n"
            "  <U4 1 2>\n"
            "  <I2 -3>\n"
            "  <F4 0.1>\n"
            "  <F8 0.1 -2.5>\n"
            "  <J \"j\">\n"
            "  <A \"\">\n"
            "  <U1>\n"
            ">");
  EXPECT_EQ(vexlor::secs::to_sml(Item::u1(5), 2), "    <U1 5>");

  // Format names and element sizes.
  EXPECT_STREQ(vexlor::secs::format_name(Format::kBoolean), "BOOLEAN");
  EXPECT_STREQ(vexlor::secs::format_name(Format::kU8), "U8");
  EXPECT_EQ(vexlor::secs::element_size(Format::kF4), 4u);
  EXPECT_EQ(vexlor::secs::element_size(Format::kI8), 8u);
  EXPECT_EQ(vexlor::secs::element_size(Format::kU2), 2u);
  EXPECT_EQ(vexlor::secs::element_size(Format::kList), 0u);

  // First values, converted.
  int64_t i = 0;
  uint64_t u = 0;
  double d = 0;
  EXPECT_TRUE(Item::u4(7).first_int(&i));
  EXPECT_EQ(i, 7);
  EXPECT_TRUE(Item::i1(-2).first_double(&d));
  EXPECT_EQ(d, -2.0);
  EXPECT_TRUE(Item::binary(0x81).first_uint(&u));
  EXPECT_EQ(u, 0x81u);
  EXPECT_TRUE(Item::f8(3.75).first_int(&i));
  EXPECT_EQ(i, 3);
  EXPECT_TRUE(Item::f8(-1.0).first_uint(&u));
  EXPECT_EQ(u, 0u);
  EXPECT_TRUE(Item::boolean(true).first_int(&i));
  EXPECT_EQ(i, 1);
  EXPECT_FALSE(Item::ascii("5").first_int(&i));
  EXPECT_FALSE(Item::list({Item::u1(1)}).first_int(&i));
  EXPECT_FALSE(Item::uints(Format::kU4, {}).first_uint(&u));
  // A format that is not the constructor's kind is the kind's widest.
  EXPECT_EQ(Item::ints(Format::kU4, {1}).format(), Format::kI8);
  EXPECT_NE(Item::u4(1), Item::u2(1));
  EXPECT_NE(Item::ascii("a"), Item::jis8("a"));
}

}  // namespace
