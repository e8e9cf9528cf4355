// Compile check of the run-control surface: every overload of the run, wait, pool, event,
// message, exit and engine calls exists with its exact signature. A mismatch fails the build.
#include <string>

#include "vexlor/vexlor.h"

using namespace Vexlor;

#define EXP(type, name) reinterpret_cast<const void*>(static_cast<type>(&Vexlor::name))
// The routine given by id and by name, then the rest of the parameters.
#define BY_ID_NAME(ret, name, ...) \
  EXP(ret (*)(int, __VA_ARGS__), name), EXP(ret (*)(const char*, __VA_ARGS__), name)
// Plain, with timeout, with stop flag, with stop flag and timeout.
#define FOUR(ret, name, ...)                                                      \
  BY_ID_NAME(ret, name, __VA_ARGS__), BY_ID_NAME(ret, name, double, __VA_ARGS__), \
      BY_ID_NAME(ret, name, bool&, __VA_ARGS__), BY_ID_NAME(ret, name, bool&, double, __VA_ARGS__)
#define TWO(ret, name, ...) \
  BY_ID_NAME(ret, name, __VA_ARGS__), BY_ID_NAME(ret, name, double, __VA_ARGS__)
#define CLOCK(ret, name, ...) \
  BY_ID_NAME(ret, name, double, __VA_ARGS__), BY_ID_NAME(ret, name, bool&, double, __VA_ARGS__)

extern const void* const kRunControlExports[];
const void* const kRunControlExports[] = {
    FOUR(bool, VFunction_Run_Set, const char*),
    FOUR(bool, VFunction_Run_SetF, const char*, ...),
    TWO(bool, VFunction_Run_Set_Free, const char*),
    TWO(bool, VFunction_Run_Set_FreeF, const char*, ...),
    EXP(FUNC_STATUS (*)(int), VFunction_Run_Wait),
    EXP(FUNC_STATUS (*)(const char*), VFunction_Run_Wait),
    BY_ID_NAME(FUNC_STATUS, VFunction_Run_Wait, double),
    FOUR(FUNC_STATUS, VFunction_Run, const char*),
    FOUR(FUNC_STATUS, VFunction_RunF, const char*, ...),
    TWO(FUNC_STATUS, VFunction_Run_Free, const char*),
    TWO(FUNC_STATUS, VFunction_Run_FreeF, const char*, ...),
    CLOCK(FUNC_STATUS, VFunction_Run_Clock, const char*),
    CLOCK(FUNC_STATUS, VFunction_Run_ClockF, const char*, ...),
    BY_ID_NAME(FUNC_STATUS, VFunction_Run_Free_Clock, double, const char*),
    BY_ID_NAME(FUNC_STATUS, VFunction_Run_Free_ClockF, double, const char*, ...),
    EXP(bool (*)(int, const char*, char**), VFunction_Run_Pool),
    BY_ID_NAME(std::string, VFunction_Run_Pool, const char*),
    BY_ID_NAME(std::string, VFunction_Run_PoolF, const char*, ...),
    EXP(void (*)(char**), VFunction_Relase_Mem),
    BY_ID_NAME(bool, VFunction_Send_Event, const char*),
    EXP(bool (*)(const char*), VFunction_Send_Event),
    BY_ID_NAME(bool, VFunction_Send_EventF, const char*, ...),
    EXP(bool (*)(const char*, ...), VFunction_Send_EventF),
    EXP(bool (*)(const char*), VFunction_Send_Event_All),
    BY_ID_NAME(bool, VFunction_Post_Event, const char*),
    EXP(bool (*)(const char*), VFunction_Post_Event),
    BY_ID_NAME(bool, VFunction_Post_EventF, const char*, ...),
    EXP(bool (*)(const char*, ...), VFunction_Post_EventF),
    EXP(bool (*)(const char*), VFunction_Post_Event_All),
    EXP(bool (*)(int), VFunction_Wait_Event),
    EXP(bool (*)(const char*), VFunction_Wait_Event),
    EXP(bool (*)(), VFunction_Wait_Event_All),
    BY_ID_NAME(bool, VFunction_Dnload_Message, char*, int),
    BY_ID_NAME(bool, VFunction_Dnload_Message, char*),
    EXP(bool (*)(const char*), VFunction_Upload_Message),
    EXP(bool (*)(const char*, ...), VFunction_Upload_MessageF),
    EXP(bool (*)(int), VFunction_Exit),
    EXP(bool (*)(), VFunction_Exit),
    EXP(void (*)(int), VFunction_Abort),
    EXP(void (*)(const char*), VFunction_Abort),
    EXP(void (*)(), VFunction_Abort),
    EXP(bool (*)(), VFunction_Abort_All),
    EXP(void (*)(int), VFunction_Reset),
    EXP(void (*)(const char*), VFunction_Reset),
    EXP(void (*)(), VFunction_Reset),
    EXP(bool (*)(), VFunction_Reset_All),
    EXP(bool (*)(int), VFunction_Reload),
    EXP(bool (*)(const char*, const char*, const char*, int, const char*, char*, int),
        VFIFO_Engine_Read),
    EXP(bool (*)(const char*, const char*, const char*, int, const char*), VFIFO_Engine_Write)};
