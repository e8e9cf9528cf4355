// The GEM equipment's state models and message handlers.
#include "gem/equipment.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace vexlor::gem {

using secs::Item;

const char* comm_state_name(CommState s) {
  switch (s) {
    case CommState::kDisabled: return "DISABLED";
    case CommState::kWaitCra: return "WAIT CRA";
    case CommState::kWaitDelay: return "WAIT DELAY";
    case CommState::kCommunicating: return "COMMUNICATING";
  }
  return "?";
}

const char* control_state_name(ControlState s) {
  switch (s) {
    case ControlState::kEquipmentOffline: return "EQUIPMENT OFFLINE";
    case ControlState::kAttemptOnline: return "ATTEMPT ONLINE";
    case ControlState::kHostOffline: return "HOST OFFLINE";
    case ControlState::kOnlineLocal: return "ONLINE LOCAL";
    case ControlState::kOnlineRemote: return "ONLINE REMOTE";
  }
  return "?";
}

namespace {

constexpr std::size_t kMaxTraces = 16;
constexpr std::size_t kSpoolBatch = 100;
constexpr uint8_t kAlarmSetBit = 0x80;

// An ID item: any integer format with one value (or A digits).
bool id_of(const Item& item, uint32_t* id) {
  uint64_t v = 0;
  if (item.is_text()) {
    if (item.text().empty()) return false;
    char* end = nullptr;
    v = std::strtoull(item.text().c_str(), &end, 10);
    if (*end != '\0') return false;
  } else if (item.is_list() || item.size() != 1 || !item.first_uint(&v)) {
    return false;
  }
  *id = static_cast<uint32_t>(v);
  return true;
}

// The IDs of a list of ID items, or of one vector item (S5F5's ALID).
bool ids_of(const Item& item, std::vector<uint32_t>* ids) {
  ids->clear();
  if (item.is_list()) {
    for (const Item& i : item.items()) {
      uint32_t id = 0;
      if (!id_of(i, &id)) return false;
      ids->push_back(id);
    }
    return true;
  }
  if (item.is_unsigned()) {
    for (uint64_t v : item.uint_values()) ids->push_back(static_cast<uint32_t>(v));
    return true;
  }
  if (item.is_signed()) {
    for (int64_t v : item.int_values()) ids->push_back(static_cast<uint32_t>(v));
    return true;
  }
  return false;
}

bool number_of(const Item& item, double* v) {
  if (item.is_text()) {
    if (item.text().empty()) return false;
    char* end = nullptr;
    *v = std::strtod(item.text().c_str(), &end);
    return *end == '\0';
  }
  return !item.is_list() && item.size() == 1 && item.first_double(v);
}

std::string text_of(const Item& item) {
  if (item.is_text()) return item.text();
  if (item.is_list()) return "";
  char b[64];
  std::string out;
  for (std::size_t k = 0; k < item.size(); ++k) {
    if (k > 0) out += ' ';
    if (item.is_signed()) out += std::to_string(item.int_values()[k]);
    else if (item.is_unsigned()) out += std::to_string(item.uint_values()[k]);
    else if (item.is_float()) {
      std::snprintf(b, sizeof b, "%.15g", item.float_values()[k]);
      out += b;
    } else {
      out += std::to_string(item.bytes()[k]);
    }
  }
  return out;
}

Item u4(uint64_t v) { return Item::u4(v); }
Item b1(uint8_t v) { return Item::binary(v); }
Item cut(const std::string& text, std::size_t n) { return Item::ascii(text.substr(0, n)); }

Item constant_item(const ConstantDef& c, double v) {
  switch (c.format) {
    case secs::Format::kF4: case secs::Format::kF8: return Item::floats(c.format, {v});
    case secs::Format::kI1: case secs::Format::kI2: case secs::Format::kI4: case secs::Format::kI8:
      return Item::ints(c.format, {static_cast<int64_t>(std::llround(v))});
    case secs::Format::kAscii: {
      char b[64];
      std::snprintf(b, sizeof b, "%.15g", v);
      return Item::ascii(b);
    }
    default: return Item::uints(c.format, {static_cast<uint64_t>(std::llround(std::max(v, 0.0)))});
  }
}

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// "YYYYMMDDhhmmsscc" (16) or "YYMMDDhhmmss" (12), local time, to ms since the epoch.
bool parse_time(const std::string& t, int64_t* ms) {
  if (t.size() != 12 && t.size() != 16) return false;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
  }
  auto num = [&t](std::size_t at, std::size_t n) { return std::atoi(t.substr(at, n).c_str()); };
  std::tm tm{};
  std::size_t at = 0;
  if (t.size() == 16) {
    tm.tm_year = num(0, 4) - 1900;
    at = 4;
  } else {
    const int yy = num(0, 2);
    tm.tm_year = (yy < 70 ? 2000 + yy : 1900 + yy) - 1900;
    at = 2;
  }
  tm.tm_mon = num(at, 2) - 1;
  tm.tm_mday = num(at + 2, 2);
  tm.tm_hour = num(at + 4, 2);
  tm.tm_min = num(at + 6, 2);
  tm.tm_sec = num(at + 8, 2);
  const int cc = t.size() == 16 ? num(14, 2) : 0;
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
      tm.tm_min > 59 || tm.tm_sec > 60) {
    return false;
  }
  tm.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&tm);
  if (seconds == static_cast<std::time_t>(-1)) return false;
  *ms = static_cast<int64_t>(seconds) * 1000 + cc * 10;
  return true;
}

std::string format_time(int64_t ms, bool long_form) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &seconds);
#else
  localtime_r(&seconds, &tm);
