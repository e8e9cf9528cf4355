// VFIFO: the message-queue client of a routine, and the routine's own endpoint.
//
// One persistent connection per peer (manager, engine, gui), opened on first use and guarded
// by a mutex per peer; a thread that finds it in use sends over a connection of its own. Each
// request is one frame with a sequence number and waits for the reply frame carrying the same
// number. Any failure closes the connection; the next request reconnects.
#include <vexlor/vfifo.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "fifo/fifo_server.h"
#include "fifo/own_endpoint.h"
#include "os/local_endpoint.h"
#include "os/instance.h"
#include "util/text.h"

namespace Vexlor {
namespace {

using vexlor::fifo::Reply;
using vexlor::fifo::Request;
using vexlor::fifo::RequestType;

constexpr int kDefaultTimeoutMs = 3000;

int timeout_from_environment() {
  const char* env = std::getenv("VEXLOR_FIFO_TIMEOUT_MS");
  if (env == nullptr || *env == '\0') return kDefaultTimeoutMs;
  char* end = nullptr;
  long v = std::strtol(env, &end, 10);
  if (*end != '\0' || v <= 0 || v > 24L * 3600 * 1000) return kDefaultTimeoutMs;
  return static_cast<int>(v);
}

// A caller's text as sent: null reads as empty, and never more than `limit` bytes are read.
std::string bounded(const char* text, std::size_t limit = vexlor::fifo::kTextLimit) {
  if (text == nullptr) return {};
  return std::string(text, strnlen(text, limit));
}

enum PeerId { kManager = 0, kEngine = 1, kGui = 2, kPeerCount = 3 };

const char* peer_endpoint(PeerId peer) {
  switch (peer) {
    case kManager:
      return vexlor::os::kManagerEndpoint;
    case kEngine:
      return vexlor::os::kEngineEndpoint;
    case kGui:
      return vexlor::os::kGuiEndpoint;
    default:
      return "";
  }
}

}  // namespace

struct VFIFO::Channel {
  struct Peer {
    std::string endpoint;
    std::mutex mutex;
    vexlor::os::LocalStream stream;
    uint32_t sequence = 0;
    uint32_t unanswered = 0;  // queued requests whose replies have not been read yet
    std::string out, in;      // reused frame buffers
  };

  // Queued requests are read back in batches of this many replies, so the peer's replies
  // never fill the connection while the sender does not read.
  static constexpr uint32_t kUnansweredLimit = 64;
  // Connections kept to the processes serving functions this routine runs.
  static constexpr std::size_t kRouteLimit = 256;

  // The process that made this object: in a child forked from it, its locks may be held by
  // threads of the parent, which do not exist there (see forked()).
  const long creator = vexlor::os::process_id();
  std::mutex state_mutex;  // Initial / Release
  std::atomic<bool> attached{false};
  std::string name;
  int timeout_ms = kDefaultTimeoutMs;
  Peer peers[kPeerCount];
  std::mutex routes_mutex;
  std::map<std::string, std::unique_ptr<Peer>> routes;  // by function name
  vexlor::fifo::EndpointServer own;

  Channel() {
    for (int id = 0; id < kPeerCount; ++id) peers[id].endpoint = peer_endpoint(PeerId(id));
  }

  bool forked() const { return creator != vexlor::os::process_id(); }

  // In a forked child, whose only thread is the one that forked: the connections shared with
  // the parent are closed here without taking any lock (a thread of the parent may have held
  // one at the fork, and that lock stays taken in the child for good). The object itself is
  // then left alone, never used or destroyed.
  void abandon() {
    attached = false;
    for (auto& peer : peers) peer.stream.close();
    for (auto& [function, peer] : routes) peer->stream.close();
    own.stop();  // a copy made in another process: forgets the parent's threads, no lock
  }

  // The kept connection to the process serving `function`, or null when the name cannot name
  // an endpoint or too many are kept.
  Peer* route(const std::string& function) {
    if (function.empty() || function.size() > 64 ||
        function.find_first_of("/\\") != std::string::npos) {
      return nullptr;
    }
    std::lock_guard<std::mutex> lock(routes_mutex);
    auto it = routes.find(function);
    if (it != routes.end()) return it->second.get();
    if (routes.size() >= kRouteLimit) return nullptr;
    auto peer = std::make_unique<Peer>();
    peer->endpoint = vexlor::os::routine_endpoint(function);
    return routes.emplace(function, std::move(peer)).first->second.get();
  }

  bool connect(Peer& peer) {
    peer.unanswered = 0;
    if (peer.stream.connect(peer.endpoint, nullptr) && peer.stream.set_timeout_ms(timeout_ms)) {
      return true;
    }
    peer.stream.close();
    return false;
  }

