// The function table: getters and setters of the definition and run-time records, the
// routine's own index and its parent chain.
#include "functions/function_table.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "frame/context.h"
#include "frame/index_check.h"
#include "os/atomic_field.h"
#include "util/text.h"
#include "points/lookup.h"
#include "points/name_cache.h"
#include "vexlor/frame.h"
#include "vexlor/functions.h"
#include "vexlor/points.h"

namespace vexlor::detail {
namespace {

int32_t own_index() {
  HUB_CONTEXT* ctx = context();
  return ctx ? ctx->own_index : Vexlor::VEXLOR_UNUSED_POINT;
}

const char* empty_text() { return Vexlor::VStr_Get_Mem_Str(nullptr); }

// Pushes `text` onto the registration stack held in `field` (newest first, "-" for an empty
// registration), cutting the oldest end.
void push_registration(char (&field)[64], const char* text) {
  const char* entry = (text != nullptr && text[0] != '\0') ? text : "-";
  if (field[0] == '\0') {
    copy_text(field, entry);
    return;
  }
  std::string stacked = entry;
  stacked += '/';
  stacked += field_text(field);
  copy_text(field, stacked);
}

}  // namespace

bool resolve_function(const char* name, int32_t* index) {
  return resolve_point(Vexlor::IO_F, name, false, index);
}

}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

// ---- Definition record -------------------------------------------------------------------

const char* VFunction_Get_Name(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_sp[index].name : d::empty_text();
}

const char* VFunction_Get_Name() {
  d::HUB_CONTEXT* ctx = d::context();
  return ctx ? ctx->own_name : d::empty_text();
}

int VFunction_Get_Level(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_sp[index].level : 0;
}

int VFunction_Get_Level() { return VFunction_Get_Level(d::own_index()); }

LOAD_STYLE VFunction_Get_Load_Style(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return static_cast<LOAD_STYLE>(db ? db->function_sp[index].load_style : -1);
}

LOAD_STYLE VFunction_Get_Load_Style() { return VFunction_Get_Load_Style(d::own_index()); }

const char* VFunction_Get_Load_Arg_Param(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_sp[index].load_arg_param : d::empty_text();
}

const char* VFunction_Get_Load_Arg_Param() { return VFunction_Get_Load_Arg_Param(d::own_index()); }

const char* VFunction_Get_Load_Run_Param(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_sp[index].load_run_param : d::empty_text();
}

const char* VFunction_Get_Load_Run_Param() { return VFunction_Get_Load_Run_Param(d::own_index()); }

const char* VFunction_Get_Path(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_sp[index].path : d::empty_text();
}

const char* VFunction_Get_Path() { return VFunction_Get_Path(d::own_index()); }

const char* VFunction_Get_Annotation(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_sp[index].annotation : d::empty_text();
}

const char* VFunction_Get_Annotation() { return VFunction_Get_Annotation(d::own_index()); }

const char* VFunction_Get_Append(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_sp[index].append : d::empty_text();
}

const char* VFunction_Get_Append() { return VFunction_Get_Append(d::own_index()); }

int VFunction_Get_Pool_Count(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_sp[index].pool_count : 0;
}

int VFunction_Get_Pool_Count() { return VFunction_Get_Pool_Count(d::own_index()); }

bool VFunction_Get_Virtual_Flag(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_sp[index].virtual_flag != 0 : false;
}

bool VFunction_Get_Virtual_Flag() { return VFunction_Get_Virtual_Flag(d::own_index()); }

void VFunction_Set_Name(int index, const char* name) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    d::copy_text(db->function_sp[index].name, name);
  }
}

void VFunction_Set_Name(const char* name) { VFunction_Set_Name(d::own_index(), name); }

void VFunction_Set_Level(int index, int level) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) db->function_sp[index].level = level;
}

void VFunction_Set_Level(int level) { VFunction_Set_Level(d::own_index(), level); }

void VFunction_Set_Virtual_Flag(int index, bool flag) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    db->function_sp[index].virtual_flag = flag ? 1 : 0;
  }
}

