// The one process-wide sink for console lines and log-file lines. VPrint, VPrint_Red,
// VPrint_Yellow and VPrint_Log hand it whole lines; it stamps, colours and writes each line
// in one piece under one process-local lock, and lets tests capture the lines.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "os/clock.h"

namespace vexlor::detail {

enum class LineColour {
  kPlain,
  kRed,
  kYellow,
  kAttribute,  // a console character attribute (VPrint_Log's category colour)
};

enum class LineChannel { kConsole, kLogFile };

struct ConsoleLine {
  LineChannel channel = LineChannel::kConsole;
  LineColour colour = LineColour::kPlain;
  int attribute = 0;  // when colour is kAttribute: low 4 bits text, high 4 bits background
  std::string tag;    // VPrint_Log's category tag, e.g. "[ERR]"; empty for VPrint lines
  std::string source;
  std::string text;  // the formatted text, without stamp, tag or source
  std::string path;  // kLogFile: the file the line went to (after path mapping)
};

// The terminal form of a console line (with its line feed). With colour, the whole line
// except the line feed is wrapped in ANSI sequences: red 31, yellow 33, an attribute as its
// text colour (30-37, bright 90-97) and, when not black, its background (40-47, 100-107).
std::string render_console_line(const ConsoleLine& line, const os::LocalTime& now, bool colour);

// The log-file form: "YYYY/MM/DD HH:MM:SS.mmm [TAG] [source] text\n".
std::string render_log_file_line(const ConsoleLine& line, const os::LocalTime& now);

// The ANSI parameters of a console attribute, e.g. 224 -> "30;103", 79 -> "97;41".
std::string ansi_for_attribute(int attribute);

// Writes a console line (one write, never interleaved with another line of this process).
void emit_console_line(ConsoleLine line);

// Appends a log-file line to system_path (a Windows-style path, see map_system_path), creating
// missing folders. Failures are silent.
void emit_log_file_line(ConsoleLine line, const char* system_path);

// Installs a receiver for every line (console and log file); an empty function removes it.
// With echo false, console lines are not written to the terminal while a receiver is installed
// (log files are always written). The receiver runs under the sink's lock and must not print.
// Returns the receiver it replaced (with its echo setting through previous_echo).
using LineReceiver = std::function<void(const ConsoleLine&)>;
LineReceiver set_console_capture(LineReceiver receiver, bool echo = false,
                                 bool* previous_echo = nullptr);

// Scoped capture for tests: collects every line while it lives, then restores the previous
// receiver. Thread-safe.
class ConsoleCapture {
 public:
  explicit ConsoleCapture(bool echo = false);
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  std::vector<ConsoleLine> lines() const;          // every captured line, in order
  std::vector<ConsoleLine> console_lines() const;  // console lines only
  std::vector<ConsoleLine> file_lines() const;     // log-file lines only
  void clear();

 private:
  struct Store {
    mutable std::mutex mutex;
    std::vector<ConsoleLine> lines;
  };
  std::shared_ptr<Store> store_;
  LineReceiver previous_;
  bool previous_echo_ = false;
};

}  // namespace vexlor::detail
