// Packing of Modbus TCP mappings and device settings, value conversions, and the readable
// configuration keys that produce them.
#include "modbus/mapping.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace vexlor::drivers::modbus {

namespace {

using config::KindError;
using config::KindTable;
using config::KindValue;
using config::PointKind;

constexpr const char* kTableNames[] = {"coil", "discrete_input", "holding_register",
                                       "input_register"};
constexpr const char* kTypeNames[] = {"bit",    "int16",   "uint16",  "int32",
                                      "uint32", "float32", "float64", "string"};
constexpr const char* kOrderNames[] = {"ABCD", "BADC", "CDAB", "DCBA"};

double power10(int e) {
  double p = 1;
  for (int i = 0; i < e; ++i) p *= 10;
  return p;
}

template <std::size_t N>
int name_index(const char* const (&names)[N], std::string_view text) {
  for (std::size_t i = 0; i < N; ++i) {
    if (text == names[i]) return static_cast<int>(i);
  }
  return -1;
}

template <std::size_t N>
std::string name_list(const char* const (&names)[N]) {
  std::string out;
  for (std::size_t i = 0; i < N; ++i) out += std::string(i ? ", " : "") + names[i];
  return out;
}

// The words of a value from the most significant, in the device's order.
void order_words(WordOrder order, uint16_t* words, int count) {
  const bool swap_bytes = order == WordOrder::BADC || order == WordOrder::DCBA;
  const bool swap_words = order == WordOrder::CDAB || order == WordOrder::DCBA;
  if (swap_words) {
    for (int i = 0; i < count / 2; ++i) std::swap(words[i], words[count - 1 - i]);
  }
  if (swap_bytes) {
    for (int i = 0; i < count; ++i) words[i] = static_cast<uint16_t>(words[i] << 8 | words[i] >> 8);
  }
}

int type_words(DataType t) {
  switch (t) {
    case DataType::Int32:
    case DataType::Uint32:
    case DataType::Float32:
      return 2;
    case DataType::Float64:
      return 4;
    default:
      return 1;
  }
}

uint64_t gather(const Mapping& m, const uint16_t* regs) {
  uint16_t words[4];
  const int n = type_words(m.type);
  std::memcpy(words, regs, n * sizeof(uint16_t));
  order_words(m.order, words, n);  // the orders are their own inverses
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 16 | words[i];
  return v;
}

void scatter(const Mapping& m, uint64_t v, uint16_t* regs) {
  const int n = type_words(m.type);
  uint16_t words[4];
  for (int i = n - 1; i >= 0; --i) {
    words[i] = static_cast<uint16_t>(v & 0xffff);
    v >>= 16;
  }
  order_words(m.order, words, n);
  std::memcpy(regs, words, n * sizeof(uint16_t));
}

// ---- Configuration ----------------------------------------------------------------------

struct Reader {
  const KindTable& table;
  std::optional<KindError> error;

  const KindValue* get(const char* key) const {
    for (const KindValue& v : table) {
      if (v.key == key) return &v;
    }
    return nullptr;
  }
  bool fail(const std::string& key, const std::string& message) {
    if (!error) error = KindError{key, message};
    return false;
  }
  bool integer(const char* key, int64_t lo, int64_t hi, int64_t* out) {
    const KindValue* v = get(key);
    if (v == nullptr) return true;
    const int64_t* i = std::get_if<int64_t>(&v->value);
    if (i == nullptr) return fail(key, "expected a whole number");
    if (*i < lo || *i > hi) {
      return fail(key, "value " + std::to_string(*i) + " is out of range " + std::to_string(lo) +
                           ".." + std::to_string(hi));
    }
    *out = *i;
    return true;
  }
  bool number(const char* key, double* out) {
    const KindValue* v = get(key);
    if (v == nullptr) return true;
    if (const int64_t* i = std::get_if<int64_t>(&v->value)) {
      *out = static_cast<double>(*i);
    } else if (const double* d = std::get_if<double>(&v->value)) {
      if (!std::isfinite(*d)) return fail(key, "expected a finite number");
      *out = *d;
    } else {
      return fail(key, "expected a number");
    }
    return true;
  }
  bool text(const char* key, std::string* out) {
    const KindValue* v = get(key);
    if (v == nullptr) return true;
    const std::string* t = std::get_if<std::string>(&v->value);
    if (t == nullptr) return fail(key, "expected a text");
    *out = *t;
    return true;
  }
  bool only(const std::vector<const char*>& keys) {
    for (const KindValue& v : table) {
      bool known = false;
      for (const char* k : keys) known = known || v.key == k;
      if (!known) {
        std::string list;
        for (const char* k : keys) list += std::string(list.empty() ? "" : ", ") + k;
        return fail(v.key, "unknown key \"" + v.key + "\" (expected " + list + ")");
      }
    }
    return true;
  }
};

bool parse_ipv4(const std::string& text, uint32_t* out) {
  uint32_t value = 0;
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    uint32_t part = 0;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      part = part * 10 + static_cast<uint32_t>(text[i] - '0');
      ++i;
      ++digits;
    }
    if (part > 255 || digits > 3) return false;
    value = value << 8 | part;
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  *out = value;
  return true;
}

