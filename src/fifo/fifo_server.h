// The message queue's wire format and its receiving side: one codec for requests and
// replies (used by the VFIFO client and by every server), and EndpointServer, which serves
// one endpoint and hands each request to a handler. Internal; not exported.
//
// Frames: every request and reply is one frame of the local endpoint stream (see
// os/local_endpoint.h). A request payload is
//   u32 sequence, u8 type, then the text fields sender, function, param, argument, kind,
//   command, text (each u32 length + bytes), then i32 index, i32 pool_count, i32 capacity
// (all little-endian); a reply payload is u32 sequence, u8 accepted, then the answer text.
// The reply carries the sequence of its request; a client drops a connection whose reply
// does not match. The type byte's top bit marks a one-way request: it is handled like any
// other, but no reply is sent.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/local_endpoint.h"

namespace vexlor::fifo {

// What a request asks for. Values are the wire codes; Query is internal (tests and tools read
// a server's record with it).
enum class RequestType : uint8_t {
  FunctionRun = 1,
  FunctionWait = 2,
  FunctionExit = 3,
  SendEvent = 4,
  PostEvent = 5,
  Dnload = 6,
  Upload = 7,
  Pool = 8,
  EngineRead = 9,
  EngineWrite = 10,
  EngineWriteG = 11,
  GuiMainForm = 12,
  Query = 13,
};

// Name of a request type as written in records ("FunctionRun", ...); "Unknown" otherwise.
const char* type_name(RequestType type);

// Longest text a client sends per field (bytes, without terminator), and the pool
// parameter's own limit. Longer texts are cut.
inline constexpr std::size_t kTextLimit = 1023;
inline constexpr std::size_t kPoolParamLimit = 4095;

// One request, fields in the order of the sending call:
//   Function_* (Run, Wait, Exit, SendEvent, PostEvent, Dnload, Upload, Pool):
//     function, param, argument (parent chain or caller index); Pool also pool_count;
//   Engine_* (EngineRead, EngineWrite, EngineWriteG): kind, param, command, index, argument;
//   GuiMainForm: command, text;
//   Query: index (first record line wanted).
// sender is the sending routine's name (as given to VFIFO_Initial); capacity is the caller's
// answer buffer size for Dnload and EngineRead.
struct Request {
  uint32_t sequence = 0;
  RequestType type = RequestType::Query;
  std::string sender;
  std::string function, param, argument;
  std::string kind, command, text;
  int32_t index = 0;
  int32_t pool_count = 0;
  int32_t capacity = 0;
  bool one_way = false;  // handled without a reply
};

struct Reply {
  bool accepted = false;
  std::string answer;
};

// Codec. decode_* return false on a malformed payload; decode_request also fails on an
// unknown type (then *sequence_out, when given, holds the sequence if it could be read).
void encode_request(const Request& request, std::string& out);
bool decode_request(const std::string& payload, Request& request, uint32_t* sequence_out);
void encode_reply(uint32_t sequence, const Reply& reply, std::string& out);
bool decode_reply(const std::string& payload, uint32_t& sequence, Reply& reply);

// One record line for a request: the type, then its fields in argument order, then the
// sender, e.g.
//   EngineRead kind=$D param=P7 command=R1 index=3 argument=- sender=PM1_PROC
//   FunctionRun function=PM1 param=RECIPE argument=2&1 sender=SCHED
//   GuiMainForm command=SHOW text= sender=X
//   Pool function=F param=P argument=4 pool_count=2 sender=X
std::string describe(const Request& request);

// The reply to one request, sent later and from any thread: what a handler gets from
// defer_reply(). Sent at most once; one never sent answers accepted false, "not answered" when
// it goes. A reply whose connection has ended meanwhile is dropped.
class LaterReply {
 public:
  struct Channel;  // the connection's writing side, shared with its server
  LaterReply(std::shared_ptr<Channel> channel, uint32_t sequence)
      : channel_(std::move(channel)), sequence_(sequence) {}
  ~LaterReply();
  LaterReply(const LaterReply&) = delete;
  LaterReply& operator=(const LaterReply&) = delete;
  void send(const Reply& reply);

