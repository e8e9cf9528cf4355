// The function (routine) table: the definition and run-time records of every function, their
// getters and setters, and the routine's own identity (own index, parent chain).
//
// Indices: 0 to N-1 are the configured functions, N to N+11 the extra slots (slot N is the
// operator GUI's main form). Every indexed operation checks 0 <= index < N+12: a bad index
// prints one red line titled with the routine's own name and the getter returns its failure
// value (the setter does nothing). Before start-up or without a database everything fails
// silently. Each indexed operation has an own form without the index that acts on the
// routine's own index.
//
// The records are shared memory written in place without a lock; the status and flag getters
// are one bounds check and one load, without allocation or lock, so routines may poll them.
// Text results point into the shared record (or to a static empty text); do not free them.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>

#include <string>
#include <vector>

namespace Vexlor {

// ---- Definition record -----------------------------------------------------------------
// The own form returns the routine's own name from its context, not the table entry.
VEXLOR_API const char* VFunction_Get_Name(int index);
VEXLOR_API const char* VFunction_Get_Name();
// Failure 0.
VEXLOR_API int VFunction_Get_Level(int index);
VEXLOR_API int VFunction_Get_Level();
// Failure -1.
VEXLOR_API LOAD_STYLE VFunction_Get_Load_Style(int index);
VEXLOR_API LOAD_STYLE VFunction_Get_Load_Style();
VEXLOR_API const char* VFunction_Get_Load_Arg_Param(int index);
VEXLOR_API const char* VFunction_Get_Load_Arg_Param();
VEXLOR_API const char* VFunction_Get_Load_Run_Param(int index);
VEXLOR_API const char* VFunction_Get_Load_Run_Param();
VEXLOR_API const char* VFunction_Get_Path(int index);
VEXLOR_API const char* VFunction_Get_Path();
VEXLOR_API const char* VFunction_Get_Annotation(int index);
VEXLOR_API const char* VFunction_Get_Annotation();
VEXLOR_API const char* VFunction_Get_Append(int index);
VEXLOR_API const char* VFunction_Get_Append();
// Failure 0.
VEXLOR_API int VFunction_Get_Pool_Count(int index);
VEXLOR_API int VFunction_Get_Pool_Count();
VEXLOR_API bool VFunction_Get_Virtual_Flag(int index);
VEXLOR_API bool VFunction_Get_Virtual_Flag();

// Texts are cut to their field: name 63, annotation 127, append 255 characters.
VEXLOR_API void VFunction_Set_Name(int index, const char* name);
VEXLOR_API void VFunction_Set_Name(const char* name);
VEXLOR_API void VFunction_Set_Level(int index, int level);
VEXLOR_API void VFunction_Set_Level(int level);
VEXLOR_API void VFunction_Set_Virtual_Flag(int index, bool flag);
VEXLOR_API void VFunction_Set_Virtual_Flag(bool flag);
VEXLOR_API void VFunction_Set_Annotation(int index, const char* text);
VEXLOR_API void VFunction_Set_Annotation(const char* text);
VEXLOR_API void VFunction_Set_Append(int index, const char* text);
VEXLOR_API void VFunction_Set_Append(const char* text);
VEXLOR_API void VFunction_Set_Pool_Count(int index, int count);
VEXLOR_API void VFunction_Set_Pool_Count(int count);

// ---- Run-time record -------------------------------------------------------------------
// Status getters fail with SYS_ABORTED. A virtual function's run status is logged at LOG_VIR
// ("<operation>:<name> , VIRTUAL_FLAG = true , return <status>.") while that category is on.
// The by-name form resolves configured functions (0 to N-1) once through the name cache; an
// unknown name returns SYS_ABORTED (the lookup prints its own line).
VEXLOR_API FUNC_STATUS VFunction_Get_Run_Status(int index);
VEXLOR_API FUNC_STATUS VFunction_Get_Run_Status();
VEXLOR_API FUNC_STATUS VFunction_Get_Run_Status(const char* name);
VEXLOR_API FUNC_STATUS VFunction_Get_Event_Status(int index);
VEXLOR_API FUNC_STATUS VFunction_Get_Event_Status();
// Flag getters fail with false.
VEXLOR_API bool VFunction_Get_Abort_Flag(int index);
VEXLOR_API bool VFunction_Get_Abort_Flag();
VEXLOR_API bool VFunction_Get_Free_Flag(int index);
VEXLOR_API bool VFunction_Get_Free_Flag();
VEXLOR_API bool VFunction_Get_Manual_Flag(int index);
VEXLOR_API bool VFunction_Get_Manual_Flag();
VEXLOR_API bool VFunction_Get_Exit_Flag(int index);
VEXLOR_API bool VFunction_Get_Exit_Flag();
VEXLOR_API const char* VFunction_Get_Regist_Info(int index);
VEXLOR_API const char* VFunction_Get_Regist_Info();

// No transition checks: whoever runs, exits or signals a function writes these.
VEXLOR_API void VFunction_Set_Run_Status(int index, FUNC_STATUS status);
VEXLOR_API void VFunction_Set_Run_Status(FUNC_STATUS status);
VEXLOR_API void VFunction_Set_Event_Status(int index, FUNC_STATUS status);
VEXLOR_API void VFunction_Set_Event_Status(FUNC_STATUS status);
VEXLOR_API void VFunction_Set_Abort_Flag(int index, bool flag);
VEXLOR_API void VFunction_Set_Abort_Flag(bool flag);
VEXLOR_API void VFunction_Set_Free_Flag(int index, bool flag);
VEXLOR_API void VFunction_Set_Free_Flag(bool flag);
VEXLOR_API void VFunction_Set_Manual_Flag(int index, bool flag);
VEXLOR_API void VFunction_Set_Manual_Flag(bool flag);
VEXLOR_API void VFunction_Set_Exit_Flag(int index, bool flag);
VEXLOR_API void VFunction_Set_Exit_Flag(bool flag);
// Registrations stack newest first in the 63-character field: "A", then "B/A", then an empty
// text gives "-/B/A"; an empty text on an empty field gives "-". The oldest end is cut.
VEXLOR_API void VFunction_Set_Regist_Info(int index, const char* text);
VEXLOR_API void VFunction_Set_Regist_Info(const char* text);

// ---- Identity --------------------------------------------------------------------------
// The routine's own index (-99999999 until start-up found it; -1 without a context).
VEXLOR_API int VFunction_Get_Point();
// The first configured function (0 to N-1; the extra slots are not searched) whose name
// matches after name normalisation; -1 when none or not attached.
VEXLOR_API int VFunction_Get_Point(const char* name);
// Sets the own index while it is unset; refused with a red line once it is set. A negative
// index is stored too, after a red line.
VEXLOR_API void VFunction_Set_Point(int index);

// The parent chain received with the routine's run request: indices joined by "&", nearest
// parent first. The text and list belong to the context and stay valid until the chain is set
// again or the library is released.
VEXLOR_API const char* VFunction_Get_Parent_Points();
VEXLOR_API void VFunction_Get_Parent_Points(std::string& out);
VEXLOR_API void VFunction_Get_Parent_Points(std::vector<int>** out);
// The parents' names (VFunction_Get_Name of each index), in chain order.
VEXLOR_API std::vector<std::string> VFunction_Get_Parent_Name_List();
// Stores the text and parses it: each "&"-separated piece as a decimal number (a piece that
// is not a number gives 0; a trailing "&" adds nothing). Nothing without a context.
VEXLOR_API void VFunction_Set_Parent_Points(const char* text);
VEXLOR_API void VFunction_Reset_Parent_Points();

}  // namespace Vexlor
