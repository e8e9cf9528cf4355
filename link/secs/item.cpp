// SECS-II items: construction, the binary encoding and its strict decoding, and the SML text.
#include "item.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace vexlor::secs {

namespace {

constexpr std::size_t kMaxLength = 0xFFFFFF;  // three length bytes

bool known_format(uint8_t code) {
  switch (static_cast<Format>(code)) {
    case Format::kList:
    case Format::kBinary:
    case Format::kBoolean:
    case Format::kAscii:
    case Format::kJis8:
    case Format::kI8:
    case Format::kI1:
    case Format::kI2:
    case Format::kI4:
    case Format::kF8:
    case Format::kF4:
    case Format::kU8:
    case Format::kU1:
    case Format::kU2:
    case Format::kU4:
      return true;
  }
  return false;
}

bool signed_format(Format f) {
  return f == Format::kI1 || f == Format::kI2 || f == Format::kI4 || f == Format::kI8;
}
bool unsigned_format(Format f) {
  return f == Format::kU1 || f == Format::kU2 || f == Format::kU4 || f == Format::kU8;
}
bool float_format(Format f) { return f == Format::kF4 || f == Format::kF8; }

// A double narrowed to F4; beyond the float range it becomes an infinity (a plain conversion
// would be undefined there).
float to_float(double v) {
  if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}

void put_be(uint64_t v, std::size_t n, std::string* out) {
  for (std::size_t i = n; i-- > 0;) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint64_t get_be(const unsigned char* p, std::size_t n) {
  uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

void put_header(Format f, std::size_t length, std::string* out) {
  const std::size_t n = length <= 0xFF ? 1 : length <= 0xFFFF ? 2 : 3;
  out->push_back(static_cast<char>((static_cast<uint8_t>(f) << 2) | n));
  put_be(length, n, out);
}

bool encode_into(const Item& item, std::string* out) {
  const Format f = item.format();
  if (f == Format::kList) {
    if (item.items().size() > kMaxLength) return false;
    put_header(f, item.items().size(), out);
    for (const Item& child : item.items()) {
      if (!encode_into(child, out)) return false;
    }
    return true;
  }
  const std::size_t length = item.size() * element_size(f);
  if (length > kMaxLength) return false;
  put_header(f, length, out);
  if (item.is_text()) {
    out->append(item.text());
  } else if (f == Format::kBinary || f == Format::kBoolean) {
    out->append(reinterpret_cast<const char*>(item.bytes().data()), item.bytes().size());
  } else if (signed_format(f)) {
    for (int64_t v : item.int_values()) put_be(static_cast<uint64_t>(v), element_size(f), out);
  } else if (unsigned_format(f)) {
    for (uint64_t v : item.uint_values()) put_be(v, element_size(f), out);
  } else if (f == Format::kF4) {
    for (double v : item.float_values()) {
      const float narrow = to_float(v);
      uint32_t bits;
      std::memcpy(&bits, &narrow, 4);
      put_be(bits, 4, out);
    }
  } else {
    for (double v : item.float_values()) {
      uint64_t bits;
      std::memcpy(&bits, &v, 8);
      put_be(bits, 8, out);
    }
  }
  return true;
}

class Decoder {
 public:
  Decoder(std::string_view data, const DecodeLimits& limits, std::string* error)
      : p_(reinterpret_cast<const unsigned char*>(data.data())),
        size_(data.size()),
        limits_(limits),
        error_(error) {}

  bool item(Item* out, std::size_t depth) {
    const std::size_t at = pos_;
    if (++count_ > limits_.max_items) {
      return fail(at, "more than " + std::to_string(limits_.max_items) + " items");
    }
    if (pos_ >= size_) return fail(at, "no data");
    const uint8_t format_byte = p_[pos_++];
    const uint8_t code = format_byte >> 2;
    const std::size_t n = format_byte & 3;
    if (!known_format(code)) {
      char octal[8];
      std::snprintf(octal, sizeof octal, "0%02o", code);
      return fail(at, std::string("unknown format code ") + octal);
    }
    if (n == 0) return fail(at, "no length bytes");
    if (size_ - pos_ < n) return fail(at, "length bytes run past the end");
    const std::size_t length = static_cast<std::size_t>(get_be(p_ + pos_, n));
    pos_ += n;
    const Format f = static_cast<Format>(code);
    if (f == Format::kList) {
      if (depth >= limits_.max_depth) {
        return fail(at, "lists nested deeper than " + std::to_string(limits_.max_depth));
      }
      std::vector<Item> children;
      // Every item takes at least two bytes: a count beyond that cannot be real.
      children.reserve(std::min(length, (size_ - pos_) / 2));
      for (std::size_t i = 0; i < length; ++i) {
        if (pos_ >= size_) {
          return fail(
              at, "list of " + std::to_string(length) + " items ends after " + std::to_string(i));
        }
        children.emplace_back();
        if (!item(&children.back(), depth + 1)) return false;
      }
      *out = Item::list(std::move(children));
      return true;
    }
    const std::size_t width = element_size(f);
    if (length % width != 0) {
      return fail(at, "length " + std::to_string(length) + " is not a multiple of " +
                          std::to_string(width) + " (" + format_name(f) + ")");
    }
    if (size_ - pos_ < length) {
      return fail(at, "data runs past the end (" + std::to_string(length) + " bytes, " +
                          std::to_string(size_ - pos_) + " left)");
    }
    const unsigned char* d = p_ + pos_;
    const std::size_t count = length / width;
    pos_ += length;
    if (f == Format::kAscii || f == Format::kJis8) {
      const std::string_view text(reinterpret_cast<const char*>(d), length);
      *out = f == Format::kAscii ? Item::ascii(text) : Item::jis8(text);
    } else if (f == Format::kBinary) {
      *out = Item::binary(std::vector<uint8_t>(d, d + length));
    } else if (f == Format::kBoolean) {
      std::vector<bool> values(count);
      for (std::size_t i = 0; i < count; ++i) values[i] = d[i] != 0;
      *out = Item::boolean(std::move(values));
    } else if (signed_format(f)) {
      std::vector<int64_t> values(count);
      for (std::size_t i = 0; i < count; ++i) {
        uint64_t raw = get_be(d + i * width, width);
        if (width < 8 && (raw >> (8 * width - 1)) != 0) raw |= ~uint64_t{0} << (8 * width);
        values[i] = static_cast<int64_t>(raw);
      }
      *out = Item::ints(f, std::move(values));
    } else if (unsigned_format(f)) {
      std::vector<uint64_t> values(count);
      for (std::size_t i = 0; i < count; ++i) values[i] = get_be(d + i * width, width);
      *out = Item::uints(f, std::move(values));
    } else {
      std::vector<double> values(count);
      for (std::size_t i = 0; i < count; ++i) {
        const uint64_t raw = get_be(d + i * width, width);
        if (width == 4) {
          const uint32_t bits = static_cast<uint32_t>(raw);
          float v;
          std::memcpy(&v, &bits, 4);
          values[i] = v;
        } else {
          std::memcpy(&values[i], &raw, 8);
        }
      }
      *out = Item::floats(f, std::move(values));
    }
    return true;
  }

  bool finish() {
    if (pos_ == size_) return true;
    if (error_) {
      const std::size_t left = size_ - pos_;
      *error_ =
          std::to_string(left) + (left == 1 ? " byte" : " bytes") + " left over after the item";
    }
    return false;
  }

 private:
  bool fail(std::size_t at, const std::string& why) {
    if (error_) *error_ = "item at byte " + std::to_string(at) + ": " + why;
    return false;
  }

  const unsigned char* p_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::size_t count_ = 0;
  const DecodeLimits& limits_;
  std::string* error_;
};

// The shortest decimal text that reads back as the same value of the format.
std::string float_text(double v, bool single) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Inf" : "Inf";
  char buf[40];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, v);
    const double back = std::strtod(buf, nullptr);
    if (single ? to_float(back) == to_float(v) : back == v) break;
  }
  return buf;
}

