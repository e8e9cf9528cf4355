// The mapping table: the standard events, variables and constants, lookups, and its JSON and
// text forms.
#include "gem/mapping.h"

#include <cstdio>
#include <set>

namespace vexlor::gem {
namespace {

// The token groups in a fixed order: a group's number times 1000 plus the line's code is the
// CEID. New groups are only ever appended, so a CEID never changes. The port-service events
// and the substrate-ID events share the token SUBST_MID; the substrate-ID events have a group
// of their own.
constexpr const char* kGroups[] = {
    "ALARM_REPORT",  "CARRIER_ACTION", "CARRIER_ASSOC",   "CARRIER_ACCESS",  "CARRIER_IDMANL",
    "CARRIER_ID",    "CARRIER_MAP",    "CTRLMODE_STATE",  "EQUIPMENT_STATE", "ECID_CHANGE",
    "MESSAGE_RECOGNI", "MODULE_MODE",  "OPERATOR_COMMAND", "PM_STATE",       "RECIPE_EDIT",
    "PORT_STATE",    "PORT_AMHS",      "SUBST_MID",       "PORT_MATERIAL",   "PORT_RESERVE",
    "PRCSJOB_STATE", "SPOOL_TRANSFER", "SUBST_MID#ID",    "SUBST_TRACK",     "TRACE_REPORT",
    "SEMI_TRANSFER"};

uint32_t group_of(std::string_view token, std::string_view name) {
  std::string key(token);
  if (token == "SUBST_MID" && name.rfind("SUBST_MID_", 0) == 0) key = "SUBST_MID#ID";
  for (std::size_t i = 0; i < sizeof kGroups / sizeof kGroups[0]; ++i) {
    if (key == kGroups[i]) return static_cast<uint32_t>(i + 1);
  }
  return 99;
}

void json_text(std::string* out, std::string_view text) {
  *out += '"';
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += c;
    } else if (b < 0x20) {
      char e[8];
      std::snprintf(e, sizeof e, "\\u%04x", b);
      *out += e;
    } else {
      *out += c;
    }
  }
  *out += '"';
}

std::string number(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.15g", v);
  return b;
}

constexpr int kDigital = 0, kString = 2;
#define VEXLOR_GEM_KIND_DIGITAL kDigital
#define VEXLOR_GEM_KIND_ANALOG 1
#define VEXLOR_GEM_KIND_STRING kString

// The SML name of a variable's format (the table is read without the codec).
const char* format_text(secs::Format f) {
  switch (f) {
    case secs::Format::kList: return "L";
    case secs::Format::kBinary: return "B";
    case secs::Format::kBoolean: return "BOOLEAN";
    case secs::Format::kAscii: return "A";
    case secs::Format::kJis8: return "J";
    case secs::Format::kI1: return "I1";
    case secs::Format::kI2: return "I2";
    case secs::Format::kI4: return "I4";
    case secs::Format::kI8: return "I8";
    case secs::Format::kU1: return "U1";
    case secs::Format::kU2: return "U2";
    case secs::Format::kU4: return "U4";
    case secs::Format::kU8: return "U8";
    case secs::Format::kF4: return "F4";
    case secs::Format::kF8: return "F8";
  }
  return "?";
}

secs::Format format_of(int kind) {
  return kind == kDigital ? secs::Format::kI4 : kind == kString ? secs::Format::kAscii
                                                                 : secs::Format::kF8;
}

}  // namespace

