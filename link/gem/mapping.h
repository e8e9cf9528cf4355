// The mapping table from the runtime to GEM: which collection event (CEID) each event line is,
// which point each variable (VID) reads, which point each equipment constant (ECID) is with its
// limits, the alarm IDs (ALID) with their texts, and the remote commands with the routine each
// runs. One table per equipment; the default table covers the standard vocabulary.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "secs/item.h"

namespace vexlor::gem {

struct EventDef {
  uint32_t ceid = 0;
  std::string name;   // CARRIER_CLAMPED
  std::string token;  // CARRIER_ACTION
  int code = 0;       // 11
};

// Variables the equipment computes itself (no point behind them).
enum class Builtin {
  kNone,
  kClock,
  kControlState,
  kPreviousControlState,
  kEventsEnabled,
  kAlarmsEnabled,
  kAlarmsSet,
  kSpoolCountActual,
  kSpoolCountTotal,
  kCommState,
};

struct VariableDef {
  uint32_t vid = 0;
  std::string name;   // GEM.PortID, or the built-in's name (Clock)
  bool status = true;  // true: SV (also in S1F3), false: DV (event reports only)
  secs::Format format = secs::Format::kAscii;
  std::string point;  // the point it reads ("" for a built-in)
  int point_kind = 0;  // 0 digital, 1 analog, 2 string (the runtime's IO_TYPE)
  Builtin builtin = Builtin::kNone;
  std::string unit;
};

struct ConstantDef {
  uint32_t ecid = 0;
  std::string name;
  std::string point;  // "" for a constant kept by the host link alone
  int point_kind = 0;
  double min = 0, max = 0, def = 0;
  std::string unit;
  secs::Format format = secs::Format::kU4;
};

struct AlarmDef {
  uint32_t alid = 0;
  std::string text;  // ALTX: at most 120 characters, cut to 40 when sent
};

struct CommandDef {
  std::string rcmd;
  std::string routine;              // "" : the routine is the parameter ROUTINE
  std::vector<std::string> params;  // the parameter names, in the order of the argument text
  // How the parameters become the routine's argument text: "{NAME}" is replaced by the value of
  // parameter NAME. Empty: the values joined by ",". The command RUN takes ARGS as it is.
  std::string args;
};

// Names of the equipment constants the host link itself acts on.
inline constexpr const char* kSpoolEnableName = "SpoolEnable";
inline constexpr const char* kSpoolMaxName = "SpoolMax";
inline constexpr const char* kOverWriteSpoolName = "OverWriteSpool";
inline constexpr const char* kMaxSpoolTransmitName = "MaxSpoolTransmit";
inline constexpr const char* kTimeFormatName = "TimeFormat";
inline constexpr const char* kEstablishTimeoutName = "EstablishCommunicationsTimeout";

struct Mapping {
  std::vector<EventDef> events;
  std::vector<VariableDef> variables;
  std::vector<ConstantDef> constants;
  std::vector<AlarmDef> alarms;
  std::vector<CommandDef> commands;

  const EventDef* event_by_name(std::string_view name) const;
  const EventDef* event(uint32_t ceid) const;
  const VariableDef* variable(uint32_t vid) const;
  const ConstantDef* constant(uint32_t ecid) const;
  const ConstantDef* constant_by_name(std::string_view name) const;
  const AlarmDef* alarm(uint32_t alid) const;
  const CommandDef* command(std::string_view rcmd) const;

  // {"events":[...],"variables":[...],"constants":[...],"alarms":[...],"commands":[...]}
  std::string to_json() const;
  // A table for people: one section per kind.
  std::string to_text() const;
};

// The collection events of every event line (stable CEIDs: 1000 times the token's group
// number plus the line's code), in line-table order.
std::vector<EventDef> standard_events();

// The variables and constants of the standard vocabulary with their VIDs and ECIDs: the
// built-in status variables (1 to 9), the "GEM." data variables of the event lines (DVs from
// 1001), the "GEM." status points (SVs from 2001) and the "FA." settings (SVs from 3001), in
// the order of the item tables; then the link's constants (ECIDs 1 to 12).
std::vector<VariableDef> standard_variables();
std::vector<ConstantDef> standard_constants();

// The command RUN: parameters ROUTINE (a function name) and ARGS (its argument text).
CommandDef run_command();

// Fills `value` with the text of `args` with every {NAME} replaced; false (with the name in
// `missing`) when a placeholder names no parameter.
bool expand_arguments(const CommandDef& command,
                      const std::vector<std::pair<std::string, std::string>>& values,
                      std::string* text, std::string* missing);

}  // namespace vexlor::gem
