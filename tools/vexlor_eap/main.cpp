// vexlor-eap: a stand-in for the equipment automation program's host link routine
// "EAP_ENGINE". It serves the routine with the routine API, reads every event line it receives
// against the line table, journals the line with its fields and the event's data variables
// (the "GEM." points at that moment) in the equipment's SQLite file, and answers the host-link
// requests by setting the link-state points as a host link would. There is no factory host
// behind it: communication is established the moment it is enabled.
//
// A line is journaled in arrival order (per sender, the order it was sent), never dropped: an
// unknown or malformed line is journaled as such. Rows are written by a background writer in
// batches (one transaction for whatever arrived meanwhile), and a line is acknowledged to its
// sender only once its row is committed: a line whose sender's call returned true is in the
// journal, whenever vexlor-eap is killed.
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
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/equipment_text.h"
#include "event_lines.h"
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

enum LinkPoint { kEnable, kCommEnable, kCommStatus, kControlState, kOnlineStatus, kRemoteStatus };
constexpr const char* kLinkPoints[] = {"FA.Enable",         "GEM.Comm_Enable",
                                       "GEM.Comm_Status",   "GEM.Control_State",
                                       "GEM.Online_Status", "GEM.Remote_Status"};
// GEM control states.
constexpr int kEquipmentOffline = 1, kHostOffline = 3, kOnlineLocal = 4, kOnlineRemote = 5;

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
    thread_ = std::thread([this] { write_loop(); });
    return true;
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
    if (parsed.status == LineStatus::kOk) {
      if (is_request(row.token)) {
        answer_request(row.token);
        row.data = link_state();
      } else {
        row.data = data_of(row.token);
      }
    }
    queue_row(std::move(row), std::move(done));
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
        queue_row(alarm_row(change), {});
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

  void queue_row(JournalRow row, std::function<void(bool)> done) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(Pending{std::move(row), std::move(done)});
    }
    cv_.notify_one();
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

  int link_value(LinkPoint p, int missing) const {
    return link_[p] >= 0 ? Vexlor::VDigital_Read_Mem(link_[p]) : missing;
  }
  void set_link(LinkPoint p, int value) {
    if (link_[p] >= 0) Vexlor::VDigital_Write_Mem(link_[p], value);
  }

  // The host link's answer to a request: communication follows enable and disable at once (the
  // stand-in has no host to wait for); going online needs established communication, else the
  // attempt ends in host offline.
  void answer_request(std::string_view token) {
    if (token == "REQUEST_ENABLE") {
      set_link(kEnable, 1);
      set_link(kCommEnable, 1);
      set_link(kCommStatus, 1);
    } else if (token == "REQUEST_DISABLE") {
      set_link(kEnable, 0);
      set_link(kCommEnable, 0);
      set_link(kCommStatus, 0);
      set_link(kOnlineStatus, 0);
      set_link(kRemoteStatus, 0);
    } else if (token == "REQUEST_RECONNECT") {
      const bool enabled = link_value(kCommEnable, link_value(kEnable, 1)) == 1;
      set_link(kCommStatus, enabled ? 1 : 0);
    } else if (token == "REQUEST_OFFLINE") {
      set_link(kControlState, kEquipmentOffline);
      set_link(kOnlineStatus, 0);
      set_link(kRemoteStatus, 0);
    } else if (token == "REQUEST_LOCAL" || token == "REQUEST_REMOTE") {
      const bool remote = token == "REQUEST_REMOTE";
      const bool communicating = link_value(kCommStatus, 1) == 1;
      set_link(kControlState, !communicating ? kHostOffline
                              : remote       ? kOnlineRemote
                                             : kOnlineLocal);
      set_link(kOnlineStatus, communicating ? 1 : 0);
      set_link(kRemoteStatus, communicating && remote ? 1 : 0);
    }
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

  void write_loop() {
    bool reported = false;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      cv_.wait(lock, [this] { return !queue_.empty() || stopping_; });
      if (queue_.empty()) return;
      std::vector<JournalRow> batch;
      std::vector<std::function<void(bool)>> acknowledgements;
      for (Pending& p : queue_) {
        batch.push_back(std::move(p.row));
        if (p.done) acknowledgements.push_back(std::move(p.done));
      }
      queue_.clear();
      lock.unlock();
      std::string error;
      // A failed batch is tried again (rows are never dropped while the routine lives); after
      // the exit request, a few more tries.
      bool written = true;
      for (int tries = 0; !writer_.append(batch, &error); ++tries) {
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
      // Committed: now the senders may go on.
      for (auto& done : acknowledgements) done(written);
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
  };

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Pending> queue_;
  bool stopping_ = false;
  std::thread thread_;
  std::thread alarms_;
};

}  // namespace
}  // namespace vexlor_eap

int main(int argc, char** argv) {
  CLI::App app{
      "Host link stand-in: serves the routine EAP_ENGINE and journals every host event line in "
      "the equipment's database file.",
      "vexlor-eap"};
  std::string instance, routine = "EAP_ENGINE";
  app.add_option("--instance", instance, "instance to serve (default: $VEXLOR_INSTANCE)");
  app.add_option("--routine", routine, "routine to serve (default: EAP_ENGINE)");
  CLI11_PARSE(app, argc, argv);
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
  vexlor_eap::Eap eap;
  std::string error;
  if (!eap.start(&error)) {
    std::fprintf(stderr, "vexlor-eap: %s\n", error.c_str());
    Vexlor::VHub_Release();
    return 1;
  }
  Vexlor::VPrint(routine.c_str(), "host link stand-in serving, journal %s", eap.file().c_str());
  vexlor::routine::Handlers handlers;
  // A line is acknowledged once journaled.
  handlers.keep = [&eap](const vexlor::routine::Event& e, std::function<void(bool)> done) {
    eap.receive(e, std::move(done));
  };
  eap.follow_alarms(vexlor_eap::last_alarm_change(eap.file()));
  // Everything received is journaled before the routine is marked ended.
  handlers.exit = [&eap] { eap.stop(); };
  const int status = vexlor::routine::serve(routine.c_str(), handlers);
  eap.stop();
  Vexlor::VHub_Release();
  return status == 0 ? 0 : 1;
}
