// What to write in place of a TOML syntax error, by the parser's description of it.
#include "config/syntax_errors.h"

namespace vexlor::config {
namespace {

bool has(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The name in the first pair of single quotes of `text` ("cannot redefine existing table
// 'system'" gives "system"), or "".
std::string quoted(std::string_view text) {
  const std::size_t open = text.find('\'');
  if (open == std::string_view::npos) return {};
  const std::size_t close = text.find('\'', open + 1);
  if (close == std::string_view::npos) return {};
  return std::string(text.substr(open + 1, close - open - 1));
}

// What the parser saw where it stopped: "saw 'x'" gives "x"; "" when it does not say.
std::string seen(std::string_view text) {
  const std::size_t at = text.rfind("saw ");
  return at == std::string_view::npos ? std::string() : quoted(text.substr(at));
}

std::string advice(std::string_view d) {
  if (has(d, "inline table") && has(d, "saw '\\n'")) {
    return "an inline table { ... } must close with '}' on the line where it opens: write the "
           "whole record on one line (the array [ ... ] around the records may span lines)";
  }
  if (has(d, "inline table") && has(d, "dangling comma")) {
    return "a comma before '}': remove it (an inline table takes no comma after its last key)";
  }
  if (has(d, "inline table") && has(d, "expected key or closing '}'")) {
    return "an inline table { ... } is not closed: add '}' before " + seen(d);
  }
  if (has(d, "inline table") && has(d, "expected comma or closing '}'")) {
    return "a comma is missing between two keys of an inline table: write { a = 1, b = 2 }";
  }
  if (has(d, "array") && has(d, "expected comma or closing ']'")) {
    return "a comma is missing between two items of an array: write [ x, y ]";
  }
  if (has(d, "end-of-file")) {
    return "the file ends inside an array, a table or a text: add the missing ']', '}' or '\"'";
  }
  if (has(d, "escape sequence")) {
    return "a backslash in a \"...\" text starts an escape: write \\\\ for one backslash "
           "(\"Z:\\\\History\"), or quote the text with single quotes ('Z:\\History')";
  }
  if (has(d, "string") && has(d, "control characters")) {
    return "a text must end on the line where it starts: add the closing '\"' (write a line "
           "break inside a text as \\n)";
  }
  if (has(d, "cannot redefine existing table")) {
    return "the table [" + quoted(d) + "] is written twice: merge the two into one";
  }
  if (has(d, "cannot redefine existing")) {
    return "the key " + quoted(d) + " is given twice in the same table: keep one";
  }
  if (has(d, "could not determine value type")) {
    return "not a TOML value: write texts in double quotes (\"PM1\"), numbers as 12 or 1.5, and "
           "true or false";
  }
  if (has(d, "boolean")) return "write true or false, in lower case";
  if (has(d, "expected '='")) {
    return "expected KEY = VALUE: a key is one word of letters, digits, '_' and '-' (or a quoted "
           "text)";
  }
  if (has(d, "table header")) return "a table header is [NAME] on a line of its own";
  if (has(d, "expected a comment or whitespace")) {
    return "nothing but a comment may follow a value on its line: remove '" + seen(d) + "'";
  }
  if (has(d, "invalid UTF-8") || has(d, "utf-8") || has(d, "UTF-8")) {
    return "the file is not UTF-8: save it as UTF-8";
  }
  // Anything else: the parser's words without its prefix.
  constexpr std::string_view kPrefix = "Error while parsing ";
  std::string_view rest = d;
  if (rest.substr(0, kPrefix.size()) == kPrefix) rest.remove_prefix(kPrefix.size());
  return "not valid TOML (" + std::string(rest) + ")";
}

}  // namespace

std::string syntax_error_line(const std::string& file, uint32_t line,
                              std::string_view description) {
  return file + ":" + std::to_string(line) + ": " + advice(description);
}

}  // namespace vexlor::config