std::vector<EventDef> standard_events() {
  std::vector<EventDef> events;
  auto add = [&events](std::string_view function, const char* token, int code) {
    constexpr std::string_view kPrefix = "Report_Event_";
    if (function.substr(0, kPrefix.size()) != kPrefix) return;
    EventDef e;
    e.name = std::string(function.substr(kPrefix.size()));
    e.token = token;
    e.code = code;
    e.ceid = group_of(e.token, e.name) * 1000 + static_cast<uint32_t>(code);
    events.push_back(std::move(e));
  };
#define VEXLOR_HOST_BARE(function, token, code) add(#function, token, code);
#define VEXLOR_HOST_LINE(function, token, code, fields, parameters, arguments) \
  add(#function, token, code);
#include <vexlor/host/event_reports.def>
#undef VEXLOR_HOST_REQUEST
#undef VEXLOR_HOST_CODED
#undef VEXLOR_HOST_BARE
#undef VEXLOR_HOST_LINE
#undef VEXLOR_HOST_PRIMARY
  return events;
}

std::vector<VariableDef> standard_variables() {
  std::vector<VariableDef> vars;
  auto builtin = [&vars](uint32_t vid, const char* name, Builtin b, secs::Format f) {
    VariableDef v;
    v.vid = vid;
    v.name = name;
    v.builtin = b;
    v.format = f;
    vars.push_back(std::move(v));
  };
  builtin(1, "Clock", Builtin::kClock, secs::Format::kAscii);
  builtin(2, "ControlState", Builtin::kControlState, secs::Format::kU1);
  builtin(3, "PreviousControlState", Builtin::kPreviousControlState, secs::Format::kU1);
  builtin(4, "EventsEnabled", Builtin::kEventsEnabled, secs::Format::kU4);
  builtin(5, "AlarmsEnabled", Builtin::kAlarmsEnabled, secs::Format::kU4);
  builtin(6, "AlarmsSet", Builtin::kAlarmsSet, secs::Format::kU4);
  builtin(7, "SpoolCountActual", Builtin::kSpoolCountActual, secs::Format::kU4);
  builtin(8, "SpoolCountTotal", Builtin::kSpoolCountTotal, secs::Format::kU4);
  builtin(9, "CommState", Builtin::kCommState, secs::Format::kU1);

  std::set<std::string> taken;
  auto point = [&vars, &taken](uint32_t* next, const std::string& name, int kind, bool status) {
    if (!taken.insert(name).second) return;
    VariableDef v;
    v.vid = (*next)++;
    v.name = name;
    v.point = name;
    v.point_kind = kind;
    v.status = status;
    v.format = format_of(kind);
    vars.push_back(std::move(v));
  };
  // The data variables of the event lines.
  uint32_t dv = 1001;
  {
    auto add = [&](std::string_view item, const std::string& name, int kind) {
      if (item.rfind("DVID_", 0) == 0) point(&dv, name, kind, false);
    };
#define VEXLOR_HOST_POINT(item, kind, name, mode) add(#item, name, VEXLOR_GEM_KIND_##kind);
#define VEXLOR_HOST_SHARED(item, kind, gem_item) \
  add(#item, std::string("GEM.") + &(#item)[5], VEXLOR_GEM_KIND_##kind);
#include <vexlor/host/host_items.def>
  }
  // The link's own status points.
  uint32_t sv = 2001;
  {
    auto add = [&](const std::string& name, int kind) {
      if (name.rfind("GEM.", 0) == 0) point(&sv, name, kind, true);
    };
#define VEXLOR_NAMED_POINT(item, kind, name, mode) add(name, VEXLOR_GEM_KIND_##kind);
#include <vexlor/named/named_points.def>
  }
  // The link settings.
  uint32_t fa = 3001;
  {
    auto add = [&](const std::string& name, int kind) {
      if (name.rfind("FA.", 0) == 0) point(&fa, name, kind, true);
    };
#define VEXLOR_HOST_POINT(item, kind, name, mode) add(name, VEXLOR_GEM_KIND_##kind);
#include <vexlor/host/host_items.def>
  }
  return vars;
}

std::vector<ConstantDef> standard_constants() {
  std::vector<ConstantDef> list;
  auto add = [&list](const char* name, const char* point, double min, double max, double def,
                     const char* unit) {
    ConstantDef c;
    c.ecid = static_cast<uint32_t>(list.size() + 1);
    c.name = name;
    c.point = point;
    c.min = min;
    c.max = max;
    c.def = def;
    c.unit = unit;
    c.format = secs::Format::kU4;
    list.push_back(std::move(c));
  };
  add("T3", "FA.T3", 1, 120, 45, "s");
  add("T5", "FA.T5", 1, 240, 10, "s");
  add("T6", "FA.T6", 1, 240, 5, "s");
  add("T7", "FA.T7", 1, 240, 10, "s");
  add("T8", "FA.T8", 1, 120, 5, "s");
  add("LinkTest", "FA.LinkTest", 0, 3600, 0, "s");
  add(kSpoolEnableName, "GEM.Spool_Enable", 0, 1, 1, "");
  add(kSpoolMaxName, "", 1, 1000000, 100000, "messages");
  add(kOverWriteSpoolName, "GEM.OverWriteSpool", 0, 1, 0, "");
  add(kMaxSpoolTransmitName, "GEM.MaxSpoolTransmit", 0, 1000000, 0, "messages");
  add(kTimeFormatName, "", 0, 1, 1, "");
  add(kEstablishTimeoutName, "", 1, 3600, 10, "s");
  return list;
}

CommandDef run_command() {
  CommandDef c;
  c.rcmd = "RUN";
  c.params = {"ROUTINE", "ARGS"};
  c.args = "{ARGS}";
  return c;
}

bool expand_arguments(const CommandDef& command,
                      const std::vector<std::pair<std::string, std::string>>& values,
                      std::string* text, std::string* missing) {
  auto value_of = [&values](std::string_view name, const std::string** out) {
    for (const auto& [n, v] : values) {
      if (n == name) return *out = &v, true;
    }
    return false;
  };
  text->clear();
  if (command.args.empty()) {
    for (std::size_t i = 0; i < command.params.size(); ++i) {
      const std::string* v = nullptr;
      if (i > 0) *text += ',';
      if (value_of(command.params[i], &v)) *text += *v;
    }
    return true;
  }
  const std::string& a = command.args;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::size_t close = a[i] == '{' ? a.find('}', i) : std::string::npos;
    if (close == std::string::npos) {
      *text += a[i];
      continue;
    }
    const std::string name = a.substr(i + 1, close - i - 1);
    const std::string* v = nullptr;
    if (!value_of(name, &v)) {
      bool declared = false;
      for (const std::string& p : command.params) declared = declared || p == name;
      if (!declared) {
        if (missing != nullptr) *missing = name;
        return false;
      }
    } else {
      *text += *v;
    }
    i = close;
  }
  return true;
}

const EventDef* Mapping::event_by_name(std::string_view name) const {
  for (const EventDef& e : events) {
    if (e.name == name) return &e;
  }
  return nullptr;
}
const EventDef* Mapping::event(uint32_t ceid) const {
  for (const EventDef& e : events) {
    if (e.ceid == ceid) return &e;
  }
  return nullptr;
}
const VariableDef* Mapping::variable(uint32_t vid) const {
  for (const VariableDef& v : variables) {
    if (v.vid == vid) return &v;
  }
  return nullptr;
}
const ConstantDef* Mapping::constant(uint32_t ecid) const {
  for (const ConstantDef& c : constants) {
    if (c.ecid == ecid) return &c;
  }
  return nullptr;
}
const ConstantDef* Mapping::constant_by_name(std::string_view name) const {
  for (const ConstantDef& c : constants) {
    if (c.name == name) return &c;
  }
  return nullptr;
}
const AlarmDef* Mapping::alarm(uint32_t alid) const {
  for (const AlarmDef& a : alarms) {
    if (a.alid == alid) return &a;
  }
  return nullptr;
}
const CommandDef* Mapping::command(std::string_view rcmd) const {
  for (const CommandDef& c : commands) {
    if (c.rcmd == rcmd) return &c;
  }
  return nullptr;
}

std::string Mapping::to_json() const {
  std::string o = "{\"events\":[";
  for (std::size_t i = 0; i < events.size(); ++i) {
    const EventDef& e = events[i];
    o += i > 0 ? ",{" : "{";
    o += "\"ceid\":" + std::to_string(e.ceid) + ",\"name\":";
    json_text(&o, e.name);
    o += ",\"token\":";
    json_text(&o, e.token);
    o += ",\"code\":" + std::to_string(e.code) + "}";
  }
  o += "],\"variables\":[";
  for (std::size_t i = 0; i < variables.size(); ++i) {
    const VariableDef& v = variables[i];
    o += i > 0 ? ",{" : "{";
    o += "\"vid\":" + std::to_string(v.vid) + ",\"name\":";
    json_text(&o, v.name);
    o += std::string(",\"class\":\"") + (v.status ? "SV" : "DV") + "\",\"format\":\"" +
         format_text(v.format) + "\",\"point\":";
    json_text(&o, v.point);
    o += "}";
  }
  o += "],\"constants\":[";
  for (std::size_t i = 0; i < constants.size(); ++i) {
    const ConstantDef& c = constants[i];
    o += i > 0 ? ",{" : "{";
    o += "\"ecid\":" + std::to_string(c.ecid) + ",\"name\":";
    json_text(&o, c.name);
    o += ",\"point\":";
    json_text(&o, c.point);
    o += ",\"min\":" + number(c.min) + ",\"max\":" + number(c.max) +
         ",\"default\":" + number(c.def) + ",\"unit\":";
    json_text(&o, c.unit);
    o += "}";
  }
  o += "],\"alarms\":[";
  for (std::size_t i = 0; i < alarms.size(); ++i) {
    o += i > 0 ? ",{" : "{";
    o += "\"alid\":" + std::to_string(alarms[i].alid) + ",\"text\":";
    json_text(&o, alarms[i].text);
    o += "}";
  }
  o += "],\"commands\":[";
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const CommandDef& c = commands[i];
    o += i > 0 ? ",{" : "{";
    o += "\"rcmd\":";
    json_text(&o, c.rcmd);
    o += ",\"routine\":";
    json_text(&o, c.routine);
    o += ",\"params\":[";
    for (std::size_t k = 0; k < c.params.size(); ++k) {
      if (k > 0) o += ',';
      json_text(&o, c.params[k]);
    }
    o += "],\"args\":";
    json_text(&o, c.args);
    o += "}";
  }
  return o + "]}";
}

