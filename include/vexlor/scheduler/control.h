// Scheduler control: the equipment-wide run lock of each transfer module, the waits that honour
// the operator's pause of a transfer or process module, and shortcuts to post or manage a
// scheduler alarm by alarm ID, run the maintenance top routine from a button and test that
// the scheduler engine exists. Everything runs and polls on the caller's thread.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>
#include <vexlor/util.h>

namespace Vexlor {

// ---- Transfer-module run lock ("TM01_RUN_LOCKING_MUTEX" for tm 0) -------------------------
// One system mutex per transfer module, shared by every process of the equipment; the
// process keeps its handle once created. Lock waits in slices of 10 s, printing a yellow
// waiting line after each, until it owns the mutex (also from a dead owner): true; false when
// the routine's exit flag is set or the mutex cannot be created (logged). Unlock releases one
// level on the owning thread; false with a red line when this process never locked it, or
// logged when the release is refused. tm outside 0 to 9 fails.
VEXLOR_API bool VSCH_TM_Mutex_Lock(int tm);
VEXLOR_API bool VSCH_TM_Mutex_Unlock(int tm);

// ---- Pause waits --------------------------------------------------------------------------
// The pause flags CTC.TM<n>_PAUSE_FLAG and CTC.PM<n>_PAUSE_FLAG hold 0 (run), 1 (pause
// requested) or 2 (paused). The wait acknowledges a request by writing 2 and polls every
// 10 ms until the flag is 0 again: true. It also ends true on the routine's exit flag, and
// false after writing 0 when the interruptible sleep is refused (or, for a transfer module,
// the sequence manager aborts). The start and end of a pause are announced: the transfer
// module on the console, the process module on its process message and, at the end and every
// 5000 polls, on the console.
VEXLOR_API bool VSCH_TM_PAUSE_WAIT(int tm);
VEXLOR_API bool VSCH_PM_PAUSE_WAIT(int pm);

// ---- Alarms, button, engine ----------------------------------------------------------------
// Formats the text (512 characters) and posts the alarm of `alarm_id` (VAlarm_Post, or
// VAlarm_Post_Here with the position text and number), or manages it and waits for the
// operator (VAlarm_Manage_Free). An unknown ID logs "AlarmID:<id> Cannot Find AlarmPoint."
// and gives false or ALM_ABORT.
VEXLOR_API bool VSCH_ALARM_POST(int alarm_id, const char* format, ...) VEXLOR_PRINTF(2, 3);
VEXLOR_API bool VSCH_ALARM_POST(int alarm_id, const char* position, int position_number,
                                const char* format, ...) VEXLOR_PRINTF(4, 5);
VEXLOR_API ALARM_STYLE VSCH_ERROR_HANDLER(int alarm_id, const char* format, ...)
    VEXLOR_PRINTF(2, 3);

// Runs the routine MAINT_TOP free with the formatted text and waits for its final status;
// SYS_ABORTED when it is not configured.
VEXLOR_API FUNC_STATUS VSCH_BUTTON_HANDLER(const char* format, ...) VEXLOR_PRINTF(1, 2);

// True when the routine SCHEDULER_ENGINE is configured. While it is missing every call looks
// it up again and prints the lookup's line; what it finds serves the SCHEDULER calls as well.
VEXLOR_API bool VSCH_IsValid();

// Does nothing; routines that call it build and run unchanged.
VEXLOR_API void VSCH_LOT_LOG(int, int, const char* format, ...) VEXLOR_PRINTF(3, 4);

}  // namespace Vexlor