#endif
  char b[96];
  if (long_form) {
    std::snprintf(b, sizeof b, "%04d%02d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>((ms % 1000) / 10));
  } else {
    std::snprintf(b, sizeof b, "%02d%02d%02d%02d%02d%02d", tm.tm_year % 100, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  }
  return b;
}

// DSPER "hhmmss" or "hhmmsscc".
bool parse_period(const std::string& t, std::chrono::milliseconds* period) {
  if (t.size() != 6 && t.size() != 8) return false;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
  }
  auto num = [&t](std::size_t at) { return std::atoi(t.substr(at, 2).c_str()); };
  int64_t ms = (num(0) * 3600 + num(2) * 60 + num(4)) * 1000LL;
  if (t.size() == 8) ms += num(6) * 10;
  *period = std::chrono::milliseconds(ms);
  return ms > 0;
}

bool known_message(int stream, int function, bool* stream_known) {
  static const std::map<int, std::set<int>> kKnown = {
      {1, {1, 3, 11, 13, 15, 17}},
      {2, {13, 15, 17, 23, 29, 31, 33, 35, 37, 41}},
      {5, {3, 5}},
      {6, {15, 23}},
      {10, {3}}};
  const auto it = kKnown.find(stream);
  *stream_known = it != kKnown.end();
  return *stream_known && it->second.count(function) != 0;
}

}  // namespace

GemEquipment::GemEquipment(Mapping mapping, Runtime& runtime, Store* store, GemSettings settings)
    : mapping_(std::move(mapping)), runtime_(runtime), store_(store), settings_(std::move(settings)) {
  enabled_ = settings_.enabled;
  comm_ = enabled_ ? CommState::kWaitDelay : CommState::kDisabled;
  control_ = settings_.initial == ControlState::kAttemptOnline ? ControlState::kHostOffline
                                                                : settings_.initial;
  previous_control_ = control_;
  remote_ = settings_.remote;
  if (control_ == ControlState::kOnlineLocal || control_ == ControlState::kOnlineRemote) {
    control_ = remote_ ? ControlState::kOnlineRemote : ControlState::kOnlineLocal;
  }
}

GemEquipment::~GemEquipment() { stop(); }

bool GemEquipment::start(std::string* error, bool worker) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (store_ != nullptr && store_->is_open()) {
      if (!store_->load(&defs_, error)) return false;
      spool_count_ = store_->spool_count();
      seq_ = store_->spool_max_seq();
      counters_.spool_total = static_cast<uint64_t>(spool_count_);
    }
    // Constants the host set before are written back to their points.
    for (const auto& [ecid, value] : defs_.constants) {
      const ConstantDef* c = mapping_.constant(ecid);
      if (c != nullptr && !c->point.empty()) runtime_.write_constant(*c, value);
    }
  }
  publish();
  if (worker) {
    worker_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!stopping_) {
        stop_cv_.wait_for(lock, std::chrono::milliseconds(10));
        if (stopping_) break;
        lock.unlock();
        tick(Clock::now());
        lock.lock();
      }
    });
  }
  return true;
}

void GemEquipment::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_cv_.notify_all();
  if (worker_.joinable()) worker_.join();
  if (unloader_.joinable()) unloader_.join();
}

void GemEquipment::set_link(Link* link) {
  std::lock_guard<std::mutex> lock(mutex_);
  link_ = link;
}

Definitions GemEquipment::definitions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return defs_;
}

// ---- State ---------------------------------------------------------------------------------

bool GemEquipment::online_locked() const {
  return control_ == ControlState::kOnlineLocal || control_ == ControlState::kOnlineRemote;
}

std::string GemEquipment::spool_state_locked() {
  if (transmitting_) return "TRANSMIT SPOOL";
  if (spool_count_ == 0) return "INACTIVE";
  if (comm_ != CommState::kCommunicating) {
    const double max = constant_named_locked(kSpoolMaxName, 100000);
    return static_cast<double>(spool_count_) >= max ? "FULL" : "NOT FULL";
  }
  return "NO SPOOL OUTPUT";
}

LinkView GemEquipment::view_locked() {
  LinkView v;
  v.enabled = enabled_;
  v.comm = comm_;
  v.control = control_;
  v.spool_count = spool_count_;
  v.spool_state = spool_state_locked();
  return v;
}

void GemEquipment::publish() {
  std::lock_guard<std::mutex> order(publish_mutex_);
  LinkView v;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    v = view_locked();
  }
  runtime_.link_state(v);
}

GemStatus GemEquipment::status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  GemStatus s = counters_;
  s.view = const_cast<GemEquipment*>(this)->view_locked();
  s.previous_control = previous_control_;
  s.clock_offset_ms = defs_.clock_offset_ms;
  s.traces = traces_.size();
  return s;
}

void GemEquipment::save_locked() {
  if (store_ == nullptr || !store_->is_open()) return;
  std::string error;
  store_->save(defs_, &error);
}

double GemEquipment::constant_locked(const ConstantDef& c) {
  double v = c.def;
  const auto it = defs_.constants.find(c.ecid);
  if (!c.point.empty() && runtime_.read_constant(c, &v)) return v;
  if (it != defs_.constants.end()) return it->second;
  return c.def;
}

double GemEquipment::constant_named_locked(const char* name, double missing) {
  const ConstantDef* c = mapping_.constant_by_name(name);
  return c != nullptr ? constant_locked(*c) : missing;
}

void GemEquipment::set_control_locked(ControlState state, std::vector<Prepared>* events) {
  if (state == control_) return;
  previous_control_ = control_;
  control_ = state;
  const char* name = nullptr;
  switch (state) {
    case ControlState::kEquipmentOffline: name = "EQUIP_OFFLINE"; break;
    case ControlState::kHostOffline: name = "HOST_OFFLINE"; break;
    case ControlState::kOnlineLocal: name = "ONLINE_LOCAL"; break;
    case ControlState::kOnlineRemote: name = "ONLINE_REMOTE"; break;
    case ControlState::kAttemptOnline: break;
  }
  const EventDef* e = name != nullptr ? mapping_.event_by_name(name) : nullptr;
  if (e != nullptr && defs_.enabled_events.count(e->ceid) != 0) {
    Prepared p;
    p.valid = true;
    p.stream = 6;
    p.function = 11;
    p.body = event_body_locked(e->ceid);
    events->push_back(std::move(p));
  }
}

