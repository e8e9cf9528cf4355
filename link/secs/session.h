// An HSMS-SS session (SEMI E37 single session): one TCP connection, passive (listens and waits
// for the host's Select.req) or active (connects and sends Select.req), with the E37 timers:
//   T3  reply timeout of a data transaction
//   T5  connect separation (active: delay between connect attempts)
//   T6  control transaction timeout (Select, Linktest, Deselect)
//   T7  not-selected timeout (a connection that is not selected in time is closed)
//   T8  network intercharacter timeout (a frame whose bytes stop arriving is dropped)
// and a periodic Linktest. Control messages are answered by the session itself; data messages
// are handed to the owner's handler. A frame that cannot be read (bad length, T8, header)
// closes the connection; the session then listens (passive) or reconnects (active) again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "message.h"

namespace vexlor::secs {

struct SessionSettings {
  bool active = false;           // false: passive (listen on local_ip:local_port)
  std::string local_ip = "127.0.0.1";
  int local_port = 5000;         // passive; 0 picks a free port (see Session::port())
  std::string remote_ip = "127.0.0.1";
  int remote_port = 5000;        // active
  uint16_t device_id = 0;
  int t3_ms = 45000, t5_ms = 10000, t6_ms = 5000, t7_ms = 10000, t8_ms = 5000;
  int linktest_ms = 0;           // 0: no periodic linktest
  std::size_t max_message_bytes = 16u << 20;  // larger frames are refused (S9F11) and dropped
};

enum class SessionState { kNotConnected, kNotSelected, kSelected };
const char* state_name(SessionState state);  // "NOT CONNECTED", "NOT SELECTED", "SELECTED"

enum class Direction { kIn, kOut };

struct SessionCounters {
  uint64_t messages_in = 0, messages_out = 0;  // data messages
  uint64_t bytes_in = 0, bytes_out = 0;
  uint64_t t3_timeouts = 0;
  uint64_t open_transactions = 0;  // sent primaries with W-bit waiting for their reply
  uint64_t connects = 0;           // connections established
  std::string peer;                // "ip:port" of the current connection, "" when none
  int64_t selected_since_ms = 0;   // system clock, ms since the epoch; 0 when not selected
};

// What becomes of a sent primary that expects a reply.
struct ReplyResult {
  enum Kind { kReply, kTimeout, kClosed, kAborted } kind = kClosed;
  Message reply;  // kReply: the secondary; kAborted: the host answered SxF0
};

class Session {
 public:
  // The owner's view. Every callback runs on the thread that reads the connection: the
  // session's own, or a caller of request() reading for its reply. A handler may call
  // reply()/send() from inside, never request(). None may block for long: the connection's
  // reading waits.
  struct Handlers {
    std::function<void(SessionState)> state;
    // A data primary message from the host (also one the host sends without W-bit). The
    // decoded body is checked; a body that does not decode is answered S9F7 by the session and
    // not handed over.
    std::function<void(const Message&)> primary;
    // Every data message in or out, for a trace (optional).
    std::function<void(Direction, const Message&)> trace;
    // A line for the log ("connection from 127.0.0.1:40112 refused: already selected", ...).
    std::function<void(const std::string&)> log;
  };

  Session(SessionSettings settings, Handlers handlers);
  ~Session();  // stop()
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Listens or starts connecting; false with a reason when the listening socket cannot be set
  // up (passive) or the settings are invalid.
  bool start(std::string* error);
  // Sends Separate.req when selected, closes, stops every thread; waiting callers get kClosed.
  void stop();
  // Drops the current connection (Separate.req first when selected) and starts over.
  void reconnect();

  SessionState state() const;
  int port() const;  // the passive port actually listened on
  SessionCounters counters() const;

  // Sends a primary; with W-bit, `done` is called once with the reply, T3 timeout (the session
  // sends S9F9 for it), the connection's end, or an SxF0 abort. Without W-bit `done` may be
  // empty and is called with kReply and an empty message once written. Returns false (done
  // not called) when not selected or the write fails.
  bool send(int stream, int function, bool wbit, const Item& body,
            std::function<void(const ReplyResult&)> done, bool has_body = true);
  // Sends the secondary of a received primary (function + 1, same system bytes).
  bool reply(const Message& primary, const Item& body, bool has_body = true);
  // Sends SxF0 (transaction abort) for a primary.
  bool abort(const Message& primary);
  // Sends S9F<function> with the 10 header bytes of `about` (MHEAD), as E5 prescribes for a
  // message the equipment cannot take: 1 unknown device ID, 3 unknown stream, 5 unknown
  // function, 7 illegal data, 9 T3 timeout, 11 data too long. The session sends 1, 7, 9 and 11
  // itself; the owner sends 3 and 5 for what it does not support.
  bool send_s9(int function, const Header& about);

  // Send with W-bit and wait for the result. While it waits, the calling thread reads the
  // connection itself for a while (the reply then costs no hand-over between threads); the
  // handlers may run on it meanwhile.
  ReplyResult request(int stream, int function, const Item& body, bool has_body = true);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vexlor::secs
