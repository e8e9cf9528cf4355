// The HSMS-SS session: one thread per session accepts or connects, reads frames, answers the
// control messages, keeps the timers and hands data messages over; any thread may write.
#include "session.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tcp.h"

namespace vexlor::secs {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Select.rsp / Deselect.rsp status, Reject.req reasons.
constexpr uint8_t kStatusAlreadyActive = 1;
constexpr uint8_t kStatusNotEstablished = 1;
constexpr uint8_t kRejectSType = 1, kRejectPType = 2, kRejectNotOpen = 3, kRejectNotSelected = 4;

constexpr uint16_t kControlSession = 0xFFFF;
constexpr int kIdleWaitMs = 50;  // the loop looks at stop()/reconnect() at least this often
constexpr int kT3ScanMs = 10;    // open transactions are checked for T3 this often
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kCallerReadsMs = 1;      // the loop's look while a request() caller reads
constexpr int kCallerSliceMs = 10;     // how long a request() caller reads for its reply

std::string hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

int64_t wall_ms() {
  return std::chrono::duration_cast<milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

uint32_t be32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return (uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | u[3];
}

}  // namespace

const char* state_name(SessionState state) {
  switch (state) {
    case SessionState::kNotConnected:
      return "NOT CONNECTED";
    case SessionState::kNotSelected:
      return "NOT SELECTED";
    case SessionState::kSelected:
      return "SELECTED";
  }
  return "?";
}

struct Session::Impl {
  struct Pending {
    Header header;
    std::function<void(const ReplyResult&)> done;
    Clock::time_point deadline;
  };
  struct Control {
    SType answer;  // the response that closes it
    Clock::time_point deadline;
  };

  SessionSettings settings;
  Handlers handlers;
  std::thread thread;
  std::atomic<bool> running{false};
  std::atomic<bool> stopping{false};
  std::atomic<bool> reconnect_requested{false};
  tcp::Socket listener = tcp::kInvalid;
  std::atomic<int> bound_port{0};

  std::mutex write_mutex;  // one frame at a time; a writer's socket stays open while held
  std::atomic<tcp::Socket> conn{tcp::kInvalid};
  std::atomic<SessionState> state{SessionState::kNotConnected};
  std::atomic<uint32_t> next_system{1};

  mutable std::mutex mutex;  // pending and counters
  std::unordered_map<uint32_t, Pending> pending;
  SessionCounters counters;

  // Whoever reads the connection holds `reader`: the loop thread, or a caller of request()
  // waiting for its reply (it reads the socket itself rather than be woken by the loop thread,
  // which then stays off the socket). The members below are under it.
  std::mutex reader;
  std::atomic<int> callers_reading{0};
  std::unordered_map<uint32_t, Control> control;
  std::string in;
  std::size_t in_pos = 0;
  Clock::time_point last_byte, t7_deadline, next_linktest, next_connect, next_t3_scan;
  std::vector<char> chunk = std::vector<char>(kReadChunk);

  Impl(SessionSettings s, Handlers h) : settings(std::move(s)), handlers(std::move(h)) {}

  void log(const std::string& line) {
    if (handlers.log) handlers.log(line);
  }

  int send_timeout_ms() const { return std::max(settings.t8_ms, 1000); }

  void set_state(SessionState next) { state_changed(state.exchange(next), next); }

  void stamp_selected(SessionState next) {
    std::lock_guard<std::mutex> lock(mutex);
    counters.selected_since_ms = next == SessionState::kSelected ? wall_ms() : 0;
  }

  void state_changed(SessionState before, SessionState next, bool stamped = false) {
    if (before == next) return;
    if (!stamped) stamp_selected(next);
    if (handlers.state) handlers.state(next);
  }

  // Writes one frame; false when there is no connection or the write fails (the connection is
  // then shut down, and the loop closes it).
  // `first`, when given, runs under the write lock before the frame leaves: no other writer
  // gets between the two.
  bool write(const Message& m, const std::function<void()>& first = nullptr) {
    std::string frame;
    if (!encode_frame(m, &frame)) {
      log("cannot encode " + m.name() + ": an item is too long");
      return false;
    }
    {
      std::lock_guard<std::mutex> lock(write_mutex);
      if (first) first();
      const tcp::Socket c = conn.load();
      if (c == tcp::kInvalid) return false;
      // Counted before it leaves: whoever sees the frame finds it in the counters.
      count_out(frame.size(), m.header.is_data(), 1);
      if (!tcp::send_all(c, frame.data(), frame.size(), send_timeout_ms())) {
        count_out(frame.size(), m.header.is_data(), -1);
        tcp::shutdown_both(c);
        return false;
      }
    }
    if (m.header.is_data() && handlers.trace) handlers.trace(Direction::kOut, m);
    return true;
  }

