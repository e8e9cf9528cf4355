// The module table: finding modules by name or ID, their IDs, names, alarm bases,
// annotations and sides.
#include <cstdarg>
#include <cstdio>
#include <string_view>

#include "frame/context.h"
#include "frame/index_check.h"
#include "util/text.h"
#include "vexlor/points.h"

namespace vexlor::detail {
namespace {

using Vexlor::MEM_MODULE_SP_STRU;

// A null or empty text never names a module.
std::string_view module_text(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

// The first module record whose name (else, with `then_id`, whose ID) equals text exactly.
const MEM_MODULE_SP_STRU* find_record(const Vexlor::MMAP_STRU& db, std::string_view text,
                                      bool by_name, bool then_id) {
  if (text.empty()) return nullptr;
  const int32_t count = db.system_block->module_count;
  const MEM_MODULE_SP_STRU* modules = db.module_sp;
  if (by_name) {
    for (int32_t i = 0; i < count; ++i) {
      if (field_text(modules[i].name) == text) return &modules[i];
    }
  }
  if (!by_name || then_id) {
    for (int32_t i = 0; i < count; ++i) {
      if (field_text(modules[i].id) == text) return &modules[i];
    }
  }
  return nullptr;
}

// Sides searched per kind.
constexpr int kSideLimits[4] = {6, 100, 10, 100};

int find_side(Vexlor::MODULE_TYPE kind, const char* text) {
  Vexlor::MMAP_STRU* db = attached_db();
  const std::string_view t = module_text(text);
  if (db == nullptr || t.empty()) return -1;
  const Vexlor::MEM_SYSTEM_STRU& s = *db->system_block;
  for (int side = 0; side < kSideLimits[kind]; ++side) {
    if (field_text(s.module_names[kind][side]) == t) return side;
  }
  for (int side = 0; side < kSideLimits[kind]; ++side) {
    if (field_text(s.module_ids[kind][side]) == t) return side;
  }
  return -1;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VModule_Find(MODULE_MAP* map, const char* text) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr || ctx->db == nullptr) return false;
  const std::string_view t = d::module_text(text);
  {
    d::MapLock lock(d::map_mutex());
    auto it = ctx->module_cache.find(t);
    if (it != ctx->module_cache.end()) {
      if (map) *map = it->second;
      return true;
    }
  }
  const MEM_MODULE_SP_STRU* m = d::find_record(*ctx->db, t, true, true);
  if (m == nullptr) return false;
  const MODULE_MAP found{m->side, static_cast<MODULE_TYPE>(m->kind)};
  if (map) *map = found;
  // The ID is remembered only when no module has it as its name: names win, whatever was
  // looked up first.
  const std::string_view id = d::field_text(m->id);
  const bool id_is_a_name = d::find_record(*ctx->db, id, true, false) != nullptr;
  d::MapLock lock(d::map_mutex());
  ctx->module_cache.emplace(std::string(d::field_text(m->name)), found);
  if (!id_is_a_name) ctx->module_cache.emplace(std::string(id), found);
  return true;
}

const char* VModule_Get_ID(int point) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kModule, point);
  return db ? db->module_sp[point].id : "";
}

const char* VModule_Get_Name(int point) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kModule, point);
  return db ? db->module_sp[point].name : "";
}

int VModule_Get_Alarm_Base(int point) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kModule, point);
  return db ? db->module_sp[point].alarm_base : 0;
}

const char* VModule_Get_ID(const char* name) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return "";
  const MEM_MODULE_SP_STRU* m = d::find_record(*db, d::module_text(name), true, false);
  return m ? m->id : "";
}

const char* VModule_Get_Name(const char* id) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return "";
  const MEM_MODULE_SP_STRU* m = d::find_record(*db, d::module_text(id), false, false);
  return m ? m->name : "";
}

const char* VModule_Get_NameF(const char* format, ...) {
  char id[d::kNameSize] = "";
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(id, sizeof id, format, args);
    va_end(args);
  }
  return VModule_Get_Name(id);
}

void VModule_Get_ID_List(std::vector<std::string>& ids) {
  ids.clear();
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return;
  for (int32_t i = 0; i < db->system_block->module_count; ++i) {
    ids.emplace_back(d::field_text(db->module_sp[i].id));
  }
}

void VModule_Get_Name_List(std::vector<std::string>& names) {
  names.clear();
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return;
  for (int32_t i = 0; i < db->system_block->module_count; ++i) {
    names.emplace_back(d::field_text(db->module_sp[i].name));
  }
}

int VModule_Get_Alarm_Base(const char* text) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return 0;
  const MEM_MODULE_SP_STRU* m = d::find_record(*db, d::module_text(text), true, true);
  return m ? m->alarm_base : VEXLOR_UNUSED_POINT;
}

const char* VModule_Get_Annotation(int kind, int side) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return nullptr;
  if (kind < 0 || kind > 3 || side < 0 || side > 99) return "";
  return db->system_block->module_annotations[kind][side];
}

const char* VModule_Get_Annotation(const char* text) {
  MODULE_MAP map;
  if (!VModule_Find(&map, text)) return "";
  return VModule_Get_Annotation(map.kind, map.side);
}

int VModule_Get_CM_Side(const char* text) { return d::find_side(MODULE_CM, text); }
int VModule_Get_BM_Side(const char* text) { return d::find_side(MODULE_BM, text); }
int VModule_Get_TM_Side(const char* text) { return d::find_side(MODULE_TM, text); }
int VModule_Get_PM_Side(const char* text) { return d::find_side(MODULE_PM, text); }

}  // namespace Vexlor
