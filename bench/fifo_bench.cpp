// The message queue's round trip next to the raw transport it wraps: one VFIFO_Engine_Read
// through a live endpoint server (another thread of this process, a real Unix stream socket)
// against a raw ping-pong of the same frame sizes over a Unix stream socket pair between two
// threads. The ratio is what the queue adds: encoding, sequence check, dispatch.
//
// Under load: 4 client processes each doing engine reads through a running vexlor-manager
// (its record and log included), next to 4 client processes bouncing the same frames off a
// raw server process with a thread per connection. Both report round_trip_us, the mean time
// of one client's round trip while all 4 run.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vexlor/vfifo.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_instance.h"
#include "fifo/fifo_server.h"
#include "os/local_endpoint.h"

namespace {

using vexlor::bench::BenchInstance;

// Sizes of the request and reply frames of one engine read, for the raw ping-pong.
std::size_t request_bytes() {
  vexlor::fifo::Request r;
  r.type = vexlor::fifo::RequestType::EngineRead;
  r.sender = "BENCH";
  r.kind = "$D";
  r.param = "P7";
  r.command = "R1";
  r.argument = "-";
  std::string out;
  vexlor::fifo::encode_request(r, out);
  return out.size();
}

std::size_t reply_bytes() {
  std::string out;
  vexlor::fifo::encode_reply(1, vexlor::fifo::Reply{true, "0"}, out);
  return out.size();
}

void BM_VFIFO_Engine_Read(benchmark::State& state) {
  BenchInstance instance("fifo-bench");
  vexlor::fifo::EndpointServer engine;
  std::string error;
  if (!engine.open(vexlor::os::kEngineEndpoint, &error) ||
      !engine.serve([](const vexlor::fifo::Request&) {
        return vexlor::fifo::Reply{true, "0"};
      })) {
    state.SkipWithError(error.c_str());
    return;
  }
  Vexlor::VFIFO fifo;
  fifo.VFIFO_Initial("BENCH");
  char buffer[64];
  for (auto _ : state) {
    if (!fifo.VFIFO_Engine_Read("$D", "P7", "R1", 0, "-", buffer, sizeof buffer)) {
      state.SkipWithError("engine read failed");
      break;
    }
    benchmark::DoNotOptimize(buffer);
  }
  fifo.VFIFO_Release();
  engine.stop();
}
BENCHMARK(BM_VFIFO_Engine_Read)->UseRealTime();

// Raw: the same frame sizes bounced over a socket pair, through the same framing calls.
void BM_Raw_Stream_PingPong(benchmark::State& state) {
  vexlor::os::LocalStream client, server;
  if (!vexlor::os::local_stream_pair(client, server)) {
    state.SkipWithError("socketpair failed");
    return;
  }
  const std::string request(request_bytes(), 'q'), reply(reply_bytes(), 'r');
  std::thread echo([&] {
    std::string in;
    while (server.read_frame(in) == vexlor::os::IoResult::kOk) {
      if (server.write_frame(reply) != vexlor::os::IoResult::kOk) break;
    }
  });
  std::string in;
  for (auto _ : state) {
    if (client.write_frame(request) != vexlor::os::IoResult::kOk ||
        client.read_frame(in) != vexlor::os::IoResult::kOk) {
      state.SkipWithError("ping-pong failed");
      break;
    }
    benchmark::DoNotOptimize(in);
  }
  client.shutdown();
  echo.join();
}
BENCHMARK(BM_Raw_Stream_PingPong)->UseRealTime();

// Raw with plain write/read calls, no framing code at all.
void BM_Raw_Socket_PingPong(benchmark::State& state) {
  vexlor::os::LocalStream client, server;
  if (!vexlor::os::local_stream_pair(client, server)) {
    state.SkipWithError("socketpair failed");
    return;
  }
  const std::size_t up = 4 + request_bytes(), down = 4 + reply_bytes();
  int c = static_cast<int>(client.native()), s = static_cast<int>(server.native());
  std::thread echo([&] {
    char buf[512];
    std::string reply(down, 'r');
    while (true) {
      std::size_t got = 0;
      while (got < up) {
        ssize_t n = ::read(s, buf, sizeof buf);
        if (n <= 0) return;
        got += static_cast<std::size_t>(n);
      }
      if (::write(s, reply.data(), down) != static_cast<ssize_t>(down)) return;
    }
  });
  std::string request(up, 'q');
  char buf[512];
  for (auto _ : state) {
    if (::write(c, request.data(), up) != static_cast<ssize_t>(up)) break;
    std::size_t got = 0;
    while (got < down) {
      ssize_t n = ::read(c, buf, sizeof buf);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  }
  client.shutdown();
  echo.join();
}
BENCHMARK(BM_Raw_Socket_PingPong)->UseRealTime();

// ---- 4 client processes ---------------------------------------------------------------------

constexpr int kClients = 4;
constexpr int kRoundTrips = 10000;  // per client and measured run

// Runs `body` in kClients forked processes; each calls it once to set up (argument -1), reports
// ready, and on the go signal runs it kRoundTrips times. Returns the wall time of the runs, or
// a negative value when a client failed.
double run_clients(const std::function<bool(int)>& body) {
  int ready[2], go[2];
  if (::pipe(ready) != 0 || ::pipe(go) != 0) return -1;
  std::vector<pid_t> children;
  for (int c = 0; c < kClients; ++c) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(ready[0]);
      ::close(go[1]);
      char byte = body(-1) ? 1 : 0;
      if (::write(ready[1], &byte, 1) != 1 || byte == 0) ::_exit(1);
      if (::read(go[0], &byte, 1) != 1) ::_exit(1);
      for (int i = 0; i < kRoundTrips; ++i) {
        if (!body(i)) ::_exit(2);
      }
      ::_exit(0);
    }
    if (pid > 0) children.push_back(pid);
  }
  ::close(ready[1]);
  ::close(go[0]);
  bool ok = children.size() == static_cast<std::size_t>(kClients);
  for (int c = 0; c < kClients && ok; ++c) {
    char byte = 0;
    ok = ::read(ready[0], &byte, 1) == 1 && byte == 1;
  }
  auto start = std::chrono::steady_clock::now();
  if (ok) ok = ::write(go[1], std::string(kClients, 'g').data(), kClients) == kClients;
  ::close(go[1]);
  for (pid_t pid : children) {
    int status = 0;
    if (!ok) ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(ready[0]);
  return ok ? seconds : -1;
}

void report(benchmark::State& state, double seconds) {
  state.SetIterationTime(seconds);
  benchmark::Counter& counter = state.counters["round_trip_us"];
  counter.flags = benchmark::Counter::kAvgIterations;
  counter.value += seconds * 1e6 / kRoundTrips;
  state.SetItemsProcessed(state.items_processed() + int64_t{kClients} * kRoundTrips);
}

// The vexlor-manager built next to this program (build/<preset>/tools).
std::string manager_tool() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "tools" / "vexlor-manager").string();
}

