// Test support for the alarm suites: the alarm log and system.log read back, captured lines,
// and the alarm notices the IO engine heard.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "fifo/fifo_server.h"
#include "frame/vdb_alarm_log.h"
#include "os/local_endpoint.h"
#include "support/equipment.h"
#include "util/vdb.h"

namespace vexlor::test {

// An equipment of the suite's own: build it in SetUp through builder(), then publish().
class AlarmTest : public EquipmentTest {
 protected:
  config::DatabaseBuilder& builder() { return b_; }
  void publish() { start(); }

  // The rows of the alarm log of this equipment ("" since: all).
  std::vector<detail::AlarmLogRow> log_rows() const {
    std::vector<detail::AlarmLogRow> rows;
    std::string error;
    const std::string file = detail::vdb_file_for("Z:\\Database");
    if (std::filesystem::exists(file)) {
      EXPECT_TRUE(detail::read_alarm_log(file, "", &rows, &error)) << error;
    }
    return rows;
  }

  // Today's system.log of the equipment (the default history path "Z:\History").
  std::string system_log() const {
    namespace fs = std::filesystem;
    std::string text;
    const std::string history = instance_.drive_root() + "/Z/History";
    if (!fs::exists(history)) return text;
    for (const auto& entry : fs::recursive_directory_iterator(history)) {
      if (entry.path().filename() == "system.log") text += slurp(entry.path().string());
    }
    return text;
  }
  // How often `line` occurs in today's system.log.
  int log_count(const std::string& line) const {
    const std::string log = system_log();
    int n = 0;
    for (auto at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
    return n;
  }
};

// Console lines: log lines as "<tag> <text>", exactly; VPrint lines as their text with the
// library's source line number replaced by "N".
inline std::vector<std::string> alarm_lines(const detail::ConsoleCapture& capture) {
  std::vector<std::string> out;
  for (const auto& l : capture.console_lines())
    out.push_back(l.tag.empty() ? without_line(l.text) : l.tag + " " + l.text);
  return out;
}

// The alarm notices ("$L") of `sender` the IO engine heard, as "<command> <index>", once it
// heard at least `expected` of them (notices are queued, not waited for).
inline std::vector<std::string> alarm_notices(const std::string& sender, std::size_t expected) {
  const std::regex notice(
      "^EngineWriteG kind=\\$L param=P1 command=(W[12]) index=(-?[0-9]+) "
      "argument=- sender=" +
      sender + "$");
  std::vector<std::string> out;
  wait_until(
      [&] {
        std::vector<std::string> record;
        fifo::query_record(os::kManagerEndpoint, 0, &record, nullptr, 10000);
        out.clear();
        std::smatch m;
        for (const std::string& line : record) {
          if (std::regex_match(line, m, notice)) out.push_back(m[1].str() + " " + m[2].str());
        }
        return out.size() >= expected;
      },
      10);
  return out;
}

// The "posted" notices of alarm `point` from `sender` heard: a post heard is wholly written.
inline int alarm_posts_heard(const std::string& sender, int point) {
  const auto notices = alarm_notices(sender, 0);
  return static_cast<int>(
      std::count(notices.begin(), notices.end(), "W1 " + std::to_string(point)));
}

}  // namespace vexlor::test
