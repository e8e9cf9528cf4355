// The process-wide line sink behind VPrint and VPrint_Log, and the mapping of the system's
// Windows-style file paths.
#include "util/console_sink.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "util/paths.h"
#include "os/console.h"
#include "os/instance.h"

namespace vexlor::detail {

namespace {

struct Sink {
  std::mutex mutex;
  LineReceiver receiver;
  bool echo = false;
};

Sink& sink() {
  static Sink* instance = new Sink;  // never destroyed: lines may be printed during exit
  return *instance;
}

bool colour_wanted() {
  const char* no_colour = std::getenv("NO_COLOR");
  return no_colour == nullptr && os::console_supports_colour();
}

// "[TAG] [source] text" with empty parts left out.
void append_body(std::string& out, const ConsoleLine& line) {
  if (!line.tag.empty()) {
    out += line.tag;
    out += ' ';
  }
  if (!line.source.empty()) {
    out += '[';
    out += line.source;
    out += "] ";
  }
  out += line.text;
}

// Console attribute colour index (bit 0 blue, bit 1 green, bit 2 red, bit 3 bright) to the
// ANSI colour number 0-7 (bit 0 red, bit 1 green, bit 2 blue).
int ansi_colour(int index) {
  return ((index & 4) ? 1 : 0) | ((index & 2) ? 2 : 0) | ((index & 1) ? 4 : 0);
}

}  // namespace

std::string ansi_for_attribute(int attribute) {
  int text = attribute & 0x0F;
  int background = (attribute >> 4) & 0x0F;
  std::string out = std::to_string(((text & 8) ? 90 : 30) + ansi_colour(text));
  if (background != 0) {  // black background is the terminal's own
    out += ';';
    out += std::to_string(((background & 8) ? 100 : 40) + ansi_colour(background));
  }
  return out;
}

std::string render_console_line(const ConsoleLine& line, const os::LocalTime& now, bool colour) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d ", now.hour, now.minute, now.second,
                now.milliseconds);
  std::string body = stamp;
  append_body(body, line);
  std::string ansi;
  if (colour) {
    switch (line.colour) {
      case LineColour::kPlain:
        break;
      case LineColour::kRed:
        ansi = "31";
        break;
      case LineColour::kYellow:
        ansi = "33";
        break;
      case LineColour::kAttribute:
        ansi = ansi_for_attribute(line.attribute);
        break;
    }
  }
  if (ansi.empty()) return body + '\n';
  return "\x1b[" + ansi + "m" + body + "\x1b[0m\n";
}

std::string render_log_file_line(const ConsoleLine& line, const os::LocalTime& now) {
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d.%03d ", now.year, now.month,
                now.day, now.hour, now.minute, now.second, now.milliseconds);
  std::string out = stamp;
  append_body(out, line);
  out += '\n';
  return out;
}

void emit_console_line(ConsoleLine line) {
  line.channel = LineChannel::kConsole;
  Sink& s = sink();
  std::lock_guard<std::mutex> lock(s.mutex);  // stamps follow the order of the lines
  if (s.receiver) {
    s.receiver(line);
    if (!s.echo) return;
  }
  std::string out = render_console_line(line, os::local_time(), colour_wanted());
  os::console_write(out.data(), out.size());
}

void emit_log_file_line(ConsoleLine line, const char* system_path) {
  line.channel = LineChannel::kLogFile;
  line.path = map_system_path(system_path);
  if (line.path.empty()) return;
  Sink& s = sink();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.receiver) s.receiver(line);
  std::string out = render_log_file_line(line, os::local_time());
  // One open file per log name ("system.log", ...): a new day's path reopens it.
  static auto* files = new std::map<std::string, os::AppendFile>;
  const std::size_t slash = line.path.find_last_of('/');
  (*files)[slash == std::string::npos ? line.path : line.path.substr(slash + 1)].append(
      line.path, out.data(), out.size());
}

LineReceiver set_console_capture(LineReceiver receiver, bool echo, bool* previous_echo) {
  Sink& s = sink();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (previous_echo != nullptr) *previous_echo = s.echo;
  s.echo = echo;
  std::swap(s.receiver, receiver);
  return receiver;
}

ConsoleCapture::ConsoleCapture(bool echo) : store_(std::make_shared<Store>()) {
  std::shared_ptr<Store> store = store_;
  previous_ = set_console_capture(
      [store](const ConsoleLine& line) {
        std::lock_guard<std::mutex> lock(store->mutex);
        store->lines.push_back(line);
      },
      echo, &previous_echo_);
}

ConsoleCapture::~ConsoleCapture() { set_console_capture(std::move(previous_), previous_echo_); }

std::vector<ConsoleLine> ConsoleCapture::lines() const {
  std::lock_guard<std::mutex> lock(store_->mutex);
  return store_->lines;
}

std::vector<ConsoleLine> ConsoleCapture::console_lines() const {
  std::vector<ConsoleLine> out;
  for (ConsoleLine& line : lines()) {
    if (line.channel == LineChannel::kConsole) out.push_back(std::move(line));
  }
  return out;
}

std::vector<ConsoleLine> ConsoleCapture::file_lines() const {
  std::vector<ConsoleLine> out;
  for (ConsoleLine& line : lines()) {
    if (line.channel == LineChannel::kLogFile) out.push_back(std::move(line));
  }
  return out;
}

void ConsoleCapture::clear() {
  std::lock_guard<std::mutex> lock(store_->mutex);
  store_->lines.clear();
}

std::string drive_root() {
  const char* root = std::getenv("VEXLOR_DRIVE_ROOT");
  if (root != nullptr && *root != '\0') return root;
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.vexlor/drives";
  return "/tmp/vexlor-drives";
}

std::string map_system_path(const char* path) {
  if (path == nullptr || *path == '\0') return {};
  std::string in(path);
  if (in.size() > kMaxSystemPath) return {};
#if defined(_WIN32)
  return in;
#else
  std::string out;
  std::size_t start = 0;
  char letter = in[0];
  bool drive = in.size() >= 2 && in[1] == ':' &&
               ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z'));
  if (drive) {
    if (letter >= 'a') letter = static_cast<char>(letter - 'a' + 'A');
    out = drive_root() + '/' + letter;
    start = 2;
    if (start < in.size() && in[start] != '\\' && in[start] != '/') out += '/';  // "Z:file"
  }
  for (std::size_t i = start; i < in.size(); ++i) out += in[i] == '\\' ? '/' : in[i];
  return out;
#endif
}

}  // namespace vexlor::detail
