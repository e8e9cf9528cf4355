// The Modbus TCP driver's device loop, endpoint and statistics.
#include "modbus/driver.h"

#include <modbus/modbus.h>
#include <unistd.h>
#include <vexlor/image_state.h>
#include <vexlor/vexlor.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "os/atomic_field.h"
#include "os/clock.h"
#include "os/instance.h"
#include "util/text.h"

namespace vexlor::drivers::modbus {

namespace {

using os::load_relaxed;
using os::store_relaxed;

constexpr double kMaxBackoff = 5.0;
constexpr double kHistogramLimitsMs[9] = {1, 2, 5, 10, 20, 50, 100, 200, 500};

// A status byte of a packed string slot: one byte store, which no reader can see torn.
void set_status(uint8_t* status, uint8_t value) { *static_cast<volatile uint8_t*>(status) = value; }

bool device_exception(int error) {
  return error >= MODBUS_ENOBASE + MODBUS_EXCEPTION_ILLEGAL_FUNCTION &&
         error < MODBUS_ENOBASE + MODBUS_EXCEPTION_MAX;
}

std::string time_text() {
  const os::LocalTime t = os::local_time();
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return text;
}

}  // namespace

Driver::Driver(Vexlor::MMAP_STRU* db, int driver) : db_(db), driver_(driver), parent_(::getppid()) {
  const Vexlor::MEM_DRIVER_SP_STRU& d = db_->driver_sp[driver_];
  name_ = std::string(detail::field_text(d.name));
  int32_t params[10];
  for (int i = 0; i < 10; ++i) params[i] = load_relaxed(d.params[i]);
  settings_ = device_settings(params);
  collect_points();
}

Driver::~Driver() {
  stop();
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard<std::mutex> guard(clients_lock_);
    for (auto& c : clients_) c->shutdown();
  }
  for (auto& t : client_threads_) {
    if (t.joinable()) t.join();
  }
  listener_.close();
  if (ctx_ != nullptr) {
    modbus_close(ctx_);
    modbus_free(ctx_);
  }
  for (os::MutexHandle h : string_mutexes_) {
    if (h != nullptr) os::mutex_close(h);
  }
}

void Driver::collect_points() {
  const Vexlor::MEM_SYSTEM_STRU& s = *db_->system_block;
  for (int i = 0; i < s.digital_count; ++i) {
    if (load_relaxed(db_->digital_sp[i].idrv_point) != driver_) continue;
    inputs_.push_back({'D', i});
    planned_.push_back({unpack(db_->digital_sp[i].iparam, 4)});
  }
  for (int i = 0; i < s.analog_count; ++i) {
    if (load_relaxed(db_->analog_sp[i].idrv_point) != driver_) continue;
    inputs_.push_back({'A', i});
    planned_.push_back({unpack(db_->analog_sp[i].iparam, 3)});
  }
  for (int i = 0; i < s.string_count; ++i) {
    if (load_relaxed(db_->string_sp[i].idrv_point) != driver_) continue;
    inputs_.push_back({'S', i});
    planned_.push_back({unpack(&db_->string_sp[i].iparam, 1)});
  }
  // Nothing is read from the device yet.
  for (const InputPoint& in : inputs_) {
    if (in.kind == 'D') store_relaxed(db_->digital_val[in.index].read_status, 0);
    if (in.kind == 'A') store_relaxed(db_->analog_val[in.index].read_status, 0);
    if (in.kind == 'S') set_status(&db_->string_val[in.index].read_status, 0);
  }
  string_mutexes_.assign(inputs_.size(), nullptr);
  for (std::size_t p = 0; p < inputs_.size(); ++p) {
    if (inputs_[p].kind != 'S') continue;
    const std::string mutex = point_name('S', inputs_[p].index) + "_SIO_MUTEX";
    string_mutexes_[p] = os::mutex_create(mutex.c_str(), false);
  }
  groups_ = plan_reads(planned_);
}

