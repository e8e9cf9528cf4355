// The message queue's codec and endpoint server.
#include "fifo/fifo_server.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <utility>

#include "os/instance.h"

namespace vexlor::fifo {
namespace {

void put_u32(std::string& out, uint32_t v) {
  char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
               static_cast<char>(v >> 24)};
  out.append(b, 4);
}

void put_text(std::string& out, const std::string& text) {
  put_u32(out, static_cast<uint32_t>(text.size()));
  out.append(text);
}

class Reader {
 public:
  explicit Reader(const std::string& data) : data_(data) {}
  bool u32(uint32_t& v) {
    if (data_.size() - pos_ < 4) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data_.data() + pos_);
    v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    pos_ += 4;
    return true;
  }
  bool i32(int32_t& v) {
    uint32_t u;
    if (!u32(u)) return false;
    std::memcpy(&v, &u, sizeof v);
    return true;
  }
  bool u8(uint8_t& v) {
    if (pos_ >= data_.size()) return false;
    v = static_cast<uint8_t>(data_[pos_++]);
    return true;
  }
  bool text(std::string& v) {
    uint32_t n;
    if (!u32(n) || data_.size() - pos_ < n) return false;
    v.assign(data_, pos_, n);
    pos_ += n;
    return true;
  }
  bool at_end() const { return pos_ == data_.size(); }

 private:
  const std::string& data_;
  std::size_t pos_ = 0;
};

int64_t steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr uint8_t kOneWay = 0x80;  // in the type byte: no reply wanted

bool known_type(uint8_t t) {
  return t >= static_cast<uint8_t>(RequestType::FunctionRun) &&
         t <= static_cast<uint8_t>(RequestType::Query);
}

}  // namespace

const char* type_name(RequestType type) {
  switch (type) {
    case RequestType::FunctionRun:
      return "FunctionRun";
    case RequestType::FunctionWait:
      return "FunctionWait";
    case RequestType::FunctionExit:
      return "FunctionExit";
    case RequestType::SendEvent:
      return "SendEvent";
    case RequestType::PostEvent:
      return "PostEvent";
    case RequestType::Dnload:
      return "Dnload";
    case RequestType::Upload:
      return "Upload";
    case RequestType::Pool:
      return "Pool";
    case RequestType::EngineRead:
      return "EngineRead";
    case RequestType::EngineWrite:
      return "EngineWrite";
    case RequestType::EngineWriteG:
      return "EngineWriteG";
    case RequestType::GuiMainForm:
      return "GuiMainForm";
    case RequestType::Query:
      return "Query";
  }
  return "Unknown";
}

void encode_request(const Request& r, std::string& out) {
  out.clear();
  out.reserve(64 + r.sender.size() + r.function.size() + r.param.size() + r.argument.size() +
              r.kind.size() + r.command.size() + r.text.size());
  put_u32(out, r.sequence);
  out.push_back(static_cast<char>(static_cast<uint8_t>(r.type) | (r.one_way ? kOneWay : 0)));
  put_text(out, r.sender);
  put_text(out, r.function);
  put_text(out, r.param);
  put_text(out, r.argument);
  put_text(out, r.kind);
  put_text(out, r.command);
  put_text(out, r.text);
  put_u32(out, static_cast<uint32_t>(r.index));
  put_u32(out, static_cast<uint32_t>(r.pool_count));
  put_u32(out, static_cast<uint32_t>(r.capacity));
}

bool decode_request(const std::string& payload, Request& r, uint32_t* sequence_out) {
  Reader in(payload);
  uint8_t type = 0;
  r.one_way = false;
  if (!in.u32(r.sequence)) return false;
  if (sequence_out) *sequence_out = r.sequence;
  if (!in.u8(type)) return false;
  r.one_way = (type & kOneWay) != 0;
  type &= static_cast<uint8_t>(~kOneWay);
  if (!known_type(type)) return false;
  r.type = static_cast<RequestType>(type);
  return in.text(r.sender) && in.text(r.function) && in.text(r.param) && in.text(r.argument) &&
         in.text(r.kind) && in.text(r.command) && in.text(r.text) && in.i32(r.index) &&
         in.i32(r.pool_count) && in.i32(r.capacity) && in.at_end();
}

void encode_reply(uint32_t sequence, const Reply& reply, std::string& out) {
  out.clear();
  out.reserve(9 + reply.answer.size());
  put_u32(out, sequence);
  out.push_back(reply.accepted ? 1 : 0);
  put_text(out, reply.answer);
}

