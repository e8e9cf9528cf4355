// The name-to-point cache of access by name, and the resolution of a caller's name table.
#include <string_view>

#include "frame/context.h"
#include "frame/index_check.h"
#include "points/lookup.h"
#include "points/name_cache.h"
#include "vexlor/points.h"

namespace vexlor::detail {
namespace {

constexpr int kArrayTableLimit = 10000;

// The messages of the two forms of VIO_Set_IO_Map_List.
struct TableMessages {
  bool with_type;        // the array form names the type in its first two messages
  const char* missing;   // an entry was not found
  const char* too_high;  // a function above the routine's own level
  const char* bad_type;  // a declared type outside 0-4
};

constexpr TableMessages kArrayMessages = {
    true,
    "IO_MAP_TABLE IO_NAME:%s - IO_TYPE:%s 未识别. [代码行:%s:%d]",
    "FUNCTION优先级过高 , 不能加载 - IO_NAME:%s - IO_TYPE:%s. [代码行:%s:%d]",
    "IO_MAP_TABLE IO_NAME:%s - IO_TYPE:%s未识别. [代码行:%s:%d]",
};
constexpr TableMessages kVectorMessages = {
    false,
    "IO_MAP_TABLE IO_NAME: %s 未识别. [代码行:%s:%d]",
    "FUNCTION优先级过高 , 不能加载 - %s. [代码行:%s:%d]",
    "IO_MAP_TABLE IO_NAME: %s - IO_TYPE:%s未识别. [代码行:%s:%d]",
};

constexpr char kOperation[] = "Vexlor::VIO_Set_IO_Map_List";

bool table_ended(const Vexlor::IO_Name_String_Map& e) { return e.name[0] == '\0' || e.type < 0; }

// The level of a function of the table (index known valid), and the routine's own level with
// the index check of the function table (0 when the own index is not valid).
int32_t function_level(const Vexlor::MMAP_STRU& db, int32_t index) {
  return db.function_sp[index].level;
}

int32_t own_level(const Vexlor::MMAP_STRU& db) {
  const int32_t own = context()->own_index;
  if (!index_in_range(IndexKind::kFunction, own, table_size(db, IndexKind::kFunction),
                      "Vexlor::VFunction_Get_Level", __LINE__)) {
    return 0;
  }
  return function_level(db, own);
}

// Resolves one entry; false when one of the messages was printed.
bool resolve_entry(const Vexlor::MMAP_STRU& db, Vexlor::IO_Name_String_Map& e,
                   const TableMessages& m) {
  const char* own = own_name();
  if (e.type > Vexlor::IO_L) {
    Vexlor::VPrint_Red(own, m.bad_type, e.name, io_type_text(e.type), kOperation, __LINE__);
    return false;
  }
  int point = e.point ? *e.point : -1;
  const bool found = Vexlor::VIO_Find(&point, &e.type, e.name);
  if (e.point) *e.point = point;
  if (e.point ? point == -1 : !found) {
    if (m.with_type) {
      Vexlor::VPrint_Red(own, m.missing, e.name, io_type_text(e.type), kOperation, __LINE__);
    } else {
      Vexlor::VPrint_Red(own, m.missing, e.name, kOperation, __LINE__);
    }
    return false;
  }
  if (found && e.type == Vexlor::IO_F && function_level(db, point) > own_level(db)) {
    if (m.with_type) {
      Vexlor::VPrint_Red(own, m.too_high, e.name, io_type_text(e.type), kOperation, __LINE__);
    } else {
      Vexlor::VPrint_Red(own, m.too_high, e.name, kOperation, __LINE__);
    }
    return false;
  }
  return true;
}

// Both passes over entries [first, last) of a table already cut at its end.
template <typename It>
bool resolve_table(It first, It last, const TableMessages& m) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr) return false;
  for (It it = first; it != last; ++it) {
    it->name[kNameSize - 1] = '\0';  // a full 64-byte name is read as its first 63
    substitute_keys_cut(it->name);
  }
  bool all = true;
  for (It it = first; it != last; ++it) {
    if (!resolve_entry(*db, *it, m)) all = false;
  }
  return all;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

IO_MAP IO_Map_Find(const char* name) {
  d::HUB_CONTEXT* ctx = d::context();
  if (ctx == nullptr || name == nullptr) return IO_MAP{};
  IO_MAP result;
  if (d::name_cache_find(*ctx, name, &result)) return result;
  const uint32_t session = d::name_cache_session(*ctx);
  if (!VIO_Find(&result.point, &result.type, name)) return IO_MAP{};
  d::name_cache_store(session, name, result);
  return result;
}

bool VIO_Set_IO_Map_List(IO_Name_String_Map* table) {
  if (table == nullptr) return false;
  int count = 0;
  while (count < d::kArrayTableLimit && !d::table_ended(table[count])) ++count;
  return d::resolve_table(table, table + count, d::kArrayMessages);
}

bool VIO_Set_IO_Map_List(std::vector<IO_Name_String_Map>& table) {
  auto end = table.begin();
  while (end != table.end() && !d::table_ended(*end)) ++end;
  return d::resolve_table(table.begin(), end, d::kVectorMessages);
}

}  // namespace Vexlor
