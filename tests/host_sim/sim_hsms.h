// The host simulator's HSMS framing (SEMI E37): the four-byte message length, the ten-byte
// message header and the data and control message kinds of a single session (HSMS-SS).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host_sim/sim_item.h"

namespace vexlor::hostsim {

// Session type (header byte 5).
enum class SType : std::uint8_t {
  Data = 0,
  SelectReq = 1,
  SelectRsp = 2,
  DeselectReq = 3,
  DeselectRsp = 4,
  LinktestReq = 5,
  LinktestRsp = 6,
  RejectReq = 7,
  SeparateReq = 9,
};

// "Select.req", "Linktest.rsp", "data" ...; "SType n" for an unknown value.
std::string stype_name(std::uint8_t stype);

// The session ID of control messages in a single-session link.
constexpr std::uint16_t kControlSession = 0xFFFF;
// Message lengths this simulator accepts from the equipment (header and body).
constexpr std::uint32_t kMaxMessageLength = 16u * 1024u * 1024u;

struct Header {
  std::uint16_t session = 0;  // device ID of a data message; 0xFFFF for control messages
  std::uint8_t byte2 = 0;     // data: W-bit (0x80) and stream; Reject.req: rejected SType
  std::uint8_t byte3 = 0;     // data: function; Select.rsp: status; Reject.req: reason
  std::uint8_t ptype = 0;     // 0: SECS-II
  std::uint8_t stype = 0;
  std::uint32_t system = 0;  // system bytes

  bool is_data() const { return stype == 0; }
  std::uint8_t stream() const { return byte2 & 0x7F; }
  std::uint8_t function() const { return byte3; }
  bool wbit() const { return (byte2 & 0x80) != 0; }
};

// One HSMS message: its header, its body bytes as received, and the body decoded as a SECS-II
// item when it is a data message with a body that decodes (`item` empty otherwise; a body that
// does not decode leaves its reason in `decode_error`).
struct Message {
  Header header;
  std::string body;
  std::optional<Item> item;
  std::string decode_error;

  std::uint8_t stream() const { return header.stream(); }
  std::uint8_t function() const { return header.function(); }
  bool is_data() const { return header.is_data(); }
  // "S6F11 W", "S6F12", "Select.req" ...
  std::string name() const;
  // The name and, for a data message, its body in SML-like text.
  std::string to_text() const;
};

// A data message header.
Header data_header(std::uint16_t device_id, std::uint8_t stream, std::uint8_t function, bool wbit,
                   std::uint32_t system);
// A control message header (session 0xFFFF unless given).
Header control_header(SType stype, std::uint32_t system, std::uint8_t byte2 = 0,
                      std::uint8_t byte3 = 0, std::uint16_t session = kControlSession);

// The whole frame: the length (header plus body, big-endian), the header, the body.
std::string encode_frame(const Header& header, std::string_view body = {});
// The ten header bytes.
std::string encode_header(const Header& header);
Header decode_header(const unsigned char* ten_bytes);

// Parses one frame at the start of `bytes`. Returns the bytes it used (0: more bytes are needed,
// `error` empty), or 0 with `error` set when the length field is below 10 or above
// kMaxMessageLength. A data message's body is decoded into `message->item` when it is not empty.
std::size_t decode_frame(std::string_view bytes, Message* message, std::string* error);

// Fills `message->item` (or `decode_error`) from `message->body`.
void decode_body(Message* message);

}  // namespace vexlor::hostsim
