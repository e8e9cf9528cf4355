// Compile check of the start-up, logging, module and lookup surface: every overload exists
// with its exact signature. A mismatch fails the build, not the run.
#include <string>
#include <vector>

#include "vexlor/vexlor.h"

using namespace Vexlor;

namespace {

// Each entry converts one overload to its exact function pointer type; the table has external
// linkage, so every function must also be defined in the library for the tests to link.
#define VEXLOR_EXPORT(type, name) reinterpret_cast<const void*>(static_cast<type>(&Vexlor::name))

using IntVector = std::vector<int>;
using IntGrid = std::vector<std::vector<int>>;
using Texts = std::vector<std::string>;

}  // namespace

extern const void* const kSpineExports[];
const void* const kSpineExports[] = {
    // Context and start-up.
    VEXLOR_EXPORT(bool (*)(const char*), VHub_Initial),
    VEXLOR_EXPORT(bool (*)(const char*), VHub_Initial2),
    VEXLOR_EXPORT(void (*)(), VHub_Release),
    VEXLOR_EXPORT(const char* (*)(), VHub_Version_Info),
    VEXLOR_EXPORT(VFIFO* (*)(), FIFO),
    VEXLOR_EXPORT(VMMAP* (*)(), MMAP),
    VEXLOR_EXPORT(MMAP_STRU* (*)(), MMAP_DB),
    VEXLOR_EXPORT(void* (*)(int), VFunction_Create_Locker),
    VEXLOR_EXPORT(void* (*)(), VFunction_Create_Locker),
    VEXLOR_EXPORT(bool (*)(int), VFunction_Check_Locker),
    VEXLOR_EXPORT(bool (*)(), VFunction_Check_Locker),
    VEXLOR_EXPORT(bool (*)(char*), VModule_Name_To_ID),
    VEXLOR_EXPORT(bool (*)(char*), VModule_ID_To_Name),
    VEXLOR_EXPORT(bool (*)(int, const char*), VIO_Replace_Char_Set),
    VEXLOR_EXPORT(const char* (*)(int), VIO_Replace_Char_Get),
    VEXLOR_EXPORT(bool (*)(char*), VIO_Replace_Char),

    // Logging.
    VEXLOR_EXPORT(void (*)(LOG_TYPE, const char*, ...), VSystem_Log),
    VEXLOR_EXPORT(void (*)(const char*, LOG_TYPE, const char*, ...), VSystem_Log),
    VEXLOR_EXPORT(void (*)(const char*, LOG_TYPE, const char*, ...), VDriver_Log),
    VEXLOR_EXPORT(void (*)(const char*, const char*, ...), VGui_Err_Log),
    VEXLOR_EXPORT(LOG_STATUS (*)(LOG_TYPE), VSystem_Get_Log_Status),
    VEXLOR_EXPORT(void (*)(LOG_TYPE, LOG_STATUS), VSystem_Set_Log_Status),
    VEXLOR_EXPORT(const char* (*)(), VSystem_Get_History_Path),
    VEXLOR_EXPORT(const char* (*)(), VSystem_Get_History_Full_Path),

    // Point lookup.
    VEXLOR_EXPORT(bool (*)(int*, IO_TYPE*, const char*), VIO_Find),
    VEXLOR_EXPORT(bool (*)(int*, IO_TYPE*, bool, const char*), VIO_Find),
    VEXLOR_EXPORT(bool (*)(int*, IO_TYPE*, const char*, ...), VIO_FindF),
    VEXLOR_EXPORT(bool (*)(int*, IO_TYPE, const char*), VIO_Find_Point),
    VEXLOR_EXPORT(bool (*)(int*, IO_TYPE, bool, const char*), VIO_Find_Point),
    VEXLOR_EXPORT(bool (*)(int*, IO_TYPE, const char*, ...), VIO_Find_PointF),
    VEXLOR_EXPORT(bool (*)(IO_TYPE*, const char*), VIO_Find_Type),
    VEXLOR_EXPORT(bool (*)(IO_TYPE*, const char*, ...), VIO_Find_TypeF),
    VEXLOR_EXPORT(bool (*)(IntVector*, IO_TYPE, int, int, const char*), VIO_Find_Point1),
    VEXLOR_EXPORT(bool (*)(IntVector*, IO_TYPE, const char*, int, int), VIO_Find_Point1),
    VEXLOR_EXPORT(bool (*)(IntVector*, IO_TYPE, int, int, const char*, ...), VIO_Find_Point1F),
    VEXLOR_EXPORT(bool (*)(IntGrid*, IO_TYPE, int, int, int, int, const char*), VIO_Find_Point2),
    VEXLOR_EXPORT(bool (*)(IntGrid*, IO_TYPE, const char*, int, int, int, int), VIO_Find_Point2),
    VEXLOR_EXPORT(bool (*)(IntGrid*, IO_TYPE, int, int, int, int, const char*, ...),
                  VIO_Find_Point2F),
    VEXLOR_EXPORT(IO_MAP (*)(const char*), IO_Map_Find),
    VEXLOR_EXPORT(bool (*)(IO_Name_String_Map*), VIO_Set_IO_Map_List),
    VEXLOR_EXPORT(bool (*)(std::vector<IO_Name_String_Map>&), VIO_Set_IO_Map_List),

    // Modules.
    VEXLOR_EXPORT(bool (*)(MODULE_MAP*, const char*), VModule_Find),
    VEXLOR_EXPORT(const char* (*)(int), VModule_Get_ID),
    VEXLOR_EXPORT(const char* (*)(const char*), VModule_Get_ID),
    VEXLOR_EXPORT(const char* (*)(int), VModule_Get_Name),
    VEXLOR_EXPORT(const char* (*)(const char*), VModule_Get_Name),
    VEXLOR_EXPORT(const char* (*)(const char*, ...), VModule_Get_NameF),
    VEXLOR_EXPORT(void (*)(Texts&), VModule_Get_ID_List),
    VEXLOR_EXPORT(void (*)(Texts&), VModule_Get_Name_List),
    VEXLOR_EXPORT(int (*)(int), VModule_Get_Alarm_Base),
    VEXLOR_EXPORT(int (*)(const char*), VModule_Get_Alarm_Base),
    VEXLOR_EXPORT(const char* (*)(int, int), VModule_Get_Annotation),
    VEXLOR_EXPORT(const char* (*)(const char*), VModule_Get_Annotation),
    VEXLOR_EXPORT(int (*)(const char*), VModule_Get_CM_Side),
    VEXLOR_EXPORT(int (*)(const char*), VModule_Get_BM_Side),
    VEXLOR_EXPORT(int (*)(const char*), VModule_Get_TM_Side),
    VEXLOR_EXPORT(int (*)(const char*), VModule_Get_PM_Side),

};
