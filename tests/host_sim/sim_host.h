// A factory host for tests: the active side of an HSMS-SS link to an equipment on 127.0.0.1.
//
// It connects, selects, sends primaries and waits for their replies (matched by system bytes,
// with a timeout), answers the equipment's primaries by itself (S6F11, S5F1, S10F1, S6F1,
// S1F13, linktest ...), and records every message it receives in arrival order so that tests
// can wait for "the third S6F11" and check what it held. It also misbehaves on request for
// fault tests: raw bytes, a wrong device ID, a reader that stops reading (half-open), a
// connection dropped with FIN or RST in the middle of a transaction.
//
// One thread reads the socket; every public function may be called from any other thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "host_sim/sim_hsms.h"
#include "host_sim/sim_item.h"

namespace vexlor::hostsim {

using Duration = std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// One message the host received.
struct Received {
  std::uint64_t order = 0;  // 1, 2, 3 ... over the host's life, across reconnects
  Clock::time_point at;
  Message message;
};

class Host {
 public:
  // Decides the answer to a primary: return true to reply with `*body` (left empty: a reply
  // of header only), false to send no reply at all.
  using Responder = std::function<bool(const Message& primary, std::optional<Item>* body)>;

  explicit Host(std::uint16_t device_id = 0);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  std::uint16_t device_id() const { return device_id_; }

  // --- the connection ---------------------------------------------------------------------
  // Connects to ip:port (an earlier connection is closed first). False with a reason on error.
  bool connect(std::uint16_t port, std::string* error = nullptr,
               const std::string& ip = "127.0.0.1");
  // Whether the TCP connection is up (neither side closed it).
  bool connected() const;
  // Whether the link is selected (a Select.rsp 0 arrived or the equipment selected us, and no
  // Deselect/Separate/close since).
  bool selected() const;
  // Waits until the equipment closes the connection (or it breaks); true if it did.
  bool wait_closed(Duration timeout);
  // Why the connection ended: "closed by peer", "reset by peer", "Separate.req received",
  // "bad frame: ..." (empty while connected or when this side closed it).
  std::string close_reason() const;
  // Closes this side with a FIN (no Separate.req).
  void close();
  // Closes this side abortively: an RST, as a host whose process was killed.
  void reset();

  // --- control transactions ----------------------------------------------------------------
  // Select.req; the Select.rsp status (0 ok), -1 without an answer in time (or link closed),
  // -2 when the equipment answered with Reject.req.
  int select(Duration timeout = Duration(5000));
  // Linktest.req; true when the Linktest.rsp came in time.
  bool linktest(Duration timeout = Duration(5000));
  // Deselect.req; the Deselect.rsp status, -1 or -2 as select().
  int deselect(Duration timeout = Duration(5000));
  // Separate.req, then closes the connection.
  void separate();

  // --- data messages -----------------------------------------------------------------------
  // Sends a primary (function should be odd) and returns its system bytes; 0 when the link is
  // down or the write failed. With `wbit` a reply is expected: collect it with wait_reply().
  std::uint32_t send(std::uint8_t stream, std::uint8_t function, bool wbit,
                     const std::optional<Item>& body);
  // The same with another session (device) ID, for the equipment's S9F1.
  std::uint32_t send_as(std::uint16_t device_id, std::uint8_t stream, std::uint8_t function,
                        bool wbit, const std::optional<Item>& body);
  // The reply to a W-bit primary sent by send(); empty when none came in time or the link
  // closed. A Reject.req with the same system bytes counts as the answer.
  std::optional<Message> wait_reply(std::uint32_t system, Duration timeout = Duration(5000));
  // send() with the W-bit and wait_reply().
  std::optional<Message> request(std::uint8_t stream, std::uint8_t function,
                                 const std::optional<Item>& body,
                                 Duration timeout = Duration(5000));
  // Replies to a primary of the equipment (function + 1, its system bytes).
  bool reply(const Message& primary, const std::optional<Item>& body);