void GemEquipment::set_comm_locked(CommState state, std::vector<Prepared>* events) {
  if (state == comm_) return;
  comm_ = state;
  if (state != CommState::kCommunicating) return;
  const EventDef* e = mapping_.event_by_name("COMM_ESTABLISH");
  if (e != nullptr && defs_.enabled_events.count(e->ceid) != 0) {
    Prepared p;
    p.valid = true;
    p.stream = 6;
    p.function = 11;
    p.body = event_body_locked(e->ceid);
    events->push_back(std::move(p));
  }
}

// ---- Values --------------------------------------------------------------------------------

std::string GemEquipment::clock_text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const ConstantDef* c = mapping_.constant_by_name(kTimeFormatName);
  const bool long_form =
      c == nullptr || const_cast<GemEquipment*>(this)->constant_locked(*c) >= 1;
  return format_time(now_ms() + defs_.clock_offset_ms, long_form);
}

Item GemEquipment::value_locked(const VariableDef& v) {
  switch (v.builtin) {
    case Builtin::kNone: return runtime_.read(v);
    case Builtin::kClock: {
      const bool long_form = constant_named_locked(kTimeFormatName, 1) >= 1;
      return Item::ascii(format_time(now_ms() + defs_.clock_offset_ms, long_form));
    }
    case Builtin::kControlState: return Item::u1(static_cast<uint64_t>(control_));
    case Builtin::kPreviousControlState: return Item::u1(static_cast<uint64_t>(previous_control_));
    case Builtin::kEventsEnabled: {
      std::vector<uint64_t> ids(defs_.enabled_events.begin(), defs_.enabled_events.end());
      return Item::uints(secs::Format::kU4, ids);
    }
    case Builtin::kAlarmsEnabled: {
      std::vector<uint64_t> ids;
      for (const AlarmDef& a : mapping_.alarms) {
        if (defs_.disabled_alarms.count(a.alid) == 0) ids.push_back(a.alid);
      }
      return Item::uints(secs::Format::kU4, ids);
    }
    case Builtin::kAlarmsSet: {
      std::vector<uint64_t> ids(alarms_set_.begin(), alarms_set_.end());
      return Item::uints(secs::Format::kU4, ids);
    }
    case Builtin::kSpoolCountActual: return u4(static_cast<uint64_t>(spool_count_));
    case Builtin::kSpoolCountTotal: return u4(counters_.spool_total);
    case Builtin::kCommState: return Item::u1(static_cast<uint64_t>(comm_));
  }
  return Item::list();
}

Item GemEquipment::event_body_locked(uint32_t ceid) {
  std::vector<Item> reports;
  const auto link = defs_.links.find(ceid);
  if (link != defs_.links.end()) {
    for (uint32_t rptid : link->second) {
      std::vector<Item> values;
      const auto report = defs_.reports.find(rptid);
      if (report != defs_.reports.end()) {
        for (uint32_t vid : report->second) {
          const VariableDef* v = mapping_.variable(vid);
          values.push_back(v != nullptr ? value_locked(*v) : Item::list());
        }
      }
      reports.push_back(Item::list({u4(rptid), Item::list(std::move(values))}));
    }
  }
  return Item::list({u4(++dataid_), u4(ceid), Item::list(std::move(reports))});
}

// ---- From the equipment --------------------------------------------------------------------

Prepared GemEquipment::prepare_event(std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Prepared p;
  const EventDef* e = mapping_.event_by_name(name);
  if (e == nullptr || defs_.enabled_events.count(e->ceid) == 0) return p;
  // An event that happens while offline is never reported, also when the equipment is back
  // online by the time its journal row is committed.
  if (!online_locked()) {
    ++counters_.events_dropped;
    return p;
  }
  p.valid = true;
  p.stream = 6;
  p.function = 11;
  p.body = event_body_locked(e->ceid);
  return p;
}

Prepared GemEquipment::prepare_alarm(uint32_t alid, bool set, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (set) {
    alarms_set_.insert(alid);
  } else {
    alarms_set_.erase(alid);
  }
  Prepared p;
  if (defs_.disabled_alarms.count(alid) != 0) return p;
  if (!online_locked()) {
    ++counters_.events_dropped;
    return p;
  }
  const AlarmDef* a = mapping_.alarm(alid);
  p.valid = true;
  p.stream = 5;
  p.function = 1;
  p.body = Item::list({b1(set ? kAlarmSetBit : 0), u4(alid), cut(a != nullptr ? a->text : text, 40)});
  return p;
}

Prepared GemEquipment::prepare_terminal(int tid, const std::string& text) {
  Prepared p;
  p.valid = true;
  p.stream = 10;
  p.function = 1;
  p.spoolable = false;
  p.body = Item::list({b1(static_cast<uint8_t>(tid)), Item::ascii(text)});
  return p;
}

void GemEquipment::spool_locked(const Outgoing& o) {
  const bool enabled = constant_named_locked(kSpoolEnableName, 1) != 0;
  if (!o.spoolable || !enabled || store_ == nullptr || !store_->is_open()) {
    ++counters_.events_dropped;
    return;
  }
  const double max = constant_named_locked(kSpoolMaxName, 100000);
  std::string error;
  if (static_cast<double>(spool_count_) >= max) {
    if (constant_named_locked(kOverWriteSpoolName, 0) == 0) {
      ++counters_.events_dropped;  // SPOOL FULL: the newest is not kept
      return;
    }
    if (store_->spool_erase_oldest(&error)) --spool_count_;
  }
  SpoolEntry e;
  e.seq = o.seq;
  e.stream = o.stream;
  e.function = o.function;
  e.wbit = o.wbit;
  e.body = secs::encode(o.body);
  if (store_->spool_push(e, &error)) {
    ++spool_count_;
    ++counters_.spool_total;
    ++counters_.events_spooled;
  } else {
    ++counters_.events_dropped;
  }
}