  // Reads one reply frame; false (connection closed) when none came or it does not decode.
  bool read_reply(Peer& peer, uint32_t& sequence, Reply& reply) {
    if (peer.stream.read_frame(peer.in) == vexlor::os::IoResult::kOk &&
        vexlor::fifo::decode_reply(peer.in, sequence, reply)) {
      return true;
    }
    peer.stream.close();
    peer.unanswered = 0;
    return false;
  }

  // Sends `request` to `peer` without waiting for its reply (read later, in batches). True when
  // the request was handed to the connection.
  bool queue(PeerId id, Request& request) {
    if (!attached.load(std::memory_order_acquire)) return false;
    Peer& peer = peers[id];
    std::lock_guard<std::mutex> lock(peer.mutex);
    if (!attached.load(std::memory_order_acquire)) return false;
    if (!write_request(peer, request)) return false;
    if (++peer.unanswered >= kUnansweredLimit) {
      Reply reply;
      uint32_t sequence = 0;
      while (peer.unanswered > 0 && read_reply(peer, sequence, reply)) --peer.unanswered;
    }
    return true;
  }

  // Sends `request` one way: the peer handles it and sends no reply, so true means delivered.
  // A thread that finds the kept connection in use sends over a connection of its own and
  // waits for the reply there, as exchange() does.
  bool post(PeerId id, Request& request) {
    if (!attached.load(std::memory_order_acquire)) return false;
    Peer& peer = peers[id];
    std::unique_lock<std::mutex> lock(peer.mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
      request.sender = name;
      request.sequence = 1;
      request.one_way = false;
      Reply reply;
      return vexlor::fifo::send_request(peer.endpoint, request, &reply, timeout_ms, nullptr) &&
             reply.accepted;
    }
    if (!attached.load(std::memory_order_acquire)) return false;
    request.one_way = true;
    return write_request(peer, request);
  }

  // Writes one request frame, reconnecting once when a kept connection has gone. `fresh` tells
  // whether a failure happened on a new connection (the request surely went nowhere).
  bool write_request(Peer& peer, Request& request, bool* fresh = nullptr) {
    bool reused = peer.stream.valid();
    if (fresh != nullptr) *fresh = true;
    if (!reused && !connect(peer)) return false;
    request.sender = name;
    request.sequence = ++peer.sequence;
    vexlor::fifo::encode_request(request, peer.out);
    vexlor::os::IoResult sent = peer.stream.write_frame(peer.out);
    if (sent == vexlor::os::IoResult::kClosed && reused) {
      // The peer of a kept connection has gone (restarted, say) and the request was not
      // delivered: one fresh connection may still reach its successor.
      if (!connect(peer)) return false;
      sent = peer.stream.write_frame(peer.out);
    }
    if (sent != vexlor::os::IoResult::kOk) {
      if (fresh != nullptr) *fresh = sent == vexlor::os::IoResult::kClosed;
      peer.stream.close();
      return false;
    }
    if (fresh != nullptr) *fresh = false;
    return true;
  }

  // Reads the reply to the request just written, after the replies of queued requests.
  bool await_reply(Peer& peer, uint32_t wanted, Reply& reply) {
    uint32_t sequence = 0;
    for (;;) {
      if (!read_reply(peer, sequence, reply)) return false;
      if (sequence == wanted) return true;
      if (peer.unanswered == 0) break;
      --peer.unanswered;
    }
    peer.stream.close();
    peer.unanswered = 0;
    return false;
  }

  // Sends `request` to `peer` and waits for its reply. True with the reply when it came.
  // While another thread of this object waits on the kept connection (a pool request, say),
  // the request goes over a connection of its own, so threads never queue behind each other.
  bool exchange(PeerId id, Request& request, Reply& reply) {
    if (!attached.load(std::memory_order_acquire)) return false;
    Peer& peer = peers[id];
    std::unique_lock<std::mutex> lock(peer.mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
      request.sender = name;
      request.sequence = 1;
      return vexlor::fifo::send_request(peer.endpoint, request, &reply, timeout_ms, nullptr);
    }
    if (!attached.load(std::memory_order_acquire)) return false;
    return write_request(peer, request) && await_reply(peer, request.sequence, reply);
  }

  bool send(PeerId id, Request& request) {
    Reply reply;
    return exchange(id, request, reply) && reply.accepted;
  }

