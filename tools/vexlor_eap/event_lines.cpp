// The receiver's side of the host event lines, from the same table as the senders.
#include "event_lines.h"

#include <cstddef>
#include <optional>

namespace vexlor_eap {
namespace {

enum class RowKind { kRequest, kCoded, kBare, kLine, kPrimary };

struct LineRow {
  const char* function;
  const char* token;
  RowKind kind;
  int code;
  const char* fields;  // the printf format of the fields
};

// clang-format off
constexpr LineRow kRows[] = {
#define VEXLOR_HOST_REQUEST(function, token) {#function, token, RowKind::kRequest, 0, ""},
#define VEXLOR_HOST_CODED(function, token) {#function, token, RowKind::kCoded, 0, ""},
#define VEXLOR_HOST_BARE(function, token, code) {#function, token, RowKind::kBare, code, ""},
#define VEXLOR_HOST_LINE(function, token, code, fields, parameters, arguments) \
  {#function, token, RowKind::kLine, code, fields},
#define VEXLOR_HOST_PRIMARY(function, token, parameters) \
  {#function, token, RowKind::kPrimary, 0, ""},
#include <vexlor/host/event_reports.def>
};
// clang-format on

constexpr std::string_view kEventPrefix = "Report_Event_";
// Senders cut their lines to 511 characters, so no row makes a longer one (and the matching of
// text fields stays cheap).
constexpr std::size_t kLongestLine = 511;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A decimal integer, optionally negative, and nothing else.
std::optional<int> decimal(std::string_view text) {
  std::size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
  if (i == text.size() || text.size() - i > 10) return std::nullopt;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (!is_digit(text[i])) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  if (text[0] == '-') value = -value;
  if (value < -2147483648LL || value > 2147483647LL) return std::nullopt;
  return static_cast<int>(value);
}

// Matches `text` from `t` against the field format from `f`; records where each '|' of the
// format fell. A %s takes the longest text that lets the rest match, so a text holding '|'
// stays whole.
bool match(std::string_view format, std::size_t f, std::string_view text, std::size_t t,
           std::vector<std::size_t>* bars) {
  while (f < format.size()) {
    if (format[f] == '%' && f + 1 < format.size()) {
      const char conversion = format[f + 1];
      f += 2;
      if (conversion == 'd') {
        std::size_t end = t < text.size() && text[t] == '-' ? t + 1 : t;
        const std::size_t digits = end;
        while (end < text.size() && is_digit(text[end])) ++end;
        if (end == digits) return false;
        t = end;
      } else if (conversion == 'c') {
        if (t >= text.size()) return false;
        ++t;
      } else if (conversion == 's') {
        const std::size_t mark = bars->size();
        for (std::size_t end = text.size() + 1; end-- > t;) {
          bars->resize(mark);
          if (match(format, f, text, end, bars)) return true;
        }
        bars->resize(mark);
        return false;
      } else {
        return false;
      }
      continue;
    }
    if (t >= text.size() || text[t] != format[f]) return false;
    if (format[f] == '|') bars->push_back(t);
    ++f;
    ++t;
  }
  return t == text.size();
}

std::vector<std::string> split_at(std::string_view text, const std::vector<std::size_t>& bars) {
  std::vector<std::string> fields;
  for (std::size_t k = 0; k < bars.size(); ++k) {
    const std::size_t begin = bars[k] + 1;
    const std::size_t end = k + 1 < bars.size() ? bars[k + 1] : text.size();
    fields.emplace_back(text.substr(begin, end - begin));
  }
  return fields;
}

std::string event_name(const LineRow& row) {
  std::string_view name = row.function;
  if (name.substr(0, kEventPrefix.size()) == kEventPrefix) name.remove_prefix(kEventPrefix.size());
  return std::string(name);
}

// "S<stream>F|<function>" and, after one blank, the texts: fields function and texts.
bool parse_primary(std::string_view rest, ParsedLine* out) {
  const std::size_t bar = rest.find('|');
  if (bar == std::string_view::npos || bar < 3 || rest[0] != 'S' || rest[bar - 1] != 'F' ||
      !decimal(rest.substr(1, bar - 2))) {
    return false;
  }
  std::string_view after = rest.substr(bar + 1);
  const std::size_t blank = after.find(' ');
  if (!decimal(after.substr(0, blank))) return false;
  out->fields.emplace_back(after.substr(0, blank));
  if (blank != std::string_view::npos) out->fields.emplace_back(after.substr(blank + 1));
  return true;
}

}  // namespace

const char* status_text(LineStatus status) {
  switch (status) {
    case LineStatus::kOk:
      return "ok";
    case LineStatus::kMalformed:
      return "malformed";
    default:
      return "unknown";
  }
}

bool is_request(std::string_view token) {
  for (const LineRow& row : kRows) {
    if (row.kind == RowKind::kRequest && token == row.token) return true;
  }
  return false;
}

ParsedLine parse_line(std::string_view line) {
  ParsedLine out;
  const std::size_t blank = line.find(' ');
  out.token = std::string(line.substr(0, blank));
  const std::string_view rest =
      blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
  const std::size_t bar = rest.find('|');
  out.code = std::string(rest.substr(0, bar));
  const std::string_view fields =
      bar == std::string_view::npos ? std::string_view() : rest.substr(bar);

  bool known = false;
  const LineRow* found = nullptr;
  std::vector<std::string> found_fields;
  for (const LineRow& row : kRows) {
    if (out.token != row.token) continue;
    known = true;
    if (line.size() > kLongestLine) break;
    std::vector<std::string> row_fields;
    switch (row.kind) {
      case RowKind::kRequest:
        if (blank != std::string_view::npos) continue;
        break;
      case RowKind::kCoded:
        if (!fields.empty() || !decimal(out.code)) continue;
        break;
      case RowKind::kPrimary: {
        ParsedLine primary;
        if (!parse_primary(rest, &primary)) continue;
        row_fields = std::move(primary.fields);
        break;
      }
      case RowKind::kBare:
      case RowKind::kLine: {
        const std::optional<int> code = decimal(out.code);
        if (!code || *code != row.code) continue;
        std::vector<std::size_t> bars;
        if (!match(row.fields, 0, fields, 0, &bars)) continue;
        row_fields = split_at(fields, bars);
        break;
      }
    }
    // Several functions send the same line (the equipment-constant and recipe reports and
    // their collection events): the collection event names it.
    const bool is_event =
        std::string_view(row.function).substr(0, kEventPrefix.size()) == kEventPrefix;
    if (found == nullptr || is_event) {
      const bool found_event =
          found != nullptr &&
          std::string_view(found->function).substr(0, kEventPrefix.size()) == kEventPrefix;
      if (!found_event) {
        found = &row;
        found_fields = std::move(row_fields);
      }
    }
  }
  if (found != nullptr) {
    out.status = LineStatus::kOk;
    out.event = event_name(*found);
    out.fields = std::move(found_fields);
  } else {
    out.status = known ? LineStatus::kMalformed : LineStatus::kUnknown;
  }
  return out;
}

}  // namespace vexlor_eap
