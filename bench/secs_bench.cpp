// The HSMS session's round trip next to the raw TCP round trip it rides on: S1F1 W / S1F2
// through two Sessions on loopback (an active "host" and a passive equipment answering from its
// handler) against a request/reply of the same frame sizes bounced between two threads over a
// loopback TCP connection with plain send/recv. The ratio is what the session adds: encoding,
// decoding, the reading thread, matching the reply by its system bytes, waking the caller.
//
// Events with the host answering each: S6F11 W / S6F12 with up to 64 transactions open at once,
// reported as events per second.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "secs/session.h"

namespace {

using namespace vexlor::secs;

const Item& s1f2_body() {
  static const Item body = Item::list({Item::ascii("VEXLOR"), Item::ascii("0.1.0")});
  return body;
}

// A passive equipment and an active host; ready() waits until both are selected.
struct Pair {
  std::unique_ptr<Session> equipment, host;

  explicit Pair(std::function<void(Session&, const Message&)> equipment_answer,
                std::function<void(Session&, const Message&)> host_answer) {
    SessionSettings e;
    e.local_port = 0;
    Session::Handlers eh;
    eh.primary = [this, equipment_answer](const Message& m) { equipment_answer(*equipment, m); };
    equipment = std::make_unique<Session>(e, eh);
    std::string error;
    if (!equipment->start(&error)) return;
    SessionSettings h;
    h.active = true;
    h.remote_port = equipment->port();
    Session::Handlers hh;
    hh.primary = [this, host_answer](const Message& m) { host_answer(*host, m); };
    host = std::make_unique<Session>(h, hh);
    host->start(&error);
  }
  ~Pair() {
    if (host) host->stop();
    equipment->stop();
  }
  bool ready() {
    for (int i = 0; i < 500; ++i) {
      if (host && host->state() == SessionState::kSelected &&
          equipment->state() == SessionState::kSelected) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

std::size_t frame_size(const Message& m) {
  std::string out;
  encode_frame(m, &out);
  return out.size();
}

void BM_Secs_S1F1_RoundTrip(benchmark::State& state) {
  Pair pair([](Session& s, const Message& m) { s.reply(m, s1f2_body()); },
            [](Session&, const Message&) {});
  if (!pair.ready()) return state.SkipWithError("the sessions did not select");
  for (auto _ : state) {
    const ReplyResult r = pair.host->request(1, 1, Item(), false);
    if (r.kind != ReplyResult::kReply) {
      state.SkipWithError("no reply");
      break;
    }
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_Secs_S1F1_RoundTrip)->UseRealTime();

// Raw: a loopback TCP connection, a thread that reads the request's bytes and writes the
// reply's bytes, the caller writing and reading the same sizes with plain send/recv.
void BM_Raw_Tcp_RoundTrip(benchmark::State& state) {
  const std::size_t up = frame_size(data_message(0, 1, 1, true, Item(), false));
  const std::size_t down = frame_size(data_message(0, 1, 2, false, s1f2_body()));
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(listener);
    return state.SkipWithError("listen failed");
  }
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  if (connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(listener);
    ::close(client);
    return state.SkipWithError("connect failed");
  }
  const int server = accept(listener, nullptr, nullptr);
  const int one = 1;
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  std::thread echo([&] {
    char buf[512];
    const std::string reply(down, 'r');
    while (true) {
      std::size_t got = 0;
      while (got < up) {
        const ssize_t n = recv(server, buf, sizeof buf, 0);
        if (n <= 0) return;
        got += static_cast<std::size_t>(n);
      }
      if (send(server, reply.data(), down, MSG_NOSIGNAL) != static_cast<ssize_t>(down)) return;
    }
  });
  const std::string request(up, 'q');
  char buf[512];
  for (auto _ : state) {
    if (send(client, request.data(), up, MSG_NOSIGNAL) != static_cast<ssize_t>(up)) break;
    std::size_t got = 0;
    while (got < down) {
      const ssize_t n = recv(client, buf, sizeof buf, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  }
  shutdown(client, SHUT_RDWR);
  echo.join();
  ::close(client);
  ::close(server);
  ::close(listener);
}
BENCHMARK(BM_Raw_Tcp_RoundTrip)->UseRealTime();

// Events: the equipment sends S6F11 W, the host answers S6F12 from its handler; at most 64 open.
void BM_Secs_S6F11_Events_Window64(benchmark::State& state) {
  Pair pair([](Session&, const Message&) {},
            [](Session& s, const Message& m) { s.reply(m, Item::binary(0)); });
  if (!pair.ready()) return state.SkipWithError("the sessions did not select");
  std::mutex mutex;
  std::condition_variable cv;
  int open = 0;
  bool failed = false;
  const Item report = Item::list(
      {Item::u4(1), Item::u4(11),
       Item::list({Item::list({Item::u4(100), Item::list({Item::ascii("LOT1"), Item::u4(3)})})})});
  auto done = [&](const ReplyResult& r) {
    std::lock_guard<std::mutex> lock(mutex);
    --open;
    failed = failed || r.kind != ReplyResult::kReply;
    cv.notify_one();
  };
  for (auto _ : state) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      cv.wait(lock, [&] { return open < 64; });
      ++open;
    }
    if (!pair.equipment->send(6, 11, true, report, done)) {
      state.SkipWithError("send failed");
      break;
    }
  }
  std::unique_lock<std::mutex> lock(mutex);
  cv.wait_for(lock, std::chrono::seconds(10), [&] { return open == 0; });
  if (failed || open != 0) state.SkipWithError("an event got no reply");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Secs_S6F11_Events_Window64)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
