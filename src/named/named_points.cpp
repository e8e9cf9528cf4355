// The named point accessors, expanded from the item tables: each item owns one lazy point
// cache shared by its getter and setter, and reads and writes the point's value slot.
#include "points/point_cache.h"
#include "vexlor/digital.h"
#include "vexlor/named.h"

namespace vexlor::detail {
namespace {

// What each kind of point does once its cache is resolved: the lookup type, the failure value
// of the getter and the value-slot read and write.
template <Vexlor::IO_TYPE Type>
struct NamedKind;

template <>
struct NamedKind<Vexlor::IO_D> {
  using Value = int;
  static constexpr Value kFailure = Vexlor::VEXLOR_UNUSED_POINT;
  static Value read(int32_t point) { return Vexlor::VDigital_Read_Mem(point); }
  static void write(int32_t point, Value value) { Vexlor::VDigital_Write_Mem(point, value); }
};

template <Vexlor::IO_TYPE Type>
typename NamedKind<Type>::Value named_get(PointSlot& slot, const char* name) {
  const int32_t point = slot.get(Type, name);
  return point >= 0 ? NamedKind<Type>::read(point) : NamedKind<Type>::kFailure;
}

template <Vexlor::IO_TYPE Type>
bool named_set(PointSlot& slot, const char* name, typename NamedKind<Type>::Value value) {
  const int32_t point = slot.get(Type, name);
  if (point < 0) return false;
  NamedKind<Type>::write(point, value);
  return true;
}

}  // namespace
}  // namespace vexlor::detail

#define VEXLOR_NAMED_TYPE_DIGITAL ::Vexlor::IO_D
#define VEXLOR_NAMED_TYPE_ANALOG ::Vexlor::IO_A
#define VEXLOR_NAMED_TYPE_STRING ::Vexlor::IO_S

namespace Vexlor {

namespace d = vexlor::detail;

#define VEXLOR_NAMED_POINT(item, kind, name)                                  \
  namespace {                                                                 \
  d::PointSlot item##_cache;                                                  \
  }                                                                           \
  VEXLOR_NAMED_VALUE_##kind VIO_Get_##item() {                                \
    return d::named_get<VEXLOR_NAMED_TYPE_##kind>(item##_cache, name);        \
  }                                                                           \
  bool VIO_Set_##item(VEXLOR_NAMED_VALUE_##kind value) {                      \
    return d::named_set<VEXLOR_NAMED_TYPE_##kind>(item##_cache, name, value); \
  }
#include "vexlor/named/ctc_points.def"

}  // namespace Vexlor