std::optional<KindError> driver_params(const KindTable& table, int32_t* params) {
  Reader r{table, std::nullopt};
  std::string host;
  int64_t port = 502, unit = 1, period = 100, timeout = 500, alarm = 0;
  r.text("host", &host);
  r.integer("port", 1, 65535, &port);
  r.integer("unit", 0, 255, &unit);
  r.integer("period_ms", 10, 60000, &period);
  r.integer("timeout_ms", 10, 4000, &timeout);
  r.integer("alarm", 0, std::numeric_limits<int32_t>::max(), &alarm);
  if (r.error) return r.error;
  uint32_t address = 0;
  if (r.get("host") == nullptr) return KindError{"", "host is required (an IPv4 address)"};
  if (!parse_ipv4(host, &address)) {
    return KindError{"host", "\"" + host + "\" is not an IPv4 address (four numbers 0 to 255, such as 127.0.0.1)"};
  }
  params[kParamHost] = static_cast<int32_t>(address);
  params[kParamPort] = static_cast<int32_t>(port);
  params[kParamUnit] = static_cast<int32_t>(unit);
  params[kParamPeriodMs] = static_cast<int32_t>(period);
  params[kParamTimeoutMs] = static_cast<int32_t>(timeout);
  params[kParamAlarm] = static_cast<int32_t>(alarm);
  return std::nullopt;
}

// The smallest exponent that makes scale and offset whole int32 numbers.
bool decimal_form(double scale, double offset, Mapping* m) {
  for (int e = 0; e <= kMaxExponent; ++e) {
    const double p = power10(e);
    const double s = std::round(scale * p), o = std::round(offset * p);
    if (std::fabs(s) > 2147483647.0 || std::fabs(o) > 2147483647.0) return false;
    if (std::fabs(s - scale * p) <= 1e-9 * std::max(1.0, std::fabs(s)) &&
        std::fabs(o - offset * p) <= 1e-9 * std::max(1.0, std::fabs(o))) {
      m->exponent = static_cast<uint8_t>(e);
      m->scale = static_cast<int32_t>(s);
      m->offset = static_cast<int32_t>(o);
      return true;
    }
  }
  return false;
}

