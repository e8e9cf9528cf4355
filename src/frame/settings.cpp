// System settings of the system block, the manager abort flag and the requests that ask the
// sequence manager to show or hide its windows or to stop all routines.
#include "frame/context.h"
#include "os/atomic_field.h"
#include "util/text.h"
#include "vexlor/frame.h"
#include "vexlor/named.h"

namespace vexlor::detail {
namespace {

Vexlor::MEM_SYSTEM_STRU* system_block() {
  Vexlor::MMAP_STRU* db = attached_db();
  return db ? db->system_block : nullptr;
}

// A text field of the system block, or the empty text when not attached.
template <std::size_t N>
const char* system_text(char (Vexlor::MEM_SYSTEM_STRU::*field)[N]) {
  Vexlor::MEM_SYSTEM_STRU* s = system_block();
  return s ? (s->*field) : Vexlor::VStr_Get_Mem_Str(nullptr);
}

int32_t system_int(int32_t Vexlor::MEM_SYSTEM_STRU::*field) {
  Vexlor::MEM_SYSTEM_STRU* s = system_block();
  return s ? s->*field : 0;
}

// One "$M" request to the sequence manager through the context's message queue.
bool manager_request(const char* param, const char* command, const char* argument) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->fifo == nullptr) return false;
  return ctx->fifo->VFIFO_Engine_Write_G("$M", param, command, 0, argument);
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;
using S = MEM_SYSTEM_STRU;

int VSystem_Get_User_Level() {
  S* s = d::system_block();
  return s ? s->user_level : 9;
}

const char* VSystem_Get_User_Name() { return d::system_text(&S::user_name); }
const char* VSystem_Get_Group_Name() { return d::system_text(&S::group_name); }
const char* VSystem_Get_Database_Path() { return d::system_text(&S::database_path); }
const char* VSystem_Get_Alarm_Description_Path() {
  return d::system_text(&S::alarm_description_path);
}
const char* VSystem_Get_Machine_Path() { return d::system_text(&S::machine_path); }
const char* VSystem_Get_User_Code_Version() { return d::system_text(&S::user_code_version); }
const char* VSystem_Get_Project_ID() { return d::system_text(&S::project_id); }
const char* VSystem_Get_Start_Time() { return d::system_text(&S::start_time); }

LANGUAGE VSystem_Get_Language() {
  const int point_value = VIO_Get_CTC_Language();
  S* s = d::system_block();
  if (s == nullptr) return point_value != 0 ? LANGUAGE_CHINESE : LANGUAGE_ENGLISH;
  // The point is the master; the system block follows it at every read.
  s->language = point_value;
  return static_cast<LANGUAGE>(s->language);
}

bool VSystem_Get_Simulation() {
  S* s = d::system_block();
  return s ? s->simulation != 0 : true;
}

int VSystem_Get_FA_Type() { return d::system_int(&S::fa_type); }
int VSystem_Get_CM_Count() { return d::system_int(&S::cm_count); }
int VSystem_Get_BM_Count() { return d::system_int(&S::bm_count); }
int VSystem_Get_TM_Count() { return d::system_int(&S::tm_count); }
int VSystem_Get_PM_Count() { return d::system_int(&S::pm_count); }
int VSystem_Get_Module_Count() { return d::system_int(&S::module_count); }
int VSystem_Get_Driver_Count() { return d::system_int(&S::driver_count); }
int VSystem_Get_Enum_Count() { return d::system_int(&S::enum_count); }
int VSystem_Get_Digital_Count() { return d::system_int(&S::digital_count); }
int VSystem_Get_Analog_Count() { return d::system_int(&S::analog_count); }
int VSystem_Get_String_Count() { return d::system_int(&S::string_count); }
int VSystem_Get_Function_Count() { return d::system_int(&S::function_count); }
int VSystem_Get_Alarm_Count() { return d::system_int(&S::alarm_count); }

void VSystem_Set_User_Level(int level) {
  S* s = d::system_block();
  if (s == nullptr) return;
  s->user_level = level;
  VIO_Set_CTC_UserLevel(level);
}

void VSystem_Set_User_Name(const char* name) {
  if (S* s = d::system_block()) d::copy_text(s->user_name, name);
}

void VSystem_Set_Group_Name(const char* name) {
  if (S* s = d::system_block()) d::copy_text(s->group_name, name);
}

void VSystem_Set_Language(LANGUAGE language) {
  S* s = d::system_block();
  if (s == nullptr) return;
  s->language = language;
  VIO_Set_CTC_Language(language);
}

bool VSystem_Abort_Manager_Get() {
  MMAP_STRU* db = d::attached_db();
  // Other processes and threads set it while waits poll it: one atomic load.
  return db ? vexlor::os::load_relaxed(db->abort_manager->abort_flag) != 0 : false;
}

void VSystem_Abort_Manager_Set(bool abort) {
  if (MMAP_STRU* db = d::attached_db()) {
    vexlor::os::store_relaxed(db->abort_manager->abort_flag, abort ? 1 : 0);
  }
}

bool VSystem_Show_Main_Console() { return d::manager_request("P3", "W1", "-"); }
bool VSystem_Hide_Main_Console() { return d::manager_request("P3", "W2", "-"); }
bool VSystem_Show_About_Dialog() { return d::manager_request("P3", "W3", "-"); }
bool VSystem_Hide_About_Dialog() { return d::manager_request("P3", "W4", "-"); }
bool VSystem_Show_Sequence_Manager() { return d::manager_request("P3", "W7", "-"); }
bool VSystem_Hide_Sequence_Manager() { return d::manager_request("P3", "W8", "-"); }
bool VSystem_Kill_All() { return d::manager_request("P1", "W1", "101"); }

}  // namespace Vexlor
