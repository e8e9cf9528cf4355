// The link between the shared-database layer and driver programs. A driver whose type is
// kFirstServedDriverType or above is served by a program of its own (one process per driver,
// started by vexlor-manager) when the equipment does not run in simulation: a raw write through
// it is handed to that program on the driver's endpoint and succeeds only when the program
// answers that the device took it. The layer knows nothing of the device's protocol.
//
// Frames on the endpoint (little-endian):
//   write request:  'W', kind ('D' digital, 'A' analog, 'S' string), int32 point index, value
//                   (int32, float64, or the text's bytes to the end of the frame)
//   status request: 'Q'                  -> reply: the driver's status text (JSON)
//   write reply:    1 byte, 1 taken by the device, 0 refused (the driver logs why)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexlor::detail {

inline constexpr int32_t kFirstServedDriverType = 100;
// The longest a raw write waits for the driver program's answer; the programs answer sooner
// (their own device time-outs are shorter).
inline constexpr int kServedWriteTimeoutMs = 10000;

inline bool served_driver_type(int32_t type) { return type >= kFirstServedDriverType; }

// Endpoint of the program that serves driver `index` in the current instance.
std::string driver_endpoint(int32_t index);

// A write request as the driver program receives it.
struct DriverWrite {
  char kind = 0;  // 'D', 'A', 'S'
  int32_t point = -1;
  int32_t int_value = 0;
  double real_value = 0;
  std::string text;
};

std::string encode_driver_write(const DriverWrite& w);
// False on a frame that is not a well-formed write request.
bool decode_driver_write(std::string_view frame, DriverWrite* w);

// Sends the write to the program serving `driver` and waits for its answer (a connection per
// driver is kept for the process and reopened once when the program was restarted). False
// when nobody serves the driver, on a refusal and on a time-out.
bool driver_write(int32_t driver, const DriverWrite& w);

// Asks the program serving `driver` for its status text; false when nobody answers.
bool driver_status(int32_t driver, std::string* text, int timeout_ms);

}  // namespace vexlor::detail
