// The runtime frame: start-up and release of the routine's library context, the raw objects
// it owns, the routine's start lock, and logging.
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

}  // namespace Vexlor
