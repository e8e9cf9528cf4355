// Internal side of the function table, shared by the function subsystem's operations: the
// resolution of a function name.
#pragma once

#include <cstdint>

#include "util/type_names.h"

namespace vexlor::detail {

// The index of a configured function (0 to N-1) by name, through the context's name cache:
// a cached entry of type IO_F is used as it is; otherwise the name is looked up (the lookup
// prints its own line on a miss) and the result is cached. False when not attached or not
// found.
bool resolve_function(const char* name, int32_t* index);

}  // namespace vexlor::detail
