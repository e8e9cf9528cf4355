// Reading the statistics file of a driver program.
#include "driver_statistics.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vexlor_tools {

const char* const kHistogramLabels[10] = {"le_1",  "le_2",   "le_5",   "le_10",  "le_20",
                                          "le_50", "le_100", "le_200", "le_500", "over_500"};

namespace {

constexpr std::size_t kLongestText = 8192;

// Where the value of "key" starts, or npos.
std::size_t value_at(const std::string& text, const std::string& key) {
  const std::string pattern = "\"" + key + "\":";
  const std::size_t at = text.find(pattern);
  return at == std::string::npos ? at : at + pattern.size();
}

double number(const std::string& text, const std::string& key) {
  const std::size_t at = value_at(text, key);
  if (at == std::string::npos) return 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str() + at, &end);
  return end == text.c_str() + at || v < 0 ? 0 : v;
}

uint64_t count(const std::string& text, const std::string& key) {
  const double v = number(text, key);
  return v >= 1.8e19 ? 0 : static_cast<uint64_t>(v);
}

std::string string_value(const std::string& text, const std::string& key) {
  std::size_t at = value_at(text, key);
  std::string out;
  if (at == std::string::npos || at >= text.size() || text[at] != '"') return out;
  for (++at; at < text.size() && text[at] != '"'; ++at) {
    if (text[at] == '\\' && at + 1 < text.size()) ++at;
    out.push_back(text[at]);
  }
  return at < text.size() ? out : std::string();
}

std::string milliseconds(double us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f ms", us / 1000.0);
  return text;
}

}  // namespace

DriverStatistics parse_driver_statistics(const std::string& text) {
  DriverStatistics s;
  if (text.size() < 2 || text.size() > kLongestText || text.front() != '{' || text.back() != '}') {
    return s;
  }
  s.updated = static_cast<long long>(number(text, "updated"));
  s.state = string_value(text, "state");
  s.online_since = string_value(text, "online_since");
  s.last_error = string_value(text, "last_error");
  s.scans = count(text, "scans");
  s.reads_ok = count(text, "reads_ok");
  s.writes_ok = count(text, "writes_ok");
  s.io_errors = count(text, "io_errors");
  s.exceptions = count(text, "exceptions");
  s.last_io_us = number(text, "last_io_us");
  s.longest_io_us = number(text, "longest_io_us");
  s.last_cycle_us = number(text, "last_cycle_us");
  for (int i = 0; i < 10; ++i) s.histogram[i] = count(text, kHistogramLabels[i]);
  s.present = !s.state.empty();
  return s;
}

DriverStatistics read_driver_statistics(const std::string& folder, int index, long long now) {
  std::ifstream in(folder + "/driver." + std::to_string(index) + ".status.json",
                   std::ios::binary);
  if (!in) return {};
  std::string text(kLongestText + 1, '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  DriverStatistics s = parse_driver_statistics(text);
  if (s.present && (now - s.updated > kFreshSeconds || s.updated - now > kFreshSeconds)) {
    s = DriverStatistics();  // its program ended (or hangs)
  }
  return s;
}

void write_driver_statistics(JsonWriter& json, const DriverStatistics& s) {
  json.begin_object();
  json.field("state", s.state).field("online_since", s.online_since);
  json.field("scans", static_cast<int64_t>(s.scans));
  json.field("reads_ok", static_cast<int64_t>(s.reads_ok));
  json.field("writes_ok", static_cast<int64_t>(s.writes_ok));
  json.field("io_errors", static_cast<int64_t>(s.io_errors));
  json.field("exceptions", static_cast<int64_t>(s.exceptions));
  json.field("last_io_us", s.last_io_us).field("longest_io_us", s.longest_io_us);
  json.field("last_cycle_us", s.last_cycle_us);
  json.key("cycle_histogram_ms").begin_object();
  for (int i = 0; i < 10; ++i) json.field(kHistogramLabels[i], static_cast<int64_t>(s.histogram[i]));
  json.end_object();
  json.field("last_error", s.last_error).field("updated", static_cast<int64_t>(s.updated));
  json.end_object();
}

std::string driver_statistics_line(const DriverStatistics& s) {
  static const char* const kLimits[10] = {"≤1 ms",  "≤2 ms",   "≤5 ms",   "≤10 ms", "≤20 ms",
                                          "≤50 ms", "≤100 ms", "≤200 ms", "≤500 ms", ">500 ms"};
  std::ostringstream out;
  out << "reads " << s.reads_ok << " ok, writes " << s.writes_ok << " ok, " << s.io_errors
      << " I/O errors; I/O " << milliseconds(s.last_io_us) << ", longest "
      << milliseconds(s.longest_io_us) << "; cycles";
  bool any = false;
  for (int i = 0; i < 10; ++i) {
    if (s.histogram[i] == 0) continue;
    out << (any ? ", " : " ") << kLimits[i] << " " << s.histogram[i];
    any = true;
  }
  if (!any) out << " none";
  if (!s.online_since.empty()) out << "; online since " << s.online_since;
  if (s.state == "offline" && !s.last_error.empty()) out << "; offline: " << s.last_error;
  return out.str();
}

}  // namespace vexlor_tools
