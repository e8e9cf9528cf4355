// The scheduler interface: the shared picture of wafers and modules (blocks.h), the calls
// that address the scheduler's routines by kind (calls.h), and scheduler control (control.h).
#pragma once

#include <vexlor/export.h>
#include <vexlor/scheduler/blocks.h>
#include <vexlor/scheduler/calls.h>
#include <vexlor/scheduler/control.h>

namespace Vexlor {

// The configured ID and name of module `index` of kind `type` (0 carrier, 1 buffer, 2 transfer,
// 3 process module), from the system block; "" for a negative or too large type or index, and
// before start-up.
VEXLOR_API const char* VSCH_Get_Module_ID(int type, int index);
VEXLOR_API const char* VSCH_Get_Module_Name(int type, int index);

}  // namespace Vexlor