  // Whether the process serving `function` is reached directly: this routine ran it over a
  // connection that is still open at both ends.
  bool reaches(const std::string& function) {
    if (!attached.load(std::memory_order_acquire)) return false;
    Peer* peer = route(function);
    if (peer == nullptr) return false;
    std::unique_lock<std::mutex> lock(peer->mutex, std::try_to_lock);
    return lock.owns_lock() && peer->stream.peer_open();
  }

  enum class Direct { kNotDelivered, kNoAnswer, kAnswered };

  // Hands a run straight to the process serving the function. kNotDelivered when nobody took
  // it: no process serves the function, or this routine's connection to it is in use by
  // another of its threads.
  Direct run_direct(Request& request, Reply& reply) {
    if (!attached.load(std::memory_order_acquire)) return Direct::kNotDelivered;
    Peer* peer = route(request.function);
    if (peer == nullptr) return Direct::kNotDelivered;
    std::unique_lock<std::mutex> lock(peer->mutex, std::try_to_lock);
    if (!lock.owns_lock() || !attached.load(std::memory_order_acquire)) {
      return Direct::kNotDelivered;
    }
    bool fresh = true;
    if (!write_request(*peer, request, &fresh)) {
      return fresh ? Direct::kNotDelivered : Direct::kNoAnswer;
    }
    if (!await_reply(*peer, request.sequence, reply)) return Direct::kNoAnswer;
    if (!reply.accepted && reply.answer == vexlor::fifo::kNotServing) {
      return Direct::kNotDelivered;
    }
    return Direct::kAnswered;
  }
};

VFIFO::VFIFO() : channel_(new Channel) {}

VFIFO::~VFIFO() {
  if (channel_->forked()) {
    channel_->abandon();
    return;
  }
  VFIFO_Release();
  delete channel_;
}

namespace {
// A child forked from the process that made `channel` starts over with one of its own.
template <typename Channel>
void renew_if_forked(Channel*& channel) {
  if (!channel->forked()) return;
  channel->abandon();
  channel = new Channel;
}
}  // namespace

bool VFIFO::VFIFO_Initial(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  renew_if_forked(channel_);
  VFIFO_Release();  // attaching again starts from a clean state, as VMMAP_Initial does
  std::lock_guard<std::mutex> lock(channel_->state_mutex);
  if (vexlor::os::endpoint_dir(true).empty()) return false;
  channel_->name = bounded(name);
  channel_->timeout_ms = timeout_from_environment();
  // The routine's own endpoint. When another live process already serves this routine name,
  // sending still works; only requests addressed to the routine go to that other process.
  bool busy = false;
  if (channel_->own.open(vexlor::os::routine_endpoint(channel_->name), nullptr, &busy)) {
    channel_->own.serve(vexlor::fifo::own_request);
  }
  channel_->attached = true;
  return true;
}

bool VFIFO::VFIFO_Release() {
  renew_if_forked(channel_);
  std::lock_guard<std::mutex> lock(channel_->state_mutex);
  if (!channel_->attached) return false;
  channel_->attached = false;
  for (auto& peer : channel_->peers) {
    std::lock_guard<std::mutex> peer_lock(peer.mutex);
    peer.stream.close();
  }
  {
    std::lock_guard<std::mutex> routes_lock(channel_->routes_mutex);
    for (auto& [function, peer] : channel_->routes) {
      std::lock_guard<std::mutex> peer_lock(peer->mutex);
      peer->stream.close();
    }
  }
  channel_->own.stop();
  return true;
}

// ---- To the sequence manager -------------------------------------------------------------

namespace {
Request function_request(RequestType type, const char* function, const char* param,
                         const char* argument) {
  Request r;
  r.type = type;
  r.function = bounded(function);
  r.param = bounded(param);
  r.argument = bounded(argument);
  return r;
}
}  // namespace

// A run goes straight to the process that serves the function; the manager is asked only when
// nobody serves the function (it starts the program configured for it). A run that reached the
// routine but got no answer (the routine died) is not sent again: the caller decides, as for
// any refused request.
bool VFIFO::VFIFO_Function_Run(const char* function, const char* run_param, const char* parents) {
  Request r = function_request(RequestType::FunctionRun, function, run_param, parents);
  Reply reply;
  switch (channel_->run_direct(r, reply)) {
    case Channel::Direct::kAnswered:
      return reply.accepted;
    case Channel::Direct::kNoAnswer:
      return false;
    case Channel::Direct::kNotDelivered:
      break;
  }
  return channel_->send(kManager, r);
}

// The wait itself is on the run mutex; the request only asks whether a process serves the
// function. When this routine reaches that process directly, the open connection is the
// answer and nothing is sent; otherwise the request goes one way to the manager, which takes
// every wait request that reaches it.
bool VFIFO::VFIFO_Function_Wait(const char* function, const char* param, const char* argument) {
  Request r = function_request(RequestType::FunctionWait, function, param, argument);
  return channel_->reaches(r.function) || channel_->post(kManager, r);
}

bool VFIFO::VFIFO_Function_Exit(const char* function, const char* param, const char* parents) {
  Request r = function_request(RequestType::FunctionExit, function, param, parents);
  return channel_->send(kManager, r);
}

bool VFIFO::VFIFO_Function_Send_Event(const char* function, const char* message,
                                      const char* caller) {
  Request r = function_request(RequestType::SendEvent, function, message, caller);
  return channel_->send(kManager, r);
}

bool VFIFO::VFIFO_Function_Post_Event(const char* function, const char* message,
                                      const char* caller) {
  Request r = function_request(RequestType::PostEvent, function, message, caller);
  return channel_->send(kManager, r);
}

bool VFIFO::VFIFO_Function_Dnload(const char* function, const char* param, const char* caller,
                                  char* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return false;
  Request r = function_request(RequestType::Dnload, function, param, caller);
  r.capacity = capacity;
  Reply reply;
  if (!channel_->exchange(kManager, r, reply) || !reply.accepted) return false;
  vexlor::detail::copy_text(buffer, static_cast<std::size_t>(capacity), reply.answer);
  return true;
}

bool VFIFO::VFIFO_Function_Upload(const char* own_name, const char* message, const char* caller) {
  Request r = function_request(RequestType::Upload, own_name, message, caller);
  return channel_->send(kManager, r);
}

bool VFIFO::VFIFO_Function_Pool(const char* function, const char* param, const char* caller,
                                char** answer, int pool_count) {
  if (answer == nullptr) return false;
  *answer = nullptr;
  Request r = function_request(RequestType::Pool, function, nullptr, caller);
  r.param = bounded(param, vexlor::fifo::kPoolParamLimit);
  r.pool_count = pool_count;
  Reply reply;
  if (!channel_->exchange(kManager, r, reply) || !reply.accepted) return false;
  char* text = static_cast<char*>(std::malloc(reply.answer.size() + 1));
  if (text == nullptr) return false;
  std::memcpy(text, reply.answer.data(), reply.answer.size());
  text[reply.answer.size()] = '\0';
  *answer = text;
  return true;
}

void VFIFO::VFIFO_Release_Read_Mem(char** answer) {
  if (answer == nullptr) return;
  std::free(*answer);
  *answer = nullptr;
}

// ---- To the IO engine ---------------------------------------------------------------------

namespace {
Request engine_request(RequestType type, const char* kind, const char* param, const char* command,
                       int index, const char* argument) {
  Request r;
  r.type = type;
  r.kind = bounded(kind);
  r.param = bounded(param);
  r.command = bounded(command);
  r.index = index;
  r.argument = bounded(argument);
  return r;
}
}  // namespace

bool VFIFO::VFIFO_Engine_Read(const char* kind, const char* param, const char* command, int index,
                              const char* argument, char* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return false;
  Request r = engine_request(RequestType::EngineRead, kind, param, command, index, argument);
  r.capacity = capacity;
  Reply reply;
  if (!channel_->exchange(kEngine, r, reply) || !reply.accepted) return false;
  vexlor::detail::copy_text(buffer, static_cast<std::size_t>(capacity), reply.answer);
  return true;
}

bool VFIFO::VFIFO_Engine_Write(const char* kind, const char* param, const char* command, int index,
                               const char* argument) {
  Request r = engine_request(RequestType::EngineWrite, kind, param, command, index, argument);
  return channel_->send(kEngine, r);
}

bool VFIFO::VFIFO_Engine_Write_G(const char* kind, const char* param, const char* command,
                                 int index, const char* argument) {
  Request r = engine_request(RequestType::EngineWriteG, kind, param, command, index, argument);
  return channel_->send(kEngine, r);
}

bool VFIFO::VFIFO_Engine_Write_G_Queued(const char* kind, const char* param, const char* command,
                                        int index, const char* argument) {
  Request r = engine_request(RequestType::EngineWriteG, kind, param, command, index, argument);
  return channel_->queue(kEngine, r);
}

// ---- To the GUI main form -----------------------------------------------------------------

bool VFIFO::VFIFO_Gui_MainForm(const char* command, const char* text) {
  Request r;
  r.type = RequestType::GuiMainForm;
  r.command = bounded(command);
  r.text = bounded(text);
  return channel_->send(kGui, r);
}

}  // namespace Vexlor
