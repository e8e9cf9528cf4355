// vexlor-panel, the operator's main form as a web page: the pieces its files share. The panel
// is a client of the library's exported functions; it runs as the main-form routine (function
// slot N) and serves one page and a small JSON API over HTTP.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "equipment_text.h"
#include "json_writer.h"

namespace vexlor_panel {

using vexlor_tools::in_quotes;
using vexlor_tools::instance_name;

// ---- JSON (json.cpp) -----------------------------------------------------------------------
// The API's JSON: the tools' writer with '<' escaped, so a text never closes a <script>.
class Json : public vexlor_tools::JsonWriter {
 public:
  Json() : JsonWriter(true) {}
};

// A request body: one JSON object whose values are strings or numbers (numbers kept as their
// text). False for anything else.
bool parse_flat_object(std::string_view body, std::map<std::string, std::string>* out);

// ---- Words (overview.cpp) ---------------------------------------------------------------------
// A routine's run status as the operator reads it ("Idle", "Running", "Ended", "Stopped", ...)
// with its tone on the page (idle, busy, ok, warn, bad).
const char* routine_word(int status, const char** tone);
// How the page names a module: "LP1 (CM1)" (name, then ID), just "PM1" when both are the same.
std::string module_label(const std::string& name, const std::string& id);

// ---- The equipment (equipment.cpp) -----------------------------------------------------------
// The answer to an API request: HTTP status and a JSON body.
struct Reply {
  int status = 200;
  std::string body;
};
Reply error_reply(int status, const std::string& text);

// Who may do what: the equipment's user level must reach these levels.
struct Policy {
  int write_level = 2;     // point writes and alarm answers
  int engineer_level = 5;  // run, abort and reset of routines
};

// Everything the panel reads from and does to the equipment. Reads and actions are serialised
// by one lock; actions that may wait for the operator (a run request that raises an alarm) run
// on their own threads so the lock stays free for the answer.
class Equipment {
 public:
  explicit Equipment(Policy policy) : policy_(policy) {}
  ~Equipment();

  // "equipment" object of the page's state: instance, online, user, levels, language.
  std::string status_json();
  std::string alarms_json();
  std::string functions_json();
  std::string modules_json();
  // The page's cards (overview.cpp): "host", "drivers" and one card per module, then the
  // "Equipment" card of the routines and alarms of no module.
  std::string overview_json();
  // The points of one module (points named "<module>.*"); "" when the module is unknown.
  std::string points_json(const std::string& module);
  Reply history(const std::string& since, const std::string& until);

  Reply answer(const std::string& id, const std::string& choice, const std::string& address);
  Reply write_point(const std::string& name, const std::string& value, const std::string& address);
  Reply function_action(const std::string& name, const std::string& action,
                        const std::string& param, const std::string& address);

  // Asks the sequence manager for the process of every routine; its silence marks the
  // equipment offline. Sends requests, so it is called seldom and off the lock.
  void probe_manager();
  bool online();
  // Ends the run threads (the panel's exit flag must be set first).
  void stop();

 private:
  struct Point;
  std::string offline_reason_locked();
  bool find_point(const std::string& name, Point* point);
  std::string point_json(const Point& p);
  int named_point(int kind, const std::string& name);
  int digital_value(const std::string& name);
  void digital_text(Json* j, const char* key, const std::string& name);
  Reply journaled(const std::string& action, const std::string& target, const std::string& value,
                  const std::string& address, Reply reply);

  Policy policy_;
  std::mutex mutex_;
  bool manager_online_ = true;
  std::vector<std::string> processes_;       // per configured function: "<pid> <state>"
  std::map<std::string, int> named_points_;  // "<kind><name>" -> point, -1 when missing
  struct RunRequest {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex runs_mutex_;
  std::vector<RunRequest> runs_;
};

// ---- Assets (generated: web_assets.cpp) -------------------------------------------------------
struct Asset {
  const char* path;  // "/", "/panel.js", ...
  const char* type;  // content type
  const unsigned char* data;
  std::size_t size;
};
extern const Asset kAssets[];
extern const std::size_t kAssetCount;

}  // namespace vexlor_panel
