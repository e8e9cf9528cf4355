// Modbus TCP points and devices as the database stores them: a point's mapping (table,
// address, data type, byte and word order, bit, scale and offset, string length) packed into
// its driver parameters, the device settings packed into the driver's ten parameters, and the
// conversions between register contents and point values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/driver_kinds.h"

namespace vexlor::drivers::modbus {

// The DRIVER_TYPE of a Modbus TCP driver.
inline constexpr int32_t kModbusTcpType = 100;

// Parameters of a Modbus TCP driver.
enum DriverParam {
  kParamHost = 0,      // IPv4 address, a.b.c.d as (a << 24 | b << 16 | c << 8 | d)
  kParamPort = 1,
  kParamUnit = 2,
  kParamPeriodMs = 3,
  kParamTimeoutMs = 4,
  kParamAlarm = 5,     // alarm ID raised when the device goes offline; 0: the system alarm pool
  kParamOffline = 9,   // 0 online, 1 offline (written by the driver program)
};

struct DeviceSettings {
  uint32_t host = 0;
  int port = 502;
  int unit = 1;
  int period_ms = 100;
  int timeout_ms = 500;
  int alarm = 0;
  std::string host_text() const;
};
DeviceSettings device_settings(const int32_t* params);

enum class Table : uint8_t { Coil = 0, DiscreteInput = 1, HoldingRegister = 2, InputRegister = 3 };
enum class DataType : uint8_t { Bit, Int16, Uint16, Int32, Uint32, Float32, Float64, String };
// A, B, C, D: the bytes of a 32-bit value from the most significant; a 64-bit value extends
// the pattern (word order reversed for CDAB and DCBA, bytes swapped in each register for BADC
// and DCBA).
enum class WordOrder : uint8_t { ABCD = 0, BADC = 1, CDAB = 2, DCBA = 3 };

inline constexpr int kMaxReadRegisters = 125;
inline constexpr int kMaxReadBits = 2000;
inline constexpr int kMaxStringChars = 2 * kMaxReadRegisters;
inline constexpr int kMaxExponent = 9;

struct Mapping {
  Table table = Table::Coil;
  uint16_t address = 0;
  DataType type = DataType::Bit;
  WordOrder order = WordOrder::ABCD;
  uint8_t bit = 0;        // bit of a register (type Bit on a register table)
  uint8_t exponent = 0;   // value = (raw * scale + offset) / 10^exponent
  int32_t scale = 1;
  int32_t offset = 0;
  uint16_t length = 0;    // characters of a string

  bool bit_table() const { return table == Table::Coil || table == Table::DiscreteInput; }
  // Bits (bit tables) or registers the point occupies.
  int width() const;
};

// The packed form: word 0 holds table, address, type, order, bit, exponent (or a string's
// length); an analog point's words 1 and 2 hold scale and offset.
void pack(const Mapping& m, int32_t* params, std::size_t count);
Mapping unpack(const int32_t* params, std::size_t count);

// Register contents to a value before scaling (Bit: 0 or 1), and back; `regs` holds width().
double decode_raw(const Mapping& m, const uint16_t* regs);
void encode_raw(const Mapping& m, double raw, uint16_t* regs);
std::string decode_text(const Mapping& m, const uint16_t* regs);
void encode_text(const Mapping& m, std::string_view text, uint16_t* regs);

double scaled(const Mapping& m, double raw);
// The raw value that gives `value`; false when the data type cannot hold it.
bool unscaled(const Mapping& m, double value, double* raw);

// The configuration kind: readable keys of drivers and points.
config::DriverKind configuration_kind();

}  // namespace vexlor::drivers::modbus