  // --- automatic answers -------------------------------------------------------------------
  // Out of the box: S1F1 → S1F2 <L>, S1F13 → S1F14 <L <B 0> <L>>, S5F1 → S5F2 <B 0>,
  // S6F1 → S6F2 <B 0>, S6F11 → S6F12 <B 0>, S10F1 → S10F2 <B 0>, any other W-bit primary →
  // SxF0 (abort transaction); Linktest.req → Linktest.rsp, Select.req → Select.rsp,
  // Deselect.req → Deselect.rsp. A responder replaces the answer to one stream and function.
  void set_responder(std::uint8_t stream, std::uint8_t function, Responder responder);
  // Back to the answer out of the box for that stream and function.
  void clear_responder(std::uint8_t stream, std::uint8_t function);
  // A responder that never answers (the equipment's T3 then runs out).
  static Responder silent();
  // Whether Linktest.req is answered (default true).
  void set_answer_linktest(bool answer);

  // --- what arrived --------------------------------------------------------------------------
  // Every message received, from the given index of the log (0: all).
  std::vector<Received> received(std::size_t from = 0) const;
  std::size_t received_count() const;
  // Moves every logged message out and empties the log (a long run keeps its memory bounded);
  // the arrival order keeps counting, while wait_message() and count() then see only what
  // arrives afterwards.
  std::vector<Received> take_received();
  // Waits until the log holds more than `count` messages; false on timeout.
  bool wait_received_count(std::size_t count, Duration timeout);
  // Waits for the nth (1-based, counted over the log) data message of that stream and
  // function; empty on timeout.
  std::optional<Received> wait_message(std::uint8_t stream, std::uint8_t function,
                                       std::size_t nth = 1, Duration timeout = Duration(5000));
  // Waits for the nth message matching a predicate.
  std::optional<Received> wait_for(const std::function<bool(const Received&)>& match,
                                   std::size_t nth, Duration timeout);
  // Data messages of that stream and function received so far.
  std::size_t count(std::uint8_t stream, std::uint8_t function) const;
  // Replies that arrived with no transaction waiting for them (late or unknown system bytes).
  std::size_t unmatched_replies() const;

  // --- raw access for fault tests ----------------------------------------------------------
  // Writes bytes as they are. False when the link is down or the write failed.
  bool send_raw(std::string_view bytes);
  // Writes one frame with this header and body bytes.
  bool send_frame(const Header& header, std::string_view body = {});
  // The next system bytes this host would use (and reserves them).
  std::uint32_t next_system();
  // Stops reading the socket: the equipment's messages pile up in the kernel buffers and
  // nothing is answered, as a host that hangs with the connection open. Returns once the
  // reading thread has stopped.
  void stop_reading();
  void resume_reading();

 private:
  void reader_loop(int fd);
  void handle(Message message);
  bool write_all(std::string_view bytes);
  void mark_closed(const std::string& reason);
  void stop_reader();
  std::uint32_t send_with(std::uint16_t device_id, std::uint8_t stream, std::uint8_t function,
                          bool wbit, const std::optional<Item>& body);
  int control_transaction(SType stype, Duration timeout);

  const std::uint16_t device_id_;

  std::mutex write_mutex_;  // one frame at a time on the socket
  int fd_ = -1;             // written only by connect/close/reset (never by the reader)
  std::thread reader_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool connected_ = false;
  bool selected_ = false;
  bool stop_ = false;
  bool paused_ = false;
  bool reader_idle_ = false;  // the reader saw paused_ and reads no more
  bool answer_linktest_ = true;
  std::string close_reason_;
  std::uint32_t system_ = 0;
  std::vector<Received> log_;
  std::uint64_t order_ = 0;
  std::size_t unmatched_ = 0;
  // Open transactions: system bytes → the answer once it arrived.
  std::map<std::uint32_t, std::optional<Message>> pending_;
  std::map<std::pair<std::uint8_t, std::uint8_t>, Responder> responders_;
};

}  // namespace vexlor::hostsim
