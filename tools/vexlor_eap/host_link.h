// vexlor-eap's side of the GEM equipment: the runtime seam on the equipment's points and
// routines, the mapping table of the attached equipment, the link settings from the "FA."
// points, and the bounded message trace that `vexlor host trace` shows.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "gem/equipment.h"
#include "gem/mapping.h"
#include "mapping_table.h"
#include "secs/session.h"

namespace vexlor_eap {

// The link's settings: the FA. points, with what the command line overrides.
struct LinkOverrides {
  std::optional<int> port, remote_port, device_id, t3, t5, t6, t7, t8, linktest;
  std::optional<std::string> local_ip, remote_ip;
  bool active = false;
};
struct LinkSettings {
  vexlor::secs::SessionSettings session;
  vexlor::gem::GemSettings gem;
};
LinkSettings link_settings(const LinkOverrides& overrides);


class EapRuntime : public vexlor::gem::Runtime {
 public:
  vexlor::secs::Item read(const vexlor::gem::VariableDef& variable) override;
  bool read_constant(const vexlor::gem::ConstantDef& constant, double* value) override;
  bool write_constant(const vexlor::gem::ConstantDef& constant, double value) override;
  int run(const std::string& routine, const std::string& args) override;
  int show_message(int tid, const std::string& text) override;
  void link_state(const vexlor::gem::LinkView& view) override;

 private:
  int point(const std::string& name, int kind);
  std::mutex mutex_;
  std::map<std::string, int> points_;  // name -> index (-1: missing)
};

// The last messages in and out, as SML-like text with a time stamp and direction.
class MessageTrace {
 public:
  explicit MessageTrace(std::size_t capacity) : capacity_(capacity) {}
  void add(vexlor::secs::Direction direction, const vexlor::secs::Message& message);
  // {"messages":[{"time":"...","dir":"in"|"out","name":"S6F11 W","system":N,"sml":"..."}...]}
  std::string json() const;
  std::string text() const;

 private:
  struct Entry {
    std::string time, dir, name, sml;
    uint32_t system = 0;
  };
  mutable std::mutex mutex_;
  std::size_t capacity_;
  std::deque<Entry> entries_;
};

// The link's status for `vexlor host` (JSON): state, peer, counters, spool.
std::string status_json(const vexlor::secs::SessionCounters& counters,
                        vexlor::secs::SessionState state, const vexlor::gem::GemStatus& gem,
                        int port, double in_per_second, double out_per_second);

}  // namespace vexlor_eap