 private:
  std::shared_ptr<Channel> channel_;
  const uint32_t sequence_;
  bool sent_ = false;
};

// For a handler of an EndpointServer, on the thread that called it: the request being handled
// is answered through the returned object instead of by the handler's return value (which is
// then dropped), so the connection's thread goes back to reading at once. Null outside a
// handler.
std::unique_ptr<LaterReply> defer_reply();

// Bounds of one endpoint server.
struct ServerLimits {
  // Connections served at once. A client arriving at the bound waits until one ends, or until
  // the connection idle the longest has been idle for frame_timeout_ms and is closed to make
  // room for it; further clients stay queued by the system meanwhile.
  std::size_t max_connections = 512;
  // A request frame that has started must be complete within this time (a frame trickling in
  // byte by byte gets at most twice as long), and a reply must be taken within it; otherwise
  // the connection is closed. Idle connections are kept.
  int frame_timeout_ms = 2000;
};

// Serves one endpoint. Each connection is read by its own thread, so requests of one
// connection are handled in order (their replies may overtake each other when a handler defers
// one); the handler may run concurrently for different connections and must guard its own
// state. A malformed or unknown request gets a reply with
// accepted false and the answer "refused" (the connection is closed when even the frame is
// unreadable). The handler is never called for them.
class EndpointServer {
 public:
  using Handler = std::function<Reply(const Request&)>;

  EndpointServer() = default;
  ~EndpointServer();
  EndpointServer(const EndpointServer&) = delete;
  EndpointServer& operator=(const EndpointServer&) = delete;

  // Opens the endpoint (see os::LocalListener::open). `busy` tells a live other server.
  bool open(const std::string& endpoint, std::string* error, bool* busy = nullptr);
  // Applies to connections accepted after the call; set before serve(). A bound of 0 counts as
  // 1; a frame time-out of 0 or less means no time-out.
  void set_limits(const ServerLimits& limits) {
    limits_ = limits;
    if (limits_.max_connections == 0) limits_.max_connections = 1;
  }
  // Starts serving on background threads. False when not open or already serving.
  bool serve(Handler handler);
  // Stops promptly: wakes every thread, joins them, removes the endpoint. Safe to repeat. In a
  // forked child it only drops its copies: the threads and the endpoint are the parent's.
  void stop();
  bool is_open() const { return listener_.is_open(); }

 private:
  struct Connection {
    os::LocalStream stream;
    std::shared_ptr<LaterReply::Channel> replies;  // every reply goes out through it
    std::thread thread;
    std::atomic<bool> done{false};
    std::atomic<bool> busy{false};           // a request is being handled
    std::atomic<int64_t> last_active_ms{0};  // connected or last reply sent (steady clock)
  };
  void accept_loop();
  bool wait_for_room();
  void connection_loop(Connection* connection);
  void reap(bool all);
  void forget_threads();

  os::LocalListener listener_;
  long owner_ = -1;  // the process that started serving
  Handler handler_;
  ServerLimits limits_;
  std::thread accept_thread_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable room_;  // a connection ended, or stop
  std::list<std::unique_ptr<Connection>> connections_;
};

// Sends one request to a served endpoint over a fresh connection and waits up to
// timeout_ms for its reply. For tools and tests (the VFIFO client keeps its connections).
bool send_request(const std::string& endpoint, const Request& request, Reply* reply, int timeout_ms,
                  std::string* error);

// Reads a server's record from line `since` (0-based) on, through a Query request.
bool query_record(const std::string& endpoint, int since, std::vector<std::string>* lines,
                  std::string* error, int timeout_ms = 3000);

}  // namespace vexlor::fifo
