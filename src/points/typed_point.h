// The one structure behind the digital, analog and string point families: a traits struct per
// kind says what differs (records, value type, tables, index check words, the raw access of
// the shared-database layer, the engine request kind), and the operations every family shares
// are written once against it. Exported functions are thin wrappers that pass their own name
// and line (VEXLOR_SITE) for the index check line.
#pragma once

#include <vexlor/frame.h>
#include <vexlor/points.h>
#include <vexlor/records.h>
#include <vexlor/types.h>
#include <vexlor/vmmap.h>

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "db/name_index.h"
#include "frame/context.h"
#include "frame/index_check.h"
#include "os/atomic_field.h"
#include "points/name_cache.h"
#include "util/charset.h"
#include "util/text.h"

namespace vexlor::detail {

// The operation that reports a bad index, and its source line.
struct Site {
  const char* operation;
  int line;
};

}  // namespace vexlor::detail

#define VEXLOR_SITE (::vexlor::detail::Site{__func__, __LINE__})

namespace vexlor::detail {

// What a kind's table pointers and raw access are: its record and slot types, its value type,
// its lookup type and index check words, the descriptor's two table pointers and the two
// members of the shared-database layer that read and write its values.
template <typename R, typename S, typename V, Vexlor::IO_TYPE T, IndexKind I, auto Records,
          auto Slots, auto Read, auto Write>
struct PointKindOf {
  using Record = R;
  using Slot = S;
  using Value = V;
  static constexpr Vexlor::IO_TYPE kType = T;
  static constexpr IndexKind kIndex = I;
  static Record* records(const Vexlor::MMAP_STRU& db) { return db.*Records; }
  static Slot* slots(const Vexlor::MMAP_STRU& db) { return db.*Slots; }
  // `out` is a Value, or a 1024-byte buffer for string points (null: refresh the slot only).
  template <typename Out>
  static bool raw_read(Vexlor::VMMAP& layer, int index, Out* out) {
    return (layer.*Read)(index, out);
  }
  static bool raw_write(Vexlor::VMMAP& layer, int index, Value value) {
    return (layer.*Write)(index, value);
  }
};

// The kinds: the above, the engine request kind of the reset, the failure value of the
// value-slot read and the kind's name index.
struct DigitalKind
    : PointKindOf<Vexlor::MEM_DIGITAL_SP_STRU, Vexlor::MEM_DIGITAL_VAL_STRU, int, Vexlor::IO_D,
                  IndexKind::kDigital, &Vexlor::MMAP_STRU::digital_sp,
                  &Vexlor::MMAP_STRU::digital_val, &Vexlor::VMMAP::VMMAP_Digital_Read,
                  &Vexlor::VMMAP::VMMAP_Digital_Write> {
  static constexpr const char* kEngineKind = "$D";
  static constexpr Value kMemFailure = Vexlor::VEXLOR_UNUSED_POINT;
  static constexpr NameTable kNames = NameTable::kDigital;
};

struct AnalogKind
    : PointKindOf<Vexlor::MEM_ANALOG_SP_STRU, Vexlor::MEM_ANALOG_VAL_STRU, double, Vexlor::IO_A,
                  IndexKind::kAnalog, &Vexlor::MMAP_STRU::analog_sp, &Vexlor::MMAP_STRU::analog_val,
                  &Vexlor::VMMAP::VMMAP_Analog_Read, &Vexlor::VMMAP::VMMAP_Analog_Write> {
  static constexpr const char* kEngineKind = "$A";
  static constexpr Value kMemFailure = Vexlor::VEXLOR_ANALOG_FAILURE;
  static constexpr NameTable kNames = NameTable::kAnalog;
};

// A null text is refused by the layer's write (false, nothing written).
struct StringKind
    : PointKindOf<Vexlor::MEM_STRING_SP_STRU, Vexlor::MEM_STRING_VAL_STRU, const char*,
                  Vexlor::IO_S, IndexKind::kString, &Vexlor::MMAP_STRU::string_sp,
                  &Vexlor::MMAP_STRU::string_val, &Vexlor::VMMAP::VMMAP_String_Read,
                  &Vexlor::VMMAP::VMMAP_String_Write> {
  static constexpr const char* kEngineKind = "$S";
  static constexpr Value kMemFailure = "";
  static constexpr NameTable kNames = NameTable::kString;
};

// Width of a string value and of a formatted string (1023 characters and the terminator).
inline constexpr std::size_t kStringSize = 1024;

// A point of kind K whose index passed the check (false when it did not).
template <typename K>
struct PointRef {
  Vexlor::MMAP_STRU* db = nullptr;
  int index = 0;
  explicit operator bool() const { return db != nullptr; }
  typename K::Record& record() const { return K::records(*db)[index]; }
  typename K::Slot& slot() const { return K::slots(*db)[index]; }
};

// The index check of the operation at `site`, inline with the kind folded in; only the report
// of a bad index is a call.
template <typename K>
inline PointRef<K> checked_point(int index, Site site) {
  return {checked_db<K::kIndex>(index, site.operation, site.line), index};
}

// The raw forms leave the index to the shared-database layer: a bad one fails without a line.
template <typename K>
inline PointRef<K> quiet_point(int index) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr || index < 0 || index >= table_size_of<K::kIndex>(*db)) return {};
  return {db, index};
}

