// Type-independent point access for tools that do not know a point's type (recipe editors,
// data loggers, test panels): values as texts, by name or by point and type, and the point
// lists of data-log tables. Every value goes through the typed digital, analog and string
// access.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "frame/context.h"
#include "points/name_cache.h"
#include "vexlor/analog.h"
#include "vexlor/digital.h"
#include "vexlor/points.h"
#include "vexlor/string_points.h"
#include "vexlor/util.h"
#include "vexlor/vdb.h"

namespace vexlor::detail {
namespace {

// The types a name may resolve to here, in search order.
constexpr Vexlor::IO_TYPE kSearchOrder[] = {Vexlor::IO_D, Vexlor::IO_A, Vexlor::IO_S};

// The point of a name for access by name. The shared name cache is trusted only for a digital
// entry (typed access by name leaves entries of other types, which may hide a digital point of
// the same name); otherwise the three tables are searched silently and the hit replaces the
// cached entry. False before start-up, for a null name and for a name in none of the tables.
bool resolve_by_name(const char* name, Vexlor::IO_MAP* found) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || name == nullptr) return false;
  if (name_cache_find(*ctx, name, found) && found->type == Vexlor::IO_D) return true;
  const uint32_t session = name_cache_session(*ctx);
  for (Vexlor::IO_TYPE type : kSearchOrder) {
    int point = Vexlor::VEXLOR_ERROR_POINT;
    if (!Vexlor::VIO_Find_Point(&point, type, true, name)) continue;
    *found = Vexlor::IO_MAP{point, type};
    name_cache_store(session, name, *found);
    return true;
  }
  return false;
}

// An analog value in fixed-point notation with six decimals, whatever its size.
std::string six_decimals(double value) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, "%f", value);
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof buffer) return std::string(buffer, n);
  if (n < 0) return {};
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%f", value);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

// The typed text write of a point whose type is known.
bool write_typed(int point, Vexlor::IO_TYPE type, const char* value) {
  switch (type) {
    case Vexlor::IO_D:
      return Vexlor::VDigital_Write_Str(point, value);
    case Vexlor::IO_A:
      return Vexlor::VAnalog_Write_Str(point, value);
    case Vexlor::IO_S:
      return Vexlor::VString_Write(point, value);
    default:
      return false;
  }
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

std::string VIO_Read(const char* name, bool* ok, bool silent) {
  IO_MAP map;
  if (!d::resolve_by_name(name, &map)) {
    if (ok != nullptr) *ok = false;
    if (!silent) {
      VPrint_Red(d::own_name(), "IO_NAME:%s 未识别. [代码行:%s:%d]", name ? name : "",
                 "Vexlor::VIO_Read", __LINE__);
    }
    return {};
  }
  switch (map.type) {
    case IO_D:
      return std::to_string(VDigital_Read(map.point));
    case IO_A:
      return d::six_decimals(VAnalog_Read(map.point));
    case IO_S: {
      const char* text = VString_Read(map.point);
      return text ? std::string(text) : std::string();
    }
    default:
      return {};
  }
}

bool VIO_Read(int point, IO_TYPE type, char* buffer) {
  if (buffer == nullptr) return false;
  switch (type) {
    case IO_D:
      return VDigital_Read_Str(point, buffer);
    case IO_A:
      return VAnalog_Read_Str(point, buffer);
    case IO_S:
      return VString_Read(point, buffer);
    default:
      return false;
  }
}

bool VIO_Write(const char* name, const char* value, bool silent) {
  const char* text = value ? value : "";
  IO_MAP map;
  if (!d::resolve_by_name(name, &map)) {
    if (!silent) {
      VPrint_Red(d::own_name(), "IO:%s未识别,写值:%s失败[代码行:%s:%d]", name ? name : "", text,
                 "Vexlor::VIO_Write", __LINE__);
    }
    return false;
  }
  return d::write_typed(map.point, map.type, text);
}

bool VIO_Write(int point, IO_TYPE type, const char* value) {
  return d::write_typed(point, type, value ? value : "");
}

bool VIO_Find_DataLog_IO_List(const char* table, std::vector<DataLog_IO_Item>& list) {
  list.clear();
  if (!VDB_Get_DataLog_IO(table, list)) {
    VPrint_Red(d::own_name(), "获取 DataLog IO 错误. [代码行:%s:%d]",
               "Vexlor::VIO_Find_DataLog_IO_List", __LINE__);
    return false;
  }
  int misses = 0;
  for (DataLog_IO_Item& item : list) {
    if (!VIO_Find(&item.point, &item.type, item.name.c_str())) ++misses;
  }
  return misses == 0;
}

}  // namespace Vexlor
