#include "host_sim/sim_host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vexlor::hostsim {

namespace {

bool ack_responder(const Message&, std::optional<Item>* body) {
  *body = Item::binary1(0);
  return true;
}

}  // namespace

// The answers a host gives out of the box.
static std::map<std::pair<std::uint8_t, std::uint8_t>, Host::Responder> default_responders() {
  std::map<std::pair<std::uint8_t, std::uint8_t>, Host::Responder> r;
  r[{1, 1}] = [](const Message&, std::optional<Item>* body) {
    *body = Item::list();  // a host has no model name or software revision to give
    return true;
  };
  r[{1, 13}] = [](const Message&, std::optional<Item>* body) {
    *body = Item::list({Item::binary1(0), Item::list()});
    return true;
  };
  r[{5, 1}] = ack_responder;
  r[{6, 1}] = ack_responder;
  r[{6, 11}] = ack_responder;
  r[{10, 1}] = ack_responder;
  return r;
}

Host::Host(std::uint16_t device_id) : device_id_(device_id), responders_(default_responders()) {}

Host::~Host() { close(); }

bool Host::connect(std::uint16_t port, std::string* error, const std::string& ip) {
  close();
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
    ::close(fd);
    if (error) *error = "bad address " + ip;
    return false;
  }
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (error) *error = "connect " + ip + ":" + std::to_string(port) + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // A write to an equipment that stopped reading gives up instead of blocking a test forever.
  timeval send_timeout{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = fd;
    connected_ = true;
    selected_ = false;
    stop_ = false;
    paused_ = false;
    reader_idle_ = false;
    close_reason_.clear();
  }
  reader_ = std::thread([this, fd] { reader_loop(fd); });
  return true;
}

bool Host::connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_;
}

bool Host::selected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_ && selected_;
}

bool Host::wait_closed(Duration timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return !connected_; });
}

std::string Host::close_reason() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return close_reason_;
}

void Host::stop_reader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (reader_.joinable()) reader_.join();
}

void Host::close() {
  stop_reader();
  std::lock_guard<std::mutex> write_lock(write_mutex_);
  if (fd_ >= 0) {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    fd_ = -1;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  connected_ = false;
  selected_ = false;
  changed_.notify_all();
}

void Host::reset() {
  stop_reader();
  std::lock_guard<std::mutex> write_lock(write_mutex_);
  if (fd_ >= 0) {
    const linger abort_now{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort_now, sizeof abort_now);
    ::close(fd_);
    fd_ = -1;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  connected_ = false;
  selected_ = false;
  changed_.notify_all();
}

void Host::mark_closed(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (connected_ && close_reason_.empty()) close_reason_ = reason;
  connected_ = false;
  selected_ = false;
  changed_.notify_all();
}

bool Host::write_all(std::string_view bytes) {
  std::lock_guard<std::mutex> write_lock(write_mutex_);
  if (fd_ < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool Host::send_raw(std::string_view bytes) {
  if (!connected()) return false;
  return write_all(bytes);
}

bool Host::send_frame(const Header& header, std::string_view body) {
  return send_raw(encode_frame(header, body));
}

std::uint32_t Host::next_system() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (++system_ == 0) system_ = 1;
  return system_;
}

void Host::stop_reading() {
  std::unique_lock<std::mutex> lock(mutex_);
  paused_ = true;
  // Returns once the reader is idle: nothing it has not taken yet is read afterwards.
  changed_.wait(lock, [&] { return reader_idle_ || !connected_ || stop_; });
}

void Host::resume_reading() {
  std::lock_guard<std::mutex> lock(mutex_);
  paused_ = false;
  reader_idle_ = false;
}

void Host::set_responder(std::uint8_t stream, std::uint8_t function, Responder responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responders_[{stream, function}] = std::move(responder);
}

void Host::clear_responder(std::uint8_t stream, std::uint8_t function) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Back to the answer out of the box (none: SxF0).
  const auto defaults = default_responders();
  const auto it = defaults.find({stream, function});
  if (it != defaults.end()) {
    responders_[{stream, function}] = it->second;
  } else {
    responders_.erase({stream, function});
  }
}

Host::Responder Host::silent() {
  return [](const Message&, std::optional<Item>*) { return false; };
}

void Host::set_answer_linktest(bool answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answer_linktest_ = answer;
}

// --- transactions ------------------------------------------------------------------------------

int Host::control_transaction(SType stype, Duration timeout) {
  const std::uint32_t system = next_system();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected_) return -1;
    pending_[system];
  }
  if (!send_frame(control_header(stype, system))) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.erase(system);
    return -1;
  }
  std::optional<Message> answer = wait_reply(system, timeout);
  if (!answer) return -1;
  if (answer->header.stype == static_cast<std::uint8_t>(SType::RejectReq)) return -2;
  return answer->header.byte3;
}

