// The machinery behind the named point accessors: how an item's indices fill its name format,
// the cache shapes, and the cached read and write of a point's value slot. The items themselves
// are rows of <vexlor/named/named_points.def>; their caches are declared here so that the
// hand-written accessors and the host link's items share them.
#pragma once

#include <vexlor/named.h>
#include <vexlor/points.h>
#include <vexlor/types.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "points/point_cache.h"
#include "points/typed_point.h"

namespace vexlor::detail {

// How an item's indices fill its name format (see named_points.def).
enum class NameRule { PLUS1, RAW, SUFFIX, ARM, LITERAL, PM_NAME };

// Slot j of a wafer position ends its name in entry j: "" for slot 0, then "2" to "30".
inline constexpr const char* kSlotSuffix[30] = {
    "",   "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "10", "11", "12", "13", "14", "15",
    "16", "17", "18", "19", "20", "21", "22", "23", "24", "25", "26", "27", "28", "29", "30"};

// Carrier IDs of carriers without an ID of their own, by carrier module (or wafer source).
inline constexpr const char* kDefaultCarrierId[6] = {"CID01", "CID02", "CID03",
                                                     "CID04", "CID05", "CID06"};

// The scheduler's name of process module i ("" for a negative i).
const char* process_module_name(int i);

// The lookup of an item's point: formats the name and searches the table of `type` into *out
// (-1 and the lookup's line when missing; nothing written when not attached). A slot without a
// name (a suffix beyond the table) is marked failed without a search.
template <NameRule R>
void find_named_point(int* out, Vexlor::IO_TYPE type, const char* format, int i, int j) {
  if constexpr (R == NameRule::PLUS1) {
    Vexlor::VIO_Find_PointF(out, type, format, i + 1, j + 1);
  } else if constexpr (R == NameRule::RAW) {
    Vexlor::VIO_Find_PointF(out, type, format, i, j);
  } else if constexpr (R == NameRule::SUFFIX) {
    if (j < 0 || j >= 30) {
      *out = Vexlor::VEXLOR_ERROR_POINT;
      return;
    }
    Vexlor::VIO_Find_PointF(out, type, format, i + 1, kSlotSuffix[j]);
  } else if constexpr (R == NameRule::ARM) {
    Vexlor::VIO_Find_PointF(out, type, format, 'A' + j, i + 1);
  } else if constexpr (R == NameRule::LITERAL) {
    Vexlor::VIO_Find_PointF(out, type, "%s", format);
  } else {
    Vexlor::VIO_Find_PointF(out, type, format, process_module_name(i));
  }
}

// A row whose names take the process module's name: a negative index names the point without
// module ("_Progress"), which has one slot of its own.
template <std::size_t N>
class ModuleNameRow {
 public:
  constexpr ModuleNameRow() noexcept = default;
  template <typename Lookup>
  int32_t get_with(int i, Lookup&& lookup) {
    return i < 0 ? negative_.get_with(lookup) : row_.get_with(i, lookup);
  }
  int32_t peek(int i) const noexcept { return i < 0 ? negative_.peek() : row_.peek(i); }

 private:
  PointRow<N> row_;
  PointSlot negative_;
};

template <NameRule R, std::size_t N>
using NamedRow = std::conditional_t<R == NameRule::PM_NAME, ModuleNameRow<N>, PointRow<N>>;

// The point of slot (i, j) of an item's cache, resolved on first use. The lookup is out of
// line: the resolved path, taken on every call but the first, then needs no stack frame.
template <NameRule R>
[[gnu::noinline]] int32_t resolve_named(PointSlot& slot, Vexlor::IO_TYPE type, const char* format,
                                        int, int) {
  return slot.get_with([&](int* out) { find_named_point<R>(out, type, format, 0, 0); });
}
template <NameRule R, typename Row>
[[gnu::noinline]] int32_t resolve_named(Row& row, Vexlor::IO_TYPE type, const char* format, int i,
                                        int) {
  return row.get_with(i, [&](int* out) { find_named_point<R>(out, type, format, i, 0); });
}
template <NameRule R, std::size_t N, std::size_t M>
[[gnu::noinline]] int32_t resolve_named(PointGrid<N, M>& grid, Vexlor::IO_TYPE type,
                                        const char* format, int i, int j) {
  return grid.get_with(i, j, [&](int* out) { find_named_point<R>(out, type, format, i, j); });
}

inline int32_t peek_named(const PointSlot& slot, int, int) { return slot.peek(); }
template <typename Row>
int32_t peek_named(const Row& row, int i, int) {
  return row.peek(i);
}
template <std::size_t N, std::size_t M>
int32_t peek_named(const PointGrid<N, M>& grid, int i, int j) {
  return grid.peek(i, j);
}

template <NameRule R, typename Cache>
inline int32_t named_point(Cache& cache, Vexlor::IO_TYPE type, const char* format, int i, int j) {
  const int32_t p = peek_named(cache, i, j);
  return p != Vexlor::VEXLOR_UNUSED_POINT ? p : resolve_named<R>(cache, type, format, i, j);
}

// The kinds of the tables' rows.
using NamedDIGITAL = DigitalKind;
using NamedANALOG = AnalogKind;
using NamedSTRING = StringKind;

// The value-slot operations the accessors stand for, as their index checks name them.
template <typename K>
struct MemNames;
template <>
struct MemNames<DigitalKind> {
  static constexpr const char* kRead = "VDigital_Read_Mem";
  static constexpr const char* kWrite = "VDigital_Write_Mem";
};
template <>
struct MemNames<AnalogKind> {
  static constexpr const char* kRead = "VAnalog_Read_Mem";
  static constexpr const char* kWrite = "VAnalog_Write_Mem";
};
template <>
struct MemNames<StringKind> {
  static constexpr const char* kRead = "VString_Read_Mem";
  static constexpr const char* kWrite = "VString_Write_Mem";
};

// A point beyond its table: the index check's line, then the getter's failure value. Out of
// line and reached by a tail call, like the first lookup below, so the read of a resolved
// point runs without a stack frame.
template <typename K>
[[gnu::noinline]] typename K::Value named_read_out_of_range(int32_t point) {
  report_bad_index(K::kIndex, point, MemNames<K>::kRead, __LINE__);
  return K::kMemFailure;
}

// The value at a resolved point, or the getter's failure value: the index check and the shown
// value spelled out in each getter, so a resolved read is one straight run of loads without
// calls, jumps or a stack frame.
template <typename K>
[[gnu::always_inline]] inline typename K::Value named_read(int32_t point) {
  if (point < 0) return K::kMemFailure;
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr) return K::kMemFailure;
  if (point >= table_size_of<K::kIndex>(*db)) return named_read_out_of_range<K>(point);
  const PointRef<K> p{db, point};
  const typename K::Slot& slot = p.slot();
  return has_input_driver(p.record()) ? load_value(slot.read_value) : load_value(slot.write_value);
}