void quote_text(const std::string& text, std::string* out) {
  out->push_back('"');
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out->append(buf);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
  out->push_back('"');
}

void sml_into(const Item& item, int level, std::string* out) {
  out->append(static_cast<std::size_t>(level) * 2, ' ');
  out->push_back('<');
  out->append(format_name(item.format()));
  const Format f = item.format();
  char buf[32];
  if (f == Format::kList) {
    out->append(" [" + std::to_string(item.items().size()) + "]");
    if (item.items().empty()) {
      out->push_back('>');
      return;
    }
    for (const Item& child : item.items()) {
      out->push_back('\n');
      sml_into(child, level + 1, out);
    }
    out->push_back('\n');
    out->append(static_cast<std::size_t>(level) * 2, ' ');
    out->push_back('>');
    return;
  }
  if (item.is_text()) {
    out->push_back(' ');
    quote_text(item.text(), out);
  } else if (f == Format::kBinary) {
    for (uint8_t b : item.bytes()) {
      std::snprintf(buf, sizeof buf, " 0x%02X", b);
      out->append(buf);
    }
  } else if (f == Format::kBoolean) {
    for (uint8_t b : item.bytes()) out->append(b ? " TRUE" : " FALSE");
  } else if (signed_format(f)) {
    for (int64_t v : item.int_values()) out->append(" " + std::to_string(v));
  } else if (unsigned_format(f)) {
    for (uint64_t v : item.uint_values()) out->append(" " + std::to_string(v));
  } else {
    for (double v : item.float_values()) out->append(" " + float_text(v, f == Format::kF4));
  }
  out->push_back('>');
}

}  // namespace