std::string Driver::point_name(char kind, int index) const {
  switch (kind) {
    case 'D':
      return std::string(detail::field_text(db_->digital_sp[index].name));
    case 'A':
      return std::string(detail::field_text(db_->analog_sp[index].name));
    default:
      return std::string(detail::field_text(db_->string_sp[index].name));
  }
}

void Driver::log(int type, const std::string& text) {
  Vexlor::VDriver_Log(name_.c_str(), static_cast<Vexlor::LOG_TYPE>(type), "%s", text.c_str());
}

bool Driver::open(std::string* error) {
  if (!listener_.open(detail::driver_endpoint(driver_), error)) return false;
  acceptor_ = std::thread([this] { accept_loop(); });
  return true;
}

void Driver::stop() {
  stop_ = true;
  listener_.interrupt();
  wake_.notify_all();
}

void Driver::set_offline_param(int value) {
  store_relaxed(db_->driver_sp[driver_].params[kParamOffline], value);
}

bool Driver::connect_device() {
  if (ctx_ != nullptr) {
    modbus_close(ctx_);
    modbus_free(ctx_);
    ctx_ = nullptr;
  }
  const std::string host = settings_.host_text();
  ctx_ = modbus_new_tcp(host.c_str(), settings_.port);
  if (ctx_ == nullptr) {
    link_down(std::string("cannot create a connection: ") + modbus_strerror(errno));
    return false;
  }
  modbus_set_slave(ctx_, settings_.unit);
  const int ms = settings_.timeout_ms;
  modbus_set_response_timeout(ctx_, ms / 1000, (ms % 1000) * 1000);
  modbus_set_byte_timeout(ctx_, ms / 1000, (ms % 1000) * 1000);
  if (modbus_connect(ctx_) != 0) {
    const std::string reason = std::string("cannot connect: ") + modbus_strerror(errno);
    modbus_free(ctx_);
    ctx_ = nullptr;
    link_down(reason);
    return false;
  }
  // Online once the device answered a request (a device that accepts connections but answers
  // wrongly stays offline, and its reconnections back off); without points, once connected.
  if (groups_.empty()) link_up();
  return true;
}

void Driver::link_up() {
  backoff_ = 0;
  if (online_ && known_) return;
  online_ = true;
  {
    std::lock_guard<std::mutex> guard(stats_lock_);
    online_since_ = time_text();
  }
  set_offline_param(0);
  log(Vexlor::LOG_DBG, "online: " + settings_.host_text() + ":" + std::to_string(settings_.port) +
                           " unit " + std::to_string(settings_.unit));
  if (alarm_posted_) {
    if (settings_.alarm > 0) Vexlor::VAlarm_ID_Clear(settings_.alarm);
    alarm_posted_ = false;
  }
  known_ = true;
}

void Driver::link_down(const std::string& reason) {
  if (ctx_ != nullptr) {
    modbus_close(ctx_);
    modbus_free(ctx_);
    ctx_ = nullptr;
  }
  backoff_ = backoff_ == 0 ? settings_.period_ms / 1000.0 : std::min(backoff_ * 2, kMaxBackoff);
  next_connect_ = os::clock_seconds() + backoff_;
  {
    std::lock_guard<std::mutex> guard(stats_lock_);
    last_error_ = reason;
    online_since_.clear();
  }
  if (!online_ && known_) return;  // one line per state change
  online_ = false;
  known_ = true;
  set_offline_param(1);
  for (std::size_t p = 0; p < inputs_.size(); ++p) {
    const InputPoint& in = inputs_[p];
    if (in.kind == 'D') store_relaxed(db_->digital_val[in.index].read_status, 0);
    if (in.kind == 'A') store_relaxed(db_->analog_val[in.index].read_status, 0);
    if (in.kind == 'S') set_status(&db_->string_val[in.index].read_status, 0);
  }
  const std::string text = "driver " + name_ + " offline: " + settings_.host_text() + ":" +
                           std::to_string(settings_.port) + ": " + reason;
  log(Vexlor::LOG_ERR, "offline: " + reason);
  if (!alarm_posted_) {
    alarm_posted_ = settings_.alarm > 0
                        ? Vexlor::VAlarm_ID_Post(settings_.alarm, text.c_str())
                        : Vexlor::VSystem_Alarm_Post(__FILE__, __LINE__, text.c_str());
  }
}

