// The runtime frame: start-up and release of the routine's library context, the raw objects
// it owns, the routine's start lock, logging, the system settings and the routine's
// stopwatch and interruptible wait.
//
// A routine calls VHub_Initial (or VHub_Initial2 for an extra slot) once with its own name
// before anything else and VHub_Release once at the end; both must run while no other call
// of the library is in flight.
//
// Logging. VSystem_Log, VDriver_Log and VGui_Err_Log hand one line to VPrint_Log with the
// category's tag and console colour and the category's two switches of the system block:
//  - the first switch writes the console line "HH:MM:SS.mmm [TAG] [source] text" in the
//    category colour;
//  - the second switch appends "YYYY/MM/DD HH:MM:SS.mmm [TAG] [source] text" to the daily
//    file "<history path>\YYYY\MM\DD/system.log" (driver.log, gui_error.log), the Windows
//    path being mapped under VEXLOR_DRIVE_ROOT on POSIX; missing folders are created.
// Categories, tags and colours: LOG_ALM "[ALM]" 224, LOG_ERR "[ERR]" 79, LOG_DBG "[DBG]" 31,
// LOG_CIM "[CIM]" 223, LOG_EVT "[EVT]" 176, LOG_VIR "[VIR]" 112; any other value writes
// nothing. Before start-up VSystem_Log writes both (source "未定义"), VSystem_Log with a source
// and VDriver_Log only the file line.
#pragma once

#include <vexlor/export.h>
#include <vexlor/records.h>
#include <vexlor/types.h>
#include <vexlor/util.h>
#include <vexlor/vfifo.h>
#include <vexlor/vmmap.h>

