// `vexlor monitor PATTERN...`: a change-only stream of point values, one timestamped line per
// change (a JSON object per line with --json), until Ctrl-C, SIGTERM or --count changes. The
// points are polled; a value that changes and changes back within one interval is not seen.
#include <vexlor/vexlor.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <thread>

#include "console.h"

namespace vexlor_console {
namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void on_monitor_stop_signal(int) { g_stop = 1; }

struct Watched {
  Vexlor::IO_TYPE kind;
  int index;
  PointRow last;
};

bool same(const PointRow& a, const PointRow& b) {
  return a.read_ok == b.read_ok && a.value == b.value && a.raw == b.raw && a.status == b.status;
}

std::string line_of(const std::string& time, const PointRow& r, bool initial, bool json) {
  if (json) {
    JsonWriter w;
    w.begin_object().field("time", time);
    json_of_point_fields(r, w);
    w.field("initial", initial).end_object();
    return w.text() + "\n";
  }
  std::string value = display_text(r);
  if (r.read_ok && r.kind == kKinds[2]) value = in_quotes(cell(r.value, 200));
  return time + "  " + r.name + "  " + value + (r.status == "ok" ? "" : "  " + r.status) + "\n";
}

}  // namespace

int run_monitor(const Options& o, const std::vector<std::string>& patterns, double interval,
                int count) {
  std::vector<Watched> points;
  auto add = [&points](const PointRow& row) {
    const Vexlor::IO_TYPE kind = kind_of(row);
    for (const Watched& w : points) {
      if (w.kind == kind && w.index == row.index) return;
    }
    points.push_back({kind, row.index, row});
  };
  for (const std::string& pattern : patterns) {
    if (pattern.find_first_of("*?") != std::string::npos) {
      const std::vector<PointRow> rows = collect_points(pattern);
      if (rows.empty()) return fail("no point matches " + in_quotes(pattern));
      for (const PointRow& row : rows) add(row);
    } else {
      PointRow row;
      if (!point_by_name(pattern, &row)) return fail("unknown point " + in_quotes(pattern));
      add(row);
    }
  }

  g_stop = 0;
  std::signal(SIGINT, on_monitor_stop_signal);
  std::signal(SIGTERM, on_monitor_stop_signal);
  // The current values first, as the starting point of the changes.
  const std::string start = vexlor_tools::local_time_text(true);
  for (const Watched& w : points) print(line_of(start, w.last, true, o.json));
  int changes = 0;
  int status = kOk;
  const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(interval));
  while (!g_stop && (count <= 0 || changes < count)) {
    const auto until = std::chrono::steady_clock::now() + period;
    while (!g_stop && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (g_stop) break;
    if (database_retired()) {
      status = fail(retired_line());
      break;
    }
    const std::string time = vexlor_tools::local_time_text(true);
    for (Watched& w : points) {
      PointRow now = read_point(w.kind, w.index);
      if (same(now, w.last)) continue;
      print(line_of(time, now, false, o.json));
      w.last = std::move(now);
      if (count > 0 && ++changes >= count) break;
    }
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return status;
}

}  // namespace vexlor_console
