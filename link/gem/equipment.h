// The GEM equipment: the communication and control state models, the host's messages the
// equipment answers (streams 1, 2, 5, 6, 10), dynamic event reports, alarm reports, remote
// commands, terminal services, the clock offset, trace data collection and spooling. It talks
// to the host through a Link and to the equipment through a Runtime, so it runs the same over
// an HSMS session and in a test without sockets.
//
// Threads: every public call may come from any thread. Messages to the host leave in the order
// the equipment made them; several transactions may be open at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "gem/link.h"
#include "gem/mapping.h"
#include "gem/store.h"

namespace vexlor::gem {

struct GemSettings {
  bool enabled = true;                                  // communication enabled at start
  ControlState initial = ControlState::kHostOffline;    // initial control state
  bool remote = true;                                   // the operator's local/remote switch
  std::string model;                                    // MDLN (at most 20 characters)
  std::string soft_revision;                            // SOFTREV (at most 20 characters)
};

// A message made when something happened (its values captured then), sent later.
struct Prepared {
  bool valid = false;
  int stream = 0, function = 0;
  secs::Item body;
  bool spoolable = true;
};

struct GemStatus {
  LinkView view;
  ControlState previous_control = ControlState::kHostOffline;
  uint64_t events_sent = 0, events_spooled = 0, events_dropped = 0;
  uint64_t alarms_sent = 0;
  uint64_t spool_total = 0;  // messages spooled since the spool was last emptied
  int64_t clock_offset_ms = 0;
  std::size_t traces = 0;
};

class GemEquipment {
 public:
  using Clock = std::chrono::steady_clock;

  GemEquipment(Mapping mapping, Runtime& runtime, Store* store, GemSettings settings);
  ~GemEquipment();
  GemEquipment(const GemEquipment&) = delete;
  GemEquipment& operator=(const GemEquipment&) = delete;

  // Loads the host's definitions from the store and writes the kept constant values to their
  // points. With `worker`, a thread calls tick() every 10 ms (retries of S1F13, trace samples).
  bool start(std::string* error, bool worker = true);
  void stop();

  // The link to use (null: none). Call before the link's first callback.
  void set_link(Link* link);

  // ---- From the link ----
  void on_selected(bool selected);
  void on_primary(const secs::Message& message);

  // ---- From the equipment ----
  // The collection event `name` (an event line's event) with the values of its linked
  // reports now; invalid when the event is unknown or not enabled.
  Prepared prepare_event(std::string_view name);
  // S5F1 for an alarm set or cleared; invalid when the host disabled the alarm. `text` is used
  // when the table has no text for the alarm.
  Prepared prepare_alarm(uint32_t alid, bool set, const std::string& text);
  // S10F1 with a terminal text.
  Prepared prepare_terminal(int tid, const std::string& text);
  // Sends a prepared message, spools it while communication is down (when spooling is on), or
  // drops it while the equipment is offline.
  void deliver(Prepared message);
  // Puts messages made before a restart, which never reached the link, in the spool, in order
  // (whatever the control state now; SpoolEnable and SpoolMax still apply).
  void restore(std::vector<Prepared> messages);

  // The operator's requests. The return value says what to do with the connection.
  enum class LinkAction { kNone, kStart, kStop, kReconnect };
  LinkAction request(std::string_view token);

  // Timers: the S1F13 retry in WAIT DELAY and the trace samples due at `now`.
  void tick(Clock::time_point now);

  GemStatus status() const;
  const Mapping& mapping() const { return mapping_; }
  Definitions definitions() const;

  // The equipment's clock: the machine's time plus the offset the host set (S2F31), as the
  // TIME text of the configured format.
  std::string clock_text() const;

 private:
  struct Trace {
    uint32_t trid = 0;
    std::chrono::milliseconds period{0};
    uint32_t total = 0, group = 1, taken = 0;
    std::vector<uint32_t> svids;
    std::vector<secs::Item> pending;  // sample values of the group in progress
    Clock::time_point next;
  };
  struct Outgoing {
    int64_t seq = 0;
    int stream = 0, function = 0;
    bool wbit = true;
    secs::Item body;
    bool spoolable = true;
  };

  // Handlers of the host's primaries; each returns the reply body (false: no reply made here).
  void handle(const secs::Message& m);
  secs::Item s1f3(const secs::Item& body);
  secs::Item s1f11(const secs::Item& body);
  secs::Item s1f17(std::vector<Prepared>* events);
  secs::Item s2f13(const secs::Item& body);
  secs::Item s2f15(const secs::Item& body);
  secs::Item s2f23(const secs::Item& body);
  secs::Item s2f29(const secs::Item& body);
  secs::Item s2f31(const secs::Item& body);
  secs::Item s2f33(const secs::Item& body);
  secs::Item s2f35(const secs::Item& body);
  secs::Item s2f37(const secs::Item& body);
  secs::Item s2f41(const secs::Item& body);
  secs::Item s5f3(const secs::Item& body);
  secs::Item s5f5(const secs::Item& body);
  secs::Item s6f15(const secs::Item& body);
  secs::Item s6f23(const secs::Item& body);
  secs::Item s10f3(const secs::Item& body);

  // Under mutex_.
  secs::Item value_locked(const VariableDef& v);
  secs::Item event_body_locked(uint32_t ceid);
  double constant_locked(const ConstantDef& c);
  double constant_named_locked(const char* name, double missing);
  void set_control_locked(ControlState state, std::vector<Prepared>* transition_events);
  void set_comm_locked(CommState state, std::vector<Prepared>* transition_events);
  bool online_locked() const;
  void save_locked();
  LinkView view_locked();
  std::string spool_state_locked();
  void spool_locked(const Outgoing& o);

  // Not under mutex_.
  void publish();
  void flush();
  void send_establish();
  void attempt_online();
  void unload_spool();
  void send_now(const std::vector<Prepared>& messages, bool force);
  void enqueue(Prepared p, bool force);

  Mapping mapping_;
  Runtime& runtime_;
  Store* store_;
  GemSettings settings_;

  mutable std::mutex mutex_;
  Link* link_ = nullptr;
  bool selected_ = false;
  bool enabled_ = true;
  CommState comm_ = CommState::kDisabled;
  ControlState control_ = ControlState::kHostOffline;
  ControlState previous_control_ = ControlState::kHostOffline;
  ControlState offline_before_attempt_ = ControlState::kHostOffline;
  bool remote_ = true;
  Clock::time_point retry_at_{};
  Definitions defs_;
  std::set<uint32_t> alarms_set_;
  std::map<uint32_t, Trace> traces_;
  uint32_t dataid_ = 0;
  int64_t seq_ = 0;
  std::deque<Outgoing> outbox_;
  bool transmitting_ = false;
  GemStatus counters_;

  int64_t spool_count_ = 0;

  std::mutex send_mutex_;     // keeps the order of what leaves
  std::mutex publish_mutex_;  // keeps the order of what the runtime is told

  std::thread worker_;
  std::thread unloader_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;
};

}  // namespace vexlor::gem
