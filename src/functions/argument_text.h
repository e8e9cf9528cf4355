// Internal pieces shared by the two argument-text formats (declared arguments, run
// parameters).
#pragma once

#include <cstdint>
#include <string_view>

namespace vexlor::detail {

// atoi without its overflow: leading blanks, an optional sign, the leading digits (0 when
// there are none), clamped to the int32 range.
int32_t leading_int(std::string_view text);

}  // namespace vexlor::detail