std::string Mapping::to_text() const {
  std::string o = "EVENTS (CEID  NAME  LINE)\n";
  char line[512];
  for (const EventDef& e : events) {
    std::snprintf(line, sizeof line, "  %-6u %-34s %s %d\n", e.ceid, e.name.c_str(),
                  e.token.c_str(), e.code);
    o += line;
  }
  o += "VARIABLES (VID  CLASS  FORMAT  NAME)\n";
  for (const VariableDef& v : variables) {
    std::snprintf(line, sizeof line, "  %-6u %s  %-3s %s\n", v.vid, v.status ? "SV" : "DV",
                  format_text(v.format), v.name.c_str());
    o += line;
  }
  o += "CONSTANTS (ECID  NAME  POINT  MIN  MAX  DEFAULT)\n";
  for (const ConstantDef& c : constants) {
    std::snprintf(line, sizeof line, "  %-6u %-32s %-22s %s %s %s %s\n", c.ecid, c.name.c_str(),
                  c.point.empty() ? "-" : c.point.c_str(), number(c.min).c_str(),
                  number(c.max).c_str(), number(c.def).c_str(), c.unit.c_str());
    o += line;
  }
  o += "ALARMS (ALID  TEXT)\n";
  for (const AlarmDef& a : alarms) {
    std::snprintf(line, sizeof line, "  %-6u %s\n", a.alid, a.text.c_str());
    o += line;
  }
  o += "REMOTE COMMANDS (RCMD  ROUTINE  PARAMETERS)\n";
  for (const CommandDef& c : commands) {
    std::string params;
    for (const std::string& p : c.params) params += (params.empty() ? "" : ",") + p;
    std::snprintf(line, sizeof line, "  %-12s %-20s %s\n", c.rcmd.c_str(),
                  c.routine.empty() ? "(ROUTINE)" : c.routine.c_str(), params.c_str());
    o += line;
  }
  return o;
}

}  // namespace vexlor::gem