void GemEquipment::enqueue(Prepared p, bool force) {
  if (!p.valid) return;
  bool send = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!force && !online_locked()) {
      ++counters_.events_dropped;
      return;
    }
    Outgoing o;
    o.seq = ++seq_;
    o.stream = p.stream;
    o.function = p.function;
    o.body = std::move(p.body);
    o.spoolable = p.spoolable;
    if (comm_ == CommState::kCommunicating && link_ != nullptr && selected_) {
      outbox_.push_back(std::move(o));
      send = true;
    } else {
      spool_locked(o);
    }
  }
  if (send) {
    flush();
  } else {
    publish();
  }
}

void GemEquipment::deliver(Prepared message) { enqueue(std::move(message), false); }

void GemEquipment::restore(std::vector<Prepared> messages) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Prepared& p : messages) {
      if (!p.valid) continue;
      Outgoing o;
      o.seq = ++seq_;
      o.stream = p.stream;
      o.function = p.function;
      o.body = std::move(p.body);
      o.spoolable = p.spoolable;
      spool_locked(o);
    }
  }
  publish();
}

void GemEquipment::send_now(const std::vector<Prepared>& messages, bool force) {
  for (const Prepared& p : messages) enqueue(p, force);
}

void GemEquipment::flush() {
  std::lock_guard<std::mutex> order(send_mutex_);
  bool changed = false;
  for (;;) {
    Outgoing o;
    Link* link = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (outbox_.empty()) break;
      o = std::move(outbox_.front());
      outbox_.pop_front();
      link = link_;
    }
    auto done = [this, o](const secs::ReplyResult& r) {
      if (r.kind == secs::ReplyResult::kReply) return;
      // No answer (T3, the connection ended): the message is kept in the spool, in its place.
      {
        std::lock_guard<std::mutex> lock(mutex_);
        spool_locked(o);
      }
      publish();
    };
    const bool sent = link != nullptr && link->send(o.stream, o.function, o.wbit, o.body, done);
    std::lock_guard<std::mutex> lock(mutex_);
    if (sent) {
      if (o.stream == 5) ++counters_.alarms_sent;
      else ++counters_.events_sent;
    } else {
      spool_locked(o);
      changed = true;
    }
  }
  if (changed) publish();
}

// ---- Communication -------------------------------------------------------------------------

void GemEquipment::on_selected(bool selected) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    selected_ = selected;
    if (!enabled_) return;
    std::vector<Prepared> none;
    // The link is gone (or new): not communicating, at once.
    set_comm_locked(CommState::kWaitDelay, &none);
    retry_at_ = Clock::now();
    // A new selection is answered by S1F13 at once (the session has sent its Select.rsp
    // first); WAIT CRA from here, so the timer does not send a second one.
    if (selected) comm_ = CommState::kWaitCra;
  }
  publish();
  if (selected) send_establish();
}

void GemEquipment::send_establish() {
  Link* link = nullptr;
  Item body;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    link = link_;
    comm_ = CommState::kWaitCra;
    body = Item::list({cut(settings_.model, 20), cut(settings_.soft_revision, 20)});
  }
  auto done = [this](const secs::ReplyResult& r) {
    uint64_t commack = 1;
    const bool ok = r.kind == secs::ReplyResult::kReply && r.reply.header.function() == 14 &&
                    r.reply.body.is_list() && !r.reply.body.items().empty() &&
                    r.reply.body.items()[0].first_uint(&commack) && commack == 0;
    std::vector<Prepared> events;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (ok && enabled_ && selected_) {
        set_comm_locked(CommState::kCommunicating, &events);
      } else if (comm_ == CommState::kWaitCra) {
        comm_ = CommState::kWaitDelay;
        retry_at_ = Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(
                                       1000 * constant_named_locked(kEstablishTimeoutName, 10)));
      }
    }
    publish();
    send_now(events, false);
  };
  if (link == nullptr || !link->send(1, 13, true, body, done)) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (comm_ == CommState::kWaitCra) comm_ = CommState::kWaitDelay;
      retry_at_ = Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(
                                     1000 * constant_named_locked(kEstablishTimeoutName, 10)));
    }
    publish();
  }
}

void GemEquipment::tick(Clock::time_point now) {
  bool retry = false;
  std::vector<Prepared> samples;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (enabled_ && selected_ && comm_ == CommState::kWaitDelay && now >= retry_at_) {
      retry = true;
    }
    for (auto it = traces_.begin(); it != traces_.end();) {
      Trace& t = it->second;
      if (now < t.next) {
        ++it;
        continue;
      }
      t.next += t.period;
      if (t.next <= now) t.next = now + t.period;
      ++t.taken;
      for (uint32_t svid : t.svids) {
        const VariableDef* v = mapping_.variable(svid);
        t.pending.push_back(v != nullptr ? value_locked(*v) : Item::list());
      }
      if (t.pending.size() >= t.svids.size() * t.group || t.taken >= t.total) {
        Prepared p;
        p.valid = true;
        p.stream = 6;
        p.function = 1;
        p.body = Item::list({u4(t.trid), u4(t.taken),
                             Item::ascii(format_time(now_ms() + defs_.clock_offset_ms, true)),
                             Item::list(std::move(t.pending))});
        t.pending.clear();
        samples.push_back(std::move(p));
      }
      if (t.taken >= t.total) {
        it = traces_.erase(it);
      } else {
        ++it;
      }
    }
  }
  if (retry) send_establish();
  send_now(samples, false);
}

