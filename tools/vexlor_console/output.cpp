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

bool since_option(const std::string& text, std::string* since) {
  if (text.empty() || vexlor_tools::normalise_time(text, since)) return true;
  fail("bad time " + in_quotes(text) +
       " for --since (YYYY/MM/DD HH:MM:SS or a leading part of it)");
  return false;
}

void warn(const std::string& message) {
  std::cerr << "vexlor: warning: " << message << "\n" << std::flush;
}

namespace {

using vexlor_tools::decode_utf8;

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

namespace {

// `text` cut to `max` characters with line breaks and tabs shown as \n, \r and \t. Other control
// characters become '?', or \xHH with quotes and backslashes escaped when the text is to be
// quoted.
std::string escaped(std::string_view text, std::size_t max, bool quoting, bool* cut) {
  std::string out;
  std::size_t characters = 0;
  *cut = false;
  for (std::size_t i = 0; i < text.size();) {
    if (characters == max) {
      *cut = true;
      return out;
    }
    std::size_t len = 0;
    decode_utf8(text, i, &len);
    if (len == 0) len = 1;
    const char c = text[i];
    if (quoting && (c == '"' || c == '\\')) {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X",
                    static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += quoting ? hex : "?";
    } else {
      out.append(text.substr(i, len));
    }
    ++characters;
    i += len;
  }
  return out;
}

}  // namespace

std::string cell(std::string_view text, std::size_t max) {
  bool cut = false;
  std::string out = escaped(text, max, false, &cut);
  return cut ? out + "..." : out;
}

std::string quoted(std::string_view text, std::size_t max) {
  bool cut = false;
  const std::string out = "\"" + escaped(text, max, true, &cut) + "\"";
  return cut ? out + "..." : out;
}

TextTable::TextTable(const std::vector<const char*>& header) {
  const bool chinese = vexlor_tools::display_chinese();
  for (const char* pair : header) header_.push_back(word(pair, chinese));
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

}  // namespace vexlor_console
