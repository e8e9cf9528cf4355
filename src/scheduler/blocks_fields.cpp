// The field items of the eight scheduler blocks, expanded from the block tables: one getter and
// one setter per row, each a bounds check and one load or store in shared memory.
#include "scheduler/block_access.h"

namespace vexlor::detail::sch {

char* block_start(Block block) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr) return nullptr;
  switch (block) {
    case Block::RBTANI:
      return BlockOf<Block::RBTANI>::in(*db);
    case Block::JOB:
      return BlockOf<Block::JOB>::in(*db);
    case Block::CM:
      return BlockOf<Block::CM>::in(*db);
    case Block::BM:
      return BlockOf<Block::BM>::in(*db);
    case Block::PM:
      return BlockOf<Block::PM>::in(*db);
    case Block::TM:
      return BlockOf<Block::TM>::in(*db);
    case Block::WAFER:
      return BlockOf<Block::WAFER>::in(*db);
    case Block::UTIL:
      return BlockOf<Block::UTIL>::in(*db);
  }
  return nullptr;
}

}  // namespace vexlor::detail::sch

namespace Vexlor {

namespace s = vexlor::detail::sch;

// clang-format off
#define VEXLOR_SCH_ITEM0(block, item, type, offset) \
  VEXLOR_SCH_VALUE_##type VSCH_Get_##item() { return s::get<s::type>(s::field::item, {}); } \
  bool VSCH_Set_##item(VEXLOR_SCH_VALUE_##type value) { \
    return s::set<s::type>(s::field::item, {}, value); \
  }
#define VEXLOR_SCH_ITEM1(block, item, type, offset, ni, si) \
  VEXLOR_SCH_VALUE_##type VSCH_Get_##item(int i) { return s::get<s::type>(s::field::item, {i}); } \
  bool VSCH_Set_##item(int i, VEXLOR_SCH_VALUE_##type value) { \
    return s::set<s::type>(s::field::item, {i}, value); \
  }
#define VEXLOR_SCH_ITEM2(block, item, type, offset, ni, si, nj, sj) \
  VEXLOR_SCH_VALUE_##type VSCH_Get_##item(int i, int j) { \
    return s::get<s::type>(s::field::item, {i, j}); \
  } \
  bool VSCH_Set_##item(int i, int j, VEXLOR_SCH_VALUE_##type value) { \
    return s::set<s::type>(s::field::item, {i, j}, value); \
  }
#define VEXLOR_SCH_ITEM3(block, item, type, offset, ni, si, nj, sj, nk, sk) \
  VEXLOR_SCH_VALUE_##type VSCH_Get_##item(int i, int j, int k) { \
    return s::get<s::type>(s::field::item, {i, j, k}); \
  } \
  bool VSCH_Set_##item(int i, int j, int k, VEXLOR_SCH_VALUE_##type value) { \
    return s::set<s::type>(s::field::item, {i, j, k}, value); \
  }
#define VEXLOR_SCH_ITEM4(block, item, type, offset, ni, si, nj, sj, nk, sk, nl, sl) \
  VEXLOR_SCH_VALUE_##type VSCH_Get_##item(int i, int j, int k, int l) { \
    return s::get<s::type>(s::field::item, {i, j, k, l}); \
  } \
  bool VSCH_Set_##item(int i, int j, int k, int l, VEXLOR_SCH_VALUE_##type value) { \
    return s::set<s::type>(s::field::item, {i, j, k, l}, value); \
  }
#include <vexlor/scheduler/blocks.def>
#include <vexlor/scheduler/items_end.h>
// clang-format on

}  // namespace Vexlor
