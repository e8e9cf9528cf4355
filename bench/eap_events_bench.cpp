// Event reports end to end: routines call VFA_Report_Event_* and a factory host receives the
// S6F11s from a real vexlor-eap (journal row committed first, then the message), answering each
// with S6F12 from its handler. The host is an HSMS session in this process; vexlor-manager and
// vexlor-eap are separate processes, the senders too.
//
// Each sender k reports its own collection event with its own variable, the string point
// BENCH.T<k>, set to the steady clock (ns) just before the report: the S6F11 carries it, so the
// host knows each event's latency from the routine's call to its arrival.
//   BM_Eap_Events_FourSenders  4 routine processes reporting as fast as they are acknowledged:
//                              events/s at the host, latency p50/p99 under that load
//   BM_Eap_Event_Latency_Idle  one event at a time, the next once the host has the last one:
//                              latency p50/p99 of a lone event
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vexlor/vexlor.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_instance.h"
#include "config/builder.h"
#include "config/loader.h"
#include "secs/session.h"
#include "util/text.h"
#include "util/vdb.h"

namespace {

using vexlor::secs::Item;
using vexlor::secs::Message;
using vexlor::secs::Session;

constexpr int kSenders = 4;
constexpr int kPerSender = 5000;
constexpr uint32_t kVid = 5001;
const uint32_t kCeids[kSenders] = {14001, 14002, 14006, 14005};  // PM_READY, START, END, STEP

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool report(int k, int i) {
  switch (k) {
    case 1: return Vexlor::VFA_Report_Event_PM_READY(i);
    case 2: return Vexlor::VFA_Report_Event_PM_START(i);
    case 3: return Vexlor::VFA_Report_Event_PM_END(i, 0);
    default: return Vexlor::VFA_Report_Event_PM_STEP_CHANGE(i, 0, "x");
  }
}

// Sender k's process: waits for a byte on `go`, reports `count` events, exits 0 when every
// report was acknowledged.
[[noreturn]] void sender_process(int k, int go, int count) {
  char byte = 0;
  if (::read(go, &byte, 1) != 1) ::_exit(80);
  const std::string name = "SENDER" + std::to_string(k);
  if (!Vexlor::VHub_Initial(name.c_str())) ::_exit(81);
  int point = -1;
  if (!Vexlor::VIO_Find_Point(&point, Vexlor::IO_S, true, ("BENCH.T" + std::to_string(k)).c_str()))
    ::_exit(82);
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    Vexlor::VString_Write_Mem(point, std::to_string(now_ns()).c_str());
    failed += report(k, i) ? 0 : 1;
  }
  Vexlor::VHub_Release();
  ::_exit(failed == 0 ? 0 : 83);
}

// The host: answers S1F13, S6F11 (keeping each event's latency) and S5F1.
class Host {
 public:
  explicit Host(int port) {
    vexlor::secs::SessionSettings s;
    s.active = true;
    s.remote_port = port;
    s.t5_ms = 100;
    Session::Handlers h;
    h.primary = [this](const Message& m) {
      const int sf = m.header.stream() * 100 + m.header.function();
      if (sf == 113) session_->reply(m, Item::list({Item::binary(0), Item::list()}));
      if (sf == 501) session_->reply(m, Item::binary(0));
      if (sf != 611) return;
      const int64_t at = now_ns();
      session_->reply(m, Item::binary(0));
      // <L DATAID CEID <L <L RPTID <L <A T>>>>>
      const auto& top = m.body.items();
      int64_t sent = 0;
      if (top.size() == 3 && top[2].items().size() == 1 &&
          top[2].items()[0].items().size() == 2 &&
          top[2].items()[0].items()[1].items().size() == 1) {
        sent = std::atoll(top[2].items()[0].items()[1].items()[0].text().c_str());
      }
      std::lock_guard<std::mutex> lock(mutex_);
      latencies_ns_.push_back(sent > 0 ? at - sent : -1);
      cv_.notify_all();
    };
    session_ = std::make_unique<Session>(s, h);
    std::string error;
    session_->start(&error);
  }
  ~Host() { session_->stop(); }
  Session& session() { return *session_; }
  bool ask_ok(int stream, int function, const Item& body) {
    for (int i = 0; i < 200; ++i) {
      const auto r = session_->request(stream, function, body);
      if (r.kind == vexlor::secs::ReplyResult::kReply) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // Waits until `count` events arrived (at most `seconds`).
  bool wait_events(std::size_t count, int seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(seconds),
                        [&] { return latencies_ns_.size() >= count; });
  }
  std::vector<int64_t> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int64_t> out;
    out.swap(latencies_ns_);
    return out;
  }

