// SECS-II items (SEMI E5): the data of a message, a tree of lists and typed arrays, and its
// encoding: one format byte (format code in the upper six bits, the number of length bytes,
// 1 to 3, in the lower two), the length in bytes, most significant first, then the data; a
// list's length counts its items, not bytes. Numbers are big-endian.
//
// A library of its own: it depends on nothing of the runtime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexlor::secs {

// Format codes (octal, as E5 writes them).
enum class Format : uint8_t {
  kList = 000,
  kBinary = 010,
  kBoolean = 011,
  kAscii = 020,
  kJis8 = 021,
  kI8 = 030,
  kI1 = 031,
  kI2 = 032,
  kI4 = 034,
  kF8 = 040,
  kF4 = 044,
  kU8 = 050,
  kU1 = 051,
  kU2 = 052,
  kU4 = 054,
};

// "L", "B", "BOOLEAN", "A", "J", "I1", ..., "F8": the SML names.
const char* format_name(Format format);
// Bytes per element (1 for B, BOOLEAN, A, J; 0 for a list).
std::size_t element_size(Format format);

class Item {
 public:
  Item();  // an empty list

  static Item list(std::vector<Item> items = {});
  static Item binary(std::vector<uint8_t> bytes);
  static Item binary(uint8_t byte) { return binary(std::vector<uint8_t>{byte}); }
  static Item boolean(std::vector<bool> values);
  static Item boolean(bool value) { return boolean(std::vector<bool>{value}); }
  static Item ascii(std::string_view text);
  static Item jis8(std::string_view text);
  // Signed (I1, I2, I4, I8) and unsigned (U1, U2, U4, U8) integers, F4 and F8 floats. A value
  // is stored as given and narrowed to the format when encoded.
  static Item ints(Format format, std::vector<int64_t> values);
  static Item uints(Format format, std::vector<uint64_t> values);
  static Item floats(Format format, std::vector<double> values);
  static Item i1(int64_t v) { return ints(Format::kI1, {v}); }
  static Item i2(int64_t v) { return ints(Format::kI2, {v}); }
  static Item i4(int64_t v) { return ints(Format::kI4, {v}); }
  static Item i8(int64_t v) { return ints(Format::kI8, {v}); }
  static Item u1(uint64_t v) { return uints(Format::kU1, {v}); }
  static Item u2(uint64_t v) { return uints(Format::kU2, {v}); }
  static Item u4(uint64_t v) { return uints(Format::kU4, {v}); }
  static Item u8(uint64_t v) { return uints(Format::kU8, {v}); }
  static Item f4(double v) { return floats(Format::kF4, {v}); }
  static Item f8(double v) { return floats(Format::kF8, {v}); }

  Format format() const { return format_; }
  bool is_list() const { return format_ == Format::kList; }
  bool is_text() const { return format_ == Format::kAscii || format_ == Format::kJis8; }
  bool is_signed() const;    // I1..I8
  bool is_unsigned() const;  // U1..U8
  bool is_float() const;     // F4, F8
  // Elements: list items, bytes (B, BOOLEAN), characters (A, J) or numbers.
  std::size_t size() const;

  const std::vector<Item>& items() const { return items_; }    // a list's items
  std::vector<Item>& items() { return items_; }
  const std::string& text() const { return text_; }            // A, J
  const std::vector<uint8_t>& bytes() const { return bytes_; }  // B, BOOLEAN (0 false)
  const std::vector<int64_t>& int_values() const { return ints_; }
  const std::vector<uint64_t>& uint_values() const { return uints_; }
  const std::vector<double>& float_values() const { return floats_; }

  // The first number of a numeric, binary or boolean item, converted; false when the item has
  // no element or is a list or text.
  bool first_int(int64_t* value) const;
  bool first_uint(uint64_t* value) const;
  bool first_double(double* value) const;

  bool operator==(const Item& other) const;
  bool operator!=(const Item& other) const { return !(*this == other); }

 private:
  Format format_ = Format::kList;
  std::vector<Item> items_;
  std::string text_;
  std::vector<uint8_t> bytes_;
  std::vector<int64_t> ints_;
  std::vector<uint64_t> uints_;
  std::vector<double> floats_;
};

// Appends the item's encoding to out, using the fewest length bytes. False (out unchanged) when
// an element count does not fit three length bytes.
bool encode(const Item& item, std::string* out);
std::string encode(const Item& item);

struct DecodeLimits {
  std::size_t max_depth = 64;         // nesting of lists
  std::size_t max_items = 1u << 20;   // items in the whole tree
};

// Decodes exactly one item that fills `data` (strict: a reserved format code, a zero number of
// length bytes, a length that is not a multiple of the element size, data running past the end,
// bytes left over, nesting or item counts beyond the limits are all errors). On failure returns
// false with a short English reason ("item at byte 12: unknown format code 077").
bool decode(std::string_view data, Item* item, std::string* error,
            const DecodeLimits& limits = DecodeLimits());

// SML-like text of an item, one item per line, nested lists indented by two blanks:
//   <L [2]
//     <A "OK">
//     <U4 1 2>
//   >
std::string to_sml(const Item& item, int indent = 0);

}  // namespace vexlor::secs
