// The index check: the bound of each table and the three report lines.
#include "frame/index_check.h"

#include <cstring>
#include <string>

#include "vexlor/util.h"

namespace vexlor::detail {
namespace {

struct KindWords {
  const char* kind;
  const char* point;
};

KindWords words_of(IndexKind kind) {
  switch (kind) {
    case IndexKind::kDigital:
      return {"Digital", "IO_Point"};
    case IndexKind::kAnalog:
      return {"Analog", "IO_Point"};
    case IndexKind::kString:
      return {"String", "IO_Point"};
    case IndexKind::kAlarm:
      return {"Alarm", "Alarm_Point"};
    case IndexKind::kModule:
      return {"Module", "Module_Point"};
    case IndexKind::kEnum:
      return {"Enum", "Enum_Point"};
    case IndexKind::kDriver:
      return {"Driver", "Driver_Point"};
    case IndexKind::kFunction:
      return {"Function", "Func_Point"};
  }
  return {"", ""};
}

}  // namespace

int32_t table_size(const Vexlor::MMAP_STRU& db, IndexKind kind) {
  switch (kind) {
    case IndexKind::kDigital:
      return table_size_of<IndexKind::kDigital>(db);
    case IndexKind::kAnalog:
      return table_size_of<IndexKind::kAnalog>(db);
    case IndexKind::kString:
      return table_size_of<IndexKind::kString>(db);
    case IndexKind::kAlarm:
      return table_size_of<IndexKind::kAlarm>(db);
    case IndexKind::kModule:
      return table_size_of<IndexKind::kModule>(db);
    case IndexKind::kEnum:
      return table_size_of<IndexKind::kEnum>(db);
    case IndexKind::kDriver:
      return table_size_of<IndexKind::kDriver>(db);
    case IndexKind::kFunction:
      return table_size_of<IndexKind::kFunction>(db);
  }
  return 0;
}

std::string qualified_operation(const char* operation) {
  std::string op = operation ? operation : "";
  if (op.find("::") == std::string::npos) op = "Vexlor::" + op;
  return op;
}

void report_bad_index(IndexKind kind, int32_t index, const char* operation, int line) {
  KindWords w = words_of(kind);
  const std::string op = qualified_operation(operation);
  if (index == Vexlor::VEXLOR_ERROR_POINT) {
    Vexlor::VPrint_Red(own_name(), "%s %s  = ERROR_IO_POINT.[代码行:%s:%d]", w.kind, w.point,
                       op.c_str(), line);
  } else if (index == Vexlor::VEXLOR_UNUSED_POINT) {
    Vexlor::VPrint_Red(own_name(), "%s %s = UNUSE_IO_POINT.[代码行:%s:%d]", w.kind, w.point,
                       op.c_str(), line);
  } else {
    Vexlor::VPrint_Red(own_name(), "%s %s = %d , 超限.[代码行:%s:%d]", w.kind, w.point, index,
                       op.c_str(), line);
  }
}

bool index_in_range(IndexKind kind, int32_t index, int32_t count, const char* operation, int line) {
  if (index >= 0 && index < count) return true;
  report_bad_index(kind, index, operation, line);
  return false;
}

Vexlor::MMAP_STRU* checked_db(IndexKind kind, int32_t index, const char* operation, int line) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr) return nullptr;
  return index_in_range(kind, index, table_size(*db, kind), operation, line) ? db : nullptr;
}

}  // namespace vexlor::detail