GemEquipment::LinkAction GemEquipment::request(std::string_view token) {
  LinkAction action = LinkAction::kNone;
  std::vector<Prepared> events;
  bool attempt = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (token == "REQUEST_ENABLE") {
      if (!enabled_) {
        enabled_ = true;
        comm_ = CommState::kWaitDelay;
        action = LinkAction::kStart;
      }
    } else if (token == "REQUEST_DISABLE") {
      if (enabled_) {
        enabled_ = false;
        comm_ = CommState::kDisabled;
        action = LinkAction::kStop;
      }
    } else if (token == "REQUEST_RECONNECT") {
      if (enabled_) {
        comm_ = CommState::kWaitDelay;
        action = LinkAction::kReconnect;
      }
    } else if (token == "REQUEST_OFFLINE") {
      set_control_locked(ControlState::kEquipmentOffline, &events);
    } else if (token == "REQUEST_LOCAL" || token == "REQUEST_REMOTE") {
      remote_ = token == "REQUEST_REMOTE";
      if (online_locked()) {
        set_control_locked(remote_ ? ControlState::kOnlineRemote : ControlState::kOnlineLocal,
                           &events);
      } else if (control_ != ControlState::kAttemptOnline) {
        offline_before_attempt_ = control_;
        previous_control_ = control_;
        control_ = ControlState::kAttemptOnline;
        attempt = true;
      }
    }
  }
  publish();
  send_now(events, true);
  if (attempt) attempt_online();
  return action;
}

void GemEquipment::attempt_online() {
  Link* link = nullptr;
  bool communicating = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    link = link_;
    communicating = comm_ == CommState::kCommunicating && selected_;
  }
  auto finish = [this](bool ok) {
    std::vector<Prepared> events;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (control_ != ControlState::kAttemptOnline) return;
      control_ = offline_before_attempt_;  // transitions are reported from where it was
      set_control_locked(ok ? (remote_ ? ControlState::kOnlineRemote : ControlState::kOnlineLocal)
                            : ControlState::kHostOffline,
                         &events);
    }
    publish();
    send_now(events, true);
  };
  auto done = [finish](const secs::ReplyResult& r) {
    finish(r.kind == secs::ReplyResult::kReply && r.reply.header.function() == 2);
  };
  if (!communicating || link == nullptr || !link->send(1, 1, true, Item::list(), done)) finish(false);
}

// ---- From the host -------------------------------------------------------------------------

void GemEquipment::on_primary(const secs::Message& m) { handle(m); }

void GemEquipment::handle(const secs::Message& m) {
  Link* link = nullptr;
  CommState comm;
  bool online = false;
  ControlState control;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    link = link_;
    comm = comm_;
    online = online_locked();
    control = control_;
  }
  if (link == nullptr) return;
  const int s = m.header.stream(), f = m.header.function();
  bool stream_known = false;
  if (!known_message(s, f, &stream_known)) {
    link->send_s9(stream_known ? 5 : 3, m.header);
    return;
  }
  const bool wbit = m.header.wbit();
  auto answer = [&](const Item& body) {
    if (wbit) link->reply(m, body);
  };
  auto refuse = [&] {
    if (wbit) link->abort(m);
  };
  if (comm == CommState::kDisabled) return refuse();
  if (s == 1 && f == 13) {
    answer(Item::list({b1(0), Item::list({cut(settings_.model, 20), cut(settings_.soft_revision, 20)})}));
    std::vector<Prepared> events;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      set_comm_locked(CommState::kCommunicating, &events);
    }
    publish();
    send_now(events, false);
    return;
  }
  if (comm != CommState::kCommunicating) return refuse();
  if (s == 1 && f == 17) {
    // The transition is reported after the reply.
    std::vector<Prepared> events;
    answer(s1f17(&events));
    publish();
    send_now(events, true);
    return;
  }
  if (!online) {
    if (s == 1 && f == 15 && control == ControlState::kHostOffline) return answer(b1(0));
    return refuse();
  }
  switch (s * 100 + f) {
    case 101:
      return answer(Item::list({cut(settings_.model, 20), cut(settings_.soft_revision, 20)}));
    case 103: return answer(s1f3(m.body));
    case 111: return answer(s1f11(m.body));
    case 115: {
      std::vector<Prepared> events;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        set_control_locked(ControlState::kHostOffline, &events);
      }
      answer(b1(0));
      publish();
      send_now(events, true);
      return;
    }
    case 213: return answer(s2f13(m.body));
    case 215: return answer(s2f15(m.body));
    case 217: return answer(Item::ascii(clock_text()));
    case 223: return answer(s2f23(m.body));
    case 229: return answer(s2f29(m.body));
    case 231: return answer(s2f31(m.body));
    case 233: return answer(s2f33(m.body));
    case 235: return answer(s2f35(m.body));
    case 237: return answer(s2f37(m.body));
    case 241: return answer(s2f41(m.body));
    case 503: return answer(s5f3(m.body));
    case 505: return answer(s5f5(m.body));
    case 615: return answer(s6f15(m.body));
    case 623: return answer(s6f23(m.body));
    case 1003: return answer(s10f3(m.body));
    default: return refuse();
  }
}

Item GemEquipment::s1f17(std::vector<Prepared>* events) {
  // ONLACK: 0 accepted, 1 not allowed, 2 already online.
  std::lock_guard<std::mutex> lock(mutex_);
  if (online_locked()) return b1(2);
  if (control_ != ControlState::kHostOffline) return b1(1);  // the operator holds it offline
  set_control_locked(remote_ ? ControlState::kOnlineRemote : ControlState::kOnlineLocal, events);
  return b1(0);
}

