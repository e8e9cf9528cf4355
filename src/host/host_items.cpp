// The host link's data variables and settings, expanded from the item table: plain items like
// the named point accessors, DVID items through the caches of the "GEM." items they share, and
// the load ports through the driver-facing reads and writes. The local IP getter asks the
// system for the address first.
#include <cstddef>

#include "named/named_access.h"
#include "os/local_address.h"
#include "util/text.h"
#include "vexlor/digital.h"
#include "vexlor/host.h"
#include "vexlor/string_points.h"

namespace vexlor::detail {
namespace {

// A load port's point, resolved with its number i+1.
int32_t load_port_point(PointRow<6>& row, Vexlor::IO_TYPE type, const char* format, int i) {
  return named_point<NameRule::PLUS1>(row, type, format, i, 0);
}

int load_port_read(DigitalKind, int32_t point, bool* ok) {
  if (ok == nullptr) return Vexlor::VDigital_Read(point);
  int value = Vexlor::VEXLOR_UNUSED_POINT;
  *ok = Vexlor::VDigital_Read(point, &value);
  return value;
}

const char* load_port_read(StringKind, int32_t point, bool* ok) {
  const char* text = Vexlor::VString_Read(point);
  if (ok != nullptr) *ok = Vexlor::VString_Get_Read_Status(point);
  return text;
}

template <typename K>
typename K::Value load_port_get(PointRow<6>& row, const char* format, int i, bool* ok) {
  const int32_t point = load_port_point(row, K::kType, format, i);
  if (point < 0) {
    if (ok != nullptr) *ok = false;
    return K::kMemFailure;
  }
  return load_port_read(K{}, point, ok);
}

template <typename K>
bool load_port_set(PointRow<6>& row, const char* format, int i, typename K::Value value) {
  const int32_t point = load_port_point(row, K::kType, format, i);
  if (point < 0) return false;
  if constexpr (K::kType == Vexlor::IO_D) {
    return Vexlor::VDigital_Write(point, value);
  } else {
    return Vexlor::VString_Write(point, value);
  }
}

}  // namespace

namespace host {

// clang-format off
#define VEXLOR_HOST_POINT(item, kind, name, mode) PointSlot item##_slot;
#define VEXLOR_HOST_LP(item, kind, get_format, set_format) PointRow<6> LP_##item##_row;
#include "vexlor/host/host_items.def"
// clang-format on

}  // namespace host
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

// clang-format off
#define VEXLOR_HOST_GET_BOTH(kind, item, name)                                            \
  VEXLOR_NAMED_VALUE_##kind VFA_Get_##item() {                                            \
    return d::named_get<d::Named##kind, d::NameRule::LITERAL>(d::host::item##_slot, name, 0, 0); \
  }
#define VEXLOR_HOST_GET_OWN_GET(kind, item, name)
#define VEXLOR_HOST_POINT(item, kind, name, mode)                                             \
  VEXLOR_HOST_GET_##mode(kind, item, name)                                                    \
  bool VFA_Set_##item(VEXLOR_NAMED_VALUE_##kind value) {                                      \
    return d::named_set<d::Named##kind, d::NameRule::LITERAL>(d::host::item##_slot, name, 0, 0, \
                                                             value);                          \
  }
#define VEXLOR_HOST_SHARED(item, kind, gem_item)                                                \
  static_assert(d::named::gem_item##_type == d::Named##kind::kType, #item " shares a " #kind   \
                " item");                                                                       \
  VEXLOR_NAMED_VALUE_##kind VFA_Get_##item() {                                                  \
    return d::named_get<d::Named##kind, d::NameRule::LITERAL>(                                  \
        d::named::gem_item##_slot, d::named::gem_item##_name, 0, 0);                            \
  }                                                                                             \
  bool VFA_Set_##item(VEXLOR_NAMED_VALUE_##kind value) {                                        \
    return d::named_set<d::Named##kind, d::NameRule::LITERAL>(                                  \
        d::named::gem_item##_slot, d::named::gem_item##_name, 0, 0, value);                     \
  }
#define VEXLOR_HOST_LP(item, kind, get_format, set_format)                                     \
  VEXLOR_NAMED_VALUE_##kind VFA_Get_LP_##item(int i, bool* ok) {                               \
    return d::load_port_get<d::Named##kind>(d::host::LP_##item##_row, get_format, i, ok);      \
  }                                                                                            \
  bool VFA_Set_LP_##item(int i, VEXLOR_NAMED_VALUE_##kind value) {                             \
    return d::load_port_set<d::Named##kind>(d::host::LP_##item##_row, set_format, i, value);   \
  }
#include "vexlor/host/host_items.def"
// clang-format on

const char* VFA_Get_Local_IP() {
  // One buffer per process; it keeps the last address obtained.
  static char address[16] = "";
  char found[sizeof address] = "";
  if (vexlor::os::local_ipv4_address(found, sizeof found)) {
    d::copy_text(address, sizeof address, found);
  }
  VFA_Set_Local_IP(address);
  return address;
}

}  // namespace Vexlor
