// Compile check of the run-control surface: every overload of the run, wait, pool, event,
// message, exit and engine calls exists with its exact signature. A mismatch fails the build.
#include <string>

#include "vexlor/vexlor.h"

using namespace Vexlor;

#define EXP(ret, name, ...) \
  reinterpret_cast<const void*>(static_cast<ret (*)(__VA_ARGS__)>(&Vexlor::name))
// The routine given by id and by name, then the rest of the parameters.
#define BY_ID_NAME(ret, name, ...) \
  EXP(ret, name, int, __VA_ARGS__), EXP(ret, name, const char*, __VA_ARGS__)
// The routine by id, by name and (the last) the routine itself.
#define ID_NAME(ret, name) EXP(ret, name, int), EXP(ret, name, const char*)
#define ID_NAME_OWN(ret, name) ID_NAME(ret, name), EXP(ret, name, )
// An event to a routine by id or by name, or to the routine's parents.
#define EVENT(name, ...) BY_ID_NAME(bool, name, __VA_ARGS__), EXP(bool, name, __VA_ARGS__)
// Plain, with timeout, with stop flag, with stop flag and timeout.
#define FOUR(ret, name, ...)                                                      \
  BY_ID_NAME(ret, name, __VA_ARGS__), BY_ID_NAME(ret, name, double, __VA_ARGS__), \
      BY_ID_NAME(ret, name, bool&, __VA_ARGS__), BY_ID_NAME(ret, name, bool&, double, __VA_ARGS__)
#define TWO(ret, name, ...) \
  BY_ID_NAME(ret, name, __VA_ARGS__), BY_ID_NAME(ret, name, double, __VA_ARGS__)
#define CLOCK(ret, name, ...) \
  BY_ID_NAME(ret, name, double, __VA_ARGS__), BY_ID_NAME(ret, name, bool&, double, __VA_ARGS__)

extern const void* const kRunControlExports[];
// clang-format off
const void* const kRunControlExports[] = {
    FOUR(bool, VFunction_Run_Set, const char*), FOUR(bool, VFunction_Run_SetF, const char*, ...),
    TWO(bool, VFunction_Run_Set_Free, const char*),
    TWO(bool, VFunction_Run_Set_FreeF, const char*, ...), ID_NAME(FUNC_STATUS, VFunction_Run_Wait),
    BY_ID_NAME(FUNC_STATUS, VFunction_Run_Wait, double),
    FOUR(FUNC_STATUS, VFunction_Run, const char*),
    FOUR(FUNC_STATUS, VFunction_RunF, const char*, ...),
    TWO(FUNC_STATUS, VFunction_Run_Free, const char*),
    TWO(FUNC_STATUS, VFunction_Run_FreeF, const char*, ...),
    CLOCK(FUNC_STATUS, VFunction_Run_Clock, const char*),
    CLOCK(FUNC_STATUS, VFunction_Run_ClockF, const char*, ...),
    BY_ID_NAME(FUNC_STATUS, VFunction_Run_Free_Clock, double, const char*),
    BY_ID_NAME(FUNC_STATUS, VFunction_Run_Free_ClockF, double, const char*, ...),
    EXP(bool, VFunction_Run_Pool, int, const char*, char**),
    BY_ID_NAME(std::string, VFunction_Run_Pool, const char*),
    BY_ID_NAME(std::string, VFunction_Run_PoolF, const char*, ...),
    EXP(void, VFunction_Relase_Mem, char**), EVENT(VFunction_Send_Event, const char*),
    EVENT(VFunction_Send_EventF, const char*, ...),
    EXP(bool, VFunction_Send_Event_All, const char*), EVENT(VFunction_Post_Event, const char*),
    EVENT(VFunction_Post_EventF, const char*, ...),
    EXP(bool, VFunction_Post_Event_All, const char*), ID_NAME(bool, VFunction_Wait_Event),
    EXP(bool, VFunction_Wait_Event_All, ), BY_ID_NAME(bool, VFunction_Dnload_Message, char*, int),
    BY_ID_NAME(bool, VFunction_Dnload_Message, char*),
    EXP(bool, VFunction_Upload_Message, const char*),
    EXP(bool, VFunction_Upload_MessageF, const char*, ...), EXP(bool, VFunction_Exit, int),
    EXP(bool, VFunction_Exit, ), ID_NAME_OWN(void, VFunction_Abort),
    EXP(bool, VFunction_Abort_All, ), ID_NAME_OWN(void, VFunction_Reset),
    EXP(bool, VFunction_Reset_All, ), EXP(bool, VFunction_Reload, int),
    EXP(bool, VFIFO_Engine_Read, const char*, const char*, const char*, int, const char*, char*,
        int),
    EXP(bool, VFIFO_Engine_Write, const char*, const char*, const char*, int, const char*)};
// clang-format on