Item GemEquipment::s1f3(const Item& body) {
  std::vector<uint32_t> ids;
  std::vector<Item> out;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ids_of(body, &ids)) return Item::list();
  if (ids.empty()) {
    for (const VariableDef& v : mapping_.variables) {
      if (v.status) out.push_back(value_locked(v));
    }
    return Item::list(std::move(out));
  }
  for (uint32_t id : ids) {
    const VariableDef* v = mapping_.variable(id);
    out.push_back(v != nullptr && v->status ? value_locked(*v) : Item::list());
  }
  return Item::list(std::move(out));
}

Item GemEquipment::s1f11(const Item& body) {
  std::vector<uint32_t> ids;
  std::vector<Item> out;
  if (!ids_of(body, &ids)) return Item::list();
  auto row = [](uint32_t id, const VariableDef* v) {
    return Item::list({u4(id), Item::ascii(v != nullptr ? v->name : ""),
                       Item::ascii(v != nullptr ? v->unit : "")});
  };
  if (ids.empty()) {
    for (const VariableDef& v : mapping_.variables) {
      if (v.status) out.push_back(row(v.vid, &v));
    }
  }
  for (uint32_t id : ids) {
    const VariableDef* v = mapping_.variable(id);
    out.push_back(row(id, v != nullptr && v->status ? v : nullptr));
  }
  return Item::list(std::move(out));
}

Item GemEquipment::s2f13(const Item& body) {
  std::vector<uint32_t> ids;
  std::vector<Item> out;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ids_of(body, &ids)) return Item::list();
  if (ids.empty()) {
    for (const ConstantDef& c : mapping_.constants) ids.push_back(c.ecid);
  }
  for (uint32_t id : ids) {
    const ConstantDef* c = mapping_.constant(id);
    out.push_back(c != nullptr ? constant_item(*c, constant_locked(*c)) : Item::list());
  }
  return Item::list(std::move(out));
}

Item GemEquipment::s2f15(const Item& body) {
  // EAC: 0 done, 1 a constant does not exist, 2 busy, 3 a value is out of range.
  if (!body.is_list()) return b1(3);
  std::vector<std::pair<const ConstantDef*, double>> changes;
  for (const Item& pair : body.items()) {
    uint32_t id = 0;
    double v = 0;
    if (!pair.is_list() || pair.size() != 2 || !id_of(pair.items()[0], &id)) return b1(1);
    const ConstantDef* c = mapping_.constant(id);
    if (c == nullptr) return b1(1);
    if (!number_of(pair.items()[1], &v) || v < c->min || v > c->max) return b1(3);
    changes.emplace_back(c, v);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [c, v] : changes) {
    if (!c->point.empty()) runtime_.write_constant(*c, v);
    defs_.constants[c->ecid] = v;
  }
  save_locked();
  return b1(0);
}

Item GemEquipment::s2f29(const Item& body) {
  std::vector<uint32_t> ids;
  std::vector<Item> out;
  if (!ids_of(body, &ids)) return Item::list();
  if (ids.empty()) {
    for (const ConstantDef& c : mapping_.constants) ids.push_back(c.ecid);
  }
  for (uint32_t id : ids) {
    const ConstantDef* c = mapping_.constant(id);
    if (c == nullptr) {
      out.push_back(Item::list({u4(id), Item::ascii(""), Item::ascii(""), Item::ascii(""),
                                Item::ascii(""), Item::ascii("")}));
      continue;
    }
    out.push_back(Item::list({u4(id), Item::ascii(c->name), constant_item(*c, c->min),
                              constant_item(*c, c->max), constant_item(*c, c->def),
                              Item::ascii(c->unit)}));
  }
  return Item::list(std::move(out));
}

Item GemEquipment::s2f31(const Item& body) {
  int64_t ms = 0;
  if (!body.is_text() || !parse_time(body.text(), &ms)) return b1(1);
  std::lock_guard<std::mutex> lock(mutex_);
  defs_.clock_offset_ms = ms - now_ms();
  save_locked();
  return b1(0);
}

