// Digital points: integer-valued points (valves, sensors, interlock flags, enumerated states)
// addressed by their index in the digital tables or by name.
//
// Raw reads and writes go through the shared-database layer (VMMAP), which drives the point's
// drivers and refuses values outside min..max and offline drivers; they leave the index to it
// and print nothing. Value-slot access (_Mem) touches the point's value record directly,
// without drivers. Every other operation checks the index: a bad one prints one red line
// titled with the routine's own name and gives the failure value. Before start-up or without
// a database the operations fail silently.
//
// Texts of values (_Str) use the point's enumeration: an entry "English|Chinese" reads as its
// Chinese part when the equipment's language is 1 (falling back to the English part when the
// Chinese part is empty) and as its English part otherwise; a value without entry, or a point
// without enumeration, reads as its decimal number. Text buffers hold 64 bytes.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>
#include <vexlor/util.h>

#include <string>
#include <vector>

namespace Vexlor {

// ---- Pulse ---------------------------------------------------------------------------------
// Writes 1, sleeps `milliseconds`, writes 0; false as soon as a write fails.
VEXLOR_API bool VDigital_Write_Pulse(int index, unsigned milliseconds);

// ---- Enumeration texts --------------------------------------------------------------------
// Raw read, then the text of the value; false when the read failed (the text is then
// "-99999999") or the index is bad (the same text).
VEXLOR_API bool VDigital_Read_Str(int index, char* text);
// VDigital_Read_Mem and the text of the value; -99999999 (text "-99999999") on failure.
VEXLOR_API int VDigital_Read_Mem_Str(int index, char* text);
// The value of a text: the first entry whose whole text, English part or Chinese part equals
// it (ASCII letter case ignored), else the text as a decimal number; otherwise a LOG_ERR line
// and false. VDigital_Write_Str refuses an empty text and writes raw; VDigital_Write_Mem_Str
// compares the whole entry text exactly and stores the write value.
VEXLOR_API bool VDigital_Write_Str(int index, const char* text);
VEXLOR_API bool VDigital_Write_Mem_Str(int index, const char* text);
// The text of a value in the display language (_Data2: the whole entry, both languages);
// false and the decimal number when no entry holds the value.
VEXLOR_API bool VDigital_Get_Enum_S_Data(int index, int value, char* text);
VEXLOR_API bool VDigital_Get_Enum_S_Data2(int index, int value, char* text);
// Every entry text in `language` (VEnum_Get_SData_All of the point's enumeration); false when
// the point has no enumeration.
VEXLOR_API bool VDigital_Get_Enum_SData_All(int index, int language, char**& texts, int& count);
VEXLOR_API bool VDigital_Get_Enum_SData_All(int index, int language,
                                            std::vector<std::string>& texts);

// ---- Raw access, by name, name caching, value slot, definition fields and whole record ----
// Generated from the digital field table; see <vexlor/points/field_rows.h>.
}  // namespace Vexlor

#include <vexlor/points/declare_rows.h>
namespace Vexlor {
#include <vexlor/points/digital_fields.def>
}  // namespace Vexlor
