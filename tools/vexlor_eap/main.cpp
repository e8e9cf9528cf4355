// vexlor-eap: the equipment's host link, the routine "EAP_ENGINE". It serves the routine with the
// routine API, reads every event line it receives against the line table, journals the line
// with its fields and the event's data variables (the "GEM." points at that moment) in the
// equipment's SQLite file, and carries it to the factory host as a GEM equipment over HSMS-SS
// (link/gem on link/secs): an event line becomes S6F11 with the values of its linked reports
// taken when the line arrived, an alarm post or clear S5F1, "SEND_PRIMIRY S10F|1 text" S10F1;
// the six link requests act on the connection and the control state.
//
// A line is journaled in arrival order (per sender, the order it was sent), never dropped: an
// unknown or malformed line is journaled as such. Rows are written by a background writer in
// batches (one transaction for whatever arrived meanwhile), and a line is acknowledged to its
// sender only once its row is committed: a line whose sender's call returned true is in the
// journal, whenever vexlor-eap is killed. Only then is its message sent (or spooled while the
// host is away), in the order the rows were committed.
//
// It also follows the alarm feed (vexlor::routine::AlarmFeed) and journals every post and
// answer of an alarm as a row "ALARM_SET" or "ALARM_CLEAR" (the alarm reports the factory host
// gets), also of an alarm answered within a millisecond of its post. After a restart it goes on
// after the last change it journaled.
#include <vexlor/routine.h>
#include <vexlor/vexlor.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/equipment_text.h"
#include "event_lines.h"
#include "gem/equipment.h"
#include "gem/session_link.h"
#include "host_link.h"
#include "journal.h"

