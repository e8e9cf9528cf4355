// The machinery behind the scheduler block items: where each item lies (block, offset, entries
// and stride of each index, from the block tables), the bounds check that keeps every access
// inside its block, and the load and store of each item type. The items are rows of
// <vexlor/scheduler/blocks.def>; their layouts are checked here against the records.
#pragma once

#include <vexlor/records.h>
#include <vexlor/scheduler.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "frame/context.h"

namespace vexlor::detail::sch {

enum class Block { RBTANI, JOB, CM, BM, PM, TM, WAFER, UTIL };

// The record type and descriptor member of each block.
template <Block B>
struct BlockOf;
#define VEXLOR_SCH_BLOCK_OF(tag, Record, member)                                          \
  template <>                                                                             \
  struct BlockOf<Block::tag> {                                                            \
    using Type = Vexlor::Record;                                                          \
    static char* in(Vexlor::MMAP_STRU& db) { return reinterpret_cast<char*>(db.member); } \
  };
VEXLOR_SCH_BLOCK_OF(RBTANI, MEM_SCH_RBTANI_STRU, sch_rbtani)
VEXLOR_SCH_BLOCK_OF(JOB, MEM_SCH_JOB_STRU, sch_job)
VEXLOR_SCH_BLOCK_OF(CM, MEM_SCH_CM_STRU, sch_cm)
VEXLOR_SCH_BLOCK_OF(BM, MEM_SCH_BM_STRU, sch_bm)
VEXLOR_SCH_BLOCK_OF(PM, MEM_SCH_PM_STRU, sch_pm)
VEXLOR_SCH_BLOCK_OF(TM, MEM_SCH_TM_STRU, sch_tm)
VEXLOR_SCH_BLOCK_OF(WAFER, MEM_SCH_WAFER_STRU, sch_wafer)
VEXLOR_SCH_BLOCK_OF(UTIL, MEM_SCH_UTIL_STRU, sch_util)
#undef VEXLOR_SCH_BLOCK_OF

// The item types of the tables, by their value type.
struct BOOL {
  using Value = bool;
  static constexpr std::size_t kBytes = 1;
};
struct INT {
  using Value = int;
  static constexpr std::size_t kBytes = 4;
};
struct DOUBLE {
  using Value = double;
  static constexpr std::size_t kBytes = 8;
};
struct TEXT {
  using Value = const char*;
  static constexpr std::size_t kBytes = 64;
};
struct ORDER {
  using Value = Vexlor::WAFER_ORDER*;
  static constexpr std::size_t kBytes = 4;
};

struct Dim {
  int count;   // entries of this index
  int stride;  // bytes from one entry to the next
};

// Where an item lies: block, byte offset, and up to four indices.
struct Field {
  Block block;
  int offset;
  int rank;
  Dim dims[4];
};

// The block's start in the attached database; null when the library is not started.
char* block_start(Block block);

// The address of the item's entry at `index`, or null when an index is outside its entries or
// the library is not started.
inline char* locate(const Field& f, std::initializer_list<int> index) {
  int offset = f.offset;
  int d = 0;
  for (int i : index) {
    if (i < 0 || i >= f.dims[d].count) return nullptr;
    offset += i * f.dims[d].stride;
    ++d;
  }
  char* start = block_start(f.block);
  return start == nullptr ? nullptr : start + offset;
}

// A count read from shared memory, kept within the entries the blocks have, so that a count
// gone wrong cannot make a scan run on for billions of rounds.
inline int bounded(int count, int entries) {
  return count < 0 ? 0 : (count > entries ? entries : count);
}
// Entries per module kind: modules, and slots (fingers) of each.
inline constexpr int kCarriers = 6, kBuffers = 100, kTransfers = 10, kProcesses = 100;
inline constexpr int kCarrierSlots = 25, kBufferSlots = 25, kFingers = 4, kProcessSlots = 75;

// WAFER_ORDER references in their 4-byte slots (wafer_order.cpp).
uint32_t encode_order(Vexlor::WAFER_ORDER* order);
Vexlor::WAFER_ORDER* decode_order(uint32_t slot);

// One load or store of the field's bytes: the blocks are shared memory that other processes
// change, so values go through memcpy of exactly the field's width.
inline bool load(BOOL, const char* at) { return *at != 0; }
inline int load(INT, const char* at) {
  int32_t v;
  std::memcpy(&v, at, sizeof v);
  return v;
}
inline double load(DOUBLE, const char* at) {
  double v;
  std::memcpy(&v, at, sizeof v);
  return v;
}
inline const char* load(TEXT, const char* at) { return at; }
inline Vexlor::WAFER_ORDER* load(ORDER, const char* at) {
  uint32_t v;
  std::memcpy(&v, at, sizeof v);
  return decode_order(v);
}

inline bool store(BOOL, char* at, bool value) {
  *at = value ? 1 : 0;
  return true;
}
inline bool store(INT, char* at, int value) {
  const int32_t v = value;
  std::memcpy(at, &v, sizeof v);
  return true;
}
inline bool store(DOUBLE, char* at, double value) {
  std::memcpy(at, &value, sizeof value);
  return true;
}
inline bool store(TEXT, char* at, const char* value) {
  if (value == nullptr) return false;
  std::snprintf(at, TEXT::kBytes, "%s", value);
  return true;
}
inline bool store(ORDER, char* at, Vexlor::WAFER_ORDER* value) {
  const uint32_t v = encode_order(value);
  std::memcpy(at, &v, sizeof v);
  return true;
}

// What a getter returns when it cannot read.
inline bool failure(BOOL) { return false; }
inline int failure(INT) { return 0; }
inline double failure(DOUBLE) { return 0.0; }
inline const char* failure(TEXT) { return ""; }
inline Vexlor::WAFER_ORDER* failure(ORDER) { return nullptr; }

template <typename T>
typename T::Value get(const Field& f, std::initializer_list<int> index) {
  const char* at = locate(f, index);
  return at == nullptr ? failure(T{}) : load(T{}, at);
}

template <typename T>
bool set(const Field& f, std::initializer_list<int> index, typename T::Value value) {
  char* at = locate(f, index);
  return at != nullptr && store(T{}, at, value);
}

// Every item of the tables, by name: field::CM_Slot_Inch and so on.
namespace field {
// clang-format off
#define VEXLOR_SCH_ITEM0(block, item, type, offset) \
  inline constexpr Field item{Block::block, offset, 0, {}};
#define VEXLOR_SCH_ITEM1(block, item, type, offset, ni, si) \
  inline constexpr Field item{Block::block, offset, 1, {{ni, si}}};
#define VEXLOR_SCH_ITEM2(block, item, type, offset, ni, si, nj, sj) \
  inline constexpr Field item{Block::block, offset, 2, {{ni, si}, {nj, sj}}};
#define VEXLOR_SCH_ITEM3(block, item, type, offset, ni, si, nj, sj, nk, sk) \
  inline constexpr Field item{Block::block, offset, 3, {{ni, si}, {nj, sj}, {nk, sk}}};
#define VEXLOR_SCH_ITEM4(block, item, type, offset, ni, si, nj, sj, nk, sk, nl, sl) \
  inline constexpr Field item{Block::block, offset, 4, {{ni, si}, {nj, sj}, {nk, sk}, {nl, sl}}};
#define VEXLOR_SCH_STORE1 VEXLOR_SCH_ITEM1
#define VEXLOR_SCH_STORE2 VEXLOR_SCH_ITEM2
#include <vexlor/scheduler/blocks.def>
#include <vexlor/scheduler/items_end.h>
// clang-format on
}  // namespace field

// The tables agree with the records: each item's offset, its total extent and the extent of
// each inner index are those of the record's member, and its last stride is its type's width.
// clang-format off
#define VEXLOR_SCH_RECORD(block) BlockOf<Block::block>::Type
#define VEXLOR_SCH_CHECK(block, item, type, offset, extent, last) \
  static_assert(offsetof(VEXLOR_SCH_RECORD(block), item) == offset, #item " offset"); \
  static_assert(sizeof(VEXLOR_SCH_RECORD(block)::item) == (extent), #item " extent"); \
  static_assert((last) == type::kBytes, #item " stride of the last index");
#define VEXLOR_SCH_ITEM0(block, item, type, offset) \
  VEXLOR_SCH_CHECK(block, item, type, offset, type::kBytes, type::kBytes)
#define VEXLOR_SCH_ITEM1(block, item, type, offset, ni, si) \
  VEXLOR_SCH_CHECK(block, item, type, offset, (ni) * (si), si)
#define VEXLOR_SCH_ITEM2(block, item, type, offset, ni, si, nj, sj) \
  VEXLOR_SCH_CHECK(block, item, type, offset, (ni) * (si), sj) \
  static_assert((nj) * (sj) == (si), #item " stride of i");
#define VEXLOR_SCH_ITEM3(block, item, type, offset, ni, si, nj, sj, nk, sk) \
  VEXLOR_SCH_CHECK(block, item, type, offset, (ni) * (si), sk) \
  static_assert((nj) * (sj) == (si) && (nk) * (sk) == (sj), #item " strides");
#define VEXLOR_SCH_ITEM4(block, item, type, offset, ni, si, nj, sj, nk, sk, nl, sl) \
  VEXLOR_SCH_CHECK(block, item, type, offset, (ni) * (si), sl) \
  static_assert((nj) * (sj) == (si) && (nk) * (sk) == (sj) && (nl) * (sl) == (sk), #item " strides");
#define VEXLOR_SCH_STORE1 VEXLOR_SCH_ITEM1
#define VEXLOR_SCH_STORE2 VEXLOR_SCH_ITEM2
#include <vexlor/scheduler/blocks.def>
#include <vexlor/scheduler/items_end.h>
#undef VEXLOR_SCH_CHECK
#undef VEXLOR_SCH_RECORD
// clang-format on

}  // namespace vexlor::detail::sch