int Host::select(Duration timeout) {
  const int status = control_transaction(SType::SelectReq, timeout);
  if (status == 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    selected_ = true;
  }
  return status;
}

bool Host::linktest(Duration timeout) {
  return control_transaction(SType::LinktestReq, timeout) >= 0;
}

int Host::deselect(Duration timeout) {
  const int status = control_transaction(SType::DeselectReq, timeout);
  if (status == 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    selected_ = false;
  }
  return status;
}

void Host::separate() {
  send_frame(control_header(SType::SeparateReq, next_system()));
  close();
}

std::uint32_t Host::send_with(std::uint16_t device_id, std::uint8_t stream, std::uint8_t function,
                              bool wbit, const std::optional<Item>& body) {
  std::string body_bytes;
  if (body && !encode(*body, &body_bytes)) return 0;
  const std::uint32_t system = next_system();
  if (wbit) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected_) return 0;
    pending_[system];
  }
  if (!send_frame(data_header(device_id, stream, function, wbit, system), body_bytes)) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.erase(system);
    return 0;
  }
  return system;
}

std::uint32_t Host::send(std::uint8_t stream, std::uint8_t function, bool wbit,
                         const std::optional<Item>& body) {
  return send_with(device_id_, stream, function, wbit, body);
}

std::uint32_t Host::send_as(std::uint16_t device_id, std::uint8_t stream, std::uint8_t function,
                            bool wbit, const std::optional<Item>& body) {
  return send_with(device_id, stream, function, wbit, body);
}

std::optional<Message> Host::wait_reply(std::uint32_t system, Duration timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto it = pending_.find(system);
  if (it == pending_.end()) return std::nullopt;
  changed_.wait_for(lock, timeout, [&] { return it->second.has_value() || !connected_; });
  std::optional<Message> answer = std::move(it->second);
  pending_.erase(it);
  return answer;
}

std::optional<Message> Host::request(std::uint8_t stream, std::uint8_t function,
                                     const std::optional<Item>& body, Duration timeout) {
  const std::uint32_t system = send(stream, function, true, body);
  if (system == 0) return std::nullopt;
  return wait_reply(system, timeout);
}

bool Host::reply(const Message& primary, const std::optional<Item>& body) {
  std::string body_bytes;
  if (body && !encode(*body, &body_bytes)) return false;
  const Header header =
      data_header(device_id_, primary.stream(), static_cast<std::uint8_t>(primary.function() + 1),
                  false, primary.header.system);
  return send_frame(header, body_bytes);
}

// --- the log -----------------------------------------------------------------------------------

std::vector<Received> Host::received(std::size_t from) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (from >= log_.size()) return {};
  return std::vector<Received>(log_.begin() + static_cast<std::ptrdiff_t>(from), log_.end());
}

std::size_t Host::received_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_.size();
}

std::vector<Received> Host::take_received() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Received> taken;
  taken.swap(log_);
  return taken;
}

bool Host::wait_received_count(std::size_t count, Duration timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return log_.size() > count; });
}

std::optional<Received> Host::wait_for(const std::function<bool(const Received&)>& match,
                                       std::size_t nth, Duration timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::size_t scanned = 0, found = 0;
  std::optional<Received> result;
  changed_.wait_for(lock, timeout, [&] {
    for (; scanned < log_.size(); ++scanned) {
      if (match(log_[scanned]) && ++found == nth) {
        result = log_[scanned];
        return true;
      }
    }
    return false;
  });
  return result;
}

std::optional<Received> Host::wait_message(std::uint8_t stream, std::uint8_t function,
                                           std::size_t nth, Duration timeout) {
  return wait_for(
      [&](const Received& r) {
        return r.message.is_data() && r.message.stream() == stream &&
               r.message.function() == function;
      },
      nth, timeout);
}

