// The parser's own error texts turned into what an engineer should write instead. TOML parsers
// report where they stopped ("Error while parsing inline table: expected key or closing '}',
// saw '\n'"); the configuration tools say what the file needs there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexlor::config {

// The one line for a file that is not valid TOML: "FILE:LINE: " and what to write, from the
// parser's `description` of the error at `line`.
std::string syntax_error_line(const std::string& file, uint32_t line, std::string_view description);

}  // namespace vexlor::config