namespace vexlor_eap {
namespace {

constexpr char kSource[] = "vexlor-eap";

// ---- Data variables ------------------------------------------------------------------------

struct DataVariable {
  const char* item;  // after "DVID_"
  std::string point;
  Vexlor::IO_TYPE type;
  int index = -1;  // -1: the equipment has no such point
};

#define VEXLOR_EAP_TYPE_DIGITAL Vexlor::IO_D
#define VEXLOR_EAP_TYPE_STRING Vexlor::IO_S

// Every data variable of the host items (the "DVID_" items).
std::vector<DataVariable> all_data_variables() {
  std::vector<DataVariable> list;
  auto add = [&list](const char* item, std::string point, Vexlor::IO_TYPE type) {
    const std::string_view name(item);
    if (name.substr(0, 5) == "DVID_") list.push_back({item + 5, std::move(point), type});
  };
#define VEXLOR_HOST_POINT(item, kind, name, mode) add(#item, name, VEXLOR_EAP_TYPE_##kind);
#define VEXLOR_HOST_SHARED(item, kind, gem_item) \
  add(#item, std::string("GEM.") + (#item + 5), VEXLOR_EAP_TYPE_##kind);
#include <vexlor/host/host_items.def>
  return list;
}

// Which data variables go with a token: items that begin with one of the prefixes. The time of
// the event goes with every event.
struct TokenData {
  const char* token;
  std::vector<std::string_view> prefixes;
};

const std::vector<TokenData>& token_data() {
  static const std::vector<TokenData> table = {
      {"ALARM_REPORT", {"AlarmReport_"}},
      {"SEND_ALARM_POST", {"AlarmReport_"}},
      {"SEND_ALARM_CLEAR", {"AlarmReport_"}},
      {"CARRIER_ACTION", {"CarrierState_", "PortID"}},
      {"CARRIER_ASSOC", {"CarrierState_", "PortID"}},
      {"CARRIER_ACCESS", {"CarrierState_", "PortID"}},
      {"CARRIER_IDMANL", {"CarrierState_", "PortID"}},
      {"CARRIER_ID", {"CarrierState_", "PortID"}},
      {"CARRIER_MAP", {"CarrierState_", "PortID"}},
      {"ECID_CHANGE", {"ECIDChange_"}},
      {"MESSAGE_RECOGNI", {"MessageRecogni_"}},
      {"MODULE_MODE", {"ModuleMode_", "Reject"}},
      {"OPERATOR_COMMAND", {"Operator_Command"}},
      {"PM_STATE", {"PMState_"}},
      {"RECIPE_EDIT", {"RecipeEdit_"}},
      {"PORT_STATE", {"PortState_", "PortID", "Reject"}},
      {"PORT_AMHS", {"PortState_", "PortID"}},
      {"PORT_MATERIAL", {"PortState_", "PortID"}},
      {"PORT_RESERVE", {"PortState_", "PortID"}},
      {"PRCSJOB_STATE", {"PortState_", "PortID"}},
      {"SPOOL_TRANSFER", {"SpoolTransfer_"}},
      {"SUBST_MID", {"SubstState_", "PortID", "SlotID"}},
      {"SUBST_TRACK", {"SubstTrack_", "SubstState_"}},
      {"TRACE_REPORT", {"TraceReport_"}},
  };
  return table;
}

std::string value_text(const DataVariable& v) {
  if (v.type == Vexlor::IO_D) return std::to_string(Vexlor::VDigital_Read_Mem(v.index));
  return Vexlor::VString_Read_Mem(v.index);
}

// ---- Link state ----------------------------------------------------------------------------

constexpr const char* kLinkPoints[] = {"FA.Enable",         "GEM.Comm_Enable",
                                       "GEM.Comm_Status",   "GEM.Control_State",
                                       "GEM.Online_Status", "GEM.Remote_Status"};
constexpr std::size_t kTraceMessages = 2000;

class Eap {
 public:
  bool start(std::string* error) {
    for (DataVariable& v : all_data_variables()) {
      if (Vexlor::VIO_Find_Point(&v.index, v.type, true, v.point.c_str())) variables_.push_back(v);
    }
    for (int k = 0; k < 6; ++k) {
      if (!Vexlor::VIO_Find_Point(&link_[k], Vexlor::IO_D, true, kLinkPoints[k])) link_[k] = -1;
    }
    file_ = database_file();
    if (file_.empty()) {
      *error = "the equipment has no database path";
      return false;
    }
    if (!writer_.open(file_, error)) return false;
    if (!store_.open(file_, error)) return false;
    settings_ = link_settings(overrides_);
    gem_ = std::make_unique<vexlor::gem::GemEquipment>(equipment_mapping(), runtime_, &store_,
                                                       settings_.gem);
    if (!gem_->start(error)) return false;
    if (!restore_outbox(error)) return false;
    thread_ = std::thread([this] { write_loop(); });
    // A link that cannot listen (a port in use) leaves the journal serving: the host is told
    // nothing until a REQUEST_RECONNECT or a restart finds the port free.
    std::string why;
    if (settings_.gem.enabled && !start_link(&why)) {
      Vexlor::VPrint_Red(kSource, "host link not started: %s", why.c_str());
      Vexlor::VSystem_Log(Vexlor::LOG_ERR, "vexlor-eap: host link not started: %s", why.c_str());
    }
    return true;
  }

  void set_overrides(LinkOverrides overrides) { overrides_ = std::move(overrides); }

  // Starts the HSMS session (passive: listens; the port listened on goes to FA.Local_Port).
  bool start_link(std::string* error) {
    std::lock_guard<std::mutex> lock(link_mutex_);
    if (session_) return true;
    vexlor::secs::Session::Handlers h;
    h.state = [this](vexlor::secs::SessionState state) {
      gem_->on_selected(state == vexlor::secs::SessionState::kSelected);
    };
    h.primary = [this](const vexlor::secs::Message& m) { gem_->on_primary(m); };
    h.trace = [this](vexlor::secs::Direction d, const vexlor::secs::Message& m) { trace_.add(d, m); };
    h.log = [](const std::string& line) {
      Vexlor::VSystem_Log(Vexlor::LOG_CIM, "vexlor-eap: %s", line.c_str());
    };
    auto session = std::make_unique<vexlor::secs::Session>(settings_.session, h);
    session_link_ = std::make_unique<vexlor::gem::SessionLink>(*session);
    gem_->set_link(session_link_.get());
    if (!session->start(error)) {
      gem_->set_link(nullptr);
      session_link_.reset();
      return false;
    }
    if (!settings_.session.active) {
      int port_point = -1;
      if (Vexlor::VIO_Find_Point(&port_point, Vexlor::IO_D, true, "FA.Local_Port")) {
        Vexlor::VDigital_Write_Mem(port_point, session->port());
      }
    }
    session_ = std::move(session);
    return true;
  }

  void stop_link() {
    std::unique_ptr<vexlor::secs::Session> session;
    {
      std::lock_guard<std::mutex> lock(link_mutex_);
      session = std::move(session_);
    }
    if (session) session->stop();  // open transactions end: their messages are spooled
    gem_->on_selected(false);
    std::lock_guard<std::mutex> lock(link_mutex_);
    gem_->set_link(nullptr);
    session_link_.reset();
  }

  // What `vexlor host` asks through a pool request: "status", "trace", "trace-json", "ids".
  std::string query(const std::string& what) {
    if (what == "trace") return trace_.text();
    if (what == "trace-json") return trace_.json();
    if (what == "ids") return gem_->mapping().to_json();
    vexlor::secs::SessionCounters counters;
    vexlor::secs::SessionState state = vexlor::secs::SessionState::kNotConnected;
    int port = 0;
    {
      std::lock_guard<std::mutex> lock(link_mutex_);
      if (session_) {
        counters = session_->counters();
        state = session_->state();
        port = session_->port();
      }
    }
    const auto now = std::chrono::steady_clock::now();
    double in_rate = 0, out_rate = 0;
    {
      std::lock_guard<std::mutex> lock(rate_mutex_);
      const double seconds = std::chrono::duration<double>(now - rate_at_).count();
      if (seconds > 0 && rate_in_ <= counters.messages_in && rate_out_ <= counters.messages_out) {
        in_rate = static_cast<double>(counters.messages_in - rate_in_) / seconds;
        out_rate = static_cast<double>(counters.messages_out - rate_out_) / seconds;
      }
      rate_at_ = now;
      rate_in_ = counters.messages_in;
      rate_out_ = counters.messages_out;
    }
    return status_json(counters, state, gem_->status(), port, in_rate, out_rate);
  }

  // Journals everything received so far and stops the writer.
  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    cv_.notify_all();
    if (alarms_.joinable()) alarms_.join();
    if (thread_.joinable()) thread_.join();
    if (gem_) {
      stop_link();
      gem_->stop();
    }
  }

  const std::string& file() const { return file_; }

  // Queues the line's row; `done` is called once the row is committed (or given up on).
  void receive(const vexlor::routine::Event& event, std::function<void(bool)> done) {
    JournalRow row;
    row.received = now_text();
    row.sender = event.sender;
    if (event.sender >= 0 && event.sender < Vexlor::VSystem_Get_Function_Count() + 12) {
      row.sender_name = Vexlor::VFunction_Get_Name(event.sender);
    }
    row.line = event.message;
    ParsedLine parsed = parse_line(event.message);
    row.status = status_text(parsed.status);
    row.token = std::move(parsed.token);
    row.code = std::move(parsed.code);
    row.event = std::move(parsed.event);
    row.fields = std::move(parsed.fields);
    vexlor::gem::Prepared message;
    if (parsed.status == LineStatus::kOk) {
      if (is_request(row.token)) {
        act(gem_->request(row.token));
        row.data = link_state();
      } else {
        row.data = data_of(row.token);
        message = prepare(row);
      }
    }
    queue_row(std::move(row), std::move(done), std::move(message));
  }

  // Follows the alarm feed until stop(), from after the last change journaled.
  void follow_alarms(uint64_t after) {
    alarms_ = std::thread([this, after] {
      vexlor::routine::AlarmFeed feed(after);
      vexlor::routine::AlarmChange change;
      uint64_t missed = 0;
      for (;;) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (stopping_) return;
        }
        if (!feed.next(change, 100)) continue;
        if (feed.missed() != missed) {
          missed = feed.missed();
          Vexlor::VSystem_Log(Vexlor::LOG_ERR,
                              "vexlor-eap: %llu alarm changes missed (feed overrun)",
                              static_cast<unsigned long long>(missed));
        }
        char text[512] = "";
        Vexlor::VAlarm_Get_Text(change.point, Vexlor::LANGUAGE_ENGLISH, text);
        queue_row(alarm_row(change), {},
                  gem_->prepare_alarm(static_cast<uint32_t>(change.id),
                                      change.status == Vexlor::ALM_PAUSED, text));
      }
    });
  }

