// Internal side of the function table, shared by the function subsystem's operations: the
// one mapping of a status to its printed name, and the resolution of a function name.
#pragma once

#include <cstdint>

namespace vexlor::detail {

// "SYS_AVAILABLE" ... "SYS_SKIP", "SYS_ERRCODE", "SYS_ERRCODE1" ... "SYS_ERRCODE9";
// "SYS_UNKNOWN" for any other value. Every log line that names a status uses it.
const char* status_name(int32_t status);

// The index of a configured function (0 to N-1) by name, through the context's name cache:
// a cached entry of type IO_F is used as it is; otherwise the name is looked up (the lookup
// prints its own line on a miss) and the result is cached. False when not attached or not
// found.
bool resolve_function(const char* name, int32_t* index);

}  // namespace vexlor::detail