namespace Vexlor {

// ---- Start-up and release -------------------------------------------------------------
// Creates the context, attaches the database and the message queue, and finds the routine's
// entry in the function table (after name normalisation; the highest matching index wins).
// The main-form routine (slot N) also takes its start lock and is refused while another
// process holds it. False: attaching failed (objects released), the name is not configured,
// or the main form already runs.
VEXLOR_API bool VHub_Initial(const char* name);
// Start-up for a routine without a configured entry: claims the first free extra slot
// (N to N+11), or the slot that already holds the name. No normalisation, no start lock.
VEXLOR_API bool VHub_Initial2(const char* name);
// Detaches everything, closes the cached mutex handles and destroys the context. Repeatable.
VEXLOR_API void VHub_Release();
// "0001-20250101".
VEXLOR_API const char* VHub_Version_Info();

// The context's objects; null before start-up (MMAP_DB also when no database is attached).
VEXLOR_API VFIFO* FIFO();
VEXLOR_API VMMAP* MMAP();
VEXLOR_API MMAP_STRU* MMAP_DB();

// ---- Start lock ("VPROC_<function name>") ----------------------------------------------
// Creates the lock of the function at `index` (or of the routine itself); null when it
// already exists. The library never closes the handle: the lock lasts until the process ends.
VEXLOR_API void* VFunction_Create_Locker(int index);
VEXLOR_API void* VFunction_Create_Locker();
// True when the lock exists, i.e. the routine is running. Leaves no lock behind.
VEXLOR_API bool VFunction_Check_Locker(int index);
VEXLOR_API bool VFunction_Check_Locker();

// ---- Logging ---------------------------------------------------------------------------
// To "%s/system.log" with the routine's own name as source.
VEXLOR_API void VSystem_Log(LOG_TYPE type, const char* format, ...) VEXLOR_PRINTF(2, 3);
// To "%s/system.log" with the caller's source.
VEXLOR_API void VSystem_Log(const char* source, LOG_TYPE type, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
// To "%s/driver.log".
VEXLOR_API void VDriver_Log(const char* source, LOG_TYPE type, const char* format, ...)
    VEXLOR_PRINTF(3, 4);
// To "%s/gui_error.log", always console and file, colour 12, tag "[ERR]"; `text` is unused.
VEXLOR_API void VGui_Err_Log(const char* text, const char* format, ...) VEXLOR_PRINTF(2, 3);

// The two switches of a category: 0 off, 1 second (file) only, 2 first (console) only, 3 both.
// Not attached: 1. Setting is seen at once by every routine; types outside 0-7 are ignored.
VEXLOR_API LOG_STATUS VSystem_Get_Log_Status(LOG_TYPE type);
VEXLOR_API void VSystem_Set_Log_Status(LOG_TYPE type, LOG_STATUS status);

// The history path of the system block ("Z:\History" when not attached), and today's folder
// below it, "<path>\YYYY\MM\DD". The folder text is a per-thread buffer that the next call
// on the same thread overwrites.
VEXLOR_API const char* VSystem_Get_History_Path();
VEXLOR_API const char* VSystem_Get_History_Full_Path();

// ---- System settings -------------------------------------------------------------------
// Equipment-wide settings of the system block, read and written in place (no lock; a change
// is seen by every routine at its next read). Not attached: getters return the default noted
// (texts: the empty text), setters do nothing. Text results point into shared memory.
VEXLOR_API int VSystem_Get_User_Level();  // 9
VEXLOR_API const char* VSystem_Get_User_Name();
VEXLOR_API const char* VSystem_Get_Group_Name();
// The "CTC.Language" point is the master: each call reads it and writes it into the system
// block (a missing point writes -99999999). Not attached: 1 unless the point reads 0.
VEXLOR_API LANGUAGE VSystem_Get_Language();
VEXLOR_API const char* VSystem_Get_Database_Path();
VEXLOR_API const char* VSystem_Get_Alarm_Description_Path();
VEXLOR_API const char* VSystem_Get_Machine_Path();
VEXLOR_API const char* VSystem_Get_User_Code_Version();
VEXLOR_API const char* VSystem_Get_Project_ID();
VEXLOR_API const char* VSystem_Get_Start_Time();
VEXLOR_API bool VSystem_Get_Simulation();  // true
VEXLOR_API int VSystem_Get_FA_Type();      // 0
// Module counts per kind and table sizes (0 when not attached). The function count is N,
// without the 12 extra slots.
VEXLOR_API int VSystem_Get_CM_Count();
VEXLOR_API int VSystem_Get_BM_Count();
VEXLOR_API int VSystem_Get_TM_Count();
VEXLOR_API int VSystem_Get_PM_Count();
VEXLOR_API int VSystem_Get_Module_Count();
VEXLOR_API int VSystem_Get_Driver_Count();
VEXLOR_API int VSystem_Get_Enum_Count();
VEXLOR_API int VSystem_Get_Digital_Count();
VEXLOR_API int VSystem_Get_Analog_Count();
VEXLOR_API int VSystem_Get_String_Count();
VEXLOR_API int VSystem_Get_Function_Count();
VEXLOR_API int VSystem_Get_Alarm_Count();

// The user level and the language are mirrored into the "CTC.UserLevel" and "CTC.Language"
// points for the operator GUI. Names are cut to 63 characters.
VEXLOR_API void VSystem_Set_User_Level(int level);
VEXLOR_API void VSystem_Set_User_Name(const char* name);
VEXLOR_API void VSystem_Set_Group_Name(const char* name);
VEXLOR_API void VSystem_Set_Language(LANGUAGE language);

// The manager abort flag: while set, interruptible waits end (unless they ignore parents) and
// functions refuse to run. False when not attached.
VEXLOR_API bool VSystem_Abort_Manager_Get();
VEXLOR_API void VSystem_Abort_Manager_Set(bool abort);

// Requests to the sequence manager ("$M" through the message queue); true when it accepted.
// False before start-up.
VEXLOR_API bool VSystem_Show_Main_Console();
VEXLOR_API bool VSystem_Hide_Main_Console();
VEXLOR_API bool VSystem_Show_About_Dialog();
VEXLOR_API bool VSystem_Hide_About_Dialog();
VEXLOR_API bool VSystem_Show_Sequence_Manager();
VEXLOR_API bool VSystem_Hide_Sequence_Manager();
// Asks the sequence manager to stop every routine of the equipment.
VEXLOR_API bool VSystem_Kill_All();

// ---- Stopwatch and interruptible wait --------------------------------------------------
// One stopwatch per routine, restarted by every successful start-up. Before start-up a
// process-wide stopwatch is used, started at the clock's origin.
VEXLOR_API void VTimer_Ready();
VEXLOR_API double VTimer_Elapsed();
// True when at least `seconds` have elapsed since VTimer_Ready.
VEXLOR_API bool VTimer_Reach(double seconds);

// Sleeps `seconds` in steps of one second (the last fraction in one piece), checking before
// each step, in this order: the routine's own exit flag, its own abort flag, its own free flag
// (set: nothing else is checked this step), then each parent of the chain in order (a free
// parent ends the checks of this step; an aborted one interrupts unless `ignore_parent`),
// then the manager abort flag (unless `ignore_parent`). True when the time ran out; false,
// after a log line naming the reason, when interrupted. 0 or a negative time checks once.
// Before start-up it only sleeps.
VEXLOR_API bool VTimer_Wait_Seconds(double seconds);
VEXLOR_API bool VTimer_Wait_Seconds(double seconds, bool ignore_parent);

}  // namespace Vexlor