bool decode_reply(const std::string& payload, uint32_t& sequence, Reply& reply) {
  Reader in(payload);
  uint8_t accepted = 0;
  if (!in.u32(sequence) || !in.u8(accepted) || accepted > 1 || !in.text(reply.answer) ||
      !in.at_end()) {
    return false;
  }
  reply.accepted = accepted == 1;
  return true;
}

std::string describe(const Request& r) {
  std::string line = type_name(r.type);
  auto field = [&line](const char* name, const std::string& value) {
    line += ' ';
    line += name;
    line += '=';
    // One request is one line: line breaks inside a text are written as \n and \r.
    for (char c : value) {
      if (c == '\n')
        line += "\\n";
      else if (c == '\r')
        line += "\\r";
      else
        line += c;
    }
  };
  switch (r.type) {
    case RequestType::EngineRead:
    case RequestType::EngineWrite:
    case RequestType::EngineWriteG:
      field("kind", r.kind);
      field("param", r.param);
      field("command", r.command);
      field("index", std::to_string(r.index));
      field("argument", r.argument);
      break;
    case RequestType::GuiMainForm:
      field("command", r.command);
      field("text", r.text);
      break;
    case RequestType::Query:
      field("index", std::to_string(r.index));
      break;
    default:
      field("function", r.function);
      field("param", r.param);
      field("argument", r.argument);
      if (r.type == RequestType::Pool) field("pool_count", std::to_string(r.pool_count));
      break;
  }
  field("sender", r.sender);
  return line;
}

// ---- Replies ------------------------------------------------------------------------------

// A connection's writing side. Its thread reads while a deferred reply may be written from
// another one; the mutex keeps frames whole, and `open` turns late replies into no-ops once the
// connection's thread has ended (the stream itself lives until the server reaps it).
struct LaterReply::Channel {
  std::mutex mutex;
  os::LocalStream* stream = nullptr;
  bool open = true;
  std::string out;

  os::IoResult write(uint32_t sequence, const Reply& reply) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!open) return os::IoResult::kClosed;
    encode_reply(sequence, reply, out);
    return stream->write_frame(out);
  }
};

namespace {

// The request being handled on this thread, for defer_reply().
struct Handling {
  std::shared_ptr<LaterReply::Channel> channel;
  uint32_t sequence = 0;
  bool one_way = false;
  bool deferred = false;
};
thread_local Handling* t_handling = nullptr;

}  // namespace

LaterReply::~LaterReply() {
  if (!sent_) send(Reply{false, "not answered"});
}

void LaterReply::send(const Reply& reply) {
  if (sent_) return;
  sent_ = true;
  if (channel_) channel_->write(sequence_, reply);
}

std::unique_ptr<LaterReply> defer_reply() {
  if (t_handling == nullptr || t_handling->deferred) return nullptr;
  t_handling->deferred = true;
  // A one-way request gets no reply, later or not.
  return std::make_unique<LaterReply>(t_handling->one_way ? nullptr : t_handling->channel,
                                      t_handling->sequence);
}

// ---- EndpointServer ----------------------------------------------------------------------

EndpointServer::~EndpointServer() { stop(); }

bool EndpointServer::open(const std::string& endpoint, std::string* error, bool* busy) {
  if (listener_.is_open() || accept_thread_.joinable()) {
    if (error) *error = "endpoint server already open";
    return false;
  }
  return listener_.open(endpoint, error, busy);
}

bool EndpointServer::serve(Handler handler) {
  if (!listener_.is_open() || accept_thread_.joinable() || !handler) return false;
  handler_ = std::move(handler);
  stopping_ = false;
  owner_ = os::process_id();
  accept_thread_ = std::thread([this] { accept_loop(); });
  return true;
}

void EndpointServer::accept_loop() {
  while (!stopping_) {
    reap(false);
    os::LocalStream stream = listener_.accept(-1);
    if (stopping_) break;
    if (!stream.valid()) continue;
    // Held, unserved, until there is room: idle connections are closed only for a real client.
    if (!wait_for_room()) break;
    stream.set_timeout_ms(limits_.frame_timeout_ms);
    auto connection = std::make_unique<Connection>();
    connection->stream = std::move(stream);
    connection->replies = std::make_shared<LaterReply::Channel>();
    connection->replies->stream = &connection->stream;
    connection->last_active_ms = steady_ms();
    Connection* raw = connection.get();
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) break;
    connections_.push_back(std::move(connection));
    raw->thread = std::thread([this, raw] { connection_loop(raw); });
  }
}

