// Compile check of the public surface (start-up, logging, lookup, modules, the GUI bridge,
// arguments and run control): every overload exists with its exact signature. A mismatch fails
// the build, not the run.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "vexlor/vexlor.h"

using namespace Vexlor;

namespace {

// Each entry converts one overload to its exact function pointer type; the table has external
// linkage, so every function must also be defined in the library for the tests to link.
#define F(ret, name, ...) \
  reinterpret_cast<const void*>(static_cast<ret (*)(__VA_ARGS__)>(&Vexlor::name))
// By index and by name, then the rest of the parameters.
#define BY_ID_NAME(ret, name, ...) \
  F(ret, name, int, __VA_ARGS__), F(ret, name, const char*, __VA_ARGS__)
// By index, by name and (the last) the routine itself.
#define ID_NAME(ret, name) F(ret, name, int), F(ret, name, const char*)
#define ID_NAME_OWN(ret, name) ID_NAME(ret, name), F(ret, name, )
// An event to a routine by index or by name, or to the routine's parents.
#define EVENT(name, ...) BY_ID_NAME(bool, name, __VA_ARGS__), F(bool, name, __VA_ARGS__)
// Plain, with timeout, with stop flag, with stop flag and timeout.
#define FOUR(ret, name, ...)                                                      \
  BY_ID_NAME(ret, name, __VA_ARGS__), BY_ID_NAME(ret, name, double, __VA_ARGS__), \
      BY_ID_NAME(ret, name, bool&, __VA_ARGS__), BY_ID_NAME(ret, name, bool&, double, __VA_ARGS__)
#define TWO(ret, name, ...) \
  BY_ID_NAME(ret, name, __VA_ARGS__), BY_ID_NAME(ret, name, double, __VA_ARGS__)
#define CLOCK(ret, name, ...) \
  BY_ID_NAME(ret, name, double, __VA_ARGS__), BY_ID_NAME(ret, name, bool&, double, __VA_ARGS__)

using IntVector = std::vector<int>;
using IntGrid = std::vector<std::vector<int>>;
using Texts = std::vector<std::string>;
using Args = std::vector<ARG_PARAM_INFO_STRU>;

}  // namespace