  void count_out(std::size_t bytes, bool data, int sign) {
    std::lock_guard<std::mutex> lock(mutex);
    if (sign > 0) {
      counters.bytes_out += bytes;
      if (data) ++counters.messages_out;
    } else {
      counters.bytes_out -= bytes;
      if (data) --counters.messages_out;
    }
  }

  bool write_control(SType stype, uint32_t system, uint16_t session_id, uint8_t byte2 = 0,
                     uint8_t byte3 = 0) {
    return write(control_message(stype, system, session_id, byte2, byte3));
  }

  void reject(const Header& about, uint8_t reason) {
    const uint8_t byte2 = reason == kRejectPType ? about.ptype : about.stype;
    log("Reject.req reason " + std::to_string(reason) + " for " +
        Message{about, false, Item()}.name() + " (system " + hex32(about.system) + ")");
    write_control(SType::kRejectReq, about.system, about.session_id, byte2, reason);
  }

  bool send_s9(int function, const Header& about) {
    const std::string mhead = header_bytes(about);
    Message m = data_message(settings.device_id, 9, function, false,
                             Item::binary(std::vector<uint8_t>(mhead.begin(), mhead.end())));
    m.header.system = next_system++;
    return write(m);
  }

  // --- the connection ------------------------------------------------------------------------

  void connected(tcp::Socket s, const std::string& peer) {
    in.clear();
    in_pos = 0;
    control.clear();
    const auto now = Clock::now();
    last_byte = now;
    t7_deadline = now + milliseconds(settings.t7_ms);
    next_t3_scan = now + milliseconds(kT3ScanMs);
    {
      std::lock_guard<std::mutex> lock(write_mutex);
      conn = s;
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++counters.connects;
      counters.peer = peer;
    }
    log(std::string(settings.active ? "connected to " : "connection from ") + peer);
    set_state(SessionState::kNotSelected);
  }

  void close_connection(const std::string& why, bool separate) {
    const tcp::Socket c = conn.load();
    if (c == tcp::kInvalid) return;
    if (separate && state.load() == SessionState::kSelected) {
      write_control(SType::kSeparateReq, next_system++, kControlSession);
    }
    std::string peer;
    {
      std::lock_guard<std::mutex> lock(mutex);
      peer = counters.peer;
      counters.peer.clear();  // gone by the time the state says so
    }
    // The state leaves SELECTED before anything else is undone: a send() from now on fails.
    set_state(SessionState::kNotConnected);
    log("connection with " + peer + " closed: " + why);
    tcp::shutdown_both(c);
    {
      std::lock_guard<std::mutex> lock(write_mutex);
      conn = tcp::kInvalid;
    }
    tcp::close_socket(c);
    std::unordered_map<uint32_t, Pending> ended;
    {
      std::lock_guard<std::mutex> lock(mutex);
      ended.swap(pending);
      counters.open_transactions = 0;
      counters.peer.clear();
    }
    control.clear();
    in.clear();
    in_pos = 0;
    next_connect = Clock::now() + milliseconds(settings.t5_ms);
    for (auto& [system, p] : ended) {
      (void)system;
      if (p.done) p.done(ReplyResult{ReplyResult::kClosed, Message()});
    }
  }

  // --- reading -------------------------------------------------------------------------------

  // Takes every whole frame out of the buffer. False when the connection was closed.
  bool take_frames() {
    while (conn.load() != tcp::kInvalid) {
      const std::size_t avail = in.size() - in_pos;
      if (avail < 4) break;
      const uint32_t length = be32(in.data() + in_pos);
      if (length < 10) {
        close_connection("bad frame: length " + std::to_string(length), false);
        return false;
      }
      if (length > settings.max_message_bytes) {
        if (avail < 14) break;  // the header names the message in S9F11
        Header h;
        split_frame(std::string_view(in.data() + in_pos + 4, 10), &h, nullptr);
        if (h.is_data() && state.load() == SessionState::kSelected) send_s9(11, h);
        close_connection("message of " + std::to_string(length) + " bytes is over the limit of " +
                             std::to_string(settings.max_message_bytes),
                         false);
        return false;
      }
      if (avail < 4 + std::size_t{length}) break;
      const std::string_view frame(in.data() + in_pos + 4, length);
      in_pos += 4 + std::size_t{length};
      handle_frame(frame);
    }
    if (in_pos == in.size()) {
      in.clear();
      in_pos = 0;
    } else if (in_pos > kReadChunk) {
      in.erase(0, in_pos);
      in_pos = 0;
    }
    return conn.load() != tcp::kInvalid;
  }

