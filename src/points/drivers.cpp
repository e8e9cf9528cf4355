// The driver table: finding drivers by name, and their names, types and parameters, read and
// written in place in shared memory.
#include <string_view>

#include "frame/context.h"
#include "frame/index_check.h"
#include "points/lookup.h"
#include "vexlor/points.h"

namespace vexlor::detail {
namespace {

constexpr int kDriverParams = 10;

// The driver record behind a checked database (null when the check failed).
Vexlor::MEM_DRIVER_SP_STRU* record(Vexlor::MMAP_STRU* db, int point) {
  return db ? &db->driver_sp[point] : nullptr;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VDriver_Find_Point(int* point, const char* name) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return false;
  if (point) *point = VEXLOR_ERROR_POINT;
  const std::string_view wanted = name ? std::string_view(name) : std::string_view();
  const int32_t count = db->system_block->driver_count;
  for (int32_t i = 0; i < count; ++i) {
    if (d::name_matches(db->driver_sp[i].name, wanted)) {
      if (point) *point = i;
      return true;
    }
  }
  VPrint_Red(d::own_name(), "驱动量:%s 未识别", name ? name : "");
  return false;
}

const char* VDriver_Get_Name(int point) {
  const MEM_DRIVER_SP_STRU* r = d::record(VEXLOR_CHECKED_DB(kDriver, point), point);
  return r ? r->name : "";
}

DRIVER_TYPE VDriver_Get_Type(int point) {
  const MEM_DRIVER_SP_STRU* r = d::record(VEXLOR_CHECKED_DB(kDriver, point), point);
  return DRIVER_TYPE{r ? r->type : 0};
}

void VDriver_Set_Type(int point, DRIVER_TYPE type) {
  MEM_DRIVER_SP_STRU* r = d::record(VEXLOR_CHECKED_DB(kDriver, point), point);
  if (r) r->type = type;
}

void VDriver_Get_Param(int point, int params[10]) {
  const MEM_DRIVER_SP_STRU* r = d::record(VEXLOR_CHECKED_DB(kDriver, point), point);
  if (r == nullptr || params == nullptr) return;
  for (int i = 0; i < d::kDriverParams; ++i) params[i] = r->params[i];
}

void VDriver_Set_Param(int point, const int params[10]) {
  MEM_DRIVER_SP_STRU* r = d::record(VEXLOR_CHECKED_DB(kDriver, point), point);
  if (r == nullptr || params == nullptr) return;
  for (int i = 0; i < d::kDriverParams; ++i) r->params[i] = params[i];
}

}  // namespace Vexlor
