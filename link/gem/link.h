// The two seams of the GEM equipment: the link it talks to the host on (an HSMS session, or a
// test's fake) and the runtime it reads values from and acts on (the equipment's points and
// routines, or a test's fake).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "gem/mapping.h"
#include "secs/message.h"
#include "secs/session.h"

namespace vexlor::gem {

class Link {
 public:
  using Done = std::function<void(const secs::ReplyResult&)>;
  virtual ~Link() = default;
  // A primary to the host; with W-bit `done` gets the reply, a T3 timeout, the connection's
  // end or an abort. False (done not called) when it cannot be sent now.
  virtual bool send(int stream, int function, bool wbit, const secs::Item& body, Done done) = 0;
  virtual bool reply(const secs::Message& primary, const secs::Item& body) = 0;
  virtual bool abort(const secs::Message& primary) = 0;  // SxF0
  virtual bool send_s9(int function, const secs::Header& about) = 0;
};

enum class CommState { kDisabled, kWaitCra, kWaitDelay, kCommunicating };
// "DISABLED", "WAIT CRA", "WAIT DELAY", "COMMUNICATING"
const char* comm_state_name(CommState state);

// The values are those of the point GEM.Control_State.
enum class ControlState {
  kEquipmentOffline = 1,
  kAttemptOnline = 2,
  kHostOffline = 3,
  kOnlineLocal = 4,
  kOnlineRemote = 5,
};
// "EQUIPMENT OFFLINE", "ATTEMPT ONLINE", "HOST OFFLINE", "ONLINE LOCAL", "ONLINE REMOTE"
const char* control_state_name(ControlState state);

// What the runtime side sees of the link (mirrored into the GEM. points).
struct LinkView {
  bool enabled = false;
  CommState comm = CommState::kDisabled;
  ControlState control = ControlState::kHostOffline;
  int64_t spool_count = 0;
  std::string spool_state;  // "INACTIVE", "NOT FULL", "FULL", "NO SPOOL OUTPUT", "TRANSMIT SPOOL"
};

class Runtime {
 public:
  virtual ~Runtime() = default;
  // A variable's value now, as an item of its format (a missing point: an empty item).
  virtual secs::Item read(const VariableDef& variable) = 0;
  // An equipment constant with a point: read and write it. False when the point is missing.
  virtual bool read_constant(const ConstantDef& constant, double* value) = 0;
  virtual bool write_constant(const ConstantDef& constant, double value) = 0;
  // Starts a routine with an argument text: HCACK 4 (started, ends later), 3 (no such routine)
  // or 2 (cannot be run now).
  virtual int run(const std::string& routine, const std::string& args) = 0;
  // Shows a host's terminal message to the operator: ACKC10 0 (shown), 2 (no terminal).
  virtual int show_message(int tid, const std::string& text) = 0;
  virtual void link_state(const LinkView& view) = 0;
};

}  // namespace vexlor::gem
