// HSMS messages (SEMI E37): a 4-byte length, a 10-byte header, then for a data message the
// SECS-II item of its body (possibly none). The header: session ID (2 bytes; the device ID for
// data messages), header byte 2 (W-bit and stream for data, status for control responses),
// header byte 3 (function for data, reason for reject), PType (0), SType, system bytes (4).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "item.h"

namespace vexlor::secs {

enum class SType : uint8_t {
  kData = 0,
  kSelectReq = 1,
  kSelectRsp = 2,
  kDeselectReq = 3,
  kDeselectRsp = 4,
  kLinktestReq = 5,
  kLinktestRsp = 6,
  kRejectReq = 7,
  kSeparateReq = 9,
};

struct Header {
  uint16_t session_id = 0;
  uint8_t byte2 = 0;  // data: W-bit (0x80) | stream
  uint8_t byte3 = 0;  // data: function
  uint8_t ptype = 0;
  uint8_t stype = 0;
  uint32_t system = 0;

  int stream() const { return byte2 & 0x7F; }
  int function() const { return byte3; }
  bool wbit() const { return (byte2 & 0x80) != 0; }
  bool is_data() const { return ptype == 0 && stype == 0; }
  // A data message whose function is odd is a primary message; even is a reply.
  bool is_primary() const { return (byte3 & 1) != 0; }
};

struct Message {
  Header header;
  bool has_body = false;
  Item body;

  // "S1F13 W" / "S1F14"; for control messages the SType name ("Select.req", ...).
  std::string name() const;
  // SML-like text: name, then the body's SML.
  std::string to_sml() const;
};

// A data message with its W-bit.
Message data_message(uint16_t device_id, int stream, int function, bool wbit, Item body,
                     bool has_body = true);
Message control_message(SType stype, uint32_t system, uint16_t session_id = 0xFFFF,
                        uint8_t byte2 = 0, uint8_t byte3 = 0);

// The whole frame: length, header, encoded body. False when the body cannot be encoded.
bool encode_frame(const Message& message, std::string* out);

// The 10 header bytes as they are in a frame (for S9Fx's MHEAD).
std::string header_bytes(const Header& header);

// Reads a frame's header from the bytes after the length. body_bytes gets the rest (undecoded).
// False when fewer than 10 bytes are given.
bool split_frame(std::string_view after_length, Header* header, std::string_view* body_bytes);

}  // namespace vexlor::secs