std::optional<KindError> point_params(PointKind kind, bool output, const KindTable& table,
                                      int32_t* params, std::size_t count) {
  Reader r{table, std::nullopt};
  std::vector<const char*> keys = {"table", "address", "type", "order", "bit"};
  if (kind == PointKind::Analog) keys.insert(keys.end(), {"scale", "offset"});
  if (kind == PointKind::String) keys = {"table", "address", "length", "order"};
  if (!r.only(keys)) return r.error;

  Mapping m;
  std::string table_name, type_name, order_name;
  int64_t address = -1, bit = 0, length = 0;
  r.text("table", &table_name);
  r.integer("address", 0, 65535, &address);
  r.text("type", &type_name);
  r.text("order", &order_name);
  r.integer("bit", 0, 15, &bit);
  r.integer("length", 1, 1023, &length);
  double scale = 1, offset = 0;
  r.number("scale", &scale);
  r.number("offset", &offset);
  if (r.error) return r.error;

  if (r.get("table") == nullptr) {
    return KindError{"", "table is required (" + name_list(kTableNames) + ")"};
  }
  const int t = name_index(kTableNames, table_name);
  if (t < 0) {
    return KindError{"table",
                     "unknown table \"" + table_name + "\" (expected " + name_list(kTableNames) + ")"};
  }
  m.table = static_cast<Table>(t);
  if (r.get("address") == nullptr) return KindError{"", "address is required (0..65535)"};
  m.address = static_cast<uint16_t>(address);
  if (output && (m.table == Table::DiscreteInput || m.table == Table::InputRegister)) {
    return KindError{"table", "table \"" + table_name +
                                  "\" is read-only; a point is written to a coil or a "
                                  "holding_register"};
  }

  if (kind == PointKind::String) {
    if (m.bit_table()) {
      return KindError{"table", "a string lives in registers, not in table \"" + table_name + "\""};
    }
    if (r.get("length") == nullptr) return KindError{"", "length is required (characters)"};
    if (length > kMaxStringChars) {
      return KindError{"length", "a string of " + std::to_string(length) + " characters takes " +
                                     std::to_string((length + 1) / 2) +
                                     " registers, more than one request carries (125)"};
    }
    m.type = DataType::String;
    m.length = static_cast<uint16_t>(length);
    if (r.get("order")) {
      const int o = name_index(kOrderNames, order_name);
      if (o != 0 && o != 1) {
        return KindError{"order", "a string's order is AB or BA bytes: ABCD or BADC"};
      }
      m.order = static_cast<WordOrder>(o);
    }
  } else {
    if (r.get("type") != nullptr) {
      const int ty = name_index(kTypeNames, type_name);
      if (ty < 0 || ty == static_cast<int>(DataType::String)) {
        return KindError{"type", "unknown type \"" + type_name +
                                     "\" (expected bit, int16, uint16, int32, uint32, float32, "
                                     "float64)"};
      }
      m.type = static_cast<DataType>(ty);
    } else {
      m.type = m.bit_table() ? DataType::Bit : DataType::Uint16;
    }
    if (m.bit_table() && m.type != DataType::Bit) {
      return KindError{"type", "a " + type_name + " needs a register table, not \"" +
                                   table_name + "\" (whose entries are single bits)"};
    }
    if (kind == PointKind::Digital &&
        (m.type == DataType::Float32 || m.type == DataType::Float64)) {
      return KindError{"type", "a digital point takes bit or an integer type, not " + type_name};
    }
    if (r.get("bit") != nullptr && (m.bit_table() || m.type != DataType::Bit)) {
      return KindError{"bit", "bit names a bit of a register (type bit on a register table)"};
    }
    m.bit = static_cast<uint8_t>(bit);
    if (r.get("order") != nullptr) {
      const int o = name_index(kOrderNames, order_name);
      if (o < 0) {
        return KindError{"order",
                         "unknown order \"" + order_name + "\" (expected " + name_list(kOrderNames) + ")"};
      }
      if (m.type == DataType::Bit) return KindError{"order", "a bit has no byte or word order"};
      m.order = static_cast<WordOrder>(o);
    }
    if (kind == PointKind::Analog) {
      if (scale == 0) return KindError{"scale", "scale must not be 0"};
      if (!decimal_form(scale, offset, &m)) {
        return KindError{"scale",
                         "scale and offset must be decimals that fit with at most 9 places and "
                         "9 digits"};
      }
    }
  }
  const int width = m.width();
  if (static_cast<int64_t>(m.address) + width - 1 > 65535) {
    return KindError{"address", "address " + std::to_string(m.address) + " with " +
                                    std::to_string(width) + " registers reaches past 65535"};
  }
  pack(m, params, count);
  return std::nullopt;
}

}  // namespace

std::string DeviceSettings::host_text() const {
  return std::to_string(host >> 24) + "." + std::to_string(host >> 16 & 255) + "." +
         std::to_string(host >> 8 & 255) + "." + std::to_string(host & 255);
}

DeviceSettings device_settings(const int32_t* p) {
  DeviceSettings s;
  s.host = static_cast<uint32_t>(p[kParamHost]);
  s.port = p[kParamPort];
  s.unit = p[kParamUnit];
  s.period_ms = p[kParamPeriodMs] > 0 ? p[kParamPeriodMs] : 100;
  s.timeout_ms = p[kParamTimeoutMs] > 0 ? p[kParamTimeoutMs] : 500;
  s.alarm = p[kParamAlarm];
  return s;
}

int Mapping::width() const {
  if (bit_table()) return 1;
  if (type == DataType::String) return (length + 1) / 2;
  return type_words(type);
}

void pack(const Mapping& m, int32_t* params, std::size_t count) {
  uint32_t w = m.address | uint32_t(m.table) << 16 | uint32_t(m.type) << 18 |
               uint32_t(m.order) << 21;
  if (m.type == DataType::String) {
    w |= uint32_t(m.length & 0xff) << 23;
  } else {
    w |= uint32_t(m.bit & 15) << 23 | uint32_t(m.exponent & 15) << 27;
  }
  params[0] = static_cast<int32_t>(w);
  if (count >= 3) {
    params[1] = m.scale;
    params[2] = m.offset;
  }
}

Mapping unpack(const int32_t* params, std::size_t count) {
  const uint32_t w = static_cast<uint32_t>(params[0]);
  Mapping m;
  m.address = static_cast<uint16_t>(w & 0xffff);
  m.table = static_cast<Table>(w >> 16 & 3);
  m.type = static_cast<DataType>(w >> 18 & 7);
  m.order = static_cast<WordOrder>(w >> 21 & 3);
  if (m.type == DataType::String) {
    m.length = static_cast<uint16_t>(w >> 23 & 0xff);
  } else {
    m.bit = static_cast<uint8_t>(w >> 23 & 15);
    m.exponent = static_cast<uint8_t>(w >> 27 & 15);
  }
  if (count >= 3 && params[1] != 0) {
    m.scale = params[1];
    m.offset = params[2];
  }
  return m;
}

