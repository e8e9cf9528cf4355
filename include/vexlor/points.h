// The point directory: turning names into points (lookup, caller name tables, the name cache),
// name normalisation ("[module name]" and "$n" keys), the module table, and the enumeration
// and driver tables.
//
// Lookups normalise a 64-byte copy of the name (cut to 63 characters): the first bracketed
// module name becomes that module's ID, then every "$n" key set with VIO_Replace_Char_Set is
// replaced by its text. Names match ignoring ASCII letter case; tables are scanned from
// index 0 and the first match wins. A miss prints one red line titled with the routine's own
// name unless `silent`. Nothing is searched (and nothing written or printed) before start-up.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>
#include <vexlor/util.h>
#include <vexlor/vdb.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Vexlor {

// One entry of a caller's name table: a table ends at the first entry with an empty name or a
// negative type (and after 10000 entries in the array form).
struct IO_Name_String_Map {
  char name[64];   // may be rewritten by the "$" substitution
  IO_TYPE type;    // in: declared type (0-4); out: the type found, or -1
  int32_t* point;  // where the found point is stored
};

VEXLOR_FIELD(IO_Name_String_Map, name, 0);
VEXLOR_FIELD(IO_Name_String_Map, type, 64);
static_assert(sizeof(void*) != 4 || sizeof(IO_Name_String_Map) == 72,
              "layout: sizeof(IO_Name_String_Map) is not 72 on 32-bit");
static_assert(sizeof(void*) != 4 || offsetof(IO_Name_String_Map, point) == 68,
              "layout: IO_Name_String_Map::point is not at offset 68 on 32-bit");