// The shared-database layer, or null when the library is not attached.
inline Vexlor::VMMAP* database_layer() {
  HUB_CONTEXT* ctx = context();
  return ctx != nullptr && ctx->db != nullptr ? ctx->mmap : nullptr;
}

// `out` is a Value (a 1024-byte buffer for string points, null to refresh only).
template <typename K, typename Out>
bool raw_read(int index, Out* out) {
  Vexlor::VMMAP* layer = database_layer();
  return layer != nullptr && K::raw_read(*layer, index, out);
}

// The value read; 0 when not attached (and, as the layer leaves it, when the read failed).
template <typename K>
typename K::Value raw_value(int index, bool* ok) {
  typename K::Value value{};
  const bool read = raw_read<K>(index, &value);
  if (ok != nullptr) *ok = read;
  return value;
}

template <typename K>
bool raw_write(int index, typename K::Value value) {
  Vexlor::VMMAP* layer = database_layer();
  return layer != nullptr && K::raw_write(*layer, index, value);
}

// ---- Names ---------------------------------------------------------------------------------

// Name caching through a caller's int: -1 fails at once; -99999999 formats the name (63
// characters at most) and looks it up straight into *index; any other value is used as it is.
bool resolve_cached(Vexlor::IO_TYPE type, int* index, const char* format, va_list args);

// vsnprintf into out[size] that takes a null format as the empty text.
void format_text(char* out, std::size_t size, const char* format, va_list args);

}  // namespace vexlor::detail

// In a variadic exported function: `result = expr`, where expr uses `args`, the arguments
// after `last`.
#define VEXLOR_WITH_ARGS(result, last, expr) \
  do {                                       \
    va_list args;                            \
    va_start(args, last);                    \
    result = (expr);                         \
    va_end(args);                            \
  } while (0)

// In a variadic exported function: formats its arguments into a local `char name[size]`.
#define VEXLOR_FORMAT_ARGS(name, size, last)                      \
  char name[size];                                                \
  do {                                                            \
    va_list args;                                                 \
    va_start(args, last);                                         \
    ::vexlor::detail::format_text(name, sizeof name, last, args); \
    va_end(args);                                                 \
  } while (0)

