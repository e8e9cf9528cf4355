// A host written with raw sockets for the session tests: frames are built and read byte by
// byte here, never through the codec under test. Every wait is bounded.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vexlor::test {

// "41 02 4F 4B" -> the bytes.
std::string hex(const std::string& text);

struct RawFrame {
  uint16_t session = 0;
  uint8_t byte2 = 0, byte3 = 0, ptype = 0, stype = 0;
  uint32_t system = 0;
  std::string body;
  std::string header;  // the 10 header bytes as received
};

// A whole frame: length, header, body.
std::string raw_frame(uint16_t session, uint8_t byte2, uint8_t byte3, uint8_t ptype, uint8_t stype,
                      uint32_t system, const std::string& body = "");

class RawPeer {
 public:
  RawPeer() = default;
  ~RawPeer();
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  bool connect(int port);
  // Listening side (for an active session): listen() picks a free port unless one is given.
  int listen(int port = 0);
  bool accept(int timeout_ms = 5000);

  bool send(const std::string& bytes);
  // The next frame within timeout_ms; false on timeout or when the connection ends.
  bool read(RawFrame* frame, int timeout_ms = 5000);
  // True when the session closes the connection within timeout_ms (data before that is skipped).
  bool closed_by_session(int timeout_ms = 5000);
  // Select.req with these system bytes, expecting Select.rsp status 0.
  bool select(uint32_t system = 0x77);
  void close();

 private:
  int fd_ = -1;
  int listener_ = -1;
};

// Polls `done` every few milliseconds for up to timeout_ms.
bool eventually(const std::function<bool()>& done, int timeout_ms = 5000);

}  // namespace vexlor::test