  void handle_frame(std::string_view frame) {
    Header h;
    std::string_view body;
    split_frame(frame, &h, &body);
    if (h.ptype != 0) {
      reject(h, kRejectPType);
      return;
    }
    switch (static_cast<SType>(h.stype)) {
      case SType::kData:
        handle_data(h, body);
        return;
      case SType::kSelectReq:
        if (state.load() == SessionState::kSelected) {
          write_control(SType::kSelectRsp, h.system, h.session_id, 0, kStatusAlreadyActive);
        } else {
          // SELECTED and Select.rsp under one write lock: whoever sees Select.rsp finds the
          // state SELECTED, and no data message (not even one the state handler sends) can
          // leave before it.
          SessionState before = SessionState::kSelected;
          write(control_message(SType::kSelectRsp, h.system, h.session_id, 0, 0), [&] {
            before = state.exchange(SessionState::kSelected);
            if (before != SessionState::kSelected) stamp_selected(SessionState::kSelected);
          });
          next_linktest = Clock::now() + milliseconds(settings.linktest_ms);
          state_changed(before, SessionState::kSelected, true);
        }
        return;
      case SType::kDeselectReq:
        if (state.load() == SessionState::kSelected) {
          t7_deadline = Clock::now() + milliseconds(settings.t7_ms);
          set_state(SessionState::kNotSelected);
          log("deselected by the peer");
          write_control(SType::kDeselectRsp, h.system, h.session_id, 0, 0);
        } else {
          write_control(SType::kDeselectRsp, h.system, h.session_id, 0, kStatusNotEstablished);
        }
        return;
      case SType::kLinktestReq:
        write_control(SType::kLinktestRsp, h.system, kControlSession);
        return;
      case SType::kSelectRsp:
      case SType::kDeselectRsp:
      case SType::kLinktestRsp: {
        auto it = control.find(h.system);
        if (it == control.end() || it->second.answer != static_cast<SType>(h.stype)) {
          reject(h, kRejectNotOpen);
          return;
        }
        control.erase(it);
        if (h.stype == static_cast<uint8_t>(SType::kSelectRsp)) {
          if (h.byte3 == 0) {
            selected();
          } else {
            close_connection("Select.rsp status " + std::to_string(h.byte3), false);
          }
        }
        return;
      }
      case SType::kRejectReq: {
        log("Reject.req reason " + std::to_string(h.byte3) + " from the peer (system " +
            hex32(h.system) + ")");
        auto it = control.find(h.system);
        if (it != control.end()) {
          const bool was_select = it->second.answer == SType::kSelectRsp;
          control.erase(it);
          if (was_select) close_connection("Select.req rejected", false);
          return;
        }
        finish(h.system, ReplyResult::kAborted, Message{h, false, Item()});
        return;
      }
      case SType::kSeparateReq:
        close_connection("Separate.req from the peer", false);
        return;
    }
    reject(h, kRejectSType);
  }

  void selected() {
    const auto now = Clock::now();
    next_linktest = now + milliseconds(settings.linktest_ms);
    set_state(SessionState::kSelected);
  }

  void handle_data(const Header& h, std::string_view body) {
    if (state.load() != SessionState::kSelected) {
      reject(h, kRejectNotSelected);
      return;
    }
    Message m;
    m.header = h;
    if (h.session_id != settings.device_id) {
      log(m.name() + " for device " + std::to_string(h.session_id) + ", not " +
          std::to_string(settings.device_id) + ": S9F1 sent");
      send_s9(1, h);
      return;
    }
    if (!body.empty()) {
      std::string error;
      if (!decode(body, &m.body, &error)) {
        log(m.name() + " refused: " + error + "; S9F7 sent");
        send_s9(7, h);
        return;
      }
      m.has_body = true;
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++counters.messages_in;
    }
    if (handlers.trace) handlers.trace(Direction::kIn, m);
    if (h.function() == 0 || !h.is_primary()) {
      const auto kind = h.function() == 0 ? ReplyResult::kAborted : ReplyResult::kReply;
      if (!finish(h.system, kind, m)) {
        log(m.name() + " (system " + hex32(h.system) + ") answers no open transaction: discarded");
      }
      return;
    }
    if (handlers.primary) handlers.primary(m);
  }

