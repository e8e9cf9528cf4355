// POSIX builds run in UTF-8: nothing to convert.
#include "os/text_charset.h"

namespace vexlor::os {

std::string utf8_to_build_charset(std::string_view utf8) { return std::string(utf8); }

}  // namespace vexlor::os
