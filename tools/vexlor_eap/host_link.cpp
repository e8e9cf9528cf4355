// vexlor-eap's side of the GEM equipment.
#include "host_link.h"

#include <vexlor/vexlor.h>

#include <chrono>
#include <cstdio>

#include "journal.h"

namespace vexlor_eap {
namespace {

using vexlor::secs::Item;

int digital_setting(const char* name, int missing) {
  int index = -1;
  if (!Vexlor::VIO_Find_Point(&index, Vexlor::IO_D, true, name)) return missing;
  return Vexlor::VDigital_Read_Mem(index);
}

std::string string_setting(const char* name) {
  int index = -1;
  if (!Vexlor::VIO_Find_Point(&index, Vexlor::IO_S, true, name)) return "";
  return Vexlor::VString_Read_Mem(index);
}

// A setting in seconds; 0 or less (a point never set) takes the default.
int seconds_ms(const char* name, const std::optional<int>& given, int default_s) {
  const int s = given ? *given : digital_setting(name, 0);
  return (s > 0 ? s : default_s) * 1000;
}

void json_text(std::string* out, std::string_view text) {
  *out += '"';
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += c;
    } else if (c == '\n') {
      *out += "\\n";
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

}  // namespace

LinkSettings link_settings(const LinkOverrides& o) {
  LinkSettings s;
  vexlor::secs::SessionSettings& ss = s.session;
  ss.active = o.active || digital_setting("FA.ConnMD", 0) == 1;
  const std::string local_ip = o.local_ip ? *o.local_ip : string_setting("FA.Local_IP");
  const std::string remote_ip = o.remote_ip ? *o.remote_ip : string_setting("FA.Remote_IP");
  ss.local_ip = local_ip.empty() ? "127.0.0.1" : local_ip;
  ss.remote_ip = remote_ip.empty() ? "127.0.0.1" : remote_ip;
  const int local_port = o.port ? *o.port : digital_setting("FA.Local_Port", 0);
  ss.local_port = o.port ? *o.port : (local_port > 0 ? local_port : 5000);
  const int remote_port = o.remote_port ? *o.remote_port : digital_setting("FA.Remote_Port", 0);
  ss.remote_port = remote_port > 0 ? remote_port : 5000;
  const int device = o.device_id ? *o.device_id : digital_setting("FA.Device_ID", 0);
  ss.device_id = static_cast<uint16_t>(device >= 0 && device <= 32767 ? device : 0);
  ss.t3_ms = seconds_ms("FA.T3", o.t3, 45);
  ss.t5_ms = seconds_ms("FA.T5", o.t5, 10);
  ss.t6_ms = seconds_ms("FA.T6", o.t6, 5);
  ss.t7_ms = seconds_ms("FA.T7", o.t7, 10);
  ss.t8_ms = seconds_ms("FA.T8", o.t8, 5);
  const int linktest = o.linktest ? *o.linktest : digital_setting("FA.LinkTest", 0);
  ss.linktest_ms = linktest > 0 ? linktest * 1000 : 0;

  vexlor::gem::GemSettings& g = s.gem;
  g.enabled = digital_setting("FA.Enable", 1) != 0;
  switch (digital_setting("FA.CtrlMD", 0)) {
    case 1: g.initial = vexlor::gem::ControlState::kEquipmentOffline; break;
    case 4: g.initial = vexlor::gem::ControlState::kOnlineLocal; g.remote = false; break;
    case 5: g.initial = vexlor::gem::ControlState::kOnlineRemote; break;
    default: g.initial = vexlor::gem::ControlState::kHostOffline; break;
  }
  g.model = string_setting("GEM.Model_Number");
  g.soft_revision = string_setting("GEM.Soft_Revision");
  return s;
}

int EapRuntime::point(const std::string& name, int kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = points_.find(name);
  if (it != points_.end()) return it->second;
  int index = -1;
  if (!Vexlor::VIO_Find_Point(&index, static_cast<Vexlor::IO_TYPE>(kind), true, name.c_str())) {
    index = -1;
  }
  points_[name] = index;
  return index;
}

Item EapRuntime::read(const vexlor::gem::VariableDef& v) {
  const int index = point(v.point, v.point_kind);
  if (index < 0) return Item::list();
  switch (v.point_kind) {
    case Vexlor::IO_D: return Item::i4(Vexlor::VDigital_Read_Mem(index));
    case Vexlor::IO_A: return Item::f8(Vexlor::VAnalog_Read_Mem(index));
    default: return Item::ascii(Vexlor::VString_Read_Mem(index));
  }
}

bool EapRuntime::read_constant(const vexlor::gem::ConstantDef& c, double* value) {
  const int index = c.point.empty() ? -1 : point(c.point, Vexlor::IO_D);
  if (index < 0) return false;
  *value = Vexlor::VDigital_Read_Mem(index);
  return true;
}

bool EapRuntime::write_constant(const vexlor::gem::ConstantDef& c, double value) {
  const int index = c.point.empty() ? -1 : point(c.point, Vexlor::IO_D);
  if (index < 0) return false;
  Vexlor::VDigital_Write_Mem(index, static_cast<int>(value));
  return true;
}

int EapRuntime::run(const std::string& routine, const std::string& args) {
  int index = -1;
  if (routine.empty() || !Vexlor::VIO_Find_Point(&index, Vexlor::IO_F, true, routine.c_str())) {
    return 3;
  }
  return Vexlor::VFunction_Run_Set(index, args.c_str()) ? 4 : 2;
}

int EapRuntime::show_message(int tid, const std::string& text) {
  (void)tid;
  return Vexlor::VGui_Display_MessageF("HOST: %s", text.c_str()) ? 0 : 2;
}

void EapRuntime::link_state(const vexlor::gem::LinkView& v) {
  using vexlor::gem::CommState;
  using vexlor::gem::ControlState;
  const bool communicating = v.comm == CommState::kCommunicating;
  const bool online =
      v.control == ControlState::kOnlineLocal || v.control == ControlState::kOnlineRemote;
  const std::pair<const char*, int> values[] = {
      {"FA.Enable", v.enabled ? 1 : 0},
      {"GEM.Comm_Enable", v.enabled ? 1 : 0},
      {"GEM.Comm_Status", communicating ? 1 : 0},
      {"GEM.Comm_Establish", communicating ? 1 : 0},
      {"GEM.Control_State", static_cast<int>(v.control)},
      {"GEM.Online_Status", online ? 1 : 0},
      {"GEM.Remote_Status", v.control == ControlState::kOnlineRemote ? 1 : 0},
      {"GEM.SpoolCountActual", static_cast<int>(v.spool_count)},
      {"GEM.Spool_Status", v.spool_state == "INACTIVE" ? 0 : 1},
  };
  for (const auto& [name, value] : values) {
    const int index = point(name, Vexlor::IO_D);
    if (index >= 0) Vexlor::VDigital_Write_Mem(index, value);
  }
}

void MessageTrace::add(vexlor::secs::Direction direction, const vexlor::secs::Message& message) {
  Entry e;
  e.time = now_text();
  e.dir = direction == vexlor::secs::Direction::kIn ? "in" : "out";
  e.name = message.name();
  e.sml = message.to_sml();
  e.system = message.header.system;
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back(std::move(e));
  while (entries_.size() > capacity_) entries_.pop_front();
}

std::string MessageTrace::json() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out = "{\"messages\":[";
  bool first = true;
  for (const Entry& e : entries_) {
    out += first ? "{" : ",{";
    first = false;
    out += "\"time\":";
    json_text(&out, e.time);
    out += ",\"dir\":";
    json_text(&out, e.dir);
    out += ",\"name\":";
    json_text(&out, e.name);
    out += ",\"system\":" + std::to_string(e.system) + ",\"sml\":";
    json_text(&out, e.sml);
    out += "}";
  }
  return out + "]}";
}

std::string MessageTrace::text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  for (const Entry& e : entries_) {
    out += e.time + (e.dir == "in" ? "  <- " : "  -> ") + "[" + std::to_string(e.system) + "]\n";
    out += e.sml;
    if (!e.sml.empty() && e.sml.back() != '\n') out += '\n';
  }
  return out;
}

