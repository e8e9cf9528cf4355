// Digital points: integer-valued points (valves, sensors, interlock flags, enumerated states)
// addressed by their index in the digital tables.
//
// Value-slot access touches the point's value record directly, without drivers. A bad index
// prints one red line titled with the routine's own name; before start-up or without a
// database the operations fail silently.
#pragma once

#include <vexlor/export.h>

namespace Vexlor {

// The read value when the point has an input driver, else the write value; -99999999 on
// failure.
VEXLOR_API int VDigital_Read_Mem(int index);
// Stores the write value.
VEXLOR_API void VDigital_Write_Mem(int index, int value);

}  // namespace Vexlor
