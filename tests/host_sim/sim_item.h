// The host simulator's SECS-II data items (SEMI E5): a value model, the byte encoding
// and a strict decoder. The simulator is the test oracle for the equipment's host link, so this
// code is written from the standard's encoding rules alone and shares nothing with the
// equipment's codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexlor::hostsim {

// The format code is the item header's upper six bits (E5 gives them in octal).
enum class Format : std::uint8_t {
  L = 000,
  B = 010,
  Boolean = 011,
  A = 020,
  J = 021,
  I8 = 030,
  I1 = 031,
  I2 = 032,
  I4 = 034,
  F8 = 040,
  F4 = 044,
  U8 = 050,
  U1 = 051,
  U2 = 052,
  U4 = 054,
};

// The SML name of a format ("L", "B", "BOOLEAN", "A", "J", "I1" ... "F8"); "?" for none.
const char* format_name(Format format);
// Bytes per element: 0 for a list, 1 for B/BOOLEAN/A/J/I1/U1, 2, 4 or 8.
std::size_t element_size(Format format);
// Whether a six-bit code names one of the formats above.
bool valid_format_code(unsigned code);

// One item. Lists hold items; A and J hold their bytes as text; B and BOOLEAN hold raw bytes;
// signed integers, unsigned integers and floats hold their elements widened (an F4 element is
// stored as the double of its float value). Only the member of the item's kind is used.
class Item {
 public:
  Item() = default;  // an empty list

  static Item list(std::vector<Item> items = {});
  static Item ascii(std::string text);
  static Item jis8(std::string text);
  static Item binary(std::vector<std::uint8_t> bytes);
  static Item binary1(std::uint8_t byte) { return binary({byte}); }
  static Item boolean(std::vector<bool> values);
  static Item boolean1(bool value) { return boolean({value}); }
  // A BOOLEAN item of exactly these bytes (any non-zero byte is true).
  static Item boolean_bytes(std::vector<std::uint8_t> raw);
  static Item i1(std::vector<std::int64_t> v) { return signed_of(Format::I1, std::move(v)); }
  static Item i2(std::vector<std::int64_t> v) { return signed_of(Format::I2, std::move(v)); }
  static Item i4(std::vector<std::int64_t> v) { return signed_of(Format::I4, std::move(v)); }
  static Item i8(std::vector<std::int64_t> v) { return signed_of(Format::I8, std::move(v)); }
  static Item u1(std::vector<std::uint64_t> v) { return unsigned_of(Format::U1, std::move(v)); }
  static Item u2(std::vector<std::uint64_t> v) { return unsigned_of(Format::U2, std::move(v)); }
  static Item u4(std::vector<std::uint64_t> v) { return unsigned_of(Format::U4, std::move(v)); }
  static Item u8(std::vector<std::uint64_t> v) { return unsigned_of(Format::U8, std::move(v)); }
  static Item f4(std::vector<double> v) { return float_of(Format::F4, std::move(v)); }
  static Item f8(std::vector<double> v) { return float_of(Format::F8, std::move(v)); }
  // A signed, unsigned or float item of the given format (a value out of the format's range is
  // truncated to its width when encoded).
  static Item signed_of(Format format, std::vector<std::int64_t> values);
  static Item unsigned_of(Format format, std::vector<std::uint64_t> values);
  static Item float_of(Format format, std::vector<double> values);

  Format format() const { return format_; }
  bool is_list() const { return format_ == Format::L; }
  bool is_signed() const;
  bool is_unsigned() const;
  bool is_float() const;
  bool is_text() const { return format_ == Format::A || format_ == Format::J; }
  bool is_bytes() const { return format_ == Format::B || format_ == Format::Boolean; }
  // Elements: list members, characters, bytes or numbers.
  std::size_t size() const;

  const std::vector<Item>& items() const { return items_; }
  std::vector<Item>& items() { return items_; }
  const Item& operator[](std::size_t i) const { return items_.at(i); }
  const std::string& text() const { return text_; }                  // A and J
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }  // B and BOOLEAN
  const std::vector<std::int64_t>& signed_values() const { return signed_; }
  const std::vector<std::uint64_t>& unsigned_values() const { return unsigned_; }
  const std::vector<double>& float_values() const { return floats_; }

  // The first element of a single-valued numeric or byte item as an unsigned number (a
  // negative signed value comes back as its two's complement); false for lists, texts, floats
  // and empty items.
  bool as_unsigned(std::uint64_t* value) const;

  bool operator==(const Item& other) const;
  bool operator!=(const Item& other) const { return !(*this == other); }

 private:
  Format format_ = Format::L;
  std::vector<Item> items_;
  std::string text_;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::int64_t> signed_;
  std::vector<std::uint64_t> unsigned_;
  std::vector<double> floats_;
};

// The largest length an item header can carry (three length bytes).
constexpr std::size_t kMaxItemLength = 0xFFFFFF;
// The deepest nesting of lists the decoder accepts.
constexpr int kMaxDepth = 64;

// Appends the item's bytes to `out`. Each header uses the fewest length bytes its length needs,
// but at least `min_length_bytes` (1..3; a peer must accept a longer-than-needed length field).
// False (and `out` unchanged) when an item's length does not fit in three bytes.
bool encode(const Item& item, std::string* out, int min_length_bytes = 1);
// The item's bytes; throws std::length_error when an item's length does not fit.
std::string encode(const Item& item);

// Decodes exactly one item filling all of `bytes`. Strict: an unknown format, a zero-length
// length field, a length that is not a multiple of the element size, a list or data running
// past the end, nesting deeper than kMaxDepth and trailing bytes are all errors. On error
// returns false with a reason and the offset where it was found.
bool decode(std::string_view bytes, Item* item, std::string* error = nullptr);

// SML-like text: <L [2] <U4 7> <A "text">>, bytes as 0x.. and booleans as T/F.
std::string to_sml(const Item& item);
// The value alone, for one-line output: numbers space-separated (in brackets when not exactly
// one), texts double-quoted with \" and \\ escaped, lists as [a b ...].
std::string value_text(const Item& item);

}  // namespace vexlor::hostsim
