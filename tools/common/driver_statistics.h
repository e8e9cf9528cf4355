// The statistics a driver program publishes while it serves a driver (reads and writes
// answered, I/O errors, I/O and cycle times, online since): the file driver.<index>.status.json
// in the instance's runtime folder, rewritten whole once per second. The console and the panel
// read it; nothing of it passes through the library.
#pragma once

#include <cstdint>
#include <string>

#include "json_writer.h"

namespace vexlor_tools {

struct DriverStatistics {
  bool present = false;  // a program published them within the last kFreshSeconds
  long long updated = 0;
  std::string state, online_since, last_error;
  uint64_t scans = 0, reads_ok = 0, writes_ok = 0, io_errors = 0, exceptions = 0;
  double last_io_us = 0, longest_io_us = 0, last_cycle_us = 0;
  // Cycle times up to 1, 2, 5, 10, 20, 50, 100, 200, 500 ms and over.
  uint64_t histogram[10] = {};
};

inline constexpr int kFreshSeconds = 5;
extern const char* const kHistogramLabels[10];

// Parses a published text; fields it lacks stay 0 or empty (a malformed text gives nothing).
DriverStatistics parse_driver_statistics(const std::string& text);
// The statistics of driver `index` of the instance whose runtime folder is `folder`; not
// present when no file is there or it is older than kFreshSeconds at `now` (seconds since
// 1970).
DriverStatistics read_driver_statistics(const std::string& folder, int index, long long now);

// As one JSON object (the published fields), and as one line for people, e.g.
// "reads 120 ok, writes 3 ok, 0 I/O errors; I/O 0.21 ms, longest 1.30 ms; cycles ≤1 ms 118,
// ≤2 ms 2; online since 2026-12-07 00:01:02".
void write_driver_statistics(JsonWriter& json, const DriverStatistics& s);
std::string driver_statistics_line(const DriverStatistics& s);

}  // namespace vexlor_tools