void VFunction_Set_Virtual_Flag(bool flag) { VFunction_Set_Virtual_Flag(d::own_index(), flag); }

void VFunction_Set_Annotation(int index, const char* text) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    d::copy_text(db->function_sp[index].annotation, text);
  }
}

void VFunction_Set_Annotation(const char* text) { VFunction_Set_Annotation(d::own_index(), text); }

void VFunction_Set_Append(int index, const char* text) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    d::copy_text(db->function_sp[index].append, text);
  }
}

void VFunction_Set_Append(const char* text) { VFunction_Set_Append(d::own_index(), text); }

void VFunction_Set_Pool_Count(int index, int count) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    db->function_sp[index].pool_count = count;
  }
}

void VFunction_Set_Pool_Count(int count) { VFunction_Set_Pool_Count(d::own_index(), count); }

// ---- Run-time record ---------------------------------------------------------------------

FUNC_STATUS VFunction_Get_Run_Status(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  if (db == nullptr) return SYS_ABORTED;
  // Written by the routine's serve thread while callers poll it, also within one process.
  const int32_t status = vexlor::os::load_relaxed(db->function_rt[index].run_status);
  // Simulated functions say so while LOG_VIR is on; the test costs one byte load otherwise.
  if (db->function_sp[index].virtual_flag != 0 && VSystem_Get_Log_Status(LOG_VIR) >= 1) {
    VSystem_Log(LOG_VIR, "%s:%s , VIRTUAL_FLAG = true , return %s.",
                "Vexlor::VFunction_Get_Run_Status", db->function_sp[index].name,
                d::status_name(status));
  }
  return static_cast<FUNC_STATUS>(status);
}

FUNC_STATUS VFunction_Get_Run_Status() { return VFunction_Get_Run_Status(d::own_index()); }

FUNC_STATUS VFunction_Get_Run_Status(const char* name) {
  int32_t index = VEXLOR_ERROR_POINT;
  if (!d::resolve_function(name, &index)) return SYS_ABORTED;
  return VFunction_Get_Run_Status(index);
}

FUNC_STATUS VFunction_Get_Event_Status(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? static_cast<FUNC_STATUS>(db->function_rt[index].event_status) : SYS_ABORTED;
}

FUNC_STATUS VFunction_Get_Event_Status() { return VFunction_Get_Event_Status(d::own_index()); }

bool VFunction_Get_Abort_Flag(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_rt[index].abort_flag != 0 : false;
}

bool VFunction_Get_Abort_Flag() { return VFunction_Get_Abort_Flag(d::own_index()); }

bool VFunction_Get_Free_Flag(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_rt[index].free_flag != 0 : false;
}

bool VFunction_Get_Free_Flag() { return VFunction_Get_Free_Flag(d::own_index()); }

bool VFunction_Get_Manual_Flag(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_rt[index].manual_flag != 0 : false;
}

bool VFunction_Get_Manual_Flag() { return VFunction_Get_Manual_Flag(d::own_index()); }

bool VFunction_Get_Exit_Flag(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_rt[index].exit_flag != 0 : false;
}

bool VFunction_Get_Exit_Flag() { return VFunction_Get_Exit_Flag(d::own_index()); }

const char* VFunction_Get_Regist_Info(int index) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index);
  return db ? db->function_rt[index].regist_info : d::empty_text();
}

const char* VFunction_Get_Regist_Info() { return VFunction_Get_Regist_Info(d::own_index()); }

void VFunction_Set_Run_Status(int index, FUNC_STATUS status) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    vexlor::os::store_relaxed(db->function_rt[index].run_status, static_cast<int32_t>(status));
  }
}

void VFunction_Set_Run_Status(FUNC_STATUS status) {
  VFunction_Set_Run_Status(d::own_index(), status);
}

void VFunction_Set_Event_Status(int index, FUNC_STATUS status) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    db->function_rt[index].event_status = status;
  }
}

void VFunction_Set_Event_Status(FUNC_STATUS status) {
  VFunction_Set_Event_Status(d::own_index(), status);
}

