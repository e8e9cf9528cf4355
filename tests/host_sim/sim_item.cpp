#include "host_sim/sim_item.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace vexlor::hostsim {

const char* format_name(Format format) {
  switch (format) {
    case Format::L:
      return "L";
    case Format::B:
      return "B";
    case Format::Boolean:
      return "BOOLEAN";
    case Format::A:
      return "A";
    case Format::J:
      return "J";
    case Format::I8:
      return "I8";
    case Format::I1:
      return "I1";
    case Format::I2:
      return "I2";
    case Format::I4:
      return "I4";
    case Format::F8:
      return "F8";
    case Format::F4:
      return "F4";
    case Format::U8:
      return "U8";
    case Format::U1:
      return "U1";
    case Format::U2:
      return "U2";
    case Format::U4:
      return "U4";
  }
  return "?";
}

std::size_t element_size(Format format) {
  switch (format) {
    case Format::L:
      return 0;
    case Format::I2:
    case Format::U2:
      return 2;
    case Format::I4:
    case Format::U4:
    case Format::F4:
      return 4;
    case Format::I8:
    case Format::U8:
    case Format::F8:
      return 8;
    default:
      return 1;
  }
}

bool valid_format_code(unsigned code) {
  switch (code) {
    case 000:
    case 010:
    case 011:
    case 020:
    case 021:
    case 030:
    case 031:
    case 032:
    case 034:
    case 040:
    case 044:
    case 050:
    case 051:
    case 052:
    case 054:
      return true;
    default:
      return false;
  }
}

Item Item::list(std::vector<Item> items) {
  Item item;
  item.items_ = std::move(items);
  return item;
}

Item Item::ascii(std::string text) {
  Item item;
  item.format_ = Format::A;
  item.text_ = std::move(text);
  return item;
}

Item Item::jis8(std::string text) {
  Item item = ascii(std::move(text));
  item.format_ = Format::J;
  return item;
}

Item Item::binary(std::vector<std::uint8_t> bytes) {
  Item item;
  item.format_ = Format::B;
  item.bytes_ = std::move(bytes);
  return item;
}

Item Item::boolean(std::vector<bool> values) {
  Item item;
  item.format_ = Format::Boolean;
  for (bool v : values) item.bytes_.push_back(v ? 1 : 0);
  return item;
}

Item Item::boolean_bytes(std::vector<std::uint8_t> raw) {
  Item item;
  item.format_ = Format::Boolean;
  item.bytes_ = std::move(raw);
  return item;
}

Item Item::signed_of(Format format, std::vector<std::int64_t> values) {
  Item item;
  item.format_ = format;
  item.signed_ = std::move(values);
  return item;
}

Item Item::unsigned_of(Format format, std::vector<std::uint64_t> values) {
  Item item;
  item.format_ = format;
  item.unsigned_ = std::move(values);
  return item;
}

Item Item::float_of(Format format, std::vector<double> values) {
  Item item;
  item.format_ = format;
  item.floats_ = std::move(values);
  return item;
}

bool Item::is_signed() const {
  return format_ == Format::I1 || format_ == Format::I2 || format_ == Format::I4 ||
         format_ == Format::I8;
}

bool Item::is_unsigned() const {
  return format_ == Format::U1 || format_ == Format::U2 || format_ == Format::U4 ||
         format_ == Format::U8;
}

bool Item::is_float() const { return format_ == Format::F4 || format_ == Format::F8; }

std::size_t Item::size() const {
  if (is_list()) return items_.size();
  if (is_text()) return text_.size();
  if (is_bytes()) return bytes_.size();
  if (is_signed()) return signed_.size();
  if (is_unsigned()) return unsigned_.size();
  return floats_.size();
}

bool Item::as_unsigned(std::uint64_t* value) const {
  if (is_unsigned() && unsigned_.size() == 1) {
    *value = unsigned_[0];
  } else if (is_signed() && signed_.size() == 1) {
    *value = static_cast<std::uint64_t>(signed_[0]);
  } else if (is_bytes() && bytes_.size() == 1) {
    *value = bytes_[0];
  } else {
    return false;
  }
  return true;
}

bool Item::operator==(const Item& other) const {
  if (format_ != other.format_) return false;
  if (is_list()) return items_ == other.items_;
  if (is_text()) return text_ == other.text_;
  if (is_bytes()) return bytes_ == other.bytes_;
  if (is_signed()) return signed_ == other.signed_;
  if (is_unsigned()) return unsigned_ == other.unsigned_;
  if (floats_.size() != other.floats_.size()) return false;
  for (std::size_t i = 0; i < floats_.size(); ++i) {
    // Bit-equal, so that NaNs of the same pattern compare equal.
    if (std::memcmp(&floats_[i], &other.floats_[i], sizeof(double)) != 0) return false;
  }
  return true;
}

