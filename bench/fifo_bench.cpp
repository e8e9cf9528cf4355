// The message queue's round trip next to the raw transport it wraps: one VFIFO_Engine_Read
// through a live endpoint server (another thread of this process, a real Unix stream socket)
// against a raw ping-pong of the same frame sizes over a Unix stream socket pair between two
// threads. The ratio is what the queue adds: encoding, sequence check, dispatch.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>
#include <vexlor/vfifo.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

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

}  // namespace

BENCHMARK_MAIN();