const char* format_name(Format format) {
  switch (format) {
    case Format::kList:
      return "L";
    case Format::kBinary:
      return "B";
    case Format::kBoolean:
      return "BOOLEAN";
    case Format::kAscii:
      return "A";
    case Format::kJis8:
      return "J";
    case Format::kI8:
      return "I8";
    case Format::kI1:
      return "I1";
    case Format::kI2:
      return "I2";
    case Format::kI4:
      return "I4";
    case Format::kF8:
      return "F8";
    case Format::kF4:
      return "F4";
    case Format::kU8:
      return "U8";
    case Format::kU1:
      return "U1";
    case Format::kU2:
      return "U2";
    case Format::kU4:
      return "U4";
  }
  return "?";
}

std::size_t element_size(Format format) {
  switch (format) {
    case Format::kList:
      return 0;
    case Format::kI2:
    case Format::kU2:
      return 2;
    case Format::kI4:
    case Format::kU4:
    case Format::kF4:
      return 4;
    case Format::kI8:
    case Format::kU8:
    case Format::kF8:
      return 8;
    default:
      return 1;
  }
}

Item::Item() = default;

Item Item::list(std::vector<Item> items) {
  Item item;
  item.items_ = std::move(items);
  return item;
}

Item Item::binary(std::vector<uint8_t> bytes) {
  Item item;
  item.format_ = Format::kBinary;
  item.bytes_ = std::move(bytes);
  return item;
}

Item Item::boolean(std::vector<bool> values) {
  Item item;
  item.format_ = Format::kBoolean;
  item.bytes_.reserve(values.size());
  for (bool v : values) item.bytes_.push_back(v ? 1 : 0);
  return item;
}

Item Item::ascii(std::string_view text) {
  Item item;
  item.format_ = Format::kAscii;
  item.text_.assign(text.data(), text.size());
  return item;
}

Item Item::jis8(std::string_view text) {
  Item item = ascii(text);
  item.format_ = Format::kJis8;
  return item;
}

// A format that does not match the constructor is taken as the constructor's widest one, so an
// item never carries values in a vector its format does not read.
Item Item::ints(Format format, std::vector<int64_t> values) {
  Item item;
  item.format_ = signed_format(format) ? format : Format::kI8;
  item.ints_ = std::move(values);
  return item;
}

