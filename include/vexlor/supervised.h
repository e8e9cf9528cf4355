// Supervised point operations: writes and reads of digital, analog and string points that, when
// the access fails, ask the operator through an alarm and act on the answer; the supervised
// digital pulse; and the wait for a digital value.
//
// A supervised write writes the value; on failure it asks the IO engine whether the setpoint
// interlock refused it (digital and analog points), manages the caller's alarm (an alarm point,
// not an alarm ID) with the point's name and a text, and then acts on the answer: ALM_RETRY
// writes again, ALM_IGNORE gives SYS_SUCCESS without the value, ALM_ABORT gives SYS_ABORTED,
// any other answer is logged ("DIO:<point> 写入重试 , 报警选项:<answer> 按Retry处理.") and handled
// as a retry. A supervised read reads at once and twice more 0.1 s apart before each alarm.
// The routine's exit flag ends either with SYS_SUCCESS, an abort of the routine with
// SYS_ABORTED; nothing else ends them, and no other status is returned.
//
// Overloads take either the caller's alarm text or a detail string index: the index of a
// string point whose text explains the failure (ignored when outside the string table). The F
// forms format the text (at most 511 characters). A null text reads as empty, a null value
// pointer or buffer as a scratch value the result is not copied to, a null string value as "".
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>
#include <vexlor/util.h>

namespace Vexlor {

// ---- Digital points ----------------------------------------------------------------------
VEXLOR_API FUNC_STATUS VDigital_Write_True(int index, int value, int alarm, int detail);
VEXLOR_API FUNC_STATUS VDigital_Write_True(int index, int value, int alarm, const char* text);
VEXLOR_API FUNC_STATUS VDigital_Write_TrueF(int index, int value, int alarm, const char* format,
                                            ...) VEXLOR_PRINTF(4, 5);
VEXLOR_API FUNC_STATUS VDigital_Read_True(int index, int* value, int alarm, int detail);
VEXLOR_API FUNC_STATUS VDigital_Read_True(int index, int* value, int alarm, const char* text);
VEXLOR_API FUNC_STATUS VDigital_Read_TrueF(int index, int* value, int alarm, const char* format,
                                           ...) VEXLOR_PRINTF(4, 5);

// Supervised write of 1, a sleep of `milliseconds`, supervised write of 0 (both with `text`).
// SYS_ABORTED as soon as either write was aborted (the 0 is then not written), else
// SYS_SUCCESS.
VEXLOR_API FUNC_STATUS VDigital_Write_Pulse(int index, unsigned milliseconds, int alarm,
                                            const char* text);

// Reads the point (raw read) until it holds `value`: true then; false when a read fails, when
// the routine is told to exit or abort, or when more than `timeout` seconds have passed. Polls
// every millisecond. `ignored` is not used.
VEXLOR_API bool VDigital_Wait(int index, int value, int timeout, int* ignored);

// ---- Analog points -----------------------------------------------------------------------
VEXLOR_API FUNC_STATUS VAnalog_Write_True(int index, double value, int alarm, int detail);
VEXLOR_API FUNC_STATUS VAnalog_Write_True(int index, double value, int alarm, const char* text);
VEXLOR_API FUNC_STATUS VAnalog_Write_TrueF(int index, double value, int alarm, const char* format,
                                           ...) VEXLOR_PRINTF(4, 5);
VEXLOR_API FUNC_STATUS VAnalog_Read_True(int index, double* value, int alarm, int detail);
VEXLOR_API FUNC_STATUS VAnalog_Read_True(int index, double* value, int alarm, const char* text);
VEXLOR_API FUNC_STATUS VAnalog_Read_TrueF(int index, double* value, int alarm, const char* format,
                                          ...) VEXLOR_PRINTF(4, 5);

// ---- String points (no interlock query; the caller's buffer holds 1024 bytes) -------------
VEXLOR_API FUNC_STATUS VString_Write_True(int index, const char* value, int alarm, int detail);
VEXLOR_API FUNC_STATUS VString_Write_True(int index, const char* value, int alarm,
                                          const char* text);
VEXLOR_API FUNC_STATUS VString_Write_TrueF(int index, const char* value, int alarm,
                                           const char* format, ...) VEXLOR_PRINTF(4, 5);
VEXLOR_API FUNC_STATUS VString_Read_True(int index, char* value, int alarm, int detail);
VEXLOR_API FUNC_STATUS VString_Read_True(int index, char* value, int alarm, const char* text);
VEXLOR_API FUNC_STATUS VString_Read_TrueF(int index, char* value, int alarm, const char* format,
                                          ...) VEXLOR_PRINTF(4, 5);

}  // namespace Vexlor