std::string status_json(const vexlor::secs::SessionCounters& c, vexlor::secs::SessionState state,
                        const vexlor::gem::GemStatus& g, int port, double in_rate,
                        double out_rate) {
  char rates[128];
  std::snprintf(rates, sizeof rates, ",\"in_per_second\":%.1f,\"out_per_second\":%.1f", in_rate,
                out_rate);
  std::string out = "{\"session\":";
  json_text(&out, vexlor::secs::state_name(state));
  out += ",\"port\":" + std::to_string(port) + ",\"peer\":";
  json_text(&out, c.peer);
  out += ",\"selected_since_ms\":" + std::to_string(c.selected_since_ms) +
         ",\"messages_in\":" + std::to_string(c.messages_in) +
         ",\"messages_out\":" + std::to_string(c.messages_out) + rates +
         ",\"bytes_in\":" + std::to_string(c.bytes_in) +
         ",\"bytes_out\":" + std::to_string(c.bytes_out) +
         ",\"open_transactions\":" + std::to_string(c.open_transactions) +
         ",\"t3_timeouts\":" + std::to_string(c.t3_timeouts) +
         ",\"connects\":" + std::to_string(c.connects) + ",\"enabled\":" +
         (g.view.enabled ? "true" : "false") + ",\"communication\":";
  json_text(&out, vexlor::gem::comm_state_name(g.view.comm));
  out += ",\"control\":";
  json_text(&out, vexlor::gem::control_state_name(g.view.control));
  out += ",\"spool_count\":" + std::to_string(g.view.spool_count) + ",\"spool_state\":";
  json_text(&out, g.view.spool_state);
  out += ",\"events_sent\":" + std::to_string(g.events_sent) +
         ",\"events_spooled\":" + std::to_string(g.events_spooled) +
         ",\"events_dropped\":" + std::to_string(g.events_dropped) +
         ",\"alarms_sent\":" + std::to_string(g.alarms_sent) +
         ",\"clock_offset_ms\":" + std::to_string(g.clock_offset_ms) + "}";
  return out;
}

}  // namespace vexlor_eap
