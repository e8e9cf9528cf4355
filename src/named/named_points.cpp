// The named point accessors, expanded from the item table, and the few with steps of their own:
// carrier IDs that fall back to a default, the carrier type's two names, the inspection
// reservation, the rolling process message and the formatted setters.
#include <cstdio>

#include "named/named_access.h"
#include "vexlor/digital.h"
#include "vexlor/named.h"
#include "vexlor/scheduler.h"
#include "vexlor/string_points.h"

namespace vexlor::detail {

const char* process_module_name(int i) {
  return Vexlor::VSCH_Get_Module_Name(Vexlor::MODULE_PM, i);
}

namespace named {

// clang-format off
#define VEXLOR_NAMED_CACHE_BOTH(type, cache) type cache;
#define VEXLOR_NAMED_CACHE_OWN_GET(type, cache) type cache;
#define VEXLOR_NAMED_CACHE_OWN_SET(type, cache) type cache;
#define VEXLOR_NAMED_CACHE_OWN(type, cache) type cache;
#define VEXLOR_NAMED_CACHE_BY_NAME(type, cache)
#define VEXLOR_NAMED_CACHE_FORWARD(type, cache)
#define VEXLOR_NAMED_POINT(item, kind, name, mode) VEXLOR_NAMED_CACHE_##mode(PointSlot, item##_slot)
#define VEXLOR_NAMED_ROW(item, kind, n, rule, format, mode) \
  VEXLOR_NAMED_CACHE_##mode(NamedRow<NameRule::rule VEXLOR_COMMA n>, item##_row)
#define VEXLOR_NAMED_GRID(item, kind, n, m, rule, format, mode) \
  VEXLOR_NAMED_CACHE_##mode(PointGrid<n VEXLOR_COMMA m>, item##_grid)
#define VEXLOR_COMMA ,
#include "vexlor/named/named_points.def"
#undef VEXLOR_COMMA
#undef VEXLOR_NAMED_CACHE_BOTH
#undef VEXLOR_NAMED_CACHE_OWN_GET
#undef VEXLOR_NAMED_CACHE_OWN_SET
#undef VEXLOR_NAMED_CACHE_OWN
#undef VEXLOR_NAMED_CACHE_BY_NAME
#undef VEXLOR_NAMED_CACHE_FORWARD
// clang-format on

}  // namespace named

namespace {

// The transfer-module flags and the inspection reservation of carrier modules other than the
// first: formatted with i+1 (and j+1) on every call and read or written by name.
int by_name_read(const char* format, int i, int j) {
  char name[kNameSize];
  std::snprintf(name, sizeof name, format, i + 1, j + 1);
  return Vexlor::VDigital_Read(name);
}

bool by_name_write(const char* format, int i, int j, int value) {
  char name[kNameSize];
  std::snprintf(name, sizeof name, format, i + 1, j + 1);
  return Vexlor::VDigital_Write(name, value);
}

// A carrier ID as read, or the default of carrier `k` when it is empty ("" beyond the table).
const char* carrier_id_or_default(const char* text, int k) {
  if (text[0] != '\0') return text;
  return k >= 0 && k < 6 ? kDefaultCarrierId[k] : "";
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;
namespace n = vexlor::detail::named;

// clang-format off
#define VEXLOR_NAMED_GET(sig, kind, rule, cache, format, i, j) \
  sig { return d::named_get<d::Named##kind, d::NameRule::rule>(n::cache, format, i, j); }
#define VEXLOR_NAMED_SET(sig, kind, rule, cache, format, i, j) \
  sig { return d::named_set<d::Named##kind, d::NameRule::rule>(n::cache, format, i, j, value); }

#define VEXLOR_NAMED_GET_BOTH VEXLOR_NAMED_GET
#define VEXLOR_NAMED_GET_OWN_SET VEXLOR_NAMED_GET
#define VEXLOR_NAMED_GET_OWN_GET(...)
#define VEXLOR_NAMED_GET_OWN(...)
#define VEXLOR_NAMED_GET_FORWARD(...)
#define VEXLOR_NAMED_GET_BY_NAME(sig, kind, rule, cache, format, i, j) \
  sig { return d::by_name_read(format, i, j); }
#define VEXLOR_NAMED_SET_BOTH VEXLOR_NAMED_SET
#define VEXLOR_NAMED_SET_OWN_GET VEXLOR_NAMED_SET
#define VEXLOR_NAMED_SET_OWN_SET(...)
#define VEXLOR_NAMED_SET_OWN(...)
#define VEXLOR_NAMED_SET_FORWARD(...)
#define VEXLOR_NAMED_SET_BY_NAME(sig, kind, rule, cache, format, i, j) \
  sig { return d::by_name_write(format, i, j, value); }

#define VEXLOR_NAMED_POINT(item, kind, name, mode)                                               \
  VEXLOR_NAMED_GET_##mode(VEXLOR_NAMED_VALUE_##kind VIO_Get_##item(), kind, LITERAL,           \
                          item##_slot, name, 0, 0)                                             \
  VEXLOR_NAMED_SET_##mode(bool VIO_Set_##item(VEXLOR_NAMED_VALUE_##kind value), kind, LITERAL, \
                          item##_slot, name, 0, 0)
#define VEXLOR_NAMED_ROW(item, kind, n, rule, format, mode)                                  \
  VEXLOR_NAMED_GET_##mode(VEXLOR_NAMED_VALUE_##kind VIO_Get_##item(int i), kind, rule,     \
                          item##_row, format, i, 0)                                        \
  VEXLOR_NAMED_SET_##mode(bool VIO_Set_##item(int i, VEXLOR_NAMED_VALUE_##kind value), kind, \
                          rule, item##_row, format, i, 0)
#define VEXLOR_NAMED_GRID(item, kind, n, m, rule, format, mode)                                     \
  VEXLOR_NAMED_GET_##mode(VEXLOR_NAMED_VALUE_##kind VIO_Get_##item(int i, int j), kind, rule,     \
                          item##_grid, format, i, j)                                              \
  VEXLOR_NAMED_SET_##mode(bool VIO_Set_##item(int i, int j, VEXLOR_NAMED_VALUE_##kind value), kind, \
                          rule, item##_grid, format, i, j)
#include "vexlor/named/named_points.def"
// clang-format on

// ---- Carrier IDs with a default ------------------------------------------------------------

const char* VIO_Get_CTC_CMx_CarrierID(int i) {
  return d::carrier_id_or_default(d::named_get<d::StringKind, d::NameRule::PLUS1>(
                                      n::CTC_CMx_CarrierID_row, n::CTC_CMx_CarrierID_format, i, 0),
                                  i);
}

const char* VIO_Get_CTC_CMx_RFID(int i) {
  return d::carrier_id_or_default(d::named_get<d::StringKind, d::NameRule::PLUS1>(
                                      n::CTC_CMx_RFID_row, n::CTC_CMx_RFID_format, i, 0),
                                  i);
}

// A wafer's carrier ID, else the default carrier of the carrier module the wafer came from.
const char* VIO_Get_CTC_BMx_Wafer_CarrierID(int i, int j) {
  const char* text = d::named_get<d::StringKind, d::NameRule::SUFFIX>(
      n::CTC_BMx_Wafer_CarrierID_grid, n::CTC_BMx_Wafer_CarrierID_format, i, j);
  return text[0] != '\0' ? text : d::carrier_id_or_default("", VIO_Get_CTC_BMx_Wafer_Source(i, j));
}

const char* VIO_Get_CTC_PMx_Wafer_CarrierID(int i, int j) {
  const char* text = d::named_get<d::StringKind, d::NameRule::SUFFIX>(
      n::CTC_PMx_Wafer_CarrierID_grid, n::CTC_PMx_Wafer_CarrierID_format, i, j);
  return text[0] != '\0' ? text : d::carrier_id_or_default("", VIO_Get_CTC_PMx_Wafer_Source(i, j));
}

const char* VIO_Get_CTC_TMx_Wafer_CarrierID(int i, int j) {
  const char* text = d::named_get<d::StringKind, d::NameRule::ARM>(
      n::CTC_TMx_Wafer_CarrierID_grid, n::CTC_TMx_Wafer_CarrierID_format, i, j);
  return text[0] != '\0' ? text : d::carrier_id_or_default("", VIO_Get_CTC_TMx_Wafer_Source(i, j));
}

// A carrier module's wafers all carry the carrier's ID.
const char* VIO_Get_CTC_CMx_Wafer_CarrierID(int i, int) { return VIO_Get_CTC_CMx_CarrierID(i); }

bool VIO_Set_CTC_CMx_Wafer_CarrierID(int i, int, const char* value) {
  return VIO_Set_CTC_CMx_CarrierID(i, value);
}

// ---- Carrier type: two names, one row of slots ---------------------------------------------

int VIO_Get_CTC_CMx_Carrier(int i) {
  return d::named_get<d::DigitalKind, d::NameRule::PLUS1>(n::CTC_CMx_Carrier_row,
                                                          n::CTC_CMx_Carrier_format, i, 0);
}

bool VIO_Set_CTC_CMx_Carrier(int i, int value) {
  return d::named_set<d::DigitalKind, d::NameRule::PLUS1>(
      n::CTC_CMx_Carrier_row, n::CTC_CMx_Carrier_setter_format, i, 0, value);
}

// ---- Inspection reservation: cached for the first carrier module only -----------------------

int VIO_Get_CMx_Wafer_Inspect_Reserve(int i, int j) {
  if (i != 0) return d::by_name_read(n::CMx_Wafer_Inspect_Reserve_format, i, j);
  return d::named_get<d::DigitalKind, d::NameRule::PLUS1>(
      n::CMx_Wafer_Inspect_Reserve_grid, n::CMx_Wafer_Inspect_Reserve_format, i, j);
}

bool VIO_Set_CMx_Wafer_Inspect_Reserve(int i, int j, int value) {
  if (i != 0) return d::by_name_write(n::CMx_Wafer_Inspect_Reserve_format, i, j, value);
  return d::named_set<d::DigitalKind, d::NameRule::PLUS1>(
      n::CMx_Wafer_Inspect_Reserve_grid, n::CMx_Wafer_Inspect_Reserve_format, i, j, value);
}

// ---- Messages --------------------------------------------------------------------------------

bool VIO_Set_PM_Process_Message(int i, const char* value) {
  const int32_t point = d::named_point<d::NameRule::PM_NAME>(n::PM_Process_Message_row, IO_S,
                                                             n::PM_Process_Message_format, i, 0);
  if (point < 0) return false;
  VString_Write_Message(point, value);
  return true;
}

bool VIO_Set_PM_Process_MessageF(int i, const char* format, ...) {
  VEXLOR_FORMAT_ARGS(text, d::kStringSize, format);
  return VIO_Set_PM_Process_Message(i, text);
}

bool VIO_Set_CTC_MessageF(const char* format, ...) {
  VEXLOR_FORMAT_ARGS(text, d::kStringSize, format);
  return VIO_Set_CTC_Message(text);
}

}  // namespace Vexlor