void Driver::note_io(double seconds, bool ok) {
  std::lock_guard<std::mutex> guard(stats_lock_);
  last_io_ = seconds;
  longest_io_ = std::max(longest_io_, seconds);
  if (!ok) ++io_errors_;
}

bool Driver::read_group(const ReadGroup& g, std::vector<uint16_t>& regs,
                        std::vector<uint8_t>& bits) {
  const double start = os::clock_seconds();
  int n = -1;
  switch (g.table) {
    case Table::Coil:
      n = modbus_read_bits(ctx_, g.start, g.count, bits.data());
      break;
    case Table::DiscreteInput:
      n = modbus_read_input_bits(ctx_, g.start, g.count, bits.data());
      break;
    case Table::HoldingRegister:
      n = modbus_read_registers(ctx_, g.start, g.count, regs.data());
      break;
    case Table::InputRegister:
      n = modbus_read_input_registers(ctx_, g.start, g.count, regs.data());
      break;
  }
  const bool ok = n == g.count;
  note_io(os::clock_seconds() - start, ok);
  if (ok) {
    std::lock_guard<std::mutex> guard(stats_lock_);
    ++reads_ok_;
  }
  return ok;
}

void Driver::store(int p, const uint16_t* regs) {
  const InputPoint& in = inputs_[p];
  const Mapping& m = planned_[p].mapping;
  switch (in.kind) {
    case 'D': {
      Vexlor::MEM_DIGITAL_VAL_STRU& slot = db_->digital_val[in.index];
      store_relaxed(slot.read_value, static_cast<int32_t>(decode_raw(m, regs)));
      store_relaxed(slot.read_status, 1);
      break;
    }
    case 'A': {
      Vexlor::MEM_ANALOG_VAL_STRU& slot = db_->analog_val[in.index];
      store_relaxed(slot.read_value, scaled(m, decode_raw(m, regs)));
      store_relaxed(slot.read_status, 1);
      break;
    }
    default: {
      Vexlor::MEM_STRING_VAL_STRU& slot = db_->string_val[in.index];
      const std::string text = decode_text(m, regs);
      os::MutexHandle mutex = string_mutexes_[p];
      uint32_t waited = mutex != nullptr ? os::mutex_wait(mutex, 1000) : os::kWaitFailed;
      const bool held = waited == os::kWaitObject0 || waited == os::kWaitAbandoned;
      detail::copy_text(slot.read_value, text);
      set_status(&slot.read_status, 1);
      if (held) os::mutex_release(mutex);
      break;
    }
  }
  if (in.bad) mark_bad(p, false, "");
}

void Driver::mark_bad(int p, bool bad, const std::string& reason) {
  InputPoint& in = inputs_[p];
  if (in.bad == bad) return;
  in.bad = bad;
  const std::string name = point_name(in.kind, in.index);
  if (bad) {
    if (in.kind == 'D') store_relaxed(db_->digital_val[in.index].read_status, 0);
    if (in.kind == 'A') store_relaxed(db_->analog_val[in.index].read_status, 0);
    if (in.kind == 'S') set_status(&db_->string_val[in.index].read_status, 0);
    log(Vexlor::LOG_ERR, "point " + name + " bad: " + reason);
  } else {
    log(Vexlor::LOG_DBG, "point " + name + " good again");
  }
}

