// The name index of the image: placing, filling and extending it. Lookups are inline in
// name_index.h.
#include "db/name_index.h"

#include <cstring>

#include "os/prefetch.h"

namespace vexlor::detail {
namespace {

constexpr uint64_t kFullFlag = 1;

// Slots of the index of `records` records: a power of two at least twice the records plus
// room for renames, so probe runs stay short.
uint64_t slot_count(uint32_t records) {
  const uint64_t wanted = 2 * uint64_t{records} + 64;
  uint64_t n = 64;
  while (n < wanted) n *= 2;
  return n;
}

constexpr DbTable kDefinitions[kNameTables] = {DbTable::DigitalDefs, DbTable::AnalogDefs,
                                               DbTable::StringDefs};

uint32_t records_of(const DbHeader& h, NameTable table) {
  return h.tables[static_cast<int>(kDefinitions[static_cast<int>(table)])].capacity;
}

// The 64-byte name field of a record (every definition record starts with its name).
const char* record_name(const void* image, NameTable table, uint32_t index) {
  return static_cast<const char*>(
      table_record(const_cast<void*>(image), kDefinitions[static_cast<int>(table)], index));
}

std::string_view field_name(const char* field) {
  return std::string_view(field, strnlen(field, 64));
}

// Adds one slot for record `index` under `name`, unless it is there already. Slots are only
// ever filled (compare-and-swap from empty), so several processes may add at once.
void add(const NameIndexView& v, std::string_view name, uint32_t index) {
  const uint64_t word = uint64_t{name_hash(name)} << 32 | (uint64_t{index} + 1);
  uint64_t i = (word >> 32) & v.mask;
  for (uint64_t probes = 0; probes <= v.mask; ++probes, i = (i + 1) & v.mask) {
    uint64_t seen = v.slots[i].load(std::memory_order_acquire);
    if (seen == 0 && v.slots[i].compare_exchange_strong(seen, word, std::memory_order_acq_rel)) {
      // Past three quarters, probe runs grow long: lookups go back to scanning.
      const uint64_t filled = v.state[1].fetch_add(1, std::memory_order_relaxed) + 1;
      if (filled * 4 > (v.mask + 1) * 3) v.state[0].fetch_or(kFullFlag, std::memory_order_release);
      return;
    }
    if (seen == word) return;
  }
  v.state[0].fetch_or(kFullFlag, std::memory_order_release);
}

// The index of `table` whatever its state.
// Hot: on the path of a lookup, gathered with it on a few code pages (points/lookup.cpp).
[[gnu::hot]] NameIndexView locate(const void* image, NameTable table) {
  const DbHeader& h = *static_cast<const DbHeader*>(image);
  const DbTableInfo& info = h.tables[static_cast<int>(DbTable::NameIndex)];
  uint64_t start = 0, total = 0;
  for (int t = 0; t < kNameTables; ++t) {
    const uint64_t words = name_index_words(records_of(h, static_cast<NameTable>(t)));
    if (t < static_cast<int>(table)) start += words;
    total += words;
  }
  if (info.capacity < total) return {};  // an image without index
  auto* words =
      static_cast<NameIndexWord*>(table_record(const_cast<void*>(image), DbTable::NameIndex, 0));
  // The state words are plain 64-bit fields of the header, accessed atomically in place.
  auto* state = reinterpret_cast<NameIndexWord*>(
      const_cast<uint64_t*>(h.name_index_state[static_cast<int>(table)]));
  return {words + start, slot_count(records_of(h, table)) - 1, state};
}

}  // namespace

uint64_t name_index_words(uint32_t records) { return slot_count(records); }

// FNV-1a over the name with ASCII letters folded, as names are compared.
[[gnu::hot]] uint32_t name_hash(std::string_view name) {
  uint32_t h = 2166136261u;
  for (const char c : name) {
    const unsigned char b = static_cast<unsigned char>(c);
    h = (h ^ (b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b)) * 16777619u;
  }
  return h;
}

[[gnu::hot]] NameIndexView name_index_of(const void* image, NameTable table) {
  const NameIndexView v = locate(image, table);
  if (v.slots == nullptr || (v.state[0].load(std::memory_order_acquire) & kFullFlag) != 0) {
    return {};
  }
  return v;
}

void prefetch_name_index(const void* image) {
  const DbHeader& h = *static_cast<const DbHeader*>(image);
  const DbTableInfo& info = h.tables[static_cast<int>(DbTable::NameIndex)];
  os::prefetch_pages(static_cast<const char*>(image) + info.offset,
                     uint64_t{info.capacity} * info.record_size);
}

void build_name_index(void* image) {
  const DbHeader& h = *static_cast<const DbHeader*>(image);
  for (int t = 0; t < kNameTables; ++t) {
    const auto table = static_cast<NameTable>(t);
    const NameIndexView v = locate(image, table);
    if (v.slots == nullptr) continue;
    const uint32_t records = records_of(h, table);
    for (uint32_t i = 0; i < records; ++i) add(v, field_name(record_name(image, table, i)), i);
  }
}

void name_index_add(const Vexlor::MMAP_STRU& db, NameTable table, int32_t index) {
  const void* image = image_base(db);
  const NameIndexView v = name_index_of(image, table);
  if (v.slots == nullptr || index < 0 ||
      static_cast<uint32_t>(index) >= records_of(*static_cast<const DbHeader*>(image), table)) {
    return;
  }
  add(v, field_name(record_name(image, table, static_cast<uint32_t>(index))), index);
}

}  // namespace vexlor::detail
