// VStr: comparisons, splits, numbers, buffers and clock texts on the equipment's narrow texts.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "util/charset.h"
#include "util/text.h"
#include "os/clock.h"
#include "os/named_mutex.h"
#include "vexlor/util.h"

namespace vexlor::detail {

namespace {

char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_char(char a, char b, bool fold_case) { return fold_case ? fold(a) == fold(b) : a == b; }

// True when part matches text at pos; a GBK second byte is compared exactly.
bool matches_at(std::string_view text, std::size_t pos, std::string_view part, bool fold_case,
                Charset cs) {
  if (text.size() - pos < part.size()) return false;
  for (std::size_t i = 0; i < part.size();) {
    std::size_t w = char_width(part, i, cs);
    if (w == 2) {
      if (text[pos + i] != part[i] || text[pos + i + 1] != part[i + 1]) return false;
    } else if (!same_char(text[pos + i], part[i], fold_case)) {
      return false;
    }
    i += w;
  }
  return true;
}

}  // namespace

// Hot: on the path of a lookup, gathered with it on a few code pages (points/lookup.cpp).
[[gnu::hot]] std::size_t find_char(std::string_view text, char ch, Charset cs) {
  for (std::size_t i = 0; i < text.size(); i += char_width(text, i, cs)) {
    if (text[i] == ch) return i;
  }
  return std::string_view::npos;
}

std::size_t find_text(std::string_view text, std::string_view part, bool fold_case, Charset cs) {
  if (part.empty()) return 0;
  for (std::size_t i = 0; i < text.size(); i += char_width(text, i, cs)) {
    if (matches_at(text, i, part, fold_case, cs)) return i;
  }
  return std::string_view::npos;
}

[[gnu::hot]] bool equal_text(std::string_view a, std::string_view b, bool fold_case, Charset cs) {
  if (a.size() != b.size()) return false;
  if (!fold_case) return a == b;
  // Folding never touches bytes of 0x80 and above, so while the texts match they have the
  // same character boundaries and a GBK second byte is only ever compared exactly.
  return matches_at(a, 0, b, true, cs);
}

void upper_ascii(std::string& text, Charset cs) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t w = char_width(text, i, cs);
    if (w == 1) text[i] = fold(text[i]);
    i += w;
  }
}

std::size_t cut_length(std::string_view text, std::size_t max_bytes, Charset cs) {
  if (text.size() <= max_bytes) return text.size();
  if (cs == Charset::kGbk) {
    std::size_t end = 0;
    while (end < text.size()) {
      std::size_t w = char_width(text, end, cs);
      if (end + w > max_bytes) break;
      end += w;
    }
    return end;
  }
  // UTF-8: step back over continuation bytes to the start of the cut character.
  std::size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return end;
}

Bilingual split_bilingual(std::string_view text, Charset cs) {
  Bilingual out;
  std::size_t bar = find_char(text, '|', cs);
  if (bar == std::string_view::npos) {
    out.english = text;
    return out;
  }
  out.english = text.substr(0, bar);
  out.chinese = text.substr(bar + 1);
  out.has_bar = true;
  return out;
}

