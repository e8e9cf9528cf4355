// Analog points: double-valued points (pressures, temperatures, flows, axis positions)
// addressed by their index in the analog tables or by name.
//
// As digital points (<vexlor/digital.h>): raw access through the shared-database layer
// without an index check of its own, value-slot access (_Mem) without drivers, every other
// operation with the index check and its failure value. Texts of values are written with the
// point's decimal places ("%.0f" to "%.8f"; "%.2f" for any other number) into the caller's
// buffer, cut at 63 characters. There are no enumerations and no pulses.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>
#include <vexlor/util.h>

namespace Vexlor {

// ---- Texts -------------------------------------------------------------------------------
// Raw read, then its text; on failure the text of -99999999.99 ("%.2f") and false.
VEXLOR_API bool VAnalog_Read_Str(int index, char* text);
// The text of VAnalog_Read_Mem (a bad index gives the text of -99999999.99). Returns 1.0
// whatever the value.
VEXLOR_API double VAnalog_Read_Mem_Str(int index, char* text);
// A decimal number (VStr_To_Double), written raw; false for anything else, without a line.
VEXLOR_API bool VAnalog_Write_Str(int index, const char* text);
// The C library's conversion (a text that is not a number stores 0.0); stored as write value.
// True for a valid index.
VEXLOR_API bool VAnalog_Write_Mem_Str(int index, const char* text);

// ---- Raw access, by name, name caching, value slot, definition fields and whole record ----
// Generated from the analog field table; see <vexlor/points/field_rows.h>.
}  // namespace Vexlor

#include <vexlor/points/declare_rows.h>
namespace Vexlor {
#include <vexlor/points/analog_fields.def>
}  // namespace Vexlor
