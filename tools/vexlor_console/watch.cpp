// `vexlor watch`: the alarm queue and chosen points, refreshed in place on a terminal (ANSI),
// as plain blocks of lines otherwise, or as one JSON document per line with --json.
#include <vexlor/vexlor.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "console.h"

namespace vexlor_console {
namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void on_stop_signal(int) { g_stop = 1; }

struct PointRequest {
  std::string text;
  bool pattern = false;
};

std::vector<PointRow> read_points(const std::vector<PointRequest>& requests) {
  std::vector<PointRow> rows;
  for (const PointRequest& request : requests) {
    if (request.pattern) {
      for (PointRow& row : collect_points(request.text)) rows.push_back(std::move(row));
    } else {
      PointRow row;
      if (point_by_name(request.text, &row)) rows.push_back(std::move(row));
    }
  }
  return rows;
}

std::string render(const std::vector<AlarmRow>& alarms, const std::vector<PointRow>& points,
                   bool have_points, bool terminal, double interval) {
  std::string text;
  if (terminal) text += "\x1b[H\x1b[2J";  // home, clear screen
  text += "vexlor watch  " + word("instance|实例") + " " + in_quotes(instance_name()) + "  " + vexlor_tools::local_time_text();
  if (terminal) {
    char every[64];
    std::snprintf(every, sizeof every, "%g", interval);
    text += word("  every |  每 ") + every + word("s, Ctrl-C to stop| 秒, Ctrl-C 停止");
  }
  text += "\n\n" + word("ALARMS|报警") + " (" + std::to_string(alarms.size()) + ")\n";
  if (alarms.empty()) {
    text += word("no alarms posted|无报警") + "\n";
  } else {
    table_of_alarms(alarms, &text);
  }
  if (have_points) {
    text += "\n" + word("POINTS|点") + "\n";
    table_of_points(points, &text);
  }
  if (!terminal) text += "\n";
  return text;
}

}  // namespace

int run_watch(const Options& o, const std::string& list, double interval, int count) {
  std::vector<PointRequest> requests;
  std::size_t start = 0;
  while (start <= list.size() && !list.empty()) {
    const std::size_t comma = list.find(',', start);
    std::string item = list.substr(start, comma == std::string::npos ? comma : comma - start);
    while (!item.empty() && item.front() == ' ') item.erase(0, 1);
    while (!item.empty() && item.back() == ' ') item.pop_back();
    if (!item.empty()) {
      PointRequest request{item, item.find_first_of("*?") != std::string::npos};
      PointRow row;
      if (!request.pattern && !point_by_name(item, &row)) {
        return fail("unknown point " + in_quotes(item));
      }
      requests.push_back(request);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }

  g_stop = 0;
  std::signal(SIGINT, on_stop_signal);
  std::signal(SIGTERM, on_stop_signal);
  const bool terminal = !o.json && out_is_terminal();
  for (int refresh = 0; (count <= 0 || refresh < count) && !g_stop; ++refresh) {
    if (refresh > 0) {
      // Sleep in slices so Ctrl-C ends the view at once.
      const auto until = std::chrono::steady_clock::now() +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(interval));
      while (!g_stop && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (g_stop) break;
    }
    if (database_retired()) {
      std::signal(SIGINT, SIG_DFL);
      std::signal(SIGTERM, SIG_DFL);
      return fail(retired_line());
    }
    const std::vector<AlarmRow> alarms = collect_alarms();
    const std::vector<PointRow> points = read_points(requests);
    if (o.json) {
      JsonWriter json;
      json.begin_object().field("time", vexlor_tools::local_time_text()).field("instance", instance_name());
      json.key("alarms");
      json_of_alarms(alarms, json);
      json.key("points");
      json_of_points(points, json);
      json.end_object();
      print(json.text() + "\n");
    } else {
      print(render(alarms, points, !requests.empty(), terminal, interval));
    }
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return kOk;
}

}  // namespace vexlor_console