double decode_raw(const Mapping& m, const uint16_t* regs) {
  if (m.bit_table()) return regs[0] ? 1 : 0;
  const uint64_t v = gather(m, regs);
  switch (m.type) {
    case DataType::Bit:
      return (regs[0] >> m.bit) & 1;
    case DataType::Int16:
      return static_cast<int16_t>(static_cast<uint16_t>(v));
    case DataType::Uint16:
      return static_cast<uint16_t>(v);
    case DataType::Int32:
      return static_cast<int32_t>(static_cast<uint32_t>(v));
    case DataType::Uint32:
      return static_cast<uint32_t>(v);
    case DataType::Float32: {
      const uint32_t bits = static_cast<uint32_t>(v);
      float f;
      std::memcpy(&f, &bits, 4);
      return f;
    }
    case DataType::Float64: {
      double d;
      std::memcpy(&d, &v, 8);
      return d;
    }
    default:
      return 0;
  }
}

void encode_raw(const Mapping& m, double raw, uint16_t* regs) {
  if (m.bit_table()) {
    regs[0] = raw != 0 ? 1 : 0;
    return;
  }
  uint64_t v = 0;
  switch (m.type) {
    case DataType::Bit:
      regs[0] = static_cast<uint16_t>(raw != 0 ? (1u << m.bit) : 0);  // the mask write's value
      return;
    case DataType::Int16:
      v = static_cast<uint16_t>(static_cast<int16_t>(raw));
      break;
    case DataType::Uint16:
      v = static_cast<uint16_t>(raw);
      break;
    case DataType::Int32:
      v = static_cast<uint32_t>(static_cast<int32_t>(raw));
      break;
    case DataType::Uint32:
      v = static_cast<uint32_t>(raw);
      break;
    case DataType::Float32: {
      const float f = static_cast<float>(raw);
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      v = bits;
      break;
    }
    case DataType::Float64:
      std::memcpy(&v, &raw, 8);
      break;
    default:
      return;
  }
  scatter(m, v, regs);
}

std::string decode_text(const Mapping& m, const uint16_t* regs) {
  std::string out;
  const bool swapped = m.order == WordOrder::BADC;
  for (int i = 0; i < m.length; ++i) {
    const uint16_t r = regs[i / 2];
    const bool high = (i % 2 == 0) != swapped;
    const char c = static_cast<char>(high ? r >> 8 : r & 0xff);
    if (c == '\0') break;
    out.push_back(c);
  }
  return out;
}

void encode_text(const Mapping& m, std::string_view text, uint16_t* regs) {
  const bool swapped = m.order == WordOrder::BADC;
  const int words = m.width();
  for (int i = 0; i < words; ++i) regs[i] = 0;
  for (std::size_t i = 0; i < text.size() && i < m.length; ++i) {
    const uint16_t c = static_cast<unsigned char>(text[i]);
    const bool high = (i % 2 == 0) != swapped;
    regs[i / 2] |= high ? static_cast<uint16_t>(c << 8) : c;
  }
}

double scaled(const Mapping& m, double raw) {
  if (m.scale == 1 && m.offset == 0 && m.exponent == 0) return raw;
  return (raw * m.scale + m.offset) / power10(m.exponent);
}

bool unscaled(const Mapping& m, double value, double* raw) {
  double r = (value * power10(m.exponent) - m.offset) / m.scale;
  if (!std::isfinite(r)) return false;
  auto whole = [&](double lo, double hi) {
    r = std::round(r);
    return r >= lo && r <= hi;
  };
  bool ok = true;
  switch (m.type) {
    case DataType::Bit:
      ok = r == 0 || r == 1;
      break;
    case DataType::Int16:
      ok = whole(-32768, 32767);
      break;
    case DataType::Uint16:
      ok = whole(0, 65535);
      break;
    case DataType::Int32:
      ok = whole(-2147483648.0, 2147483647.0);
      break;
    case DataType::Uint32:
      ok = whole(0, 4294967295.0);
      break;
    case DataType::Float32:
      ok = std::fabs(r) <= std::numeric_limits<float>::max();
      break;
    default:
      break;
  }
  if (ok) *raw = r;
  return ok;
}

config::DriverKind configuration_kind() {
  config::DriverKind k;
  k.type = kModbusTcpType;
  k.name = "Modbus TCP";
  k.driver_keys = {"host", "port", "unit", "period_ms", "timeout_ms", "alarm"};
  k.driver_params = driver_params;
  k.point_params = point_params;
  return k;
}

}  // namespace vexlor::drivers::modbus
