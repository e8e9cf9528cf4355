// Carrier wafer sizes and module display strings.
//
// A carrier module's carrier type is the digital point "CM%d.Carrier" (carrier module i+1)
// whose enumeration names wafer sizes as a number followed by "Inch" ("8Inch", "12 Inch").
// Sizes are inches (2, 3, 4, 6, 8, 12) or single-bit codes (2, 4, 8, 32, 64, 128); any other
// value converts to 0.
#pragma once

#include <vexlor/export.h>

#include <string>

namespace Vexlor {

// The size in inches of the carrier on carrier module `cm` (0-5): the enumeration text of the
// carrier type's current value. False, with an error log line, when `cm` is out of range or
// the text does not name a size from 0 to 12 inches; `size` then holds what was parsed, if
// anything. The first form returns the size (0 when nothing was parsed).
VEXLOR_API int VModule_Get_CM_Wafer_Size(int cm);
VEXLOR_API bool VModule_Get_CM_Wafer_Size(int cm, int& size);
// Every size each configured carrier module's carrier type can take, from its enumeration in
// order: sizes[cm][0..counts[cm]-1] in inches (at most 3 per module; more are ignored). False
// without carrier modules, or after a missing point or a text that names no size from 1 to 12
// (logged), with the rest still filled.
VEXLOR_API bool VModule_Get_CM_Wafer_Size(int sizes[6][3], int counts[6]);

// Inches to code and code to inches.
VEXLOR_API int VModule_Size_Conv_To_Inch(int inches);
VEXLOR_API int VModule_Inch_Conv_To_Size(int code);

// "<module ID>(<module name>)" of module `side` of kind `kind` (0 carrier, 1 buffer, 2 transfer,
// 3 process module) as the scheduler names it; "" for another kind or before start-up.
VEXLOR_API std::string VModule_Get_String(int kind, int side);

}  // namespace Vexlor