  // Ends the open transaction with these system bytes; false when there is none.
  bool finish(uint32_t system, ReplyResult::Kind kind, const Message& m) {
    Pending p;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto it = pending.find(system);
      if (it == pending.end()) return false;
      p = std::move(it->second);
      pending.erase(it);
      counters.open_transactions = pending.size();
    }
    if (p.done) p.done(ReplyResult{kind, m});
    return true;
  }

  // Reads what the connection holds and handles every whole frame (under `reader`). False when
  // the connection ended.
  bool read_some() {
    const long n = tcp::receive(conn.load(), chunk.data(), chunk.size());
    if (n <= 0) {
      close_connection(n == 0 ? "closed by the peer" : "read error", false);
      return false;
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      counters.bytes_in += static_cast<uint64_t>(n);
    }
    last_byte = Clock::now();
    in.append(chunk.data(), static_cast<std::size_t>(n));
    return take_frames();
  }

  // Under `reader`: bytes are waiting now (a caller of request() may have taken them meanwhile).
  bool readable_now() {
    const tcp::Socket c = conn.load();
    if (c == tcp::kInvalid) return false;
    bool ready = false, unused = false;
    tcp::wait_readable(c, tcp::kInvalid, 0, &ready, &unused);
    return ready;
  }

  // --- timers --------------------------------------------------------------------------------

