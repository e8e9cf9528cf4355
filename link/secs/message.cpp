// HSMS messages: names, SML text and the frame layout.
#include "message.h"

namespace vexlor::secs {

namespace {

const char* stype_name(uint8_t stype) {
  switch (static_cast<SType>(stype)) {
    case SType::kData:
      return "Data";
    case SType::kSelectReq:
      return "Select.req";
    case SType::kSelectRsp:
      return "Select.rsp";
    case SType::kDeselectReq:
      return "Deselect.req";
    case SType::kDeselectRsp:
      return "Deselect.rsp";
    case SType::kLinktestReq:
      return "Linktest.req";
    case SType::kLinktestRsp:
      return "Linktest.rsp";
    case SType::kRejectReq:
      return "Reject.req";
    case SType::kSeparateReq:
      return "Separate.req";
  }
  return nullptr;
}

void put_be(uint64_t v, int n, std::string* out) {
  for (int i = n; i-- > 0;) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::string Message::name() const {
  if (header.ptype != 0) {
    return "PType " + std::to_string(header.ptype) + " SType " + std::to_string(header.stype);
  }
  if (header.stype == 0) {
    std::string text =
        "S" + std::to_string(header.stream()) + "F" + std::to_string(header.function());
    if (header.wbit()) text += " W";
    return text;
  }
  const char* known = stype_name(header.stype);
  return known ? known : "SType " + std::to_string(header.stype);
}

std::string Message::to_sml() const {
  std::string text = name();
  if (header.is_data()) {
    if (has_body) text += "\n" + secs::to_sml(body);
    text += "\n.";
  } else if (header.stype == static_cast<uint8_t>(SType::kSelectRsp) ||
             header.stype == static_cast<uint8_t>(SType::kDeselectRsp)) {
    text += " status " + std::to_string(header.byte3);
  } else if (header.stype == static_cast<uint8_t>(SType::kRejectReq)) {
    text += " reason " + std::to_string(header.byte3);
  }
  return text;
}

Message data_message(uint16_t device_id, int stream, int function, bool wbit, Item body,
                     bool has_body) {
  Message m;
  m.header.session_id = device_id;
  m.header.byte2 = static_cast<uint8_t>((wbit ? 0x80 : 0) | (stream & 0x7F));
  m.header.byte3 = static_cast<uint8_t>(function);
  m.has_body = has_body;
  if (has_body) m.body = std::move(body);
  return m;
}

Message control_message(SType stype, uint32_t system, uint16_t session_id, uint8_t byte2,
                        uint8_t byte3) {
  Message m;
  m.header.session_id = session_id;
  m.header.byte2 = byte2;
  m.header.byte3 = byte3;
  m.header.stype = static_cast<uint8_t>(stype);
  m.header.system = system;
  return m;
}

std::string header_bytes(const Header& h) {
  std::string out;
  out.reserve(10);
  put_be(h.session_id, 2, &out);
  out.push_back(static_cast<char>(h.byte2));
  out.push_back(static_cast<char>(h.byte3));
  out.push_back(static_cast<char>(h.ptype));
  out.push_back(static_cast<char>(h.stype));
  put_be(h.system, 4, &out);
  return out;
}

bool encode_frame(const Message& message, std::string* out) {
  const std::size_t start = out->size();
  out->append(4, '\0');
  out->append(header_bytes(message.header));
  if (message.has_body && !encode(message.body, out)) {
    out->resize(start);
    return false;
  }
  const uint64_t length = out->size() - start - 4;
  if (length > 0xFFFFFFFFu) {
    out->resize(start);
    return false;
  }
  for (int i = 0; i < 4; ++i) {
    (*out)[start + static_cast<std::size_t>(i)] =
        static_cast<char>((length >> (24 - 8 * i)) & 0xFF);
  }
  return true;
}

bool split_frame(std::string_view after_length, Header* header, std::string_view* body_bytes) {
  if (after_length.size() < 10) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(after_length.data());
  header->session_id = static_cast<uint16_t>((p[0] << 8) | p[1]);
  header->byte2 = p[2];
  header->byte3 = p[3];
  header->ptype = p[4];
  header->stype = p[5];
  header->system = (uint32_t{p[6]} << 24) | (uint32_t{p[7]} << 16) | (uint32_t{p[8]} << 8) | p[9];
  if (body_bytes) *body_bytes = after_length.substr(10);
  return true;
}

}  // namespace vexlor::secs