 private:
  std::unique_ptr<Session> session_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<int64_t> latencies_ns_;
};

struct Equipment {
  vexlor::bench::BenchInstance instance{"eap-bench"};
  pid_t manager = -1, eap = -1;
  std::vector<pid_t> senders;
  std::vector<int> go;  // write ends, one per sender
  std::unique_ptr<Host> host;
  int stamp_point[kSenders] = {-1, -1, -1, -1};
  bool ok = false;

  Equipment() {
    // The senders are forked first, while this process has no thread.
    for (int k = 1; k <= kSenders; ++k) {
      int fds[2];
      if (::pipe(fds) != 0) return;
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(fds[1]);
        sender_process(k, fds[0], kPerSender);
      }
      ::close(fds[0]);
      senders.push_back(pid);
      go.push_back(fds[1]);
    }
    const std::string config = std::string(std::getenv("VEXLOR_RUNTIME_DIR")) + "/equipment.toml";
    std::string text =
        "modules = [ { id = \"PM1\", name = \"PM1\", kind = \"PM\", side = 0 } ]\n"
        "functions = [ { name = \"EAP_ENGINE\" }, { name = \"BENCH\" },\n";
    for (int k = 1; k <= kSenders; ++k) text += "  { name = \"SENDER" + std::to_string(k) + "\" },\n";
    text += "]\nstring = [\n";
    for (int k = 1; k <= kSenders; ++k) text += "  { name = \"BENCH.T" + std::to_string(k) + "\" },\n";
    text += "]\n[host]\nvariables = [\n";
    for (int k = 1; k <= kSenders; ++k) {
      text += "  { vid = " + std::to_string(kVid + k - 1) + ", point = \"BENCH.T" +
              std::to_string(k) + "\" },\n";
    }
    text += "]\n[system]\ndatabase_path = \"Z:\\\\Database\"\nstandard_vocabulary = true\n";
    std::ofstream(config) << text;
    vexlor::config::DatabaseBuilder builder;
    std::string error;
    if (!vexlor::config::load_configuration(config, builder, &error, nullptr) ||
        !builder.publish(true, "eap_events_bench", &error) ||
        !vexlor::config::write_host_table(
            vexlor::detail::vdb_file_for(
                vexlor::detail::field_text(builder.system().database_path)),
            builder.host(), true, &error)) {
      std::fprintf(stderr, "eap_events_bench: %s\n", error.c_str());
      return;
    }
    manager = ::fork();
    if (manager == 0) {
      ::execl(VEXLOR_TOOLS_DIR "/vexlor-manager", "vexlor-manager", "--quiet", "--no-gui",
              "--config", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (!Vexlor::VHub_Initial("BENCH")) return;
    Vexlor::VSystem_Set_Log_Status(Vexlor::LOG_DBG, Vexlor::LOG_STATUS_OFF);
    for (int k = 0; k < kSenders; ++k) {
      Vexlor::VIO_Find_Point(&stamp_point[k], Vexlor::IO_S, true,
                             ("BENCH.T" + std::to_string(k + 1)).c_str());
    }
    int port_point = -1;
    if (!Vexlor::VIO_Find_Point(&port_point, Vexlor::IO_D, true, "FA.Local_Port")) return;
    Vexlor::VDigital_Write_Mem(port_point, 0);
    eap = ::fork();
    if (eap == 0) {
      if (std::freopen("/dev/null", "w", stdout) == nullptr) ::_exit(126);
      ::execl(VEXLOR_TOOLS_DIR "/vexlor-eap", "vexlor-eap", "--port", "0",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int port = 0;
    for (int i = 0; i < 1000 && port <= 0; ++i) {
      port = Vexlor::VDigital_Read_Mem(port_point);
      if (port <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (port <= 0) return;
    host = std::make_unique<Host>(port);
    // Online; report k (the variable BENCH.T<k>) on sender k's event, every event enabled.
    std::vector<Item> defs, links, ceids;
    for (int k = 0; k < kSenders; ++k) {
      defs.push_back(Item::list({Item::u4(k + 1), Item::list({Item::u4(kVid + k)})}));
      links.push_back(Item::list({Item::u4(kCeids[k]), Item::list({Item::u4(k + 1)})}));
      ceids.push_back(Item::u4(kCeids[k]));
    }
    ok = host->ask_ok(1, 17, Item::list()) &&
         host->ask_ok(2, 33, Item::list({Item::u4(1), Item::list(defs)})) &&
         host->ask_ok(2, 35, Item::list({Item::u4(2), Item::list(links)})) &&
         host->ask_ok(2, 37, Item::list({Item::boolean(true), Item::list(ceids)}));
  }
  ~Equipment() {
    host.reset();
    Vexlor::VHub_Release();
    for (int fd : go) ::close(fd);
    for (pid_t pid : senders) ::waitpid(pid, nullptr, 0);
    for (pid_t pid : {eap, manager}) {
      if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
      }
    }
    vexlor::config::remove_database(nullptr);
  }
};

Equipment& equipment() {
  static Equipment e;
  return e;
}

// p50 and p99 of the latencies, in microseconds.
void report_latency(benchmark::State& state, std::vector<int64_t> ns) {
  if (ns.empty()) return;
  std::sort(ns.begin(), ns.end());
  state.counters["p50_us"] = static_cast<double>(ns[ns.size() / 2]) / 1e3;
  state.counters["p99_us"] = static_cast<double>(ns[ns.size() * 99 / 100]) / 1e3;
  state.counters["max_us"] = static_cast<double>(ns.back()) / 1e3;
}

void BM_Eap_Events_FourSenders(benchmark::State& state) {
  Equipment& e = equipment();
  if (!e.ok) return state.SkipWithError("the equipment did not come up");
  const std::size_t total = static_cast<std::size_t>(kSenders) * kPerSender;
  std::vector<int64_t> latencies;
  double seconds = 0;
  for (auto _ : state) {
    e.host->take();
    const auto start = std::chrono::steady_clock::now();
    for (int fd : e.go) {
      const char byte = 1;
      if (::write(fd, &byte, 1) != 1) return state.SkipWithError("a sender is gone");
    }
    if (!e.host->wait_events(total, 120)) return state.SkipWithError("events missing at the host");
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    latencies = e.host->take();
    for (pid_t pid : e.senders) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return state.SkipWithError("a report was not acknowledged");
      }
    }
    e.senders.clear();
  }
  state.counters["events"] = static_cast<double>(latencies.size());
  state.counters["events_per_s"] = static_cast<double>(latencies.size()) / seconds;
  report_latency(state, latencies);
}
// The senders report once: one iteration (they started processes and report 4 x 5,000 events).
BENCHMARK(BM_Eap_Events_FourSenders)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Eap_Event_Latency_Idle(benchmark::State& state) {
  Equipment& e = equipment();
  if (!e.ok) return state.SkipWithError("the equipment did not come up");
  e.host->take();
  std::size_t seen = 0;
  int i = 0;
  for (auto _ : state) {
    Vexlor::VString_Write_Mem(e.stamp_point[1], std::to_string(now_ns()).c_str());
    // This process reports as sender 2 would: the same event and variable.
    if (!Vexlor::VFA_Report_Event_PM_START(i++)) return state.SkipWithError("not acknowledged");
    if (!e.host->wait_events(++seen, 10)) return state.SkipWithError("event missing at the host");
  }
  report_latency(state, e.host->take());
}
BENCHMARK(BM_Eap_Event_Latency_Idle)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
