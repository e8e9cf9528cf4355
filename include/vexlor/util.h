// The equipment's utility libraries: texts (VStr), console and log lines (VPrint) and the
// clock (VTime). Every routine and every part of this library uses them.
//
// Common rules: texts are zero-terminated byte strings in the build's charset (GBK on
// Windows, UTF-8 on POSIX); a null text reads as the empty text; a null output is skipped;
// an output never receives more than `size` bytes including its terminator (size <= 0 writes
// nothing). Nothing here throws.
#pragma once

#include <vexlor/export.h>

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

#if defined(__GNUC__)
#define VEXLOR_PRINTF(format_index, first_arg) \
  __attribute__((format(printf, format_index, first_arg)))
#else
#define VEXLOR_PRINTF(format_index, first_arg)
#endif

namespace Vexlor {

// ---- Comparison and search ------------------------------------------------------------
// VStr_Compare: byte-exact equality. VStr_Compare_L: equality that ignores the case of the
// ASCII letters A-Z only; every other byte, including both bytes of a Chinese character, must
// match exactly, so two different GBK characters never compare equal.
// VStr_Find_SubString(_L): true when part occurs in text (the _L form ignores ASCII letter
// case like VStr_Compare_L); a match never starts inside a Chinese character. An empty part
// occurs in every text.
VEXLOR_API bool VStr_Compare(const char* a, const char* b);
VEXLOR_API bool VStr_Compare_L(const char* a, const char* b);
VEXLOR_API bool VStr_Find_SubString(const char* text, const char* part);
VEXLOR_API bool VStr_Find_SubString_L(const char* text, const char* part);

// ---- Splitting at a given character ---------------------------------------------------
// VStr_Seperate_Char(text, ch, first, rest, size): first receives the text before the first
// ch, rest the text after it (each cut to size-1 bytes). Without ch, first is the whole text
// and rest is empty. Any output may be text's own buffer, so
//   while (list[0]) { VStr_Seperate_Char(list, ',', item, list, sizeof list); ... }
// walks a list. Returns true when ch was found. ch is never found inside a Chinese character.
VEXLOR_API bool VStr_Seperate_Char(const char* text, char ch, char* first, char* rest, int size);

// Five outputs: a to d receive the first four fields, e the text after the fourth ch (the
// rest, still holding any further ch). Missing fields are empty. Returns how many ch were
// consumed (0 to 4).
VEXLOR_API int VStr_Seperate_Char(const char* text, char ch, char* a, char* b, char* c, char* d,
                                  char* e, int size);

// String forms, without length limits: the two-output split as above, and the split at every
// ch into parts (n separators give n+1 parts; the empty text gives one empty part). parts is
// replaced; the number of parts is returned.
VEXLOR_API bool VStr_Seperate_Char(const std::string& text, char ch, std::string& first,
                                   std::string& rest);
VEXLOR_API std::size_t VStr_Seperate_Char(const std::string& text, char ch,
                                          std::vector<std::string>& parts);

// ---- Splitting at the field separator -------------------------------------------------
// The field separator of run parameters is the blank (space or tab): "CMD,a,b 12 A/1/2 SWITCH"
// splits into "CMD,a,b" and "12 A/1/2 SWITCH", and the rest into "12", "A/1/2" and "SWITCH".
// A blank cannot occur in the comma, slash, '&', '$' and '|' lists of argument texts. Blanks
// before the first word are skipped and a run of blanks counts as one separator; the last
// output keeps everything after the separator (trailing blanks included).
// Two outputs: the first word and the rest; true when a rest follows.
// Three outputs: the first word, the second word and the rest; returns the number of
// separators consumed (0 to 2).
VEXLOR_API bool VStr_Seperate(const char* text, char* first, char* rest, int size);
VEXLOR_API int VStr_Seperate(const char* text, char* a, char* b, char* c, int size);

// ---- Numbers ------------------------------------------------------------------------
// A decimal integer is an optional '+' or '-' followed by one or more digits 0-9 and nothing
// else (no blanks), within the int32 range. VStr_Int_Check returns 1 for one, else 0.
// VStr_To_Int stores the value and returns true; otherwise returns false and leaves *value
// unchanged. VStr_To_Double accepts an optional sign, digits with an optional '.' fraction
// (at least one digit) and an optional exponent ("1e3", "-2.5E-2"); no blanks, no "inf",
// "nan" or hexadecimal, and values beyond the double range are refused. A null output only
// checks.
VEXLOR_API int VStr_Int_Check(const char* text);
VEXLOR_API bool VStr_To_Int(const char* text, int* value);
VEXLOR_API bool VStr_To_Double(const char* text, double* value);

// ---- Editing ------------------------------------------------------------------------
// VStr_Upper upper-cases ASCII letters (Chinese characters unchanged).
// VStr_Replace replaces EVERY occurrence of key by value, scanning left to right; inserted
// values are not searched again. An empty key replaces nothing. Returns the number of
// replacements.
VEXLOR_API void VStr_Upper(std::string& text);
VEXLOR_API int VStr_Replace(std::string& text, std::string_view key, std::string_view value);
VEXLOR_API int VStr_Replace(std::string& text, const char* key, const char* value);

// ---- Buffers ------------------------------------------------------------------------
// VStr_Set_Mem(buffer, value, size): fills size bytes with value (memset order).
// VStr_Prepare_Mem(&p, size): p becomes a zero-filled buffer of max(size, 64) bytes; an
// existing *p (from these functions or malloc) is resized in place of a new allocation.
// VStr_Copy_Mem(&p, text): p becomes a buffer of max(strlen(text)+1, 64) bytes holding text
// (resizing *p as needed). Both release with free(); on allocation failure they return false
// and leave *p as it was.
// VStr_Copy_Stack(buffer, text, size): bounded copy; true when the whole text fitted.
// VStr_Get_Mem_Str(text): text, or the library's constant empty text for null.
VEXLOR_API void VStr_Set_Mem(void* buffer, int value, int size);
VEXLOR_API bool VStr_Prepare_Mem(char** buffer, int size);
VEXLOR_API bool VStr_Copy_Mem(char** buffer, const char* text);
VEXLOR_API bool VStr_Copy_Stack(char* buffer, const char* text, int size);
VEXLOR_API const char* VStr_Get_Mem_Str(const char* text);

// ---- Bilingual joining --------------------------------------------------------------
// VStr_Strcat_Alarm_Append_Text(buffer, t1, t2 [, t3 [, t4]]): buffer (512 bytes) receives the
// join of the texts, replacing what it held. When none of the texts holds a '|' the result is
// their plain concatenation. Otherwise it is the English parts joined, '|', the Chinese parts
// joined; each text is split at its first '|', and a text whose Chinese part is empty (or that
// has no '|') contributes its English part to the Chinese side too, as the display does. Example:
// ("Open fail|打开失败", "(|(", "PM1", ")|)") gives "Open fail(PM1)|打开失败(PM1)".
// The result is cut to 511 bytes without splitting a character.
VEXLOR_API void VStr_Strcat_Alarm_Append_Text(char* buffer, const char* t1, const char* t2);
VEXLOR_API void VStr_Strcat_Alarm_Append_Text(char* buffer, const char* t1, const char* t2,
                                              const char* t3);
VEXLOR_API void VStr_Strcat_Alarm_Append_Text(char* buffer, const char* t1, const char* t2,
                                              const char* t3, const char* t4);

// ---- Clock texts and system errors ---------------------------------------------------
// Local time. VStr_Get_DateTime2: "YYYY/MM/DD HH:MM:SS" (19 characters). VStr_Get_Time:
// "HH:MM:SS.mmm" (12 characters). VStr_Get_SysErrMsg: the last error of the system-object
// layer on this thread (named mutexes) as "<text> (<code>)", e.g. "The system cannot find the
// file specified. (2)"; when that layer reports no error, the C library's last error as
// "<text> (errno <n>)". Each returns a per-thread buffer that the next call on the same
// thread overwrites.
VEXLOR_API const char* VStr_Get_DateTime2();
VEXLOR_API const char* VStr_Get_Time();
VEXLOR_API const char* VStr_Get_SysErrMsg();

// ---- Console and log lines (VPrint) ---------------------------------------------------
// VPrint, VPrint_Red and VPrint_Yellow print one console line "HH:MM:SS.mmm [source] text"
// (no "[source] " when source is empty): plain, red or yellow. The formatted text is cut at
// 4095 bytes and a trailing line end is dropped. Colour (ANSI) only on a terminal and only
// when NO_COLOR is unset.
VEXLOR_API void VPrint(const char* source, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API void VPrint_Red(const char* source, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API void VPrint_Yellow(const char* source, const char* format, ...) VEXLOR_PRINTF(2, 3);

// VPrint_Log writes one log line. colour is a console character attribute (low 4 bits text,
// high 4 bits background: 1 blue, 2 green, 4 red, 8 bright), tag the category tag ("[ERR]").
// to_console: one console line "HH:MM:SS.mmm [TAG] [source] text" in that colour.
// to_file: the line "YYYY/MM/DD HH:MM:SS.mmm [TAG] [source] text\n" appended to file_path
// (an empty tag or source leaves its part out). Windows-style paths are mapped on POSIX: a
// leading drive "X:" becomes the folder X under VEXLOR_DRIVE_ROOT (default
// $HOME/.vexlor/drives, or /tmp/vexlor-drives without HOME) and '\' becomes '/'. Missing
// folders are created; each line is appended in one write so routines never interleave. A
// path of 260 or more bytes or an unwritable file skips the file line silently.
VEXLOR_API void VPrint_Log(const char* source, const char* format, va_list args, int colour,
                           const char* tag, bool to_console, bool to_file, const char* file_path);

// ---- Clock (VTime) ------------------------------------------------------------------
// VTime_Get: seconds of a monotonic clock from an arbitrary start (for differences only).
// VTime_Sleep: sleeps the given seconds (nothing for 0, negative, infinite or NaN).
// VTime_MSleep: sleeps the given milliseconds (nothing for 0 or negative).
VEXLOR_API double VTime_Get();
VEXLOR_API void VTime_Sleep(double seconds);
VEXLOR_API void VTime_MSleep(int milliseconds);

}  // namespace Vexlor