 private:
  static JournalRow alarm_row(const vexlor::routine::AlarmChange& change) {
    JournalRow row;
    row.received = now_text();
    row.sender = change.function;
    if (change.function >= 0 && change.function < Vexlor::VSystem_Get_Function_Count() + 12) {
      row.sender_name = Vexlor::VFunction_Get_Name(change.function);
    }
    const bool set = change.status == Vexlor::ALM_PAUSED;
    row.status = "ok";
    row.token = set ? "ALARM_SET" : "ALARM_CLEAR";
    row.code = std::to_string(change.id);
    row.event = vexlor_tools::style_name(change.status);
    row.fields = {row.code, row.event, std::to_string(change.number)};
    row.line = row.token + " " + row.code;
    return row;
  }

  void queue_row(JournalRow row, std::function<void(bool)> done,
                 vexlor::gem::Prepared message = {}) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Once the writer has ended, a line arriving is refused, not kept unwritten.
      if (!writer_done_) {
        queue_.push_back(Pending{std::move(row), std::move(done), std::move(message)});
        done = nullptr;
      }
    }
    if (done) done(false);
    cv_.notify_one();
  }

  // The host's message of a line, made now (with the values of this moment).
  vexlor::gem::Prepared prepare(const JournalRow& row) {
    if (row.token == "SEND_ALARM_POST" || row.token == "SEND_ALARM_CLEAR") {
      return gem_->prepare_alarm(static_cast<uint32_t>(std::strtoul(row.code.c_str(), nullptr, 10)),
                                 row.token == "SEND_ALARM_POST", "");
    }
    if (row.token == "SEND_PRIMIRY") {
      // Terminal services: "SEND_PRIMIRY S10F|1 text".
      if (row.code == "S10F" && !row.fields.empty() && row.fields[0] == "1") {
        return gem_->prepare_terminal(0, row.fields.size() > 1 ? row.fields[1] : "");
      }
      return {};
    }
    return gem_->prepare_event(row.event);
  }

  // A request's effect on the connection.
  void act(vexlor::gem::GemEquipment::LinkAction action) {
    using Action = vexlor::gem::GemEquipment::LinkAction;
    std::string error;
    if (action == Action::kStop) stop_link();
    if (action == Action::kStart && !start_link(&error)) {
      Vexlor::VPrint_Red(kSource, "host link: %s", error.c_str());
    }
    if (action == Action::kReconnect) {
      std::unique_lock<std::mutex> lock(link_mutex_);
      if (session_) {
        session_->reconnect();
      } else {
        lock.unlock();
        if (!start_link(&error)) Vexlor::VPrint_Red(kSource, "host link: %s", error.c_str());
      }
    }
  }

  std::vector<std::pair<std::string, std::string>> data_of(std::string_view token) const {
    std::vector<std::pair<std::string, std::string>> data;
    const std::vector<std::string_view>* prefixes = nullptr;
    for (const TokenData& t : token_data()) {
      if (token == t.token) prefixes = &t.prefixes;
    }
    for (const DataVariable& v : variables_) {
      const std::string_view item(v.item);
      bool wanted = item == "TimeInfo";
      for (std::size_t k = 0; prefixes != nullptr && k < prefixes->size() && !wanted; ++k) {
        wanted = item.substr(0, (*prefixes)[k].size()) == (*prefixes)[k];
      }
      if (wanted) data.emplace_back(v.point, value_text(v));
    }
    return data;
  }

  std::vector<std::pair<std::string, std::string>> link_state() const {
    std::vector<std::pair<std::string, std::string>> data;
    for (int k = 0; k < 6; ++k) {
      if (link_[k] >= 0) {
        data.emplace_back(kLinkPoints[k], std::to_string(Vexlor::VDigital_Read_Mem(link_[k])));
      }
    }
    return data;
  }

  // The messages of rows committed before a kill that never reached the link go to the spool.
  bool restore_outbox(std::string* error) {
    std::vector<OutboxEntry> entries;
    if (!writer_.outbox(&entries, error)) return false;
    if (entries.empty()) return true;
    std::vector<vexlor::gem::Prepared> messages;
    for (const OutboxEntry& e : entries) {
      vexlor::gem::Prepared p;
      std::string why;
      p.valid = vexlor::secs::decode(e.body, &p.body, &why);
      p.stream = e.stream;
      p.function = e.function;
      if (p.valid) messages.push_back(std::move(p));
    }
    Vexlor::VSystem_Log(Vexlor::LOG_CIM,
                        "vexlor-eap: %lu host messages of committed rows spooled after a restart",
                        static_cast<unsigned long>(messages.size()));
    gem_->restore(std::move(messages));
    return writer_.forget(entries.back().id, error);
  }

  void write_loop() {
    bool reported = false;
    // Outbox entries up to this id have been sent or spooled; the mark is written with the next
    // batch, or on its own once nothing arrived for a moment.
    int64_t handed_over = 0, forgotten = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (handed_over > forgotten) {
        if (!cv_.wait_for(lock, std::chrono::milliseconds(100),
                          [this] { return !queue_.empty() || stopping_; })) {
          lock.unlock();
          std::string error;
          if (writer_.forget(handed_over, &error)) forgotten = handed_over;
          lock.lock();
          continue;
        }
      }
      cv_.wait(lock, [this] { return !queue_.empty() || stopping_; });
      if (queue_.empty()) {
        writer_done_ = true;
        lock.unlock();
        std::string error;
        if (handed_over > forgotten) writer_.forget(handed_over, &error);
        return;
      }
      std::vector<JournalRow> batch;
      std::vector<std::function<void(bool)>> acknowledgements;
      std::vector<vexlor::gem::Prepared> messages;
      std::vector<OutboxEntry> outbox;
      for (Pending& p : queue_) {
        batch.push_back(std::move(p.row));
        if (p.done) acknowledgements.push_back(std::move(p.done));
        if (p.message.valid) {
          OutboxEntry e;
          e.stream = p.message.stream;
          e.function = p.message.function;
          e.body = vexlor::secs::encode(p.message.body);
          outbox.push_back(std::move(e));
          messages.push_back(std::move(p.message));
        }
      }
      queue_.clear();
      lock.unlock();
      std::string error;
      // A failed batch is tried again (rows are never dropped while the routine lives); after
      // the exit request, a few more tries.
      bool written = true;
      for (int tries = 0; !writer_.append(batch, &outbox, handed_over, &error); ++tries) {
        if (!reported) Vexlor::VPrint_Red(kSource, "journal %s: %s", file_.c_str(), error.c_str());
        reported = true;
        bool give_up;
        {
          std::lock_guard<std::mutex> guard(mutex_);
          give_up = stopping_ && tries >= 5;
        }
        if (give_up) {
          written = false;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
      if (written) forgotten = handed_over;
      // Committed: the messages leave (or are spooled), then the senders may go on.
      for (auto& m : messages) gem_->deliver(std::move(m));
      for (auto& done : acknowledgements) done(written);
      if (written && !outbox.empty()) handed_over = outbox.back().id;
      lock.lock();
    }
  }

  std::vector<DataVariable> variables_;
  int link_[6] = {-1, -1, -1, -1, -1, -1};
  std::string file_;
  JournalWriter writer_;
  struct Pending {
    JournalRow row;
    std::function<void(bool)> done;  // the sender's acknowledgement (none for alarm rows)
    vexlor::gem::Prepared message;   // what goes to the host once the row is committed
  };

  LinkOverrides overrides_;
  LinkSettings settings_;
  EapRuntime runtime_;
  vexlor::gem::Store store_;
  std::unique_ptr<vexlor::gem::GemEquipment> gem_;
  MessageTrace trace_{kTraceMessages};
  std::mutex link_mutex_;
  std::unique_ptr<vexlor::secs::Session> session_;
  std::unique_ptr<vexlor::gem::SessionLink> session_link_;
  std::mutex rate_mutex_;
  std::chrono::steady_clock::time_point rate_at_ = std::chrono::steady_clock::now();
  uint64_t rate_in_ = 0, rate_out_ = 0;

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Pending> queue_;
  bool stopping_ = false;
  bool writer_done_ = false;  // the writer has ended (after the stop, with nothing left)
  std::thread thread_;
  std::thread alarms_;
};

}  // namespace
}  // namespace vexlor_eap