std::size_t Host::count(std::uint8_t stream, std::uint8_t function) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t n = 0;
  for (const Received& r : log_) {
    if (r.message.is_data() && r.message.stream() == stream && r.message.function() == function)
      ++n;
  }
  return n;
}

std::size_t Host::unmatched_replies() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unmatched_;
}

// --- the reader --------------------------------------------------------------------------------

void Host::reader_loop(int fd) {
  std::string buffer;
  char chunk[65536];
  for (;;) {
    bool paused;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_ || !connected_) return;
      paused = paused_;
      if (paused && !reader_idle_) {
        reader_idle_ = true;
        changed_.notify_all();
      }
    }
    if (paused) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, 20);
    if (ready < 0 && errno != EINTR) {
      mark_closed(std::string("poll: ") + std::strerror(errno));
      return;
    }
    if (ready <= 0) continue;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n == 0) {
      mark_closed("closed by peer");
      return;
    }
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      mark_closed(errno == ECONNRESET ? "reset by peer"
                                      : std::string("recv: ") + std::strerror(errno));
      return;
    }
    buffer.append(chunk, static_cast<std::size_t>(n));
    std::size_t used = 0;
    for (;;) {
      Message message;
      std::string error;
      const std::size_t size =
          decode_frame(std::string_view(buffer).substr(used), &message, &error);
      if (!error.empty()) {
        mark_closed("bad frame: " + error);
        return;
      }
      if (size == 0) break;
      used += size;
      handle(std::move(message));
    }
    buffer.erase(0, used);
  }
}

void Host::handle(Message message) {
  const Header h = message.header;
  std::optional<std::string> answer;  // a frame to send back
  bool separate = false;
  bool answer_primary = false;
  Responder responder;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(Received{++order_, Clock::now(), message});
    if (h.ptype != 0) {
      // Only SECS-II messages exist on this link.
      answer = encode_frame(control_header(SType::RejectReq, h.system, h.ptype, 2));
    } else if (!h.is_data()) {
      switch (static_cast<SType>(h.stype)) {
        case SType::SelectReq:
          answer = encode_frame(control_header(SType::SelectRsp, h.system, 0, selected_ ? 1 : 0));
          selected_ = true;
          break;
        case SType::DeselectReq:
          answer = encode_frame(control_header(SType::DeselectRsp, h.system));
          selected_ = false;
          break;
        case SType::LinktestReq:
          if (answer_linktest_) answer = encode_frame(control_header(SType::LinktestRsp, h.system));
          break;
        case SType::SelectRsp:
        case SType::DeselectRsp:
        case SType::LinktestRsp:
        case SType::RejectReq: {
          auto it = pending_.find(h.system);
          if (it != pending_.end() && !it->second) {
            it->second = message;
          } else {
            ++unmatched_;
          }
          break;
        }
        case SType::SeparateReq:
          separate = true;
          break;
        default:
          answer = encode_frame(control_header(SType::RejectReq, h.system, h.stype, 1));
          break;
      }
    } else if (h.function() % 2 == 0) {
      // A reply (or SxF0, abort): it closes the transaction with the same system bytes.
      auto it = pending_.find(h.system);
      if (it != pending_.end() && !it->second) {
        it->second = message;
      } else {
        ++unmatched_;
      }
    } else if (h.wbit()) {
      auto it = responders_.find({h.stream(), h.function()});
      if (it != responders_.end()) responder = it->second;
      answer_primary = true;
    }
  }
  if (answer_primary) {
    // The responder runs outside the lock: it may use this host.
    std::optional<Item> body;
    bool send_reply = true;
    std::uint8_t function = static_cast<std::uint8_t>(h.function() + 1);
    if (responder) {
      send_reply = responder(message, &body);
    } else {
      function = 0;  // a primary this host does not know: abort the transaction
    }
    if (send_reply) {
      std::string body_bytes;
      if (body) encode(*body, &body_bytes);
      answer =
          encode_frame(data_header(device_id_, h.stream(), function, false, h.system), body_bytes);
    }
  }
  changed_.notify_all();
  if (answer) write_all(*answer);
  if (separate) mark_closed("Separate.req received");
}

}  // namespace vexlor::hostsim