  // Checks every timer; returns how long the loop may wait for the next one.
  int timers() {
    const auto now = Clock::now();
    Clock::time_point next = now + milliseconds(kIdleWaitMs);
    if (in.size() > in_pos) {  // a frame has started
      const auto t8 = last_byte + milliseconds(settings.t8_ms);
      if (now >= t8) {
        close_connection(
            "T8 timeout: a frame stopped after " + std::to_string(in.size() - in_pos) + " bytes",
            false);
        return 0;
      }
      next = std::min(next, t8);
    }
    if (state.load() == SessionState::kNotSelected) {
      if (now >= t7_deadline) {
        close_connection(
            "T7 timeout: not selected within " + std::to_string(settings.t7_ms) + " ms", false);
        return 0;
      }
      next = std::min(next, t7_deadline);
    }
    for (const auto& [system, c] : control) {
      (void)system;
      if (now >= c.deadline) {
        const std::string what = c.answer == SType::kSelectRsp     ? "Select.req"
                                 : c.answer == SType::kLinktestRsp ? "Linktest.req"
                                                                   : "Deselect.req";
        close_connection("T6 timeout: " + what + " not answered", false);
        return 0;
      }
      next = std::min(next, c.deadline);
    }
    if (state.load() == SessionState::kSelected && settings.linktest_ms > 0) {
      if (now >= next_linktest) {
        next_linktest = now + milliseconds(settings.linktest_ms);
        const bool open = std::any_of(control.begin(), control.end(), [](const auto& c) {
          return c.second.answer == SType::kLinktestRsp;
        });
        if (!open) send_control_request(SType::kLinktestReq, SType::kLinktestRsp);
      }
      next = std::min(next, next_linktest);
    }
    if (now >= next_t3_scan) {
      next_t3_scan = now + milliseconds(kT3ScanMs);
      expire_transactions(now);
    }
    bool any_open;
    {
      std::lock_guard<std::mutex> lock(mutex);
      any_open = !pending.empty();
    }
    if (any_open) next = std::min(next, next_t3_scan);
    const auto wait = std::chrono::duration_cast<milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::max<int64_t>(0, wait));
  }

  void send_control_request(SType request, SType answer) {
    const uint32_t system = next_system++;
    control[system] = Control{answer, Clock::now() + milliseconds(settings.t6_ms)};
    write_control(request, system, kControlSession);
  }

  void expire_transactions(Clock::time_point now) {
    std::vector<Pending> expired;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto it = pending.begin(); it != pending.end();) {
        if (now >= it->second.deadline) {
          expired.push_back(std::move(it->second));
          it = pending.erase(it);
          ++counters.t3_timeouts;
        } else {
          ++it;
        }
      }
      counters.open_transactions = pending.size();
    }
    for (Pending& p : expired) {
      log("T3 timeout: " + Message{p.header, false, Item()}.name() + " (system " +
          hex32(p.header.system) + ") got no reply; S9F9 sent");
      send_s9(9, p.header);
      if (p.done) p.done(ReplyResult{ReplyResult::kTimeout, Message()});
    }
  }

  // --- the loop ------------------------------------------------------------------------------

  void refuse_extra() {
    std::string peer;
    const tcp::Socket extra = tcp::accept_from(listener, &peer);
    if (extra == tcp::kInvalid) return;
    log("connection from " + peer + " refused: already " +
        (state.load() == SessionState::kSelected ? "selected" : "connected"));
    tcp::close_socket(extra);
  }

  void run() {
    next_connect = Clock::now();
    while (!stopping.load()) {
      if (conn.load() == tcp::kInvalid) {
        reconnect_requested = false;
        if (settings.active) {
          Clock::time_point at;
          {
            std::lock_guard<std::mutex> lock(reader);
            at = next_connect;
          }
          const auto wait = std::chrono::duration_cast<milliseconds>(at - Clock::now()).count();
          if (wait > 0) {
            std::this_thread::sleep_for(milliseconds(std::min<int64_t>(wait, kIdleWaitMs)));
            continue;
          }
          std::string peer, error;
          const tcp::Socket s = tcp::connect_to(settings.remote_ip, settings.remote_port,
                                                settings.t6_ms, &peer, &error);
          std::lock_guard<std::mutex> lock(reader);
          if (s == tcp::kInvalid) {
            log(error + "; next try in " + std::to_string(settings.t5_ms) + " ms (T5)");
            next_connect = Clock::now() + milliseconds(settings.t5_ms);
            continue;
          }
          connected(s, peer);
          send_control_request(SType::kSelectReq, SType::kSelectRsp);
        } else {
          bool ready = false, unused = false;
          tcp::wait_readable(listener, tcp::kInvalid, kIdleWaitMs, &ready, &unused);
          if (!ready) continue;
          std::string peer;
          const tcp::Socket s = tcp::accept_from(listener, &peer);
          std::lock_guard<std::mutex> lock(reader);
          if (s != tcp::kInvalid) connected(s, peer);
        }
        continue;
      }

      int wait;
      {
        std::lock_guard<std::mutex> lock(reader);
        wait = timers();
      }
      if (conn.load() == tcp::kInvalid) continue;
      bool readable = false, knocking = false;
      if (callers_reading.load() > 0) {
        // A caller reads for now: look again soon (the timers, and whatever the caller leaves).
        std::this_thread::sleep_for(milliseconds(std::min(wait, kCallerReadsMs)));
      } else {
        tcp::wait_readable(conn.load(), settings.active ? tcp::kInvalid : listener, wait,
                           &readable, &knocking);
      }
      if (knocking) refuse_extra();
      if (readable) {
        std::lock_guard<std::mutex> lock(reader);
        if (readable_now() && !read_some()) continue;
      }
      if (reconnect_requested.exchange(false)) {
        std::lock_guard<std::mutex> lock(reader);
        close_connection("reconnect requested", true);
      }
    }
    std::lock_guard<std::mutex> lock(reader);
    close_connection("session stopped", true);
  }

  // request(): reads the connection on the caller's thread until `ready` or for `slice`; false
  // when another caller reads or the slice ended without the reply (the caller then sleeps).
  bool read_for_caller(const std::atomic<bool>& ready, Clock::time_point until) {
    ++callers_reading;
    std::unique_lock<std::mutex> lock(reader);
    while (!ready.load(std::memory_order_acquire)) {
      const tcp::Socket c = conn.load();
      const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
      if (c == tcp::kInvalid || left <= 0) break;
      bool data = false, unused = false;
      tcp::wait_readable(c, tcp::kInvalid, static_cast<int>(left), &data, &unused);
      if (data && !read_some()) break;
    }
    lock.unlock();
    --callers_reading;
    return ready.load(std::memory_order_acquire);
  }
};

Session::Session(SessionSettings settings, Handlers handlers)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(handlers))) {}

Session::~Session() { stop(); }