void Driver::scan() {
  const double start = os::clock_seconds();
  std::vector<uint16_t> regs(kMaxReadRegisters);
  std::vector<uint8_t> bits(kMaxReadBits);
  std::vector<uint16_t> one(4);
  uint64_t requests = 0;
  bool replan = false;
  for (std::size_t gi = 0;; ++gi) {
    // A routine's write waiting for the device goes first.
    while (writers_.load() > 0) std::this_thread::yield();
    std::lock_guard<std::mutex> device(device_lock_);
    if (gi >= groups_.size() || ctx_ == nullptr) break;
    const ReadGroup& g = groups_[gi];
    ++requests;
    if (!read_group(g, regs, bits)) {
      const int error = errno;
      if (!device_exception(error)) {
        link_down(std::string("read failed: ") + modbus_strerror(error));
        return;
      }
      link_up();
      {
        std::lock_guard<std::mutex> guard(stats_lock_);
        ++exceptions_;
      }
      if (g.members.size() == 1) {
        mark_bad(g.members[0], true, modbus_strerror(error));
        continue;
      }
      // Somebody in the group is refused: from now on each member is read on its own.
      for (int p : g.members) planned_[p].solo = true;
      replan = true;
      continue;
    }
    link_up();
    for (int p : g.members) {
      const Mapping& m = planned_[p].mapping;
      const int offset = m.address - g.start;
      if (m.bit_table()) {
        one[0] = bits[offset];
        store(p, one.data());
      } else {
        store(p, regs.data() + offset);
      }
    }
  }
  if (replan) {
    std::lock_guard<std::mutex> device(device_lock_);
    groups_ = plan_reads(planned_);
  }
  const double cycle = os::clock_seconds() - start;
  std::lock_guard<std::mutex> guard(stats_lock_);
  ++scans_;
  requests_last_scan_ = requests;
  last_cycle_ = cycle;
  int bucket = 0;
  while (bucket < 9 && cycle * 1000 > kHistogramLimitsMs[bucket]) ++bucket;
  ++histogram_[bucket];
}

bool Driver::execute(const detail::DriverWrite& w) {
  int32_t params[4] = {};
  int32_t driver = -1;
  std::size_t count = 0;
  if (w.kind == 'D' && w.point >= 0 && w.point < db_->system_block->digital_count) {
    driver = load_relaxed(db_->digital_sp[w.point].odrv_point);
    std::memcpy(params, db_->digital_sp[w.point].oparam, sizeof(int32_t) * 4);
    count = 4;
  } else if (w.kind == 'A' && w.point >= 0 && w.point < db_->system_block->analog_count) {
    driver = load_relaxed(db_->analog_sp[w.point].odrv_point);
    std::memcpy(params, db_->analog_sp[w.point].oparam, sizeof(int32_t) * 3);
    count = 3;
  } else if (w.kind == 'S' && w.point >= 0 && w.point < db_->system_block->string_count) {
    driver = load_relaxed(db_->string_sp[w.point].odrv_point);
    params[0] = load_relaxed(db_->string_sp[w.point].oparam);
    count = 1;
  }
  if (driver != driver_) {
    log(Vexlor::LOG_ERR, "write refused: point " + std::to_string(w.point) +
                             " is not written through this driver");
    return false;
  }
  const std::string name = point_name(w.kind, w.point);
  if (ctx_ == nullptr) {
    log(Vexlor::LOG_ERR, "write " + name + " failed: device offline");
    return false;
  }
  const Mapping m = unpack(params, count);
  uint16_t regs[kMaxReadRegisters] = {};
  double raw = 0;
  if (w.kind == 'S') {
    if (static_cast<int>(w.text.size()) > m.length) {
      log(Vexlor::LOG_ERR, "write " + name + " failed: text of " + std::to_string(w.text.size()) +
                               " characters, the device holds " + std::to_string(m.length));
      return false;
    }
    encode_text(m, w.text, regs);
  } else {
    const double value = w.kind == 'D' ? w.int_value : w.real_value;
    if (!unscaled(m, value, &raw)) {
      char text[64];
      std::snprintf(text, sizeof text, "%.17g", value);
      log(Vexlor::LOG_ERR, "write " + name + " failed: " + text + " does not fit the device's type");
      return false;
    }
    encode_raw(m, raw, regs);
  }
  const double start = os::clock_seconds();
  int rc = -1;
  if (m.table == Table::Coil) {
    rc = modbus_write_bit(ctx_, m.address, raw != 0 ? 1 : 0);
  } else if (m.type == DataType::Bit) {
    rc = modbus_mask_write_register(ctx_, m.address, static_cast<uint16_t>(~(1u << m.bit)),
                                    regs[0]);
  } else if (m.width() == 1) {
    rc = modbus_write_register(ctx_, m.address, regs[0]);
  } else {
    rc = modbus_write_registers(ctx_, m.address, m.width(), regs);
  }
  const int error = errno;
  note_io(os::clock_seconds() - start, rc >= 0);
  if (rc >= 0 || device_exception(error)) link_up();
  if (rc >= 0) {
    {
      std::lock_guard<std::mutex> guard(stats_lock_);
      ++writes_ok_;
    }
    // A string is written under its point's mutex, which the routine holds while it waits
    // here: its read value follows with the next scan.
    if (w.kind != 'S') read_back(w.kind, w.point, m, regs);
    return true;
  }
  log(Vexlor::LOG_ERR, "write " + name + " failed: " + modbus_strerror(error));
  if (device_exception(error)) {
    std::lock_guard<std::mutex> guard(stats_lock_);
    ++exceptions_;
  } else {
    link_down(std::string("write failed: ") + modbus_strerror(error));
  }
  return false;
}

