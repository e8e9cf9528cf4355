// Running, waiting for and signalling functions (routines): run requests with the caller's
// abort rules, waits on the function's run mutex, pool requests, events, messages, exit, abort
// and reload. Requests travel through the message queue to the sequence manager, which hands
// them to the routine serving the function.
//
// index is a function index (0 to N+11, checked as in <vexlor/functions.h>); name is resolved
// once through the name cache (an unknown name gives false, SYS_ABORTED or an empty string
// without calling the indexed form). free chooses the free variant when true. The F forms
// format into 512 bytes (4096 for the pool) and call the plain form.
//
// Refused calls (a function already running or exited, a request the queue does not deliver)
// raise a system alarm and block until the operator answers: ALM_ABORT gives false or
// SYS_ABORTED, ALM_IGNORE true or SYS_SUCCESS, any other answer tries again.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>
#include <vexlor/util.h>

#include <string>

namespace Vexlor {

// ---- Run requests (do not wait) ----------------------------------------------------------
// seconds bounds the wait for a function that is still running before the request is refused
// (default: five retries one second apart).
VEXLOR_API bool VFunction_Run_Set(int index, const char* param);
VEXLOR_API bool VFunction_Run_Set(int index, double seconds, const char* param);
VEXLOR_API bool VFunction_Run_Set(int index, bool& free, const char* param);
VEXLOR_API bool VFunction_Run_Set(int index, bool& free, double seconds, const char* param);
VEXLOR_API bool VFunction_Run_Set(const char* name, const char* param);
VEXLOR_API bool VFunction_Run_Set(const char* name, double seconds, const char* param);
VEXLOR_API bool VFunction_Run_Set(const char* name, bool& free, const char* param);
VEXLOR_API bool VFunction_Run_Set(const char* name, bool& free, double seconds, const char* param);
VEXLOR_API bool VFunction_Run_SetF(int index, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VFunction_Run_SetF(int index, double seconds, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API bool VFunction_Run_SetF(int index, bool& free, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API bool VFunction_Run_SetF(int index, bool& free, double seconds, const char* format, ...)
    VEXLOR_PRINTF(4, 5);
VEXLOR_API bool VFunction_Run_SetF(const char* name, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VFunction_Run_SetF(const char* name, double seconds, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API bool VFunction_Run_SetF(const char* name, bool& free, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API bool VFunction_Run_SetF(const char* name, bool& free, double seconds,
                                   const char* format, ...) VEXLOR_PRINTF(4, 5);

// A free run skips the caller's abort checks and marks the function free, so that its own
// children run whatever the abort flags of its parents say.
VEXLOR_API bool VFunction_Run_Set_Free(int index, const char* param);
VEXLOR_API bool VFunction_Run_Set_Free(int index, double seconds, const char* param);
VEXLOR_API bool VFunction_Run_Set_Free(const char* name, const char* param);
VEXLOR_API bool VFunction_Run_Set_Free(const char* name, double seconds, const char* param);
VEXLOR_API bool VFunction_Run_Set_FreeF(int index, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VFunction_Run_Set_FreeF(int index, double seconds, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API bool VFunction_Run_Set_FreeF(const char* name, const char* format, ...)
    VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VFunction_Run_Set_FreeF(const char* name, double seconds, const char* format,
                                        ...) VEXLOR_PRINTF(3, 4);

// ---- Waits -------------------------------------------------------------------------------
// The final status of the function's current run. With seconds the mutex wait is bounded: on
// time-out it prints "等待超时:<name>,返回." and returns the current status (SYS_RUNNING).
VEXLOR_API FUNC_STATUS VFunction_Run_Wait(int index);
VEXLOR_API FUNC_STATUS VFunction_Run_Wait(int index, double seconds);
VEXLOR_API FUNC_STATUS VFunction_Run_Wait(const char* name);
VEXLOR_API FUNC_STATUS VFunction_Run_Wait(const char* name, double seconds);

// ---- Run and wait ------------------------------------------------------------------------
VEXLOR_API FUNC_STATUS VFunction_Run(int index, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run(int index, double seconds, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run(int index, bool& free, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run(int index, bool& free, double seconds, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run(const char* name, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run(const char* name, double seconds, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run(const char* name, bool& free, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run(const char* name, bool& free, double seconds,
                                     const char* param);
VEXLOR_API FUNC_STATUS VFunction_RunF(int index, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API FUNC_STATUS VFunction_RunF(int index, double seconds, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API FUNC_STATUS VFunction_RunF(int index, bool& free, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API FUNC_STATUS VFunction_RunF(int index, bool& free, double seconds, const char* format,
                                      ...) VEXLOR_PRINTF(4, 5);
VEXLOR_API FUNC_STATUS VFunction_RunF(const char* name, const char* format, ...)
    VEXLOR_PRINTF(2, 3);
VEXLOR_API FUNC_STATUS VFunction_RunF(const char* name, double seconds, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API FUNC_STATUS VFunction_RunF(const char* name, bool& free, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API FUNC_STATUS VFunction_RunF(const char* name, bool& free, double seconds,
                                      const char* format, ...) VEXLOR_PRINTF(4, 5);

VEXLOR_API FUNC_STATUS VFunction_Run_Free(int index, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run_Free(int index, double seconds, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run_Free(const char* name, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run_Free(const char* name, double seconds, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run_FreeF(int index, const char* format, ...)
    VEXLOR_PRINTF(2, 3);
VEXLOR_API FUNC_STATUS VFunction_Run_FreeF(int index, double seconds, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API FUNC_STATUS VFunction_Run_FreeF(const char* name, const char* format, ...)
    VEXLOR_PRINTF(2, 3);
VEXLOR_API FUNC_STATUS VFunction_Run_FreeF(const char* name, double seconds, const char* format,
                                           ...) VEXLOR_PRINTF(3, 4);

// Runs and waits; a run that took longer than `seconds` checks the routine's exit and abort
// flags once more (VTimer_Wait_Seconds(0)) and gives SYS_ABORTED when they interrupt.
VEXLOR_API FUNC_STATUS VFunction_Run_Clock(int index, double seconds, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run_Clock(int index, bool& free, double seconds,
                                           const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run_Clock(const char* name, double seconds, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run_Clock(const char* name, bool& free, double seconds,
                                           const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run_ClockF(int index, double seconds, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
VEXLOR_API FUNC_STATUS VFunction_Run_ClockF(int index, bool& free, double seconds,
                                            const char* format, ...) VEXLOR_PRINTF(4, 5);
VEXLOR_API FUNC_STATUS VFunction_Run_ClockF(const char* name, double seconds, const char* format,
                                            ...) VEXLOR_PRINTF(3, 4);
VEXLOR_API FUNC_STATUS VFunction_Run_ClockF(const char* name, bool& free, double seconds,
                                            const char* format, ...) VEXLOR_PRINTF(4, 5);
VEXLOR_API FUNC_STATUS VFunction_Run_Free_Clock(int index, double seconds, const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run_Free_Clock(const char* name, double seconds,
                                                const char* param);
VEXLOR_API FUNC_STATUS VFunction_Run_Free_ClockF(int index, double seconds, const char* format,
                                                 ...) VEXLOR_PRINTF(3, 4);
VEXLOR_API FUNC_STATUS VFunction_Run_Free_ClockF(const char* name, double seconds,
                                                 const char* format, ...) VEXLOR_PRINTF(3, 4);

// ---- Pool requests -----------------------------------------------------------------------
// Hands `param` to one of the function's pool workers and returns its answer. The bool form
// stores a malloc'ed answer in *out, released with VFunction_Relase_Mem; the string forms give
// "" on any failure. A function with pool count 0 refuses with a red line.
VEXLOR_API bool VFunction_Run_Pool(int index, const char* param, char** out);
VEXLOR_API std::string VFunction_Run_Pool(int index, const char* param);
VEXLOR_API std::string VFunction_Run_Pool(const char* name, const char* param);
VEXLOR_API std::string VFunction_Run_PoolF(int index, const char* format, ...)
    VEXLOR_PRINTF(2, 3);
VEXLOR_API std::string VFunction_Run_PoolF(const char* name, const char* format, ...)
    VEXLOR_PRINTF(2, 3);
VEXLOR_API void VFunction_Relase_Mem(char** p);

// ---- Events ------------------------------------------------------------------------------
// Virtual and exited functions drop events and report success. A posted event is pending
// (event status SYS_RUNNING) until the receiving routine writes another event status;
// VFunction_Wait_Event waits up to 5 s for that.
VEXLOR_API bool VFunction_Send_Event(int index, const char* message);
VEXLOR_API bool VFunction_Send_Event(const char* name, const char* message);
VEXLOR_API bool VFunction_Send_Event(const char* message);
VEXLOR_API bool VFunction_Send_EventF(int index, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VFunction_Send_EventF(const char* name, const char* format, ...)
    VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VFunction_Send_EventF(const char* format, ...) VEXLOR_PRINTF(1, 2);
VEXLOR_API bool VFunction_Send_Event_All(const char* message);
VEXLOR_API bool VFunction_Post_Event(int index, const char* message);
VEXLOR_API bool VFunction_Post_Event(const char* name, const char* message);
VEXLOR_API bool VFunction_Post_Event(const char* message);
VEXLOR_API bool VFunction_Post_EventF(int index, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VFunction_Post_EventF(const char* name, const char* format, ...)
    VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VFunction_Post_EventF(const char* format, ...) VEXLOR_PRINTF(1, 2);
VEXLOR_API bool VFunction_Post_Event_All(const char* message);
VEXLOR_API bool VFunction_Wait_Event(int index);
VEXLOR_API bool VFunction_Wait_Event(const char* name);
VEXLOR_API bool VFunction_Wait_Event_All();

// ---- Messages ----------------------------------------------------------------------------
// The two-argument forms pass a capacity of 511: their buffer must hold 512 bytes.
VEXLOR_API bool VFunction_Dnload_Message(int index, char* buffer, int capacity);
VEXLOR_API bool VFunction_Dnload_Message(int index, char buffer[512]);
VEXLOR_API bool VFunction_Dnload_Message(const char* name, char* buffer, int capacity);
VEXLOR_API bool VFunction_Dnload_Message(const char* name, char buffer[512]);
VEXLOR_API bool VFunction_Upload_Message(const char* message);
VEXLOR_API bool VFunction_Upload_MessageF(const char* format, ...) VEXLOR_PRINTF(1, 2);

// ---- Exit, abort, reload -----------------------------------------------------------------
// Exit: a function whose process lock is gone is marked SYS_KILLED at once; otherwise its
// routine is told to exit.
VEXLOR_API bool VFunction_Exit(int index);
VEXLOR_API bool VFunction_Exit();
VEXLOR_API void VFunction_Abort(int index);
VEXLOR_API void VFunction_Abort(const char* name);
VEXLOR_API void VFunction_Abort();
VEXLOR_API bool VFunction_Abort_All();
VEXLOR_API void VFunction_Reset(int index);
VEXLOR_API void VFunction_Reset(const char* name);
VEXLOR_API void VFunction_Reset();
VEXLOR_API bool VFunction_Reset_All();
// Asks the IO engine to reload the function ("$F" "P8" "W1"); the index is not checked.
VEXLOR_API bool VFunction_Reload(int index);

// Pass-through to the message queue's IO-engine requests; false without a queue.
VEXLOR_API bool VFIFO_Engine_Read(const char* kind, const char* param, const char* command,
                                  int index, const char* argument, char* buffer, int capacity);
VEXLOR_API bool VFIFO_Engine_Write(const char* kind, const char* param, const char* command,
                                   int index, const char* argument);

}  // namespace Vexlor