void VFunction_Set_Abort_Flag(int index, bool flag) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    db->function_rt[index].abort_flag = flag ? 1 : 0;
  }
}

void VFunction_Set_Abort_Flag(bool flag) { VFunction_Set_Abort_Flag(d::own_index(), flag); }

void VFunction_Set_Free_Flag(int index, bool flag) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    db->function_rt[index].free_flag = flag ? 1 : 0;
  }
}

void VFunction_Set_Free_Flag(bool flag) { VFunction_Set_Free_Flag(d::own_index(), flag); }

void VFunction_Set_Manual_Flag(int index, bool flag) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    db->function_rt[index].manual_flag = flag ? 1 : 0;
  }
}

void VFunction_Set_Manual_Flag(bool flag) { VFunction_Set_Manual_Flag(d::own_index(), flag); }

void VFunction_Set_Exit_Flag(int index, bool flag) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    db->function_rt[index].exit_flag = flag ? 1 : 0;
  }
}

void VFunction_Set_Exit_Flag(bool flag) { VFunction_Set_Exit_Flag(d::own_index(), flag); }

void VFunction_Set_Regist_Info(int index, const char* text) {
  if (MMAP_STRU* db = VEXLOR_CHECKED_DB(kFunction, index)) {
    d::push_registration(db->function_rt[index].regist_info, text);
  }
}

void VFunction_Set_Regist_Info(const char* text) {
  VFunction_Set_Regist_Info(d::own_index(), text);
}

// ---- Identity ------------------------------------------------------------------------------

int VFunction_Get_Point() {
  d::HUB_CONTEXT* ctx = d::context();
  return ctx ? ctx->own_index : VEXLOR_ERROR_POINT;
}

int VFunction_Get_Point(const char* name) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr || name == nullptr || name[0] == '\0') return VEXLOR_ERROR_POINT;
  char work[d::kNameSize];
  d::normalise_name(name, work);
  return d::scan_table(*db, IO_F, d::buffer_text(work));
}

void VFunction_Set_Point(int index) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr) return;
  bool already_set;
  {
    d::MapLock lock(d::map_mutex());
    already_set = ctx->own_index >= 0;
    if (!already_set) ctx->own_index = index;
  }
  if (already_set) {
    VPrint_Red(ctx->own_name, "Function Point由系统分配和设置, 用户不能设置");
  } else if (index < 0) {
    VPrint_Red(ctx->own_name, "Function Point : %d 不能是负值", index);
  }
}

const char* VFunction_Get_Parent_Points() {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr) return d::empty_text();
  d::MapLock lock(d::map_mutex());
  return ctx->parent_points_text.c_str();
}

void VFunction_Get_Parent_Points(std::string& out) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr) {
    out.clear();
    return;
  }
  d::MapLock lock(d::map_mutex());
  out = ctx->parent_points_text;
}

void VFunction_Get_Parent_Points(std::vector<int>** out) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr || out == nullptr) return;
  *out = &ctx->parent_points;
}

std::vector<std::string> VFunction_Get_Parent_Name_List() {
  std::vector<int32_t> parents;
  if (d::HUB_CONTEXT* ctx = d::context()) {
    d::MapLock lock(d::map_mutex());
    parents = ctx->parent_points;
  }
  std::vector<std::string> names;
  names.reserve(parents.size());
  for (int32_t parent : parents) names.emplace_back(VFunction_Get_Name(parent));
  return names;
}

void VFunction_Set_Parent_Points(const char* text) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr) return;
  const std::string chain = text ? text : "";
  std::vector<int32_t> parents;
  // Walk the chain piece by piece; a trailing "&" (as in "7&") ends it without a piece.
  std::string rest = chain;
  std::string piece;
  while (!rest.empty()) {
    VStr_Seperate_Char(std::string(rest), '&', piece, rest);
    parents.push_back(std::atoi(piece.c_str()));
  }
  d::MapLock lock(d::map_mutex());
  ctx->parent_points_text = chain;
  ctx->parent_points = std::move(parents);
}

void VFunction_Reset_Parent_Points() { VFunction_Set_Parent_Points(""); }

}  // namespace Vexlor