// Writes the value slot of a resolved point; false when it is not resolved.
template <typename K>
bool named_write(int32_t point, typename K::Value value) {
  if (point < 0) return false;
  set_slot<K>(point, &K::Slot::write_value, value, Site{MemNames<K>::kWrite, __LINE__});
  return true;
}

// A getter's first call: the lookup, then the read.
template <typename K, NameRule R, typename Cache>
[[gnu::noinline]] typename K::Value named_get_first(Cache& cache, const char* format, int i,
                                                    int j) {
  return named_read<K>(resolve_named<R>(cache, K::kType, format, i, j));
}

template <typename K, NameRule R, typename Cache>
[[gnu::always_inline]] inline typename K::Value named_get(Cache& cache, const char* format, int i,
                                                          int j) {
  const int32_t p = peek_named(cache, i, j);
  if (p == Vexlor::VEXLOR_UNUSED_POINT) return named_get_first<K, R>(cache, format, i, j);
  return named_read<K>(p);
}

template <typename K, NameRule R, typename Cache>
bool named_set(Cache& cache, const char* format, int i, int j, typename K::Value value) {
  return named_write<K>(named_point<R>(cache, K::kType, format, i, j), value);
}

// The caches of the items, one per row of the table (none for BY_NAME and FORWARD rows), and
// the names of the single items for the host link's items that share them.
namespace named {

#define VEXLOR_NAMED_CACHE_BOTH(type, cache) extern type cache;
#define VEXLOR_NAMED_CACHE_OWN_GET(type, cache) extern type cache;
#define VEXLOR_NAMED_CACHE_OWN_SET(type, cache) extern type cache;
#define VEXLOR_NAMED_CACHE_OWN(type, cache) extern type cache;
#define VEXLOR_NAMED_CACHE_BY_NAME(type, cache)
#define VEXLOR_NAMED_CACHE_FORWARD(type, cache)

#define VEXLOR_NAMED_POINT(item, kind, name, mode)                                             \
  VEXLOR_NAMED_CACHE_##mode(PointSlot, item##_slot) inline constexpr const char* item##_name = \
      name;                                                                                    \
  inline constexpr Vexlor::IO_TYPE item##_type = Named##kind::kType;
#define VEXLOR_NAMED_ROW(item, kind, n, rule, format, mode) \
  VEXLOR_NAMED_CACHE_##mode(VEXLOR_NAMED_ROW_TYPE(rule, n), \
                            item##_row) inline constexpr const char* item##_format = format;
#define VEXLOR_NAMED_GRID(item, kind, n, m, rule, format, mode) \
  VEXLOR_NAMED_CACHE_##mode(VEXLOR_NAMED_GRID_TYPE(n, m),       \
                            item##_grid) inline constexpr const char* item##_format = format;
#define VEXLOR_NAMED_SETTER_NAME(item, format) \
  inline constexpr const char* item##_setter_format = format;
#define VEXLOR_NAMED_ROW_TYPE(rule, n) NamedRow<NameRule::rule, n>
#define VEXLOR_NAMED_GRID_TYPE(n, m) PointGrid<n, m>
#include <vexlor/named/named_points.def>
#undef VEXLOR_NAMED_ROW_TYPE
#undef VEXLOR_NAMED_GRID_TYPE
#undef VEXLOR_NAMED_CACHE_BOTH
#undef VEXLOR_NAMED_CACHE_OWN_GET
#undef VEXLOR_NAMED_CACHE_OWN_SET
#undef VEXLOR_NAMED_CACHE_OWN
#undef VEXLOR_NAMED_CACHE_BY_NAME
#undef VEXLOR_NAMED_CACHE_FORWARD

}  // namespace named
}  // namespace vexlor::detail
