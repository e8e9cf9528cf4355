// The scheduler's shared picture of the equipment: module identity.
#pragma once

#include <vexlor/export.h>
#include <vexlor/scheduler/calls.h>
#include <vexlor/scheduler/control.h>

namespace Vexlor {

// The configured ID and name of module `index` of kind `type` (0 carrier, 1 buffer, 2 transfer,
// 3 process module), from the system block; "" for a negative or too large type or index, and
// before start-up.
VEXLOR_API const char* VSCH_Get_Module_ID(int type, int index);
VEXLOR_API const char* VSCH_Get_Module_Name(int type, int index);

}  // namespace Vexlor