Item GemEquipment::s2f23(const Item& body) {
  // TIAACK: 0 ok, 1 too many SVIDs, 2 no more traces allowed, 3 invalid period, 4 unknown SVID,
  // 5 invalid REPGSZ.
  const auto& i = body.items();
  uint32_t trid = 0;
  double total = 0, group = 0;
  std::vector<uint32_t> svids;
  if (!body.is_list() || i.size() != 5 || !id_of(i[0], &trid) || !number_of(i[2], &total) ||
      !number_of(i[3], &group) || !ids_of(i[4], &svids)) {
    return b1(3);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (total <= 0) {
    traces_.erase(trid);
    return b1(0);
  }
  std::chrono::milliseconds period{0};
  if (!i[1].is_text() || !parse_period(i[1].text(), &period)) return b1(3);
  if (group < 1 || group > total) return b1(5);
  if (svids.empty() || svids.size() > 1000) return b1(1);
  for (uint32_t id : svids) {
    const VariableDef* v = mapping_.variable(id);
    if (v == nullptr || !v->status) return b1(4);
  }
  if (traces_.size() >= kMaxTraces && traces_.count(trid) == 0) return b1(2);
  Trace t;
  t.trid = trid;
  t.period = period;
  t.total = static_cast<uint32_t>(total);
  t.group = static_cast<uint32_t>(group);
  t.svids = svids;
  t.next = Clock::now() + period;
  traces_[trid] = std::move(t);
  return b1(0);
}

Item GemEquipment::s2f33(const Item& body) {
  // DRACK: 0 ok, 1 no space, 2 invalid format, 3 a RPTID is already defined, 4 a VID does not
  // exist.
  if (!body.is_list() || body.size() != 2 || !body.items()[1].is_list()) return b1(2);
  const Item& reports = body.items()[1];
  std::lock_guard<std::mutex> lock(mutex_);
  if (reports.size() == 0) {
    defs_.reports.clear();
    defs_.links.clear();
    save_locked();
    return b1(0);
  }
  std::map<uint32_t, std::vector<uint32_t>> defined;
  std::set<uint32_t> deleted;
  for (const Item& r : reports.items()) {
    uint32_t rptid = 0;
    std::vector<uint32_t> vids;
    if (!r.is_list() || r.size() != 2 || !id_of(r.items()[0], &rptid) ||
        !r.items()[1].is_list() || !ids_of(r.items()[1], &vids)) {
      return b1(2);
    }
    if (vids.empty()) {
      deleted.insert(rptid);
      continue;
    }
    if (defs_.reports.count(rptid) != 0 || defined.count(rptid) != 0) return b1(3);
    for (uint32_t vid : vids) {
      if (mapping_.variable(vid) == nullptr) return b1(4);
    }
    defined[rptid] = vids;
  }
  for (uint32_t rptid : deleted) {
    defs_.reports.erase(rptid);
    for (auto& [ceid, rptids] : defs_.links) {
      rptids.erase(std::remove(rptids.begin(), rptids.end(), rptid), rptids.end());
    }
  }
  for (auto it = defs_.links.begin(); it != defs_.links.end();) {
    it = it->second.empty() ? defs_.links.erase(it) : std::next(it);
  }
  for (auto& [rptid, vids] : defined) defs_.reports[rptid] = vids;
  save_locked();
  return b1(0);
}

Item GemEquipment::s2f35(const Item& body) {
  // LRACK: 0 ok, 1 no space, 2 invalid format, 3 a CEID already has links, 4 a CEID does not
  // exist, 5 a RPTID does not exist.
  if (!body.is_list() || body.size() != 2 || !body.items()[1].is_list()) return b1(2);
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> changes;
  for (const Item& l : body.items()[1].items()) {
    uint32_t ceid = 0;
    std::vector<uint32_t> rptids;
    if (!l.is_list() || l.size() != 2 || !id_of(l.items()[0], &ceid) ||
        !l.items()[1].is_list() || !ids_of(l.items()[1], &rptids)) {
      return b1(2);
    }
    if (mapping_.event(ceid) == nullptr) return b1(4);
    for (uint32_t rptid : rptids) {
      if (defs_.reports.count(rptid) == 0) return b1(5);
    }
    if (!rptids.empty() && defs_.links.count(ceid) != 0) return b1(3);
    for (const auto& c : changes) {
      if (c.first == ceid && !rptids.empty()) return b1(3);
    }
    changes.emplace_back(ceid, rptids);
  }
  for (auto& [ceid, rptids] : changes) {
    if (rptids.empty()) {
      defs_.links.erase(ceid);
    } else {
      defs_.links[ceid] = rptids;
    }
  }
  save_locked();
  return b1(0);
}

Item GemEquipment::s2f37(const Item& body) {
  // ERACK: 0 ok, 1 a CEID does not exist.
  std::vector<uint32_t> ceids;
  if (!body.is_list() || body.size() != 2 || body.items()[0].size() != 1 ||
      !ids_of(body.items()[1], &ceids)) {
    return b1(1);
  }
  int64_t on = 0;
  body.items()[0].first_int(&on);
  std::lock_guard<std::mutex> lock(mutex_);
  for (uint32_t ceid : ceids) {
    if (mapping_.event(ceid) == nullptr) return b1(1);
  }
  if (ceids.empty()) {
    for (const EventDef& e : mapping_.events) ceids.push_back(e.ceid);
  }
  for (uint32_t ceid : ceids) {
    if (on != 0) {
      defs_.enabled_events.insert(ceid);
    } else {
      defs_.enabled_events.erase(ceid);
    }
  }
  save_locked();
  return b1(0);
}

Item GemEquipment::s2f41(const Item& body) {
  // HCACK: 0 done, 1 no such command, 2 cannot perform now, 3 a parameter is invalid,
  // 4 will finish later. CPACK: 1 no such parameter, 2 illegal value, 3 illegal format.
  const auto& i = body.items();
  if (!body.is_list() || i.size() != 2 || !i[0].is_text() || !i[1].is_list()) {
    return Item::list({b1(3), Item::list()});
  }
  const CommandDef* command = mapping_.command(i[0].text());
  if (command == nullptr) return Item::list({b1(1), Item::list()});
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (control_ != ControlState::kOnlineRemote) return Item::list({b1(2), Item::list()});
  }
  std::vector<std::pair<std::string, std::string>> values;
  std::vector<Item> bad;
  for (const Item& p : i[1].items()) {
    if (!p.is_list() || p.size() != 2 || !p.items()[0].is_text() || p.items()[1].is_list()) {
      bad.push_back(Item::list({Item::ascii(p.is_list() && p.size() == 2 && p.items()[0].is_text()
                                                ? p.items()[0].text()
                                                : ""),
                                b1(3)}));
      continue;
    }
    const std::string& name = p.items()[0].text();
    if (std::find(command->params.begin(), command->params.end(), name) == command->params.end()) {
      bad.push_back(Item::list({Item::ascii(name), b1(1)}));
      continue;
    }
    values.emplace_back(name, text_of(p.items()[1]));
  }
  std::string routine = command->routine;
  if (routine.empty()) {
    for (const auto& [n, v] : values) {
      if (n == "ROUTINE") routine = v;
    }
    if (routine.empty()) bad.push_back(Item::list({Item::ascii("ROUTINE"), b1(2)}));
  }
  std::string args, missing;
  if (bad.empty() && !expand_arguments(*command, values, &args, &missing)) {
    bad.push_back(Item::list({Item::ascii(missing), b1(1)}));
  }
  if (!bad.empty()) return Item::list({b1(3), Item::list(std::move(bad))});
  const int hcack = runtime_.run(routine, args);
  if (hcack == 3 && command->routine.empty()) {
    return Item::list({b1(3), Item::list({Item::list({Item::ascii("ROUTINE"), b1(2)})})});
  }
  return Item::list({b1(static_cast<uint8_t>(hcack)), Item::list()});
}

