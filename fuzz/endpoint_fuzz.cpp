// A served endpoint receiving arbitrary frames over a real connection: the server answers a
// decodable request (but for a one-way one, which it handles without a reply), refuses anything
// else, and keeps serving the next connection.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fifo/fifo_server.h"
#include "os/local_endpoint.h"

namespace f = vexlor::fifo;

namespace {

f::EndpointServer* server() {
  static f::EndpointServer* s = [] {
    static std::string dir = "/tmp/vexlor-endpoint-fuzz-" + std::to_string(getpid());
    setenv("VEXLOR_RUNTIME_DIR", dir.c_str(), 1);
    setenv("VEXLOR_INSTANCE", "fuzz", 1);
    auto* srv = new f::EndpointServer();
    std::string error;
    if (!srv->open("fn.FUZZ", &error) ||
        !srv->serve([](const f::Request&) { return f::Reply{true, "ok"}; })) {
      __builtin_trap();
    }
    return srv;
  }();
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  server();
  vexlor::os::LocalStream stream;
  std::string error;
  if (!stream.connect("fn.FUZZ", &error)) __builtin_trap();  // the server stopped serving
  stream.set_timeout_ms(2000);
  if (stream.write_frame(data, size) != vexlor::os::IoResult::kOk) return 0;
  f::Request request;
  const std::string payload(reinterpret_cast<const char*>(data), size);
  if (f::decode_request(payload, request, nullptr) && request.one_way) return 0;
  std::string reply;
  const vexlor::os::IoResult got = stream.read_frame(reply);
  if (got == vexlor::os::IoResult::kTimeout) __builtin_trap();  // a frame never answered
  return 0;
}
