// Raw writes handed to driver programs over their endpoints.
#include "db/driver_link.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "os/local_endpoint.h"

namespace vexlor::detail {

namespace {

void put_i32(std::string& out, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xff));
}

int32_t get_i32(const char* p) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= uint32_t(static_cast<unsigned char>(p[i])) << (8 * i);
  return static_cast<int32_t>(u);
}

// One connection per driver for the process; a request holds its driver's lock so that
// answers are never taken by another thread's request.
struct Connection {
  std::mutex lock;
  os::LocalStream stream;
};

std::mutex g_connections_lock;
std::map<int32_t, std::unique_ptr<Connection>> g_connections;

Connection& connection(int32_t driver) {
  std::lock_guard<std::mutex> guard(g_connections_lock);
  auto& c = g_connections[driver];
  if (!c) c = std::make_unique<Connection>();
  return *c;
}

// One request and its answer; reconnects once when the kept connection was closed by a
// program that ended since (the send to a closed connection fails at once, so nothing is
// asked of the connection before it).
bool exchange(int32_t driver, const std::string& request, std::string* reply, int timeout_ms) {
  Connection& c = connection(driver);
  std::lock_guard<std::mutex> guard(c.lock);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!c.stream.valid()) {
      std::string error;
      if (!c.stream.connect(driver_endpoint(driver), &error)) return false;
      c.stream.set_timeout_ms(timeout_ms);
    }
    if (c.stream.write_frame(request) != os::IoResult::kOk) {
      c.stream.close();
      continue;
    }
    const os::IoResult r = c.stream.read_frame(*reply);
    if (r == os::IoResult::kOk) return true;
    // A late answer must not be read as the answer to the next request.
    c.stream.close();
    if (r == os::IoResult::kTimeout) return false;
  }
  return false;
}

}  // namespace

std::string driver_endpoint(int32_t index) { return "driver." + std::to_string(index); }

std::string encode_driver_write(const DriverWrite& w) {
  std::string out;
  out.push_back('W');
  out.push_back(w.kind);
  put_i32(out, w.point);
  if (w.kind == 'D') {
    put_i32(out, w.int_value);
  } else if (w.kind == 'A') {
    char bytes[8];
    std::memcpy(bytes, &w.real_value, 8);
    out.append(bytes, 8);
  } else {
    out += w.text;
  }
  return out;
}

bool decode_driver_write(std::string_view frame, DriverWrite* w) {
  if (frame.size() < 6 || frame[0] != 'W') return false;
  w->kind = frame[1];
  w->point = get_i32(frame.data() + 2);
  const std::string_view rest = frame.substr(6);
  switch (w->kind) {
    case 'D':
      if (rest.size() != 4) return false;
      w->int_value = get_i32(rest.data());
      return true;
    case 'A':
      if (rest.size() != 8) return false;
      std::memcpy(&w->real_value, rest.data(), 8);
      return true;
    case 'S':
      if (rest.size() > 1023 || rest.find('\0') != std::string_view::npos) return false;
      w->text.assign(rest);
      return true;
    default:
      return false;
  }
}

bool driver_write(int32_t driver, const DriverWrite& w) {
  std::string reply;
  if (!exchange(driver, encode_driver_write(w), &reply, kServedWriteTimeoutMs)) return false;
  return reply.size() == 1 && reply[0] == 1;
}

bool driver_status(int32_t driver, std::string* text, int timeout_ms) {
  return exchange(driver, "Q", text, timeout_ms);
}

}  // namespace vexlor::detail