Item Item::uints(Format format, std::vector<uint64_t> values) {
  Item item;
  item.format_ = unsigned_format(format) ? format : Format::kU8;
  item.uints_ = std::move(values);
  return item;
}

Item Item::floats(Format format, std::vector<double> values) {
  Item item;
  item.format_ = float_format(format) ? format : Format::kF8;
  item.floats_ = std::move(values);
  return item;
}

bool Item::is_signed() const { return signed_format(format_); }
bool Item::is_unsigned() const { return unsigned_format(format_); }
bool Item::is_float() const { return float_format(format_); }

std::size_t Item::size() const {
  if (is_list()) return items_.size();
  if (is_text()) return text_.size();
  if (is_signed()) return ints_.size();
  if (is_unsigned()) return uints_.size();
  if (is_float()) return floats_.size();
  return bytes_.size();
}

bool Item::first_int(int64_t* value) const {
  if (size() == 0 || is_list() || is_text()) return false;
  if (is_signed()) {
    *value = ints_[0];
  } else if (is_unsigned()) {
    *value = static_cast<int64_t>(uints_[0]);
  } else if (is_float()) {
    const double v = floats_[0];
    if (std::isnan(v)) return false;
    if (v >= 9223372036854775807.0) {
      *value = std::numeric_limits<int64_t>::max();
    } else if (v <= -9223372036854775808.0) {
      *value = std::numeric_limits<int64_t>::min();
    } else {
      *value = static_cast<int64_t>(v);
    }
  } else {
    *value = bytes_[0];
  }
  return true;
}

bool Item::first_uint(uint64_t* value) const {
  if (size() == 0 || is_list() || is_text()) return false;
  if (is_unsigned()) {
    *value = uints_[0];
  } else if (is_signed()) {
    *value = static_cast<uint64_t>(ints_[0]);
  } else if (is_float()) {
    const double v = floats_[0];
    if (std::isnan(v)) return false;
    if (v <= 0) {
      *value = 0;
    } else if (v >= 18446744073709551615.0) {
      *value = std::numeric_limits<uint64_t>::max();
    } else {
      *value = static_cast<uint64_t>(v);
    }
  } else {
    *value = bytes_[0];
  }
  return true;
}

bool Item::first_double(double* value) const {
  if (size() == 0 || is_list() || is_text()) return false;
  if (is_float()) {
    *value = floats_[0];
  } else if (is_signed()) {
    *value = static_cast<double>(ints_[0]);
  } else if (is_unsigned()) {
    *value = static_cast<double>(uints_[0]);
  } else {
    *value = bytes_[0];
  }
  return true;
}

bool Item::operator==(const Item& other) const {
  if (format_ != other.format_) return false;
  if (is_list()) return items_ == other.items_;
  if (is_text()) return text_ == other.text_;
  if (is_signed()) return ints_ == other.ints_;
  if (is_unsigned()) return uints_ == other.uints_;
  if (is_float()) return floats_ == other.floats_;
  return bytes_ == other.bytes_;
}

bool encode(const Item& item, std::string* out) {
  const std::size_t before = out->size();
  if (encode_into(item, out)) return true;
  out->resize(before);
  return false;
}

std::string encode(const Item& item) {
  std::string out;
  encode(item, &out);
  return out;
}

bool decode(std::string_view data, Item* item, std::string* error, const DecodeLimits& limits) {
  Decoder decoder(data, limits, error);
  Item result;
  if (data.empty()) {
    if (error) *error = "item at byte 0: no data";
    return false;
  }
  if (!decoder.item(&result, 0) || !decoder.finish()) return false;
  *item = std::move(result);
  return true;
}

std::string to_sml(const Item& item, int indent) {
  std::string out;
  sml_into(item, indent < 0 ? 0 : indent, &out);
  return out;
}

}  // namespace vexlor::secs