// True when there is room for one more connection; false on stop. At the bound, closes the
// connection idle the longest once it has been idle for the frame time-out.
bool EndpointServer::wait_for_room() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    std::size_t live = 0;
    Connection* idlest = nullptr;
    for (auto& c : connections_) {
      if (c->done) continue;
      ++live;
      if (!c->busy && (idlest == nullptr || c->last_active_ms < idlest->last_active_ms)) {
        idlest = c.get();
      }
    }
    if (live < limits_.max_connections) return true;
    if (idlest != nullptr && steady_ms() - idlest->last_active_ms >= limits_.frame_timeout_ms) {
      idlest->stream.shutdown();  // its thread sees the stream closed and ends
      idlest->last_active_ms = INT64_MAX;  // not picked again while it ends
    }
    room_.wait_for(lock, std::chrono::milliseconds(50));
  }
  return false;
}

void EndpointServer::connection_loop(Connection* connection) {
  std::string frame;
  Request request;
  while (!stopping_) {
    os::IoResult got = connection->stream.read_frame(frame);
    // Idle between requests is fine; a frame that stopped half-way is not.
    if (got == os::IoResult::kTimeout && connection->stream.buffered() == 0) continue;
    if (got != os::IoResult::kOk) break;
    connection->busy = true;
    Handling handling{connection->replies};
    Reply reply;
    if (decode_request(frame, request, &handling.sequence)) {
      handling.one_way = request.one_way;
      t_handling = &handling;
      reply = handler_(request);
      t_handling = nullptr;
    } else {
      reply.accepted = false;
      reply.answer = "refused";
    }
    // A frame that does not decode is refused even when its type byte asks for no reply.
    if (!handling.deferred && !handling.one_way &&
        connection->replies->write(handling.sequence, reply) != os::IoResult::kOk) {
      break;
    }
    connection->last_active_ms = steady_ms();
    connection->busy = false;
  }
  {
    std::lock_guard<std::mutex> lock(connection->replies->mutex);
    connection->replies->open = false;
  }
  connection->stream.shutdown();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connection->done = true;
  }
  room_.notify_one();
}

void EndpointServer::reap(bool all) {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->done) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) {
    if (all) c->stream.shutdown();
    if (c->thread.joinable()) c->thread.join();
  }
}

void EndpointServer::forget_threads() {
  // Only this thread runs in a forked child, and the copied thread objects name threads of
  // the parent: they are set aside, never joined (the locks they held may stay held).
  new std::thread(std::move(accept_thread_));
  for (auto& c : connections_) {
    c->replies->open = false;  // no other thread here to hold its lock or send through it
    c->stream.close();
    new std::thread(std::move(c->thread));
  }
  connections_.clear();
}

void EndpointServer::stop() {
  if (accept_thread_.joinable() && owner_ != os::process_id()) {
    forget_threads();
    listener_.close();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  room_.notify_all();
  listener_.interrupt();
  if (accept_thread_.joinable()) accept_thread_.join();
  // The endpoint is given up before its connections end: a peer that sees its connection end
  // (the manager watching a routine, say) and starts a successor at once finds the name free.
  listener_.close();
  reap(true);
}

// ---- One-shot client -------------------------------------------------------------------------

bool send_request(const std::string& endpoint, const Request& request, Reply* reply, int timeout_ms,
                  std::string* error) {
  os::LocalStream stream;
  if (!stream.connect(endpoint, error)) return false;
  stream.set_timeout_ms(timeout_ms);
  std::string out, in;
  encode_request(request, out);
  if (stream.write_frame(out) != os::IoResult::kOk) {
    if (error) *error = "cannot send to endpoint \"" + endpoint + "\"";
    return false;
  }
  if (stream.read_frame(in) != os::IoResult::kOk) {
    if (error) *error = "no reply from endpoint \"" + endpoint + "\"";
    return false;
  }
  uint32_t sequence = 0;
  Reply got;
  if (!decode_reply(in, sequence, got) || sequence != request.sequence) {
    if (error) *error = "malformed reply from endpoint \"" + endpoint + "\"";
    return false;
  }
  if (reply) *reply = std::move(got);
  return true;
}

bool query_record(const std::string& endpoint, int since, std::vector<std::string>* lines,
                  std::string* error, int timeout_ms) {
  Request request;
  request.type = RequestType::Query;
  request.sequence = 1;
  request.index = since;
  request.sender = "query";
  Reply reply;
  if (!send_request(endpoint, request, &reply, timeout_ms, error)) return false;
  if (!reply.accepted) {
    if (error) *error = "query refused: " + reply.answer;
    return false;
  }
  if (lines) {
    lines->clear();
    std::size_t start = 0;
    while (start < reply.answer.size()) {
      std::size_t end = reply.answer.find('\n', start);
      if (end == std::string::npos) end = reply.answer.size();
      lines->push_back(reply.answer.substr(start, end - start));
      start = end + 1;
    }
  }
  return true;
}

}  // namespace vexlor::fifo