namespace vexlor::detail {

template <typename K>
typename K::Value read_by_name(const char* name, bool* ok, bool silent, typename K::Value absent) {
  int32_t index = Vexlor::VEXLOR_ERROR_POINT;
  typename K::Value value = absent;
  const bool read = resolve_point(K::kType, name, silent, &index) && raw_read<K>(index, &value);
  if (ok != nullptr) *ok = read;
  return value;
}

template <typename K>
bool write_by_name(const char* name, typename K::Value value) {
  int32_t index = Vexlor::VEXLOR_ERROR_POINT;
  return resolve_point(K::kType, name, true, &index) && raw_write<K>(index, value);
}

// ---- Value slot ------------------------------------------------------------------------------
//
// Value slots and the scalar fields of definitions are read and written by other threads and
// processes while we touch them (a write against a polling wait), so every access is one
// relaxed atomic load or store of the field in place: a plain move on the targets we build for.

template <typename Record>
inline bool has_input_driver(const Record& record) {
  return os::load_relaxed(record.idrv_point) != Vexlor::VEXLOR_UNUSED_POINT;
}

// Texts are cut on a character boundary to at most `chars` bytes.
inline void store_text(char* field, std::size_t chars, const char* text) {
  const std::string_view view = text ? std::string_view(text) : std::string_view();
  const std::size_t n = cut_length(view, chars);
  copy_text(field, n + 1, view.substr(0, n));
}

inline void store_value(int32_t& field, int value) { os::store_relaxed(field, value); }
inline void store_value(double& field, double value) { os::store_relaxed(field, value); }
template <std::size_t N>
void store_value(char (&field)[N], const char* text) {
  store_text(field, N - 1, text);
}

inline int32_t load_value(const int32_t& field) { return os::load_relaxed(field); }
inline double load_value(const double& field) { return os::load_relaxed(field); }
template <std::size_t N>
const char* load_value(const char (&field)[N]) {
  return field;
}

// The slot value a point shows: what its input driver delivered, or, without one, what was
// last written.
template <typename K>
inline typename K::Value shown_value(const PointRef<K>& p) {
  const typename K::Slot& slot = p.slot();
  return has_input_driver(p.record()) ? load_value(slot.read_value) : load_value(slot.write_value);
}

template <typename K>
inline typename K::Value read_mem(int index, Site site) {
  const PointRef<K> p = checked_point<K>(index, site);
  return p ? shown_value(p) : K::kMemFailure;
}

template <typename K, typename M>
inline void set_slot(int index, M K::Slot::*member, typename K::Value value, Site site) {
  if (const PointRef<K> p = checked_point<K>(index, site)) store_value(p.slot().*member, value);
}

template <typename K>
inline bool get_slot_status(int index, uint8_t K::Slot::*member, Site site) {
  const PointRef<K> p = checked_point<K>(index, site);
  return p && os::load_relaxed(p.slot().*member) != 0;
}

template <typename K>
inline void set_status(int index, bool status, Site site) {
  if (const PointRef<K> p = checked_point<K>(index, site)) {
    os::store_relaxed(p.slot().read_status, status ? 1 : 0);
    os::store_relaxed(p.slot().write_status, status ? 1 : 0);
  }
}

// ---- Definition fields -----------------------------------------------------------------------

template <typename K, std::size_t N>
const char* get_text(int index, char (K::Record::*member)[N], Site site) {
  const PointRef<K> p = checked_point<K>(index, site);
  return p ? (p.record().*member) : "";
}

template <typename K, std::size_t N>
void set_text(int index, char (K::Record::*member)[N], std::size_t chars, const char* text,
              Site site) {
  static_assert(N > 0);
  if (const PointRef<K> p = checked_point<K>(index, site)) {
    store_text(p.record().*member, std::min(chars, N - 1), text);
    if constexpr (N == sizeof(K::Record::name)) {
      if (member == &K::Record::name) name_index_add(*p.db, K::kNames, index);
    }
  }
}

template <typename K, typename Result, typename M>
inline Result get_value(int index, M K::Record::*member, Result failure, Site site) {
  static_assert(std::is_arithmetic_v<M>);
  const PointRef<K> p = checked_point<K>(index, site);
  return p ? static_cast<Result>(os::load_relaxed(p.record().*member)) : failure;
}

template <typename K, typename M, typename V>
inline void set_value(int index, M K::Record::*member, V value, Site site) {
  static_assert(std::is_arithmetic_v<M>);
  if (const PointRef<K> p = checked_point<K>(index, site)) {
    os::store_relaxed(p.record().*member, static_cast<M>(value));
  }
}

// Driver parameters: an array field, or a single value read as an array of one.
template <std::size_t N>
int32_t* param_data(int32_t (&field)[N]) {
  return field;
}
inline int32_t* param_data(int32_t& field) { return &field; }

template <typename K, typename M>
void get_params(int index, M K::Record::*member, std::size_t count, int* out, Site site) {
  static_assert(sizeof(M) % sizeof(int32_t) == 0);
  const PointRef<K> p = checked_point<K>(index, site);
  if (p && out != nullptr) std::copy_n(param_data(p.record().*member), count, out);
}

template <typename K, typename M>
void set_params(int index, M K::Record::*member, std::size_t count, const int* in, Site site) {
  const PointRef<K> p = checked_point<K>(index, site);
  if (p && in != nullptr) std::copy_n(in, count, param_data(p.record().*member));
}

template <typename K, std::size_t S, std::size_t N>
const char* get_tag(int index, char (K::Record::*member)[S][N], int slot, Site site) {
  const PointRef<K> p = checked_point<K>(index, site);
  if (!p || slot < 0 || static_cast<std::size_t>(slot) >= S) return "";
  return (p.record().*member)[slot];
}

template <typename K, std::size_t S, std::size_t N>
void set_tag(int index, char (K::Record::*member)[S][N], std::size_t chars, int slot,
             const char* text, Site site) {
  const PointRef<K> p = checked_point<K>(index, site);
  if (!p || slot < 0 || static_cast<std::size_t>(slot) >= S) return;
  store_text((p.record().*member)[slot], std::min(chars, N - 1), text);
}

// The name of the driver a point refers to; a driver point outside the driver table gets the
// driver table's own index check.
template <typename K>
const char* driver_name(int index, int32_t K::Record::*member, Site site) {
  const PointRef<K> p = checked_point<K>(index, site);
  if (!p || (p.record().*member) < 0) return "";
  return Vexlor::VDriver_Get_Name(p.record().*member);
}

// ---- Whole record ----------------------------------------------------------------------------

template <typename K>
bool get_shape(int index, typename K::Record* out, Site site) {
  const PointRef<K> p = checked_point<K>(index, site);
  if (!p || out == nullptr) return false;
  std::memmove(out, &p.record(), sizeof(typename K::Record));
  return true;
}

template <typename K>
bool set_shape(int index, const typename K::Record& record, Site site) {
  const PointRef<K> p = checked_point<K>(index, site);
  if (!p) return false;
  std::memmove(&p.record(), &record, sizeof(typename K::Record));
  name_index_add(*p.db, K::kNames, index);
  return true;
}

// Sends the IO engine the request kind "$D", "$A" or "$S", parameter "P6", command "W1" with
// the point and "-"; the answer is not awaited.
template <typename K>
bool reset_shape(int index, Site site) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->fifo == nullptr || ctx->db == nullptr) return false;
  if (!checked_point<K>(index, site)) return false;
  ctx->fifo->VFIFO_Engine_Write_G(K::kEngineKind, "P6", "W1", index, "-");
  return true;
}

}  // namespace vexlor::detail