namespace {

std::string_view view(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

void put(char* out, int size, std::string_view text) {
  if (out == nullptr || size <= 0) return;
  copy_text(out, static_cast<std::size_t>(size), text);
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Splits off the first blank-separated word; rest starts at the next non-blank.
bool split_word(std::string_view text, std::string_view& word, std::string_view& rest) {
  std::size_t start = 0;
  while (start < text.size() && is_blank(text[start])) ++start;
  std::size_t end = start;
  while (end < text.size() && !is_blank(text[end])) ++end;
  word = text.substr(start, end - start);
  std::size_t next = end;
  while (next < text.size() && is_blank(text[next])) ++next;
  rest = text.substr(next);
  return end < text.size();
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool parse_int(const char* text, int* value) {
  std::string_view s = view(text);
  std::string_view digits = s;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (digits.empty()) return false;
  for (char c : digits) {
    if (!is_digit(c)) return false;
  }
  std::string_view number = s[0] == '+' ? digits : s;  // from_chars takes '-' only
  int v = 0;
  auto result = std::from_chars(number.data(), number.data() + number.size(), v);
  if (result.ec != std::errc() || result.ptr != number.data() + number.size()) return false;
  if (value != nullptr) *value = v;
  return true;
}

// Decimal floating-point syntax: [sign] digits [. digits] [e [sign] digits], one digit at least.
bool decimal_syntax(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t mantissa = 0;
  while (i < s.size() && is_digit(s[i])) ++i, ++mantissa;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) ++i, ++mantissa;
  }
  if (mantissa == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exponent = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == s.size();
}

std::string join_texts(std::initializer_list<const char*> texts) {
  bool bilingual = false;
  for (const char* t : texts) {
    if (find_char(view(t), '|') != std::string_view::npos) bilingual = true;
  }
  std::string english;
  std::string chinese;
  for (const char* t : texts) {
    Bilingual parts = split_bilingual(view(t));
    english += parts.english;
    chinese += parts.chinese.empty() ? parts.english : parts.chinese;
  }
  if (!bilingual) return english;
  return english + '|' + chinese;
}

void put_join(char* buffer, std::initializer_list<const char*> texts) {
  constexpr std::size_t kAppendBuffer = 512;
  if (buffer == nullptr) return;
  std::string joined = join_texts(texts);
  joined.resize(cut_length(joined, kAppendBuffer - 1, kTextCharset));
  copy_text(buffer, kAppendBuffer, joined);
}

constexpr std::size_t kClockText = 32;

const char* windows_error_text(uint32_t code) {
  switch (code) {
    case os::kErrorSuccess:
      return "The operation completed successfully.";
    case os::kErrorFileNotFound:
      return "The system cannot find the file specified.";
    case os::kErrorInvalidHandle:
      return "The handle is invalid.";
    case os::kErrorInvalidParameter:
      return "The parameter is incorrect.";
    case os::kErrorAlreadyExists:
      return "Cannot create a file when that file already exists.";
    case os::kErrorNotOwner:
      return "Attempt to release mutex not owned by caller.";
    default:
      return nullptr;
  }
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VStr_Compare(const char* a, const char* b) { return d::view(a) == d::view(b); }

bool VStr_Compare_L(const char* a, const char* b) {
  return d::equal_text(d::view(a), d::view(b), true);
}

bool VStr_Find_SubString(const char* text, const char* part) {
  return d::find_text(d::view(text), d::view(part), false) != std::string_view::npos;
}

bool VStr_Find_SubString_L(const char* text, const char* part) {
  return d::find_text(d::view(text), d::view(part), true) != std::string_view::npos;
}

bool VStr_Seperate_Char(const char* text, char ch, char* first, char* rest, int size) {
  std::string copy(d::view(text));  // the outputs may share text's buffer
  std::size_t at = d::find_char(copy, ch);
  if (at == std::string::npos) {
    d::put(first, size, copy);
    d::put(rest, size, {});
    return false;
  }
  std::string_view whole(copy);
  d::put(first, size, whole.substr(0, at));
  d::put(rest, size, whole.substr(at + 1));
  return true;
}

int VStr_Seperate_Char(const char* text, char ch, char* a, char* b, char* c, char* d_out, char* e,
                       int size) {
  std::string copy(d::view(text));
  std::string_view remaining(copy);
  std::string_view fields[4];
  int found = 0;
  for (int i = 0; i < 4; ++i) {
    std::size_t at = d::find_char(remaining, ch);
    if (at == std::string_view::npos) {
      fields[i] = remaining;
      remaining = {};
      break;
    }
    fields[i] = remaining.substr(0, at);
    remaining = remaining.substr(at + 1);
    ++found;
  }
  char* outputs[4] = {a, b, c, d_out};
  for (int i = 0; i < 4; ++i) d::put(outputs[i], size, fields[i]);
  d::put(e, size, found == 4 ? remaining : std::string_view());
  return found;
}

bool VStr_Seperate_Char(const std::string& text, char ch, std::string& first, std::string& rest) {
  std::string copy = text;
  std::size_t at = d::find_char(copy, ch);
  if (at == std::string::npos) {
    first = copy;
    rest.clear();
    return false;
  }
  first = copy.substr(0, at);
  rest = copy.substr(at + 1);
  return true;
}

std::size_t VStr_Seperate_Char(const std::string& text, char ch, std::vector<std::string>& parts) {
  std::vector<std::string> out;
  std::string_view remaining(text);
  for (;;) {
    std::size_t at = d::find_char(remaining, ch);
    if (at == std::string_view::npos) break;
    out.emplace_back(remaining.substr(0, at));
    remaining = remaining.substr(at + 1);
  }
  out.emplace_back(remaining);
  parts = std::move(out);
  return parts.size();
}

bool VStr_Seperate(const char* text, char* first, char* rest, int size) {
  std::string copy(d::view(text));
  std::string_view word;
  std::string_view after;
  bool found = d::split_word(copy, word, after);
  d::put(first, size, word);
  d::put(rest, size, after);
  return found && !after.empty();
}

int VStr_Seperate(const char* text, char* a, char* b, char* c, int size) {
  std::string copy(d::view(text));
  std::string_view first;
  std::string_view second;
  std::string_view rest;
  std::string_view after_first;
  int found = 0;
  if (d::split_word(copy, first, after_first) && !after_first.empty()) ++found;
  if (d::split_word(after_first, second, rest) && !rest.empty()) ++found;
  d::put(a, size, first);
  d::put(b, size, second);
  d::put(c, size, rest);
  return found;
}

int VStr_Int_Check(const char* text) { return d::parse_int(text, nullptr) ? 1 : 0; }

bool VStr_To_Int(const char* text, int* value) { return d::parse_int(text, value); }

bool VStr_To_Double(const char* text, double* value) {
  std::string_view s = d::view(text);
  if (!d::decimal_syntax(s)) return false;
  if (s[0] == '+') s.remove_prefix(1);  // from_chars takes '-' only
  double v = 0;
  auto result = std::from_chars(s.data(), s.data() + s.size(), v);
  if (result.ec != std::errc() || result.ptr != s.data() + s.size()) return false;
  if (value != nullptr) *value = v;
  return true;
}

void VStr_Upper(std::string& text) { d::upper_ascii(text); }

int VStr_Replace(std::string& text, std::string_view key, std::string_view value) {
  if (key.empty()) return 0;
  std::string out;
  int count = 0;
  std::size_t pos = 0;
  std::string_view source(text);
  for (;;) {
    std::size_t at = d::find_text(source.substr(pos), key, false);
    if (at == std::string_view::npos) break;
    out.append(source.substr(pos, at));
    out.append(value);
    pos += at + key.size();
    ++count;
  }
  if (count == 0) return 0;
  out.append(source.substr(pos));
  text = std::move(out);
  return count;
}

int VStr_Replace(std::string& text, const char* key, const char* value) {
  return VStr_Replace(text, d::view(key), d::view(value));
}

void VStr_Set_Mem(void* buffer, int value, int size) {
  if (buffer == nullptr || size <= 0) return;
  std::memset(buffer, value, static_cast<std::size_t>(size));
}

bool VStr_Prepare_Mem(char** buffer, int size) {
  if (buffer == nullptr) return false;
  std::size_t bytes = size > 64 ? static_cast<std::size_t>(size) : 64;
  void* p = std::realloc(*buffer, bytes);
  if (p == nullptr) return false;
  std::memset(p, 0, bytes);
  *buffer = static_cast<char*>(p);
  return true;
}

bool VStr_Copy_Mem(char** buffer, const char* text) {
  if (buffer == nullptr) return false;
  std::string_view s = d::view(text);
  std::size_t bytes = s.size() + 1 > 64 ? s.size() + 1 : 64;
  std::string copy(s);  // text may live in *buffer, which realloc may move
  void* p = std::realloc(*buffer, bytes);
  if (p == nullptr) return false;
  d::copy_text(static_cast<char*>(p), bytes, copy);
  *buffer = static_cast<char*>(p);
  return true;
}

bool VStr_Copy_Stack(char* buffer, const char* text, int size) {
  if (buffer == nullptr || size <= 0) return false;
  std::string_view s = d::view(text);
  d::copy_text(buffer, static_cast<std::size_t>(size), s);
  return s.size() < static_cast<std::size_t>(size);
}

const char* VStr_Get_Mem_Str(const char* text) {
  static const char kEmpty[1] = {'\0'};
  return text ? text : kEmpty;
}

void VStr_Strcat_Alarm_Append_Text(char* buffer, const char* t1, const char* t2) {
  d::put_join(buffer, {t1, t2});
}

void VStr_Strcat_Alarm_Append_Text(char* buffer, const char* t1, const char* t2, const char* t3) {
  d::put_join(buffer, {t1, t2, t3});
}

void VStr_Strcat_Alarm_Append_Text(char* buffer, const char* t1, const char* t2, const char* t3,
                                   const char* t4) {
  d::put_join(buffer, {t1, t2, t3, t4});
}

const char* VStr_Get_DateTime2() {
  thread_local char text[d::kClockText];
  vexlor::os::LocalTime t = vexlor::os::local_time();
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

const char* VStr_Get_Time() {
  thread_local char text[d::kClockText];
  vexlor::os::LocalTime t = vexlor::os::local_time();
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                t.milliseconds);
  return text;
}

const char* VStr_Get_SysErrMsg() {
  thread_local char text[256];
  int saved_errno = errno;
  uint32_t code = vexlor::os::mutex_last_error();
  if (code != vexlor::os::kErrorSuccess || saved_errno == 0) {
    const char* known = d::windows_error_text(code);
    if (known != nullptr) {
      std::snprintf(text, sizeof text, "%s (%u)", known, static_cast<unsigned>(code));
    } else {
      std::snprintf(text, sizeof text, "System error. (%u)", static_cast<unsigned>(code));
    }
    return text;
  }
  static std::mutex strerror_lock;  // strerror's buffer is shared between threads
  std::lock_guard<std::mutex> lock(strerror_lock);
  std::snprintf(text, sizeof text, "%s (errno %d)", std::strerror(saved_errno), saved_errno);
  return text;
}

}  // namespace Vexlor