void Driver::read_back(char kind, int point, const Mapping& written, const uint16_t* regs) {
  for (std::size_t p = 0; p < inputs_.size(); ++p) {
    if (inputs_[p].kind != kind || inputs_[p].index != point || inputs_[p].bad) continue;
    // Only where the point is read from exactly what was written (same entry, type, order,
    // scale): the acknowledged value is what the next scan would read.
    const Mapping& r = planned_[p].mapping;
    if (r.table == written.table && r.address == written.address && r.type == written.type &&
        r.order == written.order && r.bit == written.bit && r.exponent == written.exponent &&
        r.scale == written.scale && r.offset == written.offset) {
      store(static_cast<int>(p), regs);
    }
    return;
  }
}

std::string Driver::status_path() const {
  const std::string dir = os::instance_dir();
  return dir.empty() ? dir : dir + "/driver." + std::to_string(driver_) + ".status.json";
}

void Driver::publish_status() {
  const std::string path = status_path();
  if (path.empty()) return;
  const std::string tmp = path + ".tmp";
  std::string text = status_json();
  text.insert(1, "\"updated\":" + std::to_string(static_cast<long long>(std::time(nullptr))) + ",");
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (f == nullptr) return;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) == 0 && written) {
    std::rename(tmp.c_str(), path.c_str());  // readers see the old text or the new, whole
  } else {
    std::remove(tmp.c_str());
  }
}

bool Driver::still_wanted() {
  if (vexlor::database_retired(db_)) {
    log(Vexlor::LOG_DBG, "the database was replaced or removed: the driver program ends");
    return false;
  }
  if (parent_ > 1 && ::getppid() != parent_) {
    log(Vexlor::LOG_DBG, "the process that started the driver program ended: it ends too");
    return false;
  }
  return true;
}

