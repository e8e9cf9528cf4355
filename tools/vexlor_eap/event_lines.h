// Reading a host event line back: token, code and fields, checked against the same line table
// the library's senders are expanded from (<vexlor/host/event_reports.def>).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexlor_eap {

enum class LineStatus {
  kOk,         // the line is one of the table's lines
  kUnknown,    // its token is none of the table's
  kMalformed,  // a known token whose code or fields fit no line of that token
};
// "ok", "unknown", "malformed": the journal's status texts.
const char* status_text(LineStatus status);

struct ParsedLine {
  LineStatus status = LineStatus::kUnknown;
  std::string token;  // up to the first blank (the whole line when there is none)
  std::string code;   // after the blank, up to the first '|' ("" for a request)
  // The event: the collection event's name (VFA_Report_Event_<name>) when the line is one,
  // else the sending function's name without "VFA_"; "" unless the status is kOk.
  std::string event;
  // The fields in line order, each the text between its '|' and the next field's; a text
  // field may itself hold '|'. Empty unless the status is kOk.
  std::vector<std::string> fields;
};

ParsedLine parse_line(std::string_view line);

// Whether the token names a request to the host link ("REQUEST_ENABLE", ...).
bool is_request(std::string_view token);

}  // namespace vexlor_eap