namespace {

void put_big_endian(std::string* out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = width; i-- > 0;)
    out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t get_big_endian(const unsigned char* p, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value = (value << 8) | p[i];
  return value;
}

bool encode_into(const Item& item, std::string* out, int min_length_bytes) {
  const std::size_t width = element_size(item.format());
  const std::size_t length = item.is_list() ? item.size() : item.size() * width;
  if (length > kMaxItemLength) return false;
  int length_bytes = length > 0xFFFF ? 3 : length > 0xFF ? 2 : 1;
  if (length_bytes < min_length_bytes) length_bytes = min_length_bytes;
  out->push_back(static_cast<char>((static_cast<unsigned>(item.format()) << 2) |
                                   static_cast<unsigned>(length_bytes)));
  put_big_endian(out, length, static_cast<std::size_t>(length_bytes));
  if (item.is_list()) {
    for (const Item& member : item.items()) {
      if (!encode_into(member, out, min_length_bytes)) return false;
    }
  } else if (item.is_text()) {
    out->append(item.text());
  } else if (item.is_bytes()) {
    out->append(item.bytes().begin(), item.bytes().end());
  } else if (item.is_signed()) {
    for (std::int64_t v : item.signed_values())
      put_big_endian(out, static_cast<std::uint64_t>(v), width);
  } else if (item.is_unsigned()) {
    for (std::uint64_t v : item.unsigned_values()) put_big_endian(out, v, width);
  } else if (item.format() == Format::F4) {
    for (double v : item.float_values()) {
      const float f = static_cast<float>(v);
      std::uint32_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      put_big_endian(out, bits, 4);
    }
  } else {
    for (double v : item.float_values()) {
      std::uint64_t bits;
      std::memcpy(&bits, &v, sizeof bits);
      put_big_endian(out, bits, 8);
    }
  }
  return true;
}

struct Decoder {
  const unsigned char* data;
  std::size_t size;
  std::size_t pos = 0;
  std::string error;

  bool fail(const std::string& what) {
    error = what + " at byte " + std::to_string(pos);
    return false;
  }

  bool item(Item* out, int depth) {
    if (depth > kMaxDepth) return fail("lists nested deeper than " + std::to_string(kMaxDepth));
    if (pos >= size) return fail("missing item header");
    const unsigned header = data[pos];
    const unsigned code = header >> 2;
    const std::size_t length_bytes = header & 3;
    if (!valid_format_code(code)) {
      char octal[8];
      std::snprintf(octal, sizeof octal, "%02o", code);
      return fail(std::string("unknown format code ") + octal);
    }
    if (length_bytes == 0) return fail("zero length bytes");
    if (size - pos - 1 < length_bytes) return fail("truncated length field");
    const std::size_t length = get_big_endian(data + pos + 1, length_bytes);
    const std::size_t start = pos;
    pos += 1 + length_bytes;
    const Format format = static_cast<Format>(code);
    if (format == Format::L) {
      // Every member takes at least two bytes: a count beyond that cannot be right.
      if (length > (size - pos) / 2) {
        pos = start;
        return fail("list of " + std::to_string(length) + " items longer than the data");
      }
      std::vector<Item> members(length);
      for (Item& member : members) {
        if (!item(&member, depth + 1)) return false;
      }
      *out = Item::list(std::move(members));
      return true;
    }
    if (length > size - pos) {
      pos = start;
      return fail(std::string(format_name(format)) + " item of " + std::to_string(length) +
                  " bytes longer than the data");
    }
    const std::size_t width = element_size(format);
    if (length % width != 0) {
      pos = start;
      return fail(std::string(format_name(format)) + " length " + std::to_string(length) +
                  " not a multiple of " + std::to_string(width));
    }
    const unsigned char* p = data + pos;
    const std::size_t count = length / width;
    switch (format) {
      case Format::A:
        *out = Item::ascii(std::string(reinterpret_cast<const char*>(p), length));
        break;
      case Format::J:
        *out = Item::jis8(std::string(reinterpret_cast<const char*>(p), length));
        break;
      case Format::B:
        *out = Item::binary(std::vector<std::uint8_t>(p, p + length));
        break;
      case Format::Boolean:
        *out = Item::boolean_bytes(std::vector<std::uint8_t>(p, p + length));
        break;
      case Format::I1:
      case Format::I2:
      case Format::I4:
      case Format::I8: {
        std::vector<std::int64_t> values(count);
        for (std::size_t i = 0; i < count; ++i) {
          std::uint64_t raw = get_big_endian(p + i * width, width);
          if (width < 8 && (raw >> (8 * width - 1)) != 0) raw |= ~std::uint64_t{0} << (8 * width);
          values[i] = static_cast<std::int64_t>(raw);
        }
        *out = Item::signed_of(format, std::move(values));
        break;
      }
      case Format::U1:
      case Format::U2:
      case Format::U4:
      case Format::U8: {
        std::vector<std::uint64_t> values(count);
        for (std::size_t i = 0; i < count; ++i) values[i] = get_big_endian(p + i * width, width);
        *out = Item::unsigned_of(format, std::move(values));
        break;
      }
      case Format::F4: {
        std::vector<double> values(count);
        for (std::size_t i = 0; i < count; ++i) {
          const auto bits = static_cast<std::uint32_t>(get_big_endian(p + i * 4, 4));
          float f;
          std::memcpy(&f, &bits, sizeof f);
          values[i] = f;
        }
        *out = Item::f4(std::move(values));
        break;
      }
      case Format::F8: {
        std::vector<double> values(count);
        for (std::size_t i = 0; i < count; ++i) {
          const std::uint64_t bits = get_big_endian(p + i * 8, 8);
          std::memcpy(&values[i], &bits, sizeof(double));
        }
        *out = Item::f8(std::move(values));
        break;
      }
      case Format::L:
        break;
    }
    pos += length;
    return true;
  }
};

}  // namespace

