// The message-queue frame codec on arbitrary payloads: decoding never crashes, and whatever
// decodes encodes back to a payload that decodes to the same request.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fifo/fifo_server.h"

namespace f = vexlor::fifo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string payload(reinterpret_cast<const char*>(data), size);
  f::Request request;
  uint32_t sequence = 0;
  if (f::decode_request(payload, request, &sequence)) {
    (void)f::describe(request);
    std::string again;
    f::encode_request(request, again);
    f::Request back;
    if (!f::decode_request(again, back, nullptr)) __builtin_trap();
    if (back.type != request.type || back.sender != request.sender ||
        back.function != request.function || back.param != request.param ||
        back.argument != request.argument || back.kind != request.kind ||
        back.command != request.command || back.text != request.text ||
        back.index != request.index || back.pool_count != request.pool_count ||
        back.capacity != request.capacity || back.sequence != request.sequence) {
      __builtin_trap();
    }
  }
  f::Reply reply;
  uint32_t reply_sequence = 0;
  if (f::decode_reply(payload, reply_sequence, reply)) {
    std::string again;
    f::encode_reply(reply_sequence, reply, again);
    f::Reply back;
    uint32_t back_sequence = 0;
    if (!f::decode_reply(again, back_sequence, back) || back_sequence != reply_sequence ||
        back.accepted != reply.accepted || back.answer != reply.answer) {
      __builtin_trap();
    }
  }
  return 0;
}