extern const void* const kExports[];
// clang-format off
const void* const kExports[] = {
    // Context and start-up.
    F(bool, VHub_Initial, const char*), F(bool, VHub_Initial2, const char*),
    F(void, VHub_Release, ), F(const char*, VHub_Version_Info, ), F(VFIFO*, FIFO, ),
    F(VMMAP*, MMAP, ), F(MMAP_STRU*, MMAP_DB, ), F(void*, VFunction_Create_Locker, int),
    F(void*, VFunction_Create_Locker, ), F(bool, VFunction_Check_Locker, int),
    F(bool, VFunction_Check_Locker, ), F(bool, VModule_Name_To_ID, char*),
    F(bool, VModule_ID_To_Name, char*), F(bool, VIO_Replace_Char_Set, int, const char*),
    F(const char*, VIO_Replace_Char_Get, int), F(bool, VIO_Replace_Char, char*),
    // Logging.
    F(void, VSystem_Log, LOG_TYPE, const char*, ...),
    F(void, VSystem_Log, const char*, LOG_TYPE, const char*, ...),
    F(void, VDriver_Log, const char*, LOG_TYPE, const char*, ...),
    F(void, VGui_Err_Log, const char*, const char*, ...),
    F(LOG_STATUS, VSystem_Get_Log_Status, LOG_TYPE),
    F(void, VSystem_Set_Log_Status, LOG_TYPE, LOG_STATUS),
    F(const char*, VSystem_Get_History_Path, ), F(const char*, VSystem_Get_History_Full_Path, ),
    // Point lookup.
    F(bool, VIO_Find, int*, IO_TYPE*, const char*),
    F(bool, VIO_Find, int*, IO_TYPE*, bool, const char*),
    F(bool, VIO_FindF, int*, IO_TYPE*, const char*, ...),
    F(bool, VIO_Find_Point, int*, IO_TYPE, const char*),
    F(bool, VIO_Find_Point, int*, IO_TYPE, bool, const char*),
    F(bool, VIO_Find_PointF, int*, IO_TYPE, const char*, ...),
    F(bool, VIO_Find_Type, IO_TYPE*, const char*),
    F(bool, VIO_Find_TypeF, IO_TYPE*, const char*, ...),
    F(bool, VIO_Find_Point1, IntVector*, IO_TYPE, int, int, const char*),
    F(bool, VIO_Find_Point1, IntVector*, IO_TYPE, const char*, int, int),
    F(bool, VIO_Find_Point1F, IntVector*, IO_TYPE, int, int, const char*, ...),
    F(bool, VIO_Find_Point2, IntGrid*, IO_TYPE, int, int, int, int, const char*),
    F(bool, VIO_Find_Point2, IntGrid*, IO_TYPE, const char*, int, int, int, int),
    F(bool, VIO_Find_Point2F, IntGrid*, IO_TYPE, int, int, int, int, const char*, ...),
    F(IO_MAP, IO_Map_Find, const char*), F(bool, VIO_Set_IO_Map_List, IO_Name_String_Map*),
    F(bool, VIO_Set_IO_Map_List, std::vector<IO_Name_String_Map>&),
    // Modules.
    F(bool, VModule_Find, MODULE_MAP*, const char*), ID_NAME(const char*, VModule_Get_ID),
    ID_NAME(const char*, VModule_Get_Name),
    F(const char*, VModule_Get_NameF, const char*, ...), F(void, VModule_Get_ID_List, Texts&),
    F(void, VModule_Get_Name_List, Texts&), ID_NAME(int, VModule_Get_Alarm_Base),
    F(const char*, VModule_Get_Annotation, int, int),
    F(const char*, VModule_Get_Annotation, const char*), F(int, VModule_Get_CM_Side, const char*),
    F(int, VModule_Get_BM_Side, const char*), F(int, VModule_Get_TM_Side, const char*),
    F(int, VModule_Get_PM_Side, const char*),
    // The GUI bridge and arguments.
    F(bool, VGui_MainForm_Show, ), F(bool, VGui_MainForm_Hide, ), F(bool, VGui_MainForm_Restart, ),
    F(bool, VGui_MainForm_Exit, ), F(bool, VGui_Display_Message, const char*),
    F(bool, VGui_Display_MessageF, const char*, ...), F(bool, VGui_Send_Event, const char*),
    F(bool, VGui_Send_EventF, const char*, ...), F(bool, VGui_Send_Record, const char*),
    F(bool, VGui_Send_Record, const char*, Texts&),
    F(bool, VGui_Send_RecordF, const char*, ...), F(const char*, VGui_Get_Navigation_Full_Path, ),
    F(bool, VFunction_Unpacking_Arg_Param, const char*, Args&),
    F(bool, VFunction_Unpacking_Arg_Param, const char*, ARG_PARAM_INFO_STRU&),
    F(bool, VFunction_Packaging_Arg_Param, Args&, std::string&),
    F(bool, VFunction_Check_Arg_Param, ARG_PARAM_INFO_STRU&, bool, bool, int, bool),
    F(bool, VFunction_Unpacking_Run_Param, const char*, RUN_PARAM_INFO_STRU&),
    // Run control.
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
    F(bool, VFunction_Run_Pool, int, const char*, char**),
    BY_ID_NAME(std::string, VFunction_Run_Pool, const char*),
    BY_ID_NAME(std::string, VFunction_Run_PoolF, const char*, ...),
    F(void, VFunction_Relase_Mem, char**), EVENT(VFunction_Send_Event, const char*),
    EVENT(VFunction_Send_EventF, const char*, ...),
    F(bool, VFunction_Send_Event_All, const char*), EVENT(VFunction_Post_Event, const char*),
    EVENT(VFunction_Post_EventF, const char*, ...),
    F(bool, VFunction_Post_Event_All, const char*), ID_NAME(bool, VFunction_Wait_Event),
    F(bool, VFunction_Wait_Event_All, ), BY_ID_NAME(bool, VFunction_Dnload_Message, char*, int),
    BY_ID_NAME(bool, VFunction_Dnload_Message, char*),
    F(bool, VFunction_Upload_Message, const char*),
    F(bool, VFunction_Upload_MessageF, const char*, ...), F(bool, VFunction_Exit, int),
    F(bool, VFunction_Exit, ), ID_NAME_OWN(void, VFunction_Abort),
    F(bool, VFunction_Abort_All, ), ID_NAME_OWN(void, VFunction_Reset),
    F(bool, VFunction_Reset_All, ), F(bool, VFunction_Reload, int),
    F(bool, VFIFO_Engine_Read, const char*, const char*, const char*, int, const char*, char*,
        int),
    F(bool, VFIFO_Engine_Write, const char*, const char*, const char*, int, const char*)};
// clang-format on

// The free functions the built library exports in namespace Vexlor, against the reference list
// kept as data: every listed name is exported, and nothing else is.
TEST(Exports, TheLibraryExportsExactlyTheListedNames) {
  std::set<std::string> listed;
  std::ifstream in(VEXLOR_SOURCE_DIR "/tests/data/exported_names.txt");
  ASSERT_TRUE(in.is_open());
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') listed.insert(line);
  }
  // Demangled defined dynamic symbols: "<address> <type> Vexlor::Name(<parameters>)".
  std::set<std::string> exported;
  std::FILE* nm = ::popen("nm -D --defined-only -C '" VEXLOR_LIBRARY_FILE "'", "r");
  ASSERT_NE(nm, nullptr);
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, nm) != nullptr) {
    const std::string line = buffer;
    const std::string::size_type type = line.find(' ');
    const std::string::size_type at = line.find(' ', type + 1);
    if (type == std::string::npos || at == std::string::npos ||
        line.compare(at + 1, 8, "Vexlor::") != 0) {
      continue;
    }
    const std::string::size_type name = at + 9;
    const std::string::size_type end = line.find_first_of("(:<[", name);
    // A name ends at its parameters or at its ABI tag; members, data and templates are skipped.
    if (end == std::string::npos || (line[end] != '(' && line[end] != '[')) continue;
    exported.insert(line.substr(name, end - name));
  }
  EXPECT_EQ(::pclose(nm), 0);
  std::vector<std::string> missing, unlisted;
  for (const std::string& n : listed) {
    if (exported.count(n) == 0) missing.push_back(n);
  }
  for (const std::string& n : exported) {
    if (listed.count(n) == 0) unlisted.push_back(n);
  }
  EXPECT_EQ(missing, std::vector<std::string>{});
  EXPECT_EQ(unlisted, std::vector<std::string>{});
  EXPECT_EQ(listed.size(), 2025u);
}
