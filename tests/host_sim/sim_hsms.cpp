#include "host_sim/sim_hsms.h"

namespace vexlor::hostsim {

std::string stype_name(std::uint8_t stype) {
  switch (stype) {
    case 0:
      return "data";
    case 1:
      return "Select.req";
    case 2:
      return "Select.rsp";
    case 3:
      return "Deselect.req";
    case 4:
      return "Deselect.rsp";
    case 5:
      return "Linktest.req";
    case 6:
      return "Linktest.rsp";
    case 7:
      return "Reject.req";
    case 9:
      return "Separate.req";
    default:
      return "SType " + std::to_string(stype);
  }
}

std::string Message::name() const {
  if (!is_data()) return stype_name(header.stype);
  std::string text = "S" + std::to_string(stream()) + "F" + std::to_string(function());
  return header.wbit() ? text + " W" : text;
}

std::string Message::to_text() const {
  std::string text = name();
  if (!is_data()) {
    if (header.stype == static_cast<std::uint8_t>(SType::SelectRsp)) {
      text += " status " + std::to_string(header.byte3);
    } else if (header.stype == static_cast<std::uint8_t>(SType::RejectReq)) {
      text += " of " + std::to_string(header.byte2) + " reason " + std::to_string(header.byte3);
    }
    return text;
  }
  if (item) return text + " " + to_sml(*item);
  if (!decode_error.empty()) return text + " <undecodable: " + decode_error + ">";
  return text;
}

Header data_header(std::uint16_t device_id, std::uint8_t stream, std::uint8_t function, bool wbit,
                   std::uint32_t system) {
  Header h;
  h.session = device_id;
  h.byte2 = static_cast<std::uint8_t>((stream & 0x7F) | (wbit ? 0x80 : 0));
  h.byte3 = function;
  h.system = system;
  return h;
}

Header control_header(SType stype, std::uint32_t system, std::uint8_t byte2, std::uint8_t byte3,
                      std::uint16_t session) {
  Header h;
  h.session = session;
  h.byte2 = byte2;
  h.byte3 = byte3;
  h.stype = static_cast<std::uint8_t>(stype);
  h.system = system;
  return h;
}

std::string encode_header(const Header& h) {
  std::string out;
  out.push_back(static_cast<char>(h.session >> 8));
  out.push_back(static_cast<char>(h.session & 0xFF));
  out.push_back(static_cast<char>(h.byte2));
  out.push_back(static_cast<char>(h.byte3));
  out.push_back(static_cast<char>(h.ptype));
  out.push_back(static_cast<char>(h.stype));
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((h.system >> shift) & 0xFF));
  return out;
}

std::string encode_frame(const Header& header, std::string_view body) {
  const std::uint32_t length = static_cast<std::uint32_t>(10 + body.size());
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((length >> shift) & 0xFF));
  out += encode_header(header);
  out.append(body.data(), body.size());
  return out;
}

Header decode_header(const unsigned char* p) {
  Header h;
  h.session = static_cast<std::uint16_t>((p[0] << 8) | p[1]);
  h.byte2 = p[2];
  h.byte3 = p[3];
  h.ptype = p[4];
  h.stype = p[5];
  h.system =
      (std::uint32_t{p[6]} << 24) | (std::uint32_t{p[7]} << 16) | (std::uint32_t{p[8]} << 8) | p[9];
  return h;
}

void decode_body(Message* message) {
  message->item.reset();
  message->decode_error.clear();
  if (!message->is_data() || message->body.empty()) return;
  Item item;
  if (decode(message->body, &item, &message->decode_error)) message->item = std::move(item);
}

std::size_t decode_frame(std::string_view bytes, Message* message, std::string* error) {
  error->clear();
  if (bytes.size() < 4) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::uint32_t length =
      (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
  if (length < 10 || length > kMaxMessageLength) {
    *error = "message length " + std::to_string(length) + " out of range";
    return 0;
  }
  if (bytes.size() - 4 < length) return 0;
  message->header = decode_header(p + 4);
  message->body.assign(bytes.data() + 14, length - 10);
  decode_body(message);
  return 4 + static_cast<std::size_t>(length);
}

}  // namespace vexlor::hostsim