int main(int argc, char** argv) {
  CLI::App app{
      "Host link: serves the routine EAP_ENGINE, journals every host event line in the "
      "equipment's database file and carries it to the factory host (HSMS-SS, SECS-II, GEM).",
      "vexlor-eap"};
  std::string instance, routine = "EAP_ENGINE";
  vexlor_eap::LinkOverrides o;
  int port = -1, remote_port = -1, device_id = -1, t3 = -1, t5 = -1, t6 = -1, t7 = -1, t8 = -1,
      linktest = -1;
  std::string local_ip, remote_ip;
  app.add_option("--instance", instance, "instance to serve (default: $VEXLOR_INSTANCE)");
  app.add_option("--routine", routine, "routine to serve (default: EAP_ENGINE)");
  app.add_option("--port", port, "passive: the port to listen on (0: a free port; default FA.Local_Port)")
      ->check(CLI::Range(0, 65535));
  app.add_flag("--active", o.active, "connect to the host instead of listening (FA.ConnMD 1)");
  app.add_option("--local-ip", local_ip, "passive: the address to listen on (FA.Local_IP)");
  app.add_option("--remote-ip", remote_ip, "active: the host's address (FA.Remote_IP)");
  app.add_option("--remote-port", remote_port, "active: the host's port (FA.Remote_Port)")
      ->check(CLI::Range(1, 65535));
  app.add_option("--device-id", device_id, "the device ID (FA.Device_ID)")->check(CLI::Range(0, 32767));
  app.add_option("--t3", t3, "reply timeout, seconds (FA.T3)")->check(CLI::Range(1, 120));
  app.add_option("--t5", t5, "connect separation, seconds (FA.T5)")->check(CLI::Range(1, 240));
  app.add_option("--t6", t6, "control transaction timeout, seconds (FA.T6)")->check(CLI::Range(1, 240));
  app.add_option("--t7", t7, "not selected timeout, seconds (FA.T7)")->check(CLI::Range(1, 240));
  app.add_option("--t8", t8, "intercharacter timeout, seconds (FA.T8)")->check(CLI::Range(1, 120));
  app.add_option("--linktest", linktest, "linktest period, seconds, 0 off (FA.LinkTest)")
      ->check(CLI::Range(0, 3600));
  CLI11_PARSE(app, argc, argv);
  auto given = [](int v) { return v >= 0 ? std::optional<int>(v) : std::nullopt; };
  o.port = given(port);
  o.remote_port = given(remote_port);
  o.device_id = given(device_id);
  o.t3 = given(t3);
  o.t5 = given(t5);
  o.t6 = given(t6);
  o.t7 = given(t7);
  o.t8 = given(t8);
  o.linktest = given(linktest);
  if (!local_ip.empty()) o.local_ip = local_ip;
  if (!remote_ip.empty()) o.remote_ip = remote_ip;
  if (!instance.empty()) {
#ifdef _WIN32
    _putenv_s("VEXLOR_INSTANCE", instance.c_str());
#else
    setenv("VEXLOR_INSTANCE", instance.c_str(), 1);
#endif
  }

  if (!Vexlor::VHub_Initial(routine.c_str()) || Vexlor::MMAP_DB() == nullptr) {
    std::fprintf(stderr, "vexlor-eap: cannot start as %s (no database, or no such routine)\n",
                 routine.c_str());
    Vexlor::VHub_Release();
    return 1;
  }
  // `vexlor host link` and `vexlor host trace` ask through pool requests.
  if (Vexlor::VFunction_Get_Pool_Count() < 1) Vexlor::VFunction_Set_Pool_Count(2);
  vexlor_eap::Eap eap;
  eap.set_overrides(o);
  std::string error;
  if (!eap.start(&error)) {
    std::fprintf(stderr, "vexlor-eap: %s\n", error.c_str());
    Vexlor::VHub_Release();
    return 1;
  }
  Vexlor::VPrint(routine.c_str(), "host link serving, journal %s", eap.file().c_str());
  vexlor::routine::Handlers handlers;
  // A line is acknowledged once journaled.
  handlers.keep = [&eap](const vexlor::routine::Event& e, std::function<void(bool)> done) {
    eap.receive(e, std::move(done));
  };
  eap.follow_alarms(vexlor_eap::last_alarm_change(eap.file()));
  // `vexlor host` asks for the link's status and trace.
  handlers.pool = [&eap](const std::string& param, int) { return eap.query(param); };
  // Everything received is journaled before the routine is marked ended.
  handlers.exit = [&eap] { eap.stop(); };
  const int status = vexlor::routine::serve(routine.c_str(), handlers);
  eap.stop();
  Vexlor::VHub_Release();
  return status == 0 ? 0 : 1;
}