// ---- Lookup --------------------------------------------------------------------------
// Digital, analog, string, then function tables; then alarms: a name without "|" by the
// alarm ID of its leading digits, "module|number" by the module's alarm base * 1000 + number.
VEXLOR_API bool VIO_Find(int* point, IO_TYPE* type, const char* name);
VEXLOR_API bool VIO_Find(int* point, IO_TYPE* type, bool silent, const char* name);
VEXLOR_API bool VIO_FindF(int* point, IO_TYPE* type, const char* format, ...) VEXLOR_PRINTF(3, 4);
// Only the table of `type`; a miss stores -1 in `point`.
VEXLOR_API bool VIO_Find_Point(int* point, IO_TYPE type, const char* name);
VEXLOR_API bool VIO_Find_Point(int* point, IO_TYPE type, bool silent, const char* name);
VEXLOR_API bool VIO_Find_PointF(int* point, IO_TYPE type, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
// The type only; never prints.
VEXLOR_API bool VIO_Find_Type(IO_TYPE* type, const char* name);
VEXLOR_API bool VIO_Find_TypeF(IO_TYPE* type, const char* format, ...) VEXLOR_PRINTF(2, 3);

// Numbered families: for i = start .. start+count-1, the name is `pattern` with "{1}" replaced
// by i, or else `pattern` as a printf format taking i (at most one integer conversion; any
// other pattern is taken literally). out[i - start] receives the point; `out` grows to
// `count` when shorter. True when every member was found; all are attempted.
VEXLOR_API bool VIO_Find_Point1(std::vector<int>* out, IO_TYPE type, int count, int start,
                                const char* pattern);
VEXLOR_API bool VIO_Find_Point1(std::vector<int>* out, IO_TYPE type, const char* pattern, int count,
                                int start);
VEXLOR_API bool VIO_Find_Point1F(std::vector<int>* out, IO_TYPE type, int count, int start,
                                 const char* format, ...) VEXLOR_PRINTF(5, 6);
// Two numbers: "{1}" and "{2}", or a format expanded with i and then again with j (so the
// second placeholder is written "%%d"). out[i - start1][j - start2].
VEXLOR_API bool VIO_Find_Point2(std::vector<std::vector<int>>* out, IO_TYPE type, int count1,
                                int start1, int count2, int start2, const char* pattern);
VEXLOR_API bool VIO_Find_Point2(std::vector<std::vector<int>>* out, IO_TYPE type,
                                const char* pattern, int count1, int start1, int count2,
                                int start2);
VEXLOR_API bool VIO_Find_Point2F(std::vector<std::vector<int>>* out, IO_TYPE type, int count1,
                                 int start1, int count2, int start2, const char* format, ...)
    VEXLOR_PRINTF(7, 8);

// The point of a name through the process's name cache (keyed by the name exactly as given);
// a miss prints, caches nothing and returns {-99999999, -1}.
VEXLOR_API IO_MAP IO_Map_Find(const char* name);

// Resolves a caller's name table: "$" substitution into each name, then VIO_Find per entry.
// False when an entry was not found (its point being -1 afterwards), declares a type outside
// 0-4, or names a function whose level is above the routine's own.
VEXLOR_API bool VIO_Set_IO_Map_List(IO_Name_String_Map* table);
VEXLOR_API bool VIO_Set_IO_Map_List(std::vector<IO_Name_String_Map>& table);

// ---- Name normalisation ---------------------------------------------------------------
// "[module name]" in a 64-byte buffer becomes the module's ID (first bracket pair only).
// True when there is no bracket; false (buffer unchanged) for a malformed pair, an unknown
// module or a result of 64 characters or more.
VEXLOR_API bool VModule_Name_To_ID(char* buffer);
// Every module ID in the buffer becomes "[module name]". False when nothing changed or the
// result would not fit.
VEXLOR_API bool VModule_ID_To_Name(char* buffer);
// The "$n" keys: set, get ("" when unset; valid until the key is set again or release), and
// apply to a 64-byte buffer in ascending key text order ("$10" before "$2").
VEXLOR_API bool VIO_Replace_Char_Set(int n, const char* text);
VEXLOR_API const char* VIO_Replace_Char_Get(int n);
VEXLOR_API bool VIO_Replace_Char(char* buffer);

// ---- Modules ---------------------------------------------------------------------------
// By name first, then by ID (exact text); cached per process.
VEXLOR_API bool VModule_Find(MODULE_MAP* map, const char* text);
// By module point (0 .. module count - 1; a bad point prints the index check line).
VEXLOR_API const char* VModule_Get_ID(int point);
VEXLOR_API const char* VModule_Get_Name(int point);
VEXLOR_API int VModule_Get_Alarm_Base(int point);
// By text: the ID of the module with that name, the name of the module with that ID.
VEXLOR_API const char* VModule_Get_ID(const char* name);
VEXLOR_API const char* VModule_Get_Name(const char* id);
VEXLOR_API const char* VModule_Get_NameF(const char* format, ...) VEXLOR_PRINTF(1, 2);
// All IDs or names in record order (the vector is replaced).
VEXLOR_API void VModule_Get_ID_List(std::vector<std::string>& ids);
VEXLOR_API void VModule_Get_Name_List(std::vector<std::string>& names);
// By name, else by ID; -99999999 when unknown, 0 when not attached.
VEXLOR_API int VModule_Get_Alarm_Base(const char* text);
// The system block annotation [kind][side]: null when not attached, "" when out of range.
VEXLOR_API const char* VModule_Get_Annotation(int kind, int side);
VEXLOR_API const char* VModule_Get_Annotation(const char* text);
// The side of a module of that kind by name, else by ID, among the first 6 CM, 100 BM,
// 10 TM and 100 PM sides; -1 when unknown.
VEXLOR_API int VModule_Get_CM_Side(const char* text);
VEXLOR_API int VModule_Get_BM_Side(const char* text);
VEXLOR_API int VModule_Get_TM_Side(const char* text);
VEXLOR_API int VModule_Get_PM_Side(const char* text);

// ---- Enumerations ----------------------------------------------------------------------
// An enumeration holds up to 60 items, each a display text (its S data) and a value (its D
// data). A text may hold one variant per LANGUAGE separated by '|' ("Open|打开"); variant 0 is
// the fallback. Enumeration points run from 0 to the enumeration count - 1; a bad point prints
// the index check line and gives the empty result (0, "", -99999999, nothing appended, outputs
// untouched); before start-up the same results come without a line.
//
// By name, ignoring ASCII case; *point is -1 until found. A miss prints "枚举量:<name> 未识别".
VEXLOR_API bool VEnum_Find_Point(int* point, const char* name);
VEXLOR_API const char* VEnum_Get_Name(int point);
VEXLOR_API int VEnum_Get_Data_Count(int point);
// Item `index` (0-59; outside that range: 0 and "").
VEXLOR_API int VEnum_Get_DData(int point, int index);
VEXLOR_API const char* VEnum_Get_SData(int point, int index);
// The first of the 60 slots holding the value: its whole text, or its index (-99999999).
VEXLOR_API const char* VEnum_Get_SData_By_DData(int point, int value);
VEXLOR_API int VEnum_Get_Index_By_DData(int point, int value);
// The first of the 60 slots named by the text (exact bytes): a text holding '|' names the slot
// with that whole text; any other text names a slot by its whole text or by any one of its
// variants. The slot's value, or its index; -99999999 when none.
VEXLOR_API int VEnum_Get_DData_By_SData(int point, const char* text);
VEXLOR_API int VEnum_Get_Index_By_SData(int point, const char* text);
// The values of the first item-count items, appended to the vector; or, in the array form, a
// new array of `count` values (left untouched when count is 0), to be released with
// VEnum_Free_DData_All.
VEXLOR_API void VEnum_Get_DData_All(int point, std::vector<int>& values);
VEXLOR_API void VEnum_Get_DData_All(int point, int*& values, int& count);
// The texts of the first item-count items in one language: the variant at that position, or
// the first variant when the text has no such variant or it is empty. Without `language`, the
// equipment's language (VSystem_Get_Language). Appended to the vector; or, in the array form,
// a new array of `count` texts (64 bytes or more each; left untouched when count is 0), to be
// released with VEnum_Free_SData_All.
VEXLOR_API void VEnum_Get_SData_All(int point, std::vector<std::string>& texts);
VEXLOR_API void VEnum_Get_SData_All(int point, char**& texts, int& count);
VEXLOR_API void VEnum_Get_SData_All(int point, int language, std::vector<std::string>& texts);
VEXLOR_API void VEnum_Get_SData_All(int point, int language, char**& texts, int& count);
// Release what the array forms handed out and null the caller's pointer. `count` is not used
// for values; for texts it is the number of text buffers to release before the array.
VEXLOR_API void VEnum_Free_DData_All(int*& values, int count);
VEXLOR_API void VEnum_Free_SData_All(char**& texts, int count);

// ---- Drivers ---------------------------------------------------------------------------
// A driver has a name, a DRIVER_TYPE and ten parameters, stored and returned unchanged. Driver
// points run from 0 to the driver count - 1; a bad point prints the index check line and
// reads "", 0 or nothing, writes nothing. Before start-up the same, without a line. Writes
// land in shared memory in place and are seen at once by every routine (without a lock: a
// reader may see a parameter array half rewritten).
//
// By name, ignoring ASCII case; *point is -1 until found. A miss prints "驱动量:<name> 未识别".
VEXLOR_API bool VDriver_Find_Point(int* point, const char* name);
VEXLOR_API const char* VDriver_Get_Name(int point);
VEXLOR_API DRIVER_TYPE VDriver_Get_Type(int point);
VEXLOR_API void VDriver_Set_Type(int point, DRIVER_TYPE type);
// All ten parameters, in index order. A null array is skipped.
VEXLOR_API void VDriver_Get_Param(int point, int params[10]);
VEXLOR_API void VDriver_Set_Param(int point, const int params[10]);

// ---- Generic read and write by name ----------------------------------------------------
// For tools that do not know a point's type: the name is searched silently as a digital, then
// an analog, then a string point (functions and alarms are not points here) and the hit is
// kept in the name cache; a cached entry is trusted only when it is digital. Values travel as
// texts: a digital value as its decimal integer, an analog value with six decimals
// ("12.500000"), a string value as it is; writes parse the text as the typed _Write_Str forms
// do. Before start-up every name is unknown.
//
// The value as text; "" when the name is unknown: then *ok (when given) becomes false and,
// unless `silent`, a red line is printed. *ok is not touched on success (set it true first).
VEXLOR_API std::string VIO_Read(const char* name, bool* ok, bool silent);
// The typed _Read_Str form of `type` into `buffer` (VString_Read for IO_S: 1024 bytes);
// false, buffer untouched, for any other type.
VEXLOR_API bool VIO_Read(int point, IO_TYPE type, char* buffer);
// Writes the text through the typed form; false when the name is unknown (a red line unless
// `silent`) or the write fails.
VEXLOR_API bool VIO_Write(const char* name, const char* value, bool silent);
VEXLOR_API bool VIO_Write(int point, IO_TYPE type, const char* value);
// The points of a data-log table (VDB_Get_DataLog_IO), each resolved with VIO_Find. True when
// the table was read and every point found; every item stays in the list, an unknown one with
// type -1.
VEXLOR_API bool VIO_Find_DataLog_IO_List(const char* table, std::vector<DataLog_IO_Item>& list);

}  // namespace Vexlor
