// VPrint: console lines and log lines, formatted into a fixed buffer and handed to the sink.
#include <cstdio>
#include <string>

#include "util/console_sink.h"
#include "vexlor/util.h"

namespace vexlor::detail {
namespace {

constexpr std::size_t kLineBuffer = 4096;

// The formatted text, cut at kLineBuffer-1 bytes, without a trailing line end.
std::string format_text(const char* format, va_list args) {
  if (format == nullptr) return {};
  char buffer[kLineBuffer];
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (n < 0) return {};
  std::string text(buffer, static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n)
                                                                       : sizeof buffer - 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

void print_line(LineColour colour, const char* source, const char* format, va_list args) {
  ConsoleLine line;
  line.colour = colour;
  line.source = source ? source : "";
  line.text = format_text(format, args);
  emit_console_line(std::move(line));
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

using vexlor::detail::LineColour;

void VPrint(const char* source, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vexlor::detail::print_line(LineColour::kPlain, source, format, args);
  va_end(args);
}

void VPrint_Red(const char* source, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vexlor::detail::print_line(LineColour::kRed, source, format, args);
  va_end(args);
}

void VPrint_Yellow(const char* source, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vexlor::detail::print_line(LineColour::kYellow, source, format, args);
  va_end(args);
}

void VPrint_Log(const char* source, const char* format, va_list args, int colour, const char* tag,
                bool to_console, bool to_file, const char* file_path) {
  if (!to_console && !to_file) return;
  vexlor::detail::ConsoleLine line;
  line.colour = LineColour::kAttribute;
  line.attribute = colour;
  line.tag = tag ? tag : "";
  line.source = source ? source : "";
  line.text = vexlor::detail::format_text(format, args);
  if (to_console && to_file) {
    vexlor::detail::emit_console_line(line);
  } else if (to_console) {
    vexlor::detail::emit_console_line(std::move(line));
    return;
  }
  vexlor::detail::emit_log_file_line(std::move(line), file_path);
}

}  // namespace Vexlor
