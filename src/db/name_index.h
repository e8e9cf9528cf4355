// The name index of the image: for each of the digital, analog and string definition tables a
// hash table from a point name (ASCII letter case ignored) to the records that bear it, so the
// first lookup of a name in any process costs a few probes instead of a scan of the table.
//
// It is written by the builder into its own table of the image and shared by every process.
// Each slot holds one record under the hash of its name. Lookups confirm every candidate
// against the record itself and take the lowest matching index, so the first match still wins
// and an entry whose record was renamed since is simply passed over. When a name is written
// through the library's setters (Set_Name, Set_Shape) the record is added under its new name
// (lock-free, from any process), so renamed points are found by their new names. A name
// written into shared memory by other means is not indexed: it is found only by the scan that
// lookups fall back to when an index cannot answer (missing, or marked full after many renames).
#pragma once

#include <vexlor/records.h>

#include <atomic>
#include <cstdint>
#include <string_view>

#include "db/db_image.h"

namespace vexlor::detail {

// The tables that have an index, in their order in the index table.
enum class NameTable { kDigital, kAnalog, kString };
inline constexpr int kNameTables = 3;

// What name_index_find returns when the index cannot answer and the table must be scanned.
inline constexpr int32_t kNoNameIndex = -2;

// One slot: the name's hash in the high half, record index + 1 in the low half; 0 is empty.
static_assert(sizeof(NameIndexWord) == sizeof(uint64_t) &&
                  alignof(NameIndexWord) == alignof(uint64_t) && NameIndexWord::is_always_lock_free,
              "the name index is shared between processes");

// Words the index of a table of `records` records takes in the image.
uint64_t name_index_words(uint32_t records);

// The hash under which a name is indexed.
uint32_t name_hash(std::string_view name);

// The index of one table in a mapped image; `slots` is null when it cannot answer.
struct NameIndexView {
  NameIndexWord* slots = nullptr;
  uint64_t mask = 0;
  NameIndexWord* state = nullptr;  // in the header: [0] bit 0 set when full, [1] slots filled
};
NameIndexView name_index_of(const void* image, NameTable table);

// Maps the pages of the whole index of a mapped image into this process (at attach), so a
// first lookup faults in at most the page of the record that confirms it.
void prefetch_name_index(const void* image);

// Indexes every record of the three definition tables of a new image (the builder).
void build_name_index(void* image);

// Indexes record `index` of `table` under the name it bears now (after a setter renamed it).
void name_index_add(const Vexlor::MMAP_STRU& db, NameTable table, int32_t index);

// The lowest record index below `count` indexed under the hash of `name` for which
// `matches(index)` holds; -1 when there is none; kNoNameIndex when the table must be scanned.
template <typename Matches>
int32_t name_index_find(const Vexlor::MMAP_STRU& db, NameTable table, std::string_view name,
                        int32_t count, Matches&& matches) {
  const NameIndexView v = name_index_of(image_base(db), table);
  if (v.slots == nullptr) return kNoNameIndex;
  const uint32_t hash = name_hash(name);
  int32_t best = -1;
  uint64_t i = hash & v.mask;
  for (uint64_t probes = 0; probes <= v.mask; ++probes, i = (i + 1) & v.mask) {
    const uint64_t word = v.slots[i].load(std::memory_order_acquire);
    if (word == 0) break;
    if (static_cast<uint32_t>(word >> 32) != hash) continue;
    const int64_t index = int64_t{static_cast<uint32_t>(word)} - 1;
    if (index < count && (best < 0 || index < best) && matches(static_cast<int32_t>(index))) {
      best = static_cast<int32_t>(index);
    }
  }
  return best;
}

}  // namespace vexlor::detail
