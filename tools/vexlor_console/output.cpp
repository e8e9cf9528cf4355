// Output of the operator console: its own stdout apart from the library's console lines,
// error lines, aligned text tables and the JSON writer.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "console.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define vexlor_dup _dup
#define vexlor_dup2 _dup2
#define vexlor_fdopen _fdopen
#define vexlor_isatty _isatty
#define vexlor_close _close
#define vexlor_open _open
#define VEXLOR_NULL_DEVICE "NUL"
#else
#include <fcntl.h>
#include <unistd.h>
#define vexlor_dup dup
#define vexlor_dup2 dup2
#define vexlor_fdopen fdopen
#define vexlor_isatty isatty
#define vexlor_close close
#define vexlor_open open
#define VEXLOR_NULL_DEVICE "/dev/null"
#endif

namespace vexlor_console {
namespace {

std::FILE* g_out = nullptr;
int g_out_fd = 1;

}  // namespace

std::FILE* out() { return g_out != nullptr ? g_out : stdout; }

bool separate_library_output(bool verbose) {
  std::fflush(stdout);
  const int saved = vexlor_dup(1);
  if (saved < 0) return false;
  std::FILE* stream = vexlor_fdopen(saved, "w");
  if (stream == nullptr) {
    vexlor_close(saved);
    return false;
  }
  int target = 2;
  int opened = -1;
  if (!verbose) {
    opened = vexlor_open(VEXLOR_NULL_DEVICE, O_WRONLY);
    if (opened >= 0) target = opened;
  }
  const bool moved = vexlor_dup2(target, 1) >= 0;
  if (opened >= 0) vexlor_close(opened);
  g_out = stream;
  g_out_fd = saved;
  return moved;
}

bool out_is_terminal() { return vexlor_isatty(g_out_fd) != 0; }

void print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out());
  std::fflush(out());
}

int fail(const std::string& message, int status) {
  std::cerr << "vexlor: " << message << "\n" << std::flush;
  return status;
}

void warn(const std::string& message) {
  std::cerr << "vexlor: warning: " << message << "\n" << std::flush;
}

std::string in_quotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

namespace {

// Decodes one UTF-8 character at text[i]; its length in *len, or 0 when the bytes there are
// not a valid (shortest-form) character.
uint32_t decode_utf8(std::string_view text, std::size_t i, std::size_t* len) {
  const auto c = static_cast<unsigned char>(text[i]);
  *len = 0;
  if (c < 0x80) {
    *len = 1;
    return c;
  }
  std::size_t n = 0;
  uint32_t cp = 0, min = 0;
  if ((c & 0xE0) == 0xC0) {
    n = 2, cp = c & 0x1Fu, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, cp = c & 0x0Fu, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, cp = c & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *len = n;
  return cp;
}

}  // namespace

std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t len = 0;
    const uint32_t cp = decode_utf8(text, i, &len);
    if (len == 0) len = 1;
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    width += wide ? 2 : 1;
    i += len;
  }
  return width;
}

std::string cell(std::string_view text, std::size_t max) {
  std::string out;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (characters == max) return out + "...";
    std::size_t len = 0;
    decode_utf8(text, i, &len);
    if (len == 0) len = 1;
    const char c = text[i];
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      out += '?';
    } else {
      out.append(text.substr(i, len));
    }
    ++characters;
    i += len;
  }
  return out;
}

std::string TextTable::render() const {
  std::vector<std::size_t> widths(header_.size(), 0);
  auto measure = [&widths](const std::vector<std::string>& row) {
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
      widths[c] = std::max(widths[c], display_width(row[c]));
    }
  };
  measure(header_);
  for (const auto& row : rows_) measure(row);
  std::string text;
  auto line = [&](const std::vector<std::string>& row) {
    std::string l;
    for (std::size_t c = 0; c < row.size(); ++c) {
      l += row[c];
      if (c + 1 < row.size() && c < widths.size()) {
        l += std::string(widths[c] - display_width(row[c]) + 2, ' ');
      }
    }
    while (!l.empty() && l.back() == ' ') l.pop_back();
    text += l + "\n";
  };
  line(header_);
  for (const auto& row : rows_) line(row);
  return text;
}

// ---- JSON ----------------------------------------------------------------------------------

void JsonWriter::separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ',';
    first_.back() = false;
  }
}

JsonWriter& JsonWriter::begin_object() {
  separate();
  out_ += '{';
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::end_object() {
  out_ += '}';
  if (!first_.empty()) first_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::begin_array() {
  separate();
  out_ += '[';
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::end_array() {
  out_ += ']';
  if (!first_.empty()) first_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  value(name);
  out_ += ':';
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
  separate();
  out_ += '"';
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t len = 0;
    decode_utf8(text, i, &len);
    if (len == 0) {
      out_ += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
      ++i;
      continue;
    }
    if (len > 1) {
      out_.append(text.substr(i, len));
      i += len;
      continue;
    }
    switch (c) {
      case '"':
        out_ += "\\\"";
        break;
      case '\\':
        out_ += "\\\\";
        break;
      case '\b':
        out_ += "\\b";
        break;
      case '\f':
        out_ += "\\f";
        break;
      case '\n':
        out_ += "\\n";
        break;
      case '\r':
        out_ += "\\r";
        break;
      case '\t':
        out_ += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out_ += buffer;
        } else {
          out_ += static_cast<char>(c);
        }
    }
    ++i;
  }
  out_ += '"';
  return *this;
}

JsonWriter& JsonWriter::value(int64_t number) {
  separate();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(double number) {
  if (!std::isfinite(number)) return null();
  separate();
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", number);
  out_ += buffer;
  return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
  separate();
  out_ += flag ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  separate();
  out_ += "null";
  return *this;
}

// ---- Names ---------------------------------------------------------------------------------

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool glob(std::string_view name, std::string_view pattern) {
  // Iterative '*' matching with one back-track point.
  std::size_t n = 0, p = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
      ++n, ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool name_matches(std::string_view name, std::string_view pattern) {
  if (pattern.empty()) return true;
  if (pattern.find_first_of("*?") != std::string_view::npos) return glob(name, pattern);
  if (pattern.size() > name.size()) return false;
  for (std::size_t i = 0; i + pattern.size() <= name.size(); ++i) {
    if (equal_ignoring_case(name.substr(i, pattern.size()), pattern)) return true;
  }
  return false;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string now_text() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y/%m/%d %H:%M:%S", &local);
  return buffer;
}

}  // namespace vexlor_console