bool Session::start(std::string* error) {
  Impl& s = *impl_;
  std::string ignored;
  std::string* why = error ? error : &ignored;
  if (s.running.load()) {
    *why = "the session is already started";
    return false;
  }
  const SessionSettings& c = s.settings;
  if (c.t3_ms <= 0 || c.t5_ms <= 0 || c.t6_ms <= 0 || c.t7_ms <= 0 || c.t8_ms <= 0 ||
      c.linktest_ms < 0) {
    *why = "timers must be positive (T3, T5, T6, T7, T8) and the linktest period not negative";
    return false;
  }
  if (c.max_message_bytes < 10) {
    *why = "max_message_bytes must be at least 10";
    return false;
  }
  if (c.active) {
    if (c.remote_port <= 0 || c.remote_port > 65535) {
      *why = "invalid remote port " + std::to_string(c.remote_port);
      return false;
    }
  } else {
    int port = 0;
    s.listener = tcp::listen_on(c.local_ip, c.local_port, &port, why);
    if (s.listener == tcp::kInvalid) return false;
    s.bound_port = port;
  }
  s.stopping = false;
  s.running = true;
  s.thread = std::thread([&s] { s.run(); });
  return true;
}

void Session::stop() {
  Impl& s = *impl_;
  if (!s.running.exchange(false)) return;
  s.stopping = true;
  if (s.thread.joinable()) s.thread.join();
  tcp::close_socket(s.listener);
  s.listener = tcp::kInvalid;
}

void Session::reconnect() { impl_->reconnect_requested = true; }

SessionState Session::state() const { return impl_->state.load(); }

int Session::port() const { return impl_->bound_port.load(); }

SessionCounters Session::counters() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->counters;
}

bool Session::send(int stream, int function, bool wbit, const Item& body,
                   std::function<void(const ReplyResult&)> done, bool has_body) {
  Impl& s = *impl_;
  if (s.state.load() != SessionState::kSelected) return false;
  Message m = data_message(s.settings.device_id, stream, function, wbit, body, has_body);
  m.header.system = s.next_system++;
  if (wbit) {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.pending[m.header.system] =
        Impl::Pending{m.header, done, Clock::now() + milliseconds(s.settings.t3_ms)};
    s.counters.open_transactions = s.pending.size();
  }
  if (!s.write(m)) {
    if (!wbit) return false;
    std::lock_guard<std::mutex> lock(s.mutex);
    // When the connection's end already took the transaction, its `done` has had kClosed.
    if (s.pending.erase(m.header.system) == 0) return true;
    s.counters.open_transactions = s.pending.size();
    return false;
  }
  if (!wbit && done) done(ReplyResult{ReplyResult::kReply, Message()});
  return true;
}

bool Session::reply(const Message& primary, const Item& body, bool has_body) {
  Impl& s = *impl_;
  if (s.state.load() != SessionState::kSelected) return false;
  Message m = data_message(primary.header.session_id, primary.header.stream(),
                           primary.header.function() + 1, false, body, has_body);
  m.header.system = primary.header.system;
  return s.write(m);
}

bool Session::abort(const Message& primary) {
  Impl& s = *impl_;
  if (s.state.load() != SessionState::kSelected) return false;
  Message m =
      data_message(primary.header.session_id, primary.header.stream(), 0, false, Item(), false);
  m.header.system = primary.header.system;
  return s.write(m);
}

bool Session::send_s9(int function, const Header& about) {
  if (impl_->state.load() != SessionState::kSelected) return false;
  return impl_->send_s9(function, about);
}

ReplyResult Session::request(int stream, int function, const Item& body, bool has_body) {
  struct Wait {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::atomic<bool> ready{false};
    ReplyResult result;
  };
  auto wait = std::make_shared<Wait>();
  const bool sent = send(
      stream, function, true, body,
      [wait](const ReplyResult& r) {
        {
          std::lock_guard<std::mutex> lock(wait->mutex);
          wait->result = r;
          wait->done = true;
        }
        wait->ready.store(true, std::memory_order_release);
        wait->cv.notify_one();
      },
      has_body);
  if (!sent) return ReplyResult{ReplyResult::kClosed, Message()};
  // The reply usually comes within the slice: the caller reads it itself (one thread woken
  // instead of two); a slower one is read by the loop thread, which wakes the caller.
  impl_->read_for_caller(wait->ready, Clock::now() + milliseconds(kCallerSliceMs));
  std::unique_lock<std::mutex> lock(wait->mutex);
  wait->cv.wait(lock, [&] { return wait->done; });
  return wait->result;
}

}  // namespace vexlor::secs
