// SECS-II items and HSMS frames on arbitrary bytes: the input is read as a stream of frames (as
// the session splits what it receives) and also as one item. Nothing crashes, and whatever
// decodes encodes to bytes that decode again to the same encoding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "secs/message.h"

namespace s = vexlor::secs;

namespace {

void check_item(std::string_view bytes) {
  s::Item item;
  std::string error;
  if (!s::decode(bytes, &item, &error)) {
    if (error.empty()) __builtin_trap();
    return;
  }
  (void)s::to_sml(item);
  std::string once;
  if (!s::encode(item, &once)) __builtin_trap();
  s::Item back;
  if (!s::decode(once, &back, &error)) __builtin_trap();
  std::string twice;
  if (!s::encode(back, &twice) || twice != once) __builtin_trap();
  // A length written with more bytes than needed is the only way the input may differ.
  if (once.size() > bytes.size()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  check_item(all);

  std::string_view rest = all;
  while (rest.size() >= 4) {
    const auto* p = reinterpret_cast<const unsigned char*>(rest.data());
    const uint32_t length =
        (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    if (length < 10 || length > rest.size() - 4) break;
    s::Message m;
    std::string_view body;
    if (!s::split_frame(rest.substr(4, length), &m.header, &body)) __builtin_trap();
    if (s::header_bytes(m.header) != rest.substr(4, 10)) __builtin_trap();
    if (!body.empty()) {
      std::string error;
      m.has_body = s::decode(body, &m.body, &error);
      check_item(body);
    }
    (void)m.name();
    (void)m.to_sml();
    std::string frame;
    if (!s::encode_frame(m, &frame)) __builtin_trap();
    if (!m.has_body &&
        frame != std::string(rest.substr(0, 14)).replace(0, 4, std::string("\0\0\0\x0A", 4))) {
      __builtin_trap();
    }
    rest.remove_prefix(4 + length);
  }
  return 0;
}
