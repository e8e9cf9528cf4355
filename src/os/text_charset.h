// The charset of the build's narrow texts and the conversion of UTF-8 into it. POSIX builds
// keep texts in UTF-8; Windows builds in GBK (code page 936), as their literals are.
#pragma once

#include <string>
#include <string_view>

namespace vexlor::os {

// `utf8` in the build's charset. Characters the charset lacks become '?'.
std::string utf8_to_build_charset(std::string_view utf8);

}  // namespace vexlor::os
