// String points: texts of up to 1023 characters (recipe names, messages, identifiers, host
// data) addressed by their index in the string tables or by name.
//
// As digital points (<vexlor/digital.h>): raw access through the shared-database layer, value
// slot access (_Mem) without drivers, every other operation with the index check. Texts
// returned point into the value slot and stay valid while the database is attached; text
// buffers of the caller hold 1024 bytes; stored texts are cut at 1023 characters.
//
// Writers and readers that must not interleave across processes use the _Mutex forms: each
// string point has a system-wide named mutex "<point name>_SIO_MUTEX". A waiter prints
// "<point name>/SIO MUTEX 继续等待..." every 5 s while another process holds it, stops waiting
// when the routine's exit flag is set, and takes over a mutex whose holder died.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>
#include <vexlor/util.h>

namespace Vexlor {

// ---- Raw access ----------------------------------------------------------------------
// The current text: for a point with an input driver the read value refreshed by the
// shared-database layer, else the write value. "" on failure (and *ok false).
VEXLOR_API const char* VString_Read(int index);
VEXLOR_API const char* VString_Read(int index, bool* ok);
// Copies the current text into the caller's 1024-byte buffer.
VEXLOR_API bool VString_Read(int index, char* text);
// By name through the process's name cache; "" when the name does not resolve.
VEXLOR_API const char* VString_Read(const char* name);
VEXLOR_API const char* VString_Read(const char* name, bool* ok, bool silent);
VEXLOR_API bool VString_Write(int index, const char* text);
VEXLOR_API bool VString_Write(const char* name, const char* text);
// Formats (1023 characters at most), then writes.
VEXLOR_API bool VString_WriteF(int index, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VString_WriteF(const char* name, const char* format, ...) VEXLOR_PRINTF(2, 3);
// Name caching through the caller's int (see VDigital_Read_Name).
VEXLOR_API bool VString_Read_Name(int* index, char* text, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API bool VString_Write_Name(int* index, const char* text, const char* format, ...)
    VEXLOR_PRINTF(3, 4);

// Formats (1023 characters at most), then VString_Write_Mem.
VEXLOR_API void VString_Write_MemF(int index, const char* format, ...) VEXLOR_PRINTF(2, 3);

// ---- Under the point's named mutex ---------------------------------------------------------
VEXLOR_API bool VString_Write_Mutex(int index, const char* text);
VEXLOR_API bool VString_Write_Mutex(const char* name, const char* text);
VEXLOR_API bool VString_WriteF_Mutex(int index, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VString_WriteF_Mutex(const char* name, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VString_Read_Mutex(int index, char* text);
VEXLOR_API bool VString_Read_Mutex(const char* name, char* text);

// ---- Rolling message text --------------------------------------------------------------------
// Appends "NNNN|HH:MM:SS.mmm|message\n" to the point's write value, dropping the oldest lines
// until it fits, and writes the bare message into the companion point "<point name>0". NNNN
// counts this process's messages of the point, 0000 to 9999 and round again.
VEXLOR_API void VString_Write_Message(int index, const char* message);
VEXLOR_API void VString_Write_MessageF(int index, const char* format, ...) VEXLOR_PRINTF(2, 3);

// ---- Value slot, definition fields and whole record ---------------------------------------
// Generated from the string field table; see <vexlor/points/field_rows.h>.
}  // namespace Vexlor

#include <vexlor/points/declare_rows.h>
namespace Vexlor {
#include <vexlor/points/string_fields.def>
}  // namespace Vexlor