Item GemEquipment::s5f3(const Item& body) {
  // ACKC5: 0 accepted, 1 an ALID does not exist.
  std::vector<uint32_t> alids;
  if (!body.is_list() || body.size() != 2 || body.items()[0].size() != 1 ||
      !ids_of(body.items()[1], &alids)) {
    return b1(1);
  }
  int64_t aled = 0;
  body.items()[0].first_int(&aled);
  const bool enable = (aled & kAlarmSetBit) != 0;
  std::lock_guard<std::mutex> lock(mutex_);
  for (uint32_t alid : alids) {
    if (mapping_.alarm(alid) == nullptr) return b1(1);
  }
  if (alids.empty()) {
    for (const AlarmDef& a : mapping_.alarms) alids.push_back(a.alid);
  }
  for (uint32_t alid : alids) {
    if (enable) {
      defs_.disabled_alarms.erase(alid);
    } else {
      defs_.disabled_alarms.insert(alid);
    }
  }
  save_locked();
  return b1(0);
}

Item GemEquipment::s5f5(const Item& body) {
  std::vector<uint32_t> alids;
  std::vector<Item> out;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ids_of(body, &alids)) return Item::list();
  if (alids.empty()) {
    for (const AlarmDef& a : mapping_.alarms) alids.push_back(a.alid);
  }
  for (uint32_t alid : alids) {
    const AlarmDef* a = mapping_.alarm(alid);
    if (a == nullptr) {
      out.push_back(Item::list({Item::binary(std::vector<uint8_t>{}), u4(alid), Item::ascii("")}));
      continue;
    }
    out.push_back(Item::list({b1(alarms_set_.count(alid) != 0 ? kAlarmSetBit : 0), u4(alid),
                              cut(a->text, 40)}));
  }
  return Item::list(std::move(out));
}

Item GemEquipment::s6f15(const Item& body) {
  uint32_t ceid = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!id_of(body, &ceid) || mapping_.event(ceid) == nullptr) {
    return Item::list({u4(++dataid_), u4(ceid), Item::list()});
  }
  return event_body_locked(ceid);
}

Item GemEquipment::s6f23(const Item& body) {
  // RSDC 0 transmit, 1 purge; RSDA 0 ok, 1 busy, 2 no spooled data.
  int64_t rsdc = -1;
  if (body.is_list() || !body.first_int(&rsdc) || (rsdc != 0 && rsdc != 1)) return b1(1);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (transmitting_) return b1(1);
    if (spool_count_ == 0) return b1(2);
    if (rsdc == 1) {
      std::string error;
      if (store_ != nullptr) store_->spool_clear(&error);
      spool_count_ = 0;
      counters_.spool_total = 0;
    } else {
      transmitting_ = true;
    }
  }
  if (rsdc == 0) {
    if (unloader_.joinable()) unloader_.join();
    unloader_ = std::thread([this] { unload_spool(); });
  }
  publish();
  return b1(0);
}

void GemEquipment::unload_spool() {
  // Sends the spooled messages oldest first, a batch at a time; an entry leaves the spool once
  // the host has answered it. A failure ends the transmission (what is left stays spooled).
  int64_t limit = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    limit = static_cast<int64_t>(constant_named_locked(kMaxSpoolTransmitName, 0));
  }
  int64_t sent = 0;
  bool failed = false;
  while (!failed && (limit <= 0 || sent < limit)) {
    std::vector<SpoolEntry> entries;
    std::string error;
    Link* link = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      link = link_;
      if (stopping_ || comm_ != CommState::kCommunicating) break;
    }
    const std::size_t want =
        limit > 0 ? std::min<std::size_t>(kSpoolBatch, static_cast<std::size_t>(limit - sent))
                  : kSpoolBatch;
    if (store_ == nullptr || !store_->spool_front(want, &entries, &error) || entries.empty()) break;
    std::mutex m;
    std::condition_variable cv;
    std::size_t open = 0;
    for (const SpoolEntry& e : entries) {
      Item body;
      std::string why;
      if (!secs::decode(e.body, &body, &why)) {
        store_->spool_erase(e.seq, &error);  // an unreadable entry cannot be sent
        std::lock_guard<std::mutex> lock(mutex_);
        --spool_count_;
        continue;
      }
      {
        std::lock_guard<std::mutex> g(m);
        ++open;
      }
      const int64_t seq = e.seq;
      auto done = [this, seq, &m, &cv, &open, &failed](const secs::ReplyResult& r) {
        if (r.kind == secs::ReplyResult::kReply) {
          std::string err;
          if (store_->spool_erase(seq, &err)) {
            std::lock_guard<std::mutex> lock(mutex_);
            --spool_count_;
          }
        }
        std::lock_guard<std::mutex> g(m);
        if (r.kind != secs::ReplyResult::kReply) failed = true;
        --open;
        cv.notify_all();
      };
      if (link == nullptr || !link->send(e.stream, e.function, e.wbit, body, done)) {
        std::lock_guard<std::mutex> g(m);
        --open;
        failed = true;
        break;
      }
      ++sent;
    }
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&open] { return open == 0; });
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    transmitting_ = false;
    if (spool_count_ == 0) counters_.spool_total = 0;
  }
  publish();
}

Item GemEquipment::s10f3(const Item& body) {
  // ACKC10: 0 accepted for display, 1 will not be displayed, 2 terminal not available.
  if (!body.is_list() || body.size() != 2 || !body.items()[1].is_text()) return b1(1);
  int64_t tid = 0;
  body.items()[0].first_int(&tid);
  return b1(static_cast<uint8_t>(runtime_.show_message(static_cast<int>(tid), body.items()[1].text())));
}

}  // namespace vexlor::gem