bool encode(const Item& item, std::string* out, int min_length_bytes) {
  if (min_length_bytes < 1) min_length_bytes = 1;
  if (min_length_bytes > 3) min_length_bytes = 3;
  const std::size_t before = out->size();
  if (!encode_into(item, out, min_length_bytes)) {
    out->resize(before);
    return false;
  }
  return true;
}

std::string encode(const Item& item) {
  std::string out;
  if (!encode(item, &out)) throw std::length_error("SECS-II item longer than 0xFFFFFF");
  return out;
}

bool decode(std::string_view bytes, Item* item, std::string* error) {
  Decoder decoder{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0, {}};
  Item result;
  bool ok = decoder.item(&result, 0);
  if (ok && decoder.pos != bytes.size()) {
    ok = decoder.fail(std::to_string(bytes.size() - decoder.pos) + " bytes after the item");
  }
  if (!ok) {
    if (error) *error = decoder.error;
    return false;
  }
  *item = std::move(result);
  return true;
}

namespace {

std::string number_text(const Item& item, std::size_t i) {
  char buffer[40];
  if (item.is_signed()) {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(item.signed_values()[i]));
  } else if (item.is_unsigned()) {
    std::snprintf(buffer, sizeof buffer, "%llu",
                  static_cast<unsigned long long>(item.unsigned_values()[i]));
  } else if (item.format() == Format::F4) {
    std::snprintf(buffer, sizeof buffer, "%.9g", item.float_values()[i]);
  } else if (item.format() == Format::F8) {
    std::snprintf(buffer, sizeof buffer, "%.17g", item.float_values()[i]);
  } else if (item.format() == Format::Boolean) {
    return item.bytes()[i] != 0 ? "T" : "F";
  } else {
    std::snprintf(buffer, sizeof buffer, "0x%02X", item.bytes()[i]);
  }
  return buffer;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

std::string to_sml(const Item& item) {
  std::string out = "<";
  out += format_name(item.format());
  if (item.is_list()) {
    out += " [" + std::to_string(item.size()) + "]";
    for (const Item& member : item.items()) out += " " + to_sml(member);
  } else if (item.is_text()) {
    out += " " + quoted(item.text());
  } else {
    for (std::size_t i = 0; i < item.size(); ++i) out += " " + number_text(item, i);
  }
  return out + ">";
}

std::string value_text(const Item& item) {
  if (item.is_text()) return quoted(item.text());
  std::string out;
  if (item.is_list()) {
    for (const Item& member : item.items()) out += (out.empty() ? "" : " ") + value_text(member);
    return "[" + out + "]";
  }
  for (std::size_t i = 0; i < item.size(); ++i) {
    std::string one = number_text(item, i);
    if (item.format() == Format::Boolean) one = one == "T" ? "true" : "false";
    out += (i == 0 ? "" : " ") + one;
  }
  return item.size() == 1 ? out : "[" + out + "]";
}

}  // namespace vexlor::hostsim
