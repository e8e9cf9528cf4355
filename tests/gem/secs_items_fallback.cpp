// The SECS-II item model for the GEM tests while the codec library (link/secs) is not part of the
// build: the constructors, accessors, comparison, SML text and the E5 encoding the GEM layer
// uses (the spool keeps encoded bodies). Compiled only when the target vexlor_secs does not
// exist; once it does, the tests link the real one and this file is not built.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "secs/item.h"

namespace vexlor::secs {

const char* format_name(Format f) {
  switch (f) {
    case Format::kList: return "L";
    case Format::kBinary: return "B";
    case Format::kBoolean: return "BOOLEAN";
    case Format::kAscii: return "A";
    case Format::kJis8: return "J";
    case Format::kI8: return "I8";
    case Format::kI1: return "I1";
    case Format::kI2: return "I2";
    case Format::kI4: return "I4";
    case Format::kF8: return "F8";
    case Format::kF4: return "F4";
    case Format::kU8: return "U8";
    case Format::kU1: return "U1";
    case Format::kU2: return "U2";
    case Format::kU4: return "U4";
  }
  return "?";
}

std::size_t element_size(Format f) {
  switch (f) {
    case Format::kList: return 0;
    case Format::kI2: case Format::kU2: return 2;
    case Format::kI4: case Format::kU4: case Format::kF4: return 4;
    case Format::kI8: case Format::kU8: case Format::kF8: return 8;
    default: return 1;
  }
}

Item::Item() = default;
Item Item::list(std::vector<Item> items) {
  Item i;
  i.items_ = std::move(items);
  return i;
}
Item Item::binary(std::vector<uint8_t> bytes) {
  Item i;
  i.format_ = Format::kBinary;
  i.bytes_ = std::move(bytes);
  return i;
}
Item Item::boolean(std::vector<bool> values) {
  Item i;
  i.format_ = Format::kBoolean;
  for (bool b : values) i.bytes_.push_back(b ? 1 : 0);
  return i;
}
Item Item::ascii(std::string_view text) {
  Item i;
  i.format_ = Format::kAscii;
  i.text_ = std::string(text);
  return i;
}
Item Item::jis8(std::string_view text) {
  Item i = ascii(text);
  i.format_ = Format::kJis8;
  return i;
}
Item Item::ints(Format f, std::vector<int64_t> v) {
  Item i;
  i.format_ = f;
  i.ints_ = std::move(v);
  return i;
}
Item Item::uints(Format f, std::vector<uint64_t> v) {
  Item i;
  i.format_ = f;
  i.uints_ = std::move(v);
  return i;
}
Item Item::floats(Format f, std::vector<double> v) {
  Item i;
  i.format_ = f;
  i.floats_ = std::move(v);
  return i;
}
bool Item::is_signed() const {
  return format_ == Format::kI1 || format_ == Format::kI2 || format_ == Format::kI4 ||
         format_ == Format::kI8;
}
bool Item::is_unsigned() const {
  return format_ == Format::kU1 || format_ == Format::kU2 || format_ == Format::kU4 ||
         format_ == Format::kU8;
}
bool Item::is_float() const { return format_ == Format::kF4 || format_ == Format::kF8; }
std::size_t Item::size() const {
  if (is_list()) return items_.size();
  if (is_text()) return text_.size();
  if (is_signed()) return ints_.size();
  if (is_unsigned()) return uints_.size();
  if (is_float()) return floats_.size();
  return bytes_.size();
}
bool Item::first_int(int64_t* v) const {
  if (is_signed() && !ints_.empty()) return *v = ints_[0], true;
  if (is_unsigned() && !uints_.empty()) return *v = static_cast<int64_t>(uints_[0]), true;
  if (is_float() && !floats_.empty()) return *v = static_cast<int64_t>(floats_[0]), true;
  if ((format_ == Format::kBinary || format_ == Format::kBoolean) && !bytes_.empty()) {
    return *v = bytes_[0], true;
  }
  return false;
}
bool Item::first_uint(uint64_t* v) const {
  int64_t i = 0;
  if (is_unsigned() && !uints_.empty()) return *v = uints_[0], true;
  if (!first_int(&i)) return false;
  *v = static_cast<uint64_t>(i);
  return true;
}
bool Item::first_double(double* v) const {
  if (is_float() && !floats_.empty()) return *v = floats_[0], true;
  if (is_unsigned() && !uints_.empty()) return *v = static_cast<double>(uints_[0]), true;
  int64_t i = 0;
  if (!first_int(&i)) return false;
  *v = static_cast<double>(i);
  return true;
}
bool Item::operator==(const Item& o) const {
  return format_ == o.format_ && items_ == o.items_ && text_ == o.text_ && bytes_ == o.bytes_ &&
         ints_ == o.ints_ && uints_ == o.uints_ && floats_ == o.floats_;
}

namespace {
void put_number(std::string* out, uint64_t v, std::size_t bytes) {
  for (std::size_t k = bytes; k-- > 0;) out->push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
}
void put_header(std::string* out, Format f, std::size_t length) {
  const std::size_t n = length < 0x100 ? 1 : length < 0x10000 ? 2 : 3;
  out->push_back(static_cast<char>((static_cast<uint8_t>(f) << 2) | n));
  put_number(out, length, n);
}
uint64_t get_number(std::string_view d, std::size_t at, std::size_t bytes) {
  uint64_t v = 0;
  for (std::size_t k = 0; k < bytes; ++k) v = (v << 8) | static_cast<uint8_t>(d[at + k]);
  return v;
}
bool decode_at(std::string_view d, std::size_t* at, Item* item, std::size_t depth) {
  if (depth > 64 || *at >= d.size()) return false;
  const uint8_t head = static_cast<uint8_t>(d[*at]);
  const std::size_t n = head & 3;
  if (n == 0 || *at + 1 + n > d.size()) return false;
  const std::size_t length = get_number(d, *at + 1, n);
  *at += 1 + n;
  const Format f = static_cast<Format>(head >> 2);
  if (f == Format::kList) {
    std::vector<Item> items(length);
    for (Item& i : items) {
      if (!decode_at(d, at, &i, depth + 1)) return false;
    }
    *item = Item::list(std::move(items));
    return true;
  }
  const std::size_t size = element_size(f);
  if (*at + length > d.size() || length % size != 0) return false;
  const std::string_view data = d.substr(*at, length);
  *at += length;
  const std::size_t count = length / size;
  switch (f) {
    case Format::kAscii: *item = Item::ascii(data); return true;
    case Format::kJis8: *item = Item::jis8(data); return true;
    case Format::kBinary: *item = Item::binary(std::vector<uint8_t>(data.begin(), data.end())); return true;
    case Format::kBoolean: {
      std::vector<bool> v;
      for (char c : data) v.push_back(c != 0);
      *item = Item::boolean(v);
      return true;
    }
    case Format::kF4: case Format::kF8: {
      std::vector<double> v;
      for (std::size_t k = 0; k < count; ++k) {
        const uint64_t bits = get_number(data, k * size, size);
        if (size == 4) {
          uint32_t b = static_cast<uint32_t>(bits);
          float x;
          std::memcpy(&x, &b, 4);
          v.push_back(x);
        } else {
          double x;
          std::memcpy(&x, &bits, 8);
          v.push_back(x);
        }
      }
      *item = Item::floats(f, v);
      return true;
    }
    case Format::kI1: case Format::kI2: case Format::kI4: case Format::kI8: {
      std::vector<int64_t> v;
      for (std::size_t k = 0; k < count; ++k) {
        uint64_t bits = get_number(data, k * size, size);
        const int shift = static_cast<int>(64 - 8 * size);
        v.push_back(static_cast<int64_t>(bits << shift) >> shift);
      }
      *item = Item::ints(f, v);
      return true;
    }
    case Format::kU1: case Format::kU2: case Format::kU4: case Format::kU8: {
      std::vector<uint64_t> v;
      for (std::size_t k = 0; k < count; ++k) v.push_back(get_number(data, k * size, size));
      *item = Item::uints(f, v);
      return true;
    }
    default: return false;
  }
}
}  // namespace

bool encode(const Item& item, std::string* out) {
  const Format f = item.format();
  if (f == Format::kList) {
    put_header(out, f, item.items().size());
    for (const Item& i : item.items()) encode(i, out);
    return true;
  }
  const std::size_t size = element_size(f);
  put_header(out, f, item.size() * size);
  if (item.is_text()) {
    *out += item.text();
  } else if (item.is_signed()) {
    for (int64_t v : item.int_values()) put_number(out, static_cast<uint64_t>(v), size);
  } else if (item.is_unsigned()) {
    for (uint64_t v : item.uint_values()) put_number(out, v, size);
  } else if (item.is_float()) {
    for (double v : item.float_values()) {
      if (size == 4) {
        float x = static_cast<float>(v);
        uint32_t b;
        std::memcpy(&b, &x, 4);
        put_number(out, b, 4);
      } else {
        uint64_t b;
        std::memcpy(&b, &v, 8);
        put_number(out, b, 8);
      }
    }
  } else {
    for (uint8_t b : item.bytes()) out->push_back(static_cast<char>(b));
  }
  return true;
}

std::string encode(const Item& item) {
  std::string out;
  encode(item, &out);
  return out;
}

bool decode(std::string_view data, Item* item, std::string* error, const DecodeLimits&) {
  std::size_t at = 0;
  if (decode_at(data, &at, item, 0) && at == data.size()) return true;
  if (error != nullptr) *error = "bad item";
  return false;
}

std::string to_sml(const Item& item, int indent) {
  const std::string pad(static_cast<std::size_t>(indent) * 2, ' ');
  std::string out = pad + "<" + format_name(item.format());
  if (item.is_list()) {
    out += " [" + std::to_string(item.size()) + "]\n";
    for (const Item& i : item.items()) out += to_sml(i, indent + 1);
    return out + pad + ">\n";
  }
  if (item.is_text()) return out + " \"" + item.text() + "\">\n";
  char buf[64];
  for (int64_t v : item.int_values()) out += " " + std::to_string(v);
  for (uint64_t v : item.uint_values()) out += " " + std::to_string(v);
  for (double v : item.float_values()) {
    std::snprintf(buf, sizeof buf, " %g", v);
    out += buf;
  }
  for (uint8_t b : item.bytes()) {
    std::snprintf(buf, sizeof buf, " 0x%02X", b);
    out += buf;
  }
  return out + ">\n";
}

}  // namespace vexlor::secs
