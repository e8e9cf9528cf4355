// The printed names of the system's enumerated values: FUNC_STATUS and ALARM_STYLE. Every log
// and console line that names a status or an answer uses these.
#pragma once

#include <cstdint>

namespace vexlor::detail {

// "SYS_AVAILABLE" ... "SYS_SKIP", "SYS_ERRCODE", "SYS_ERRCODE1" ... "SYS_ERRCODE9";
// "SYS_UNKNOWN" for any other value.
const char* status_name(int32_t status);

// "ALM_CLEAR" ... "ALM_PAUSED"; "ALM_UNKNOWN" for any other value.
const char* alarm_style_name(int32_t style);

}  // namespace vexlor::detail