void Driver::run() {
  double next_scan = os::clock_seconds();
  double next_status = next_scan;
  while (!stop_) {
    const double now = os::clock_seconds();
    if (now >= next_status) {
      publish_status();
      next_status = now + 1.0;
      if (!still_wanted()) break;
    }
    bool connected = false;
    {
      std::lock_guard<std::mutex> device(device_lock_);
      if (ctx_ == nullptr && now >= next_connect_) connect_device();
      connected = ctx_ != nullptr;
    }
    if (connected && now >= next_scan) {
      scan();
      next_scan += settings_.period_ms / 1000.0;
      if (next_scan < os::clock_seconds()) next_scan = os::clock_seconds();  // no catch-up burst
    }
    double wake = 0;
    {
      std::lock_guard<std::mutex> device(device_lock_);
      wake = ctx_ != nullptr ? next_scan : std::min(next_connect_, now + 0.05);
    }
    wake = std::min(wake, next_status);
    std::unique_lock<std::mutex> lock(wake_lock_);
    const double left = wake - os::clock_seconds();
    if (!stop_ && left > 0) wake_.wait_for(lock, std::chrono::duration<double>(std::min(left, 0.2)));
  }
  const std::string path = status_path();
  if (!path.empty()) std::remove(path.c_str());
}

void Driver::accept_loop() {
  while (!stop_) {
    os::LocalStream s = listener_.accept(200);
    if (!s.valid()) continue;
    auto stream = std::make_shared<os::LocalStream>(std::move(s));
    std::lock_guard<std::mutex> guard(clients_lock_);
    if (stop_) break;
    clients_.push_back(stream);
    client_threads_.emplace_back([this, stream] { client_loop(stream); });
  }
}

void Driver::client_loop(std::shared_ptr<os::LocalStream> stream) {
  std::string frame;
  while (!stop_ && stream->read_frame(frame) == os::IoResult::kOk) {
    if (frame == "Q") {
      stream->write_frame(status_json());
      continue;
    }
    detail::DriverWrite request;
    if (!detail::decode_driver_write(frame, &request)) {
      log(Vexlor::LOG_ERR, "malformed request from a routine ignored");
      const char no = 0;
      stream->write_frame(&no, 1);
      continue;
    }
    bool taken = false;
    {
      ++writers_;
      std::lock_guard<std::mutex> device(device_lock_);
      --writers_;
      taken = !stop_ && execute(request);
    }
    const char answer = taken ? 1 : 0;
    stream->write_frame(&answer, 1);
  }
}

std::string Driver::status_json() {
  std::lock_guard<std::mutex> guard(stats_lock_);
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "{\"name\":\"%s\",\"device\":\"%s:%d\",\"unit\":%d,\"period_ms\":%d,"
                "\"state\":\"%s\",\"online_since\":\"%s\",\"points\":%zu,\"requests_per_scan\":"
                "%llu,\"scans\":%llu,\"reads_ok\":%llu,\"writes_ok\":%llu,\"io_errors\":%llu,"
                "\"exceptions\":%llu,\"last_io_us\":%.0f,\"longest_io_us\":%.0f,"
                "\"last_cycle_us\":%.0f,",
                name_.c_str(), settings_.host_text().c_str(), settings_.port, settings_.unit,
                settings_.period_ms, online_ ? "online" : "offline", online_since_.c_str(),
                inputs_.size(), static_cast<unsigned long long>(requests_last_scan_),
                static_cast<unsigned long long>(scans_), static_cast<unsigned long long>(reads_ok_),
                static_cast<unsigned long long>(writes_ok_),
                static_cast<unsigned long long>(io_errors_),
                static_cast<unsigned long long>(exceptions_), last_io_ * 1e6, longest_io_ * 1e6,
                last_cycle_ * 1e6);
  std::string out = buf;
  out += "\"cycle_histogram_ms\":{";
  for (int i = 0; i < 10; ++i) {
    const std::string label =
        i < 9 ? "le_" + std::to_string(static_cast<int>(kHistogramLimitsMs[i])) : "over_500";
    out += (i ? ",\"" : "\"") + label + "\":" + std::to_string(histogram_[i]);
  }
  out += "},\"last_error\":\"";
  for (char c : last_error_) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (static_cast<unsigned char>(c) >= 0x20) out.push_back(c);
  }
  out += "\"}";
  return out;
}

}  // namespace vexlor::drivers::modbus
