// Module identity as the scheduler names modules: the per-kind ID and name tables of the system
// block.
#include <cstddef>

#include "frame/context.h"
#include "vexlor/records.h"
#include "vexlor/scheduler.h"

namespace vexlor::detail {
namespace {

// The text at [type][index] of one of the system block's per-kind tables, or "".
template <std::size_t Kinds, std::size_t Modules, std::size_t Width>
const char* module_text(char (Vexlor::MEM_SYSTEM_STRU::*table)[Kinds][Modules][Width], int type,
                        int index) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr || type < 0 || index < 0 || static_cast<std::size_t>(type) >= Kinds ||
      static_cast<std::size_t>(index) >= Modules) {
    return "";
  }
  return (db->system_block->*table)[type][index];
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

const char* VSCH_Get_Module_ID(int type, int index) {
  return vexlor::detail::module_text(&MEM_SYSTEM_STRU::module_ids, type, index);
}

const char* VSCH_Get_Module_Name(int type, int index) {
  return vexlor::detail::module_text(&MEM_SYSTEM_STRU::module_names, type, index);
}

}  // namespace Vexlor