void BM_Manager_EngineRead_4Clients(benchmark::State& state) {
  BenchInstance instance("fifo-bench-manager");
  std::string tool = manager_tool();
  pid_t manager = ::fork();
  if (manager == 0) {
    ::execl(tool.c_str(), tool.c_str(), "--quiet", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  bool up = false;
  for (int i = 0; i < 500 && !up; ++i) {
    up = vexlor::fifo::query_record(vexlor::os::kEngineEndpoint, 0, nullptr, nullptr, 500);
    if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!up) state.SkipWithError(("vexlor-manager did not start: " + tool).c_str());
  Vexlor::VFIFO fifo;
  char buffer[64];
  for (auto _ : state) {
    if (!up) break;
    double seconds = run_clients([&](int i) {
      if (i < 0) {
        return fifo.VFIFO_Initial(("BENCH" + std::to_string(::getpid())).c_str()) &&
               fifo.VFIFO_Engine_Read("$D", "P7", "R1", 0, "-", buffer, sizeof buffer);
      }
      return fifo.VFIFO_Engine_Read("$D", "P7", "R1", i, "-", buffer, sizeof buffer);
    });
    if (seconds < 0) {
      state.SkipWithError("a client failed");
      break;
    }
    report(state, seconds);
  }
  ::kill(manager, SIGTERM);
  ::waitpid(manager, nullptr, 0);
}
BENCHMARK(BM_Manager_EngineRead_4Clients)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Raw: a server process with a thread per connection answering each frame with a frame of the
// reply's size, through the same framing calls; the clients send frames of the request's size.
void BM_Raw_Server_PingPong_4Clients(benchmark::State& state) {
  BenchInstance instance("fifo-bench-raw");
  int ready[2];
  if (::pipe(ready) != 0) return state.SkipWithError("pipe failed");
  pid_t server = ::fork();
  if (server == 0) {
    vexlor::os::LocalListener listener;
    char byte = listener.open("rawbench", nullptr) ? 1 : 0;
    if (::write(ready[1], &byte, 1) != 1 || byte == 0) ::_exit(1);
    const std::string reply(reply_bytes(), 'r');
    while (true) {
      vexlor::os::LocalStream stream = listener.accept(-1);
      if (!stream.valid()) continue;
      std::thread([s = std::move(stream), &reply]() mutable {
        std::string in;
        while (s.read_frame(in) == vexlor::os::IoResult::kOk) {
          if (s.write_frame(reply) != vexlor::os::IoResult::kOk) break;
        }
      }).detach();
    }
  }
  char byte = 0;
  if (::read(ready[0], &byte, 1) != 1 || byte != 1) state.SkipWithError("raw server failed");
  const std::string request(request_bytes(), 'q');
  vexlor::os::LocalStream client;
  std::string in;
  for (auto _ : state) {
    if (byte != 1) break;
    double seconds = run_clients([&](int i) {
      if (i < 0 && !client.connect("rawbench", nullptr)) return false;
      return client.write_frame(request) == vexlor::os::IoResult::kOk &&
             client.read_frame(in) == vexlor::os::IoResult::kOk;
    });
    if (seconds < 0) {
      state.SkipWithError("a client failed");
      break;
    }
    report(state, seconds);
  }
  ::kill(server, SIGKILL);
  ::waitpid(server, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
}
BENCHMARK(BM_Raw_Server_PingPong_4Clients)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
