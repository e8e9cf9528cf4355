// Declared-argument texts: unpacking into ARG_PARAM_INFO_STRU groups, packing them back, and
// the validity check routines run on their own arguments.
#include <vexlor/alarms.h>
#include <vexlor/arguments.h>
#include <vexlor/frame.h>
#include <vexlor/points.h>
#include <vexlor/util.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "frame/context.h"
#include "functions/argument_text.h"

namespace vexlor::detail {
namespace {

constexpr char kNoAlarm[] = "-";

bool names_no_module(const std::string& module) { return module == "CTC" || module == "-"; }

// The module alarm base [kind][side] of the system block; -1 outside the table.
int32_t module_alarm_base(const Vexlor::MMAP_STRU& db, int32_t kind, int32_t side) {
  const auto& bases = db.system_block->module_alarm_bases;
  if (kind < 0 || kind >= static_cast<int32_t>(std::size(bases)) || side < 0 ||
      side >= static_cast<int32_t>(std::size(bases[0]))) {
    return -1;
  }
  return bases[kind][side];
}

// What one unpacking works with: the module's alarm base and the errors counted so far.
struct Unpacking {
  Vexlor::ARG_PARAM_INFO_STRU record;
  int64_t alarm_base = 0;
  int errors = 0;
};

void read_module(Unpacking& u, const std::string& name) {
  u.record.module_name = name;
  if (names_no_module(name)) return;
  Vexlor::MODULE_MAP map{-1, Vexlor::MODULE_TYPE(-1)};
  if (!Vexlor::VModule_Find(&map, name.c_str()) || map.kind < 0 || map.side < 0) {
    Vexlor::VPrint_Red(own_name(), "[声明参数解析] MODULE:%s 获取MODULE_MAP失败", name.c_str());
    ++u.errors;
    return;
  }
  u.record.module_kind = map.kind;
  u.record.module_side = map.side;
  const int32_t base = module_alarm_base(*attached_db(), map.kind, map.side);
  if (base < 0) {
    Vexlor::VPrint_Red(own_name(), "[声明参数解析] MODULE:%s 获取ALARM_BASE失败", name.c_str());
    ++u.errors;
    return;
  }
  u.alarm_base = base;
}

void read_alarm_entry(Unpacking& u, const std::string& entry) {
  const char* module = u.record.module_name.c_str();
  const int32_t number = leading_int(entry);
  if (number == 0) {
    if (entry == kNoAlarm) {
      u.record.alarm_points.push_back(Vexlor::VEXLOR_UNUSED_POINT);
      return;
    }
    Vexlor::VPrint_Red(own_name(), "[声明参数解析] MODULE:%s ALARM_ID:%s 解析失败", module,
                       entry.c_str());
    ++u.errors;
    u.record.alarm_points.push_back(-1);
    return;
  }
  const int64_t id = u.alarm_base * 1000 + number;
  int point = -1;
  // An ID beyond the int32 range names no alarm; the lookup is not asked.
  const bool found = id >= INT32_MIN && id <= INT32_MAX &&
                     Vexlor::VAlarm_Find_Point(&point, static_cast<int>(id)) && point >= 0;
  if (!found) {
    Vexlor::VPrint_Red(own_name(), "[声明参数解析] MODULE:%s ALARM_ID: %s|%s 未识别", module,
                       module, entry.c_str());
    ++u.errors;
    point = -1;
  }
  u.record.alarm_points.push_back(point);
}

// One group "<head>$<alarms>$<ctrl>$<texts>"; further fields are ignored.
void read_group(Unpacking& u, const std::string& group) {
  u.record.io_head.clear();
  u.record.ctrl_mode = Vexlor::VEXLOR_UNUSED_POINT;
  u.record.alarm_points.clear();
  u.record.texts.clear();
  std::vector<std::string> fields;
  Vexlor::VStr_Seperate_Char(group, '$', fields);
  std::vector<std::string> entries;
  for (std::size_t i = 0; i < fields.size() && i < 4; ++i) {
    const std::string& field = fields[i];
    switch (i) {
      case 0:
        u.record.io_head = field;
        break;
      case 1:
        Vexlor::VStr_Seperate_Char(field, '&', entries);
        for (const std::string& entry : entries) read_alarm_entry(u, entry);
        break;
      case 2:
        // As written: the placeholder "-" of a control mode left out reads as mode 0, as an
        // empty field does (only an alarm entry "-" means "none").
        u.record.ctrl_mode = leading_int(field);
        break;
      default:
        Vexlor::VStr_Seperate_Char(field, '&', entries);
        u.record.texts = std::move(entries);
        entries.clear();
        break;
    }
  }
}

// The alarm list of a record, entries joined by "&"; counts the entries it cannot write.
std::string write_alarms(const Vexlor::ARG_PARAM_INFO_STRU& record, const std::string& module,
                         int& errors) {
  std::string list;
  const int32_t alarm_count = Vexlor::VSystem_Get_Alarm_Count();
  for (std::size_t i = 0; i < record.alarm_points.size(); ++i) {
    if (i > 0) list += '&';
    const int32_t point = record.alarm_points[i];
    if (point == Vexlor::VEXLOR_UNUSED_POINT) {
      list += kNoAlarm;
      continue;
    }
    const int id = Vexlor::VAlarm_Get_ID(point);  // reports a bad index itself
    if (point < 0 || point >= alarm_count || id < 0) {
      Vexlor::VPrint_Red(own_name(), "[声明参数组包] MODULE:%s 获取ALARM_ID失败,int = %d",
                         module.c_str(), point);
      ++errors;
      list += '0';
      continue;
    }
    list += std::to_string(id % 1000);
  }
  return list;
}

std::string join(const std::vector<std::string>& texts, char separator) {
  std::string out;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) out += separator;
    out += texts[i];
  }
  return out;
}

}  // namespace

int32_t leading_int(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > (int64_t{1} << 32)) break;  // already beyond the range; stop before overflow
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VFunction_Unpacking_Arg_Param(const char* text, std::vector<ARG_PARAM_INFO_STRU>& out) {
  if (d::attached_db() == nullptr) return false;  // `out` as it was
  out.clear();
  d::Unpacking u;
  std::vector<std::string> tokens;
  VStr_Seperate_Char(std::string(text ? text : ""), '|', tokens);
  d::read_module(u, tokens[0]);
  if (tokens.size() > 1) {
    std::vector<std::string> groups;
    VStr_Seperate_Char(tokens[1], ',', groups);
    for (const std::string& group : groups) {
      d::read_group(u, group);
      out.push_back(u.record);
    }
  }
  if (out.empty()) out.push_back(u.record);
  return u.errors == 0;
}

bool VFunction_Unpacking_Arg_Param(const char* text, ARG_PARAM_INFO_STRU& out) {
  std::vector<ARG_PARAM_INFO_STRU> records;
  if (!VFunction_Unpacking_Arg_Param(text, records) || records.empty()) return false;
  out = std::move(records.front());
  return true;
}

bool VFunction_Packaging_Arg_Param(std::vector<ARG_PARAM_INFO_STRU>& in, std::string& out) {
  if (in.empty()) return false;
  const std::string& module = in.front().module_name;
  int errors = 0;
  std::string text = module + "|";
  for (std::size_t g = 0; g < in.size(); ++g) {
    const ARG_PARAM_INFO_STRU& record = in[g];
    const bool has_ctrl = record.ctrl_mode != VEXLOR_UNUSED_POINT;
    std::string fields[4] = {record.io_head, d::write_alarms(record, module, errors),
                             has_ctrl ? std::to_string(record.ctrl_mode) : std::string(),
                             d::join(record.texts, '&')};
    int last = 3;
    while (last >= 0 && fields[last].empty()) --last;
    if (g > 0) text += ',';
    for (int i = 0; i <= last; ++i) {
      if (i > 0) text += '$';
      text += fields[i].empty() ? "-" : fields[i];
    }
  }
  out += text;
  return errors == 0;
}

bool VFunction_Check_Arg_Param(ARG_PARAM_INFO_STRU& info, bool need_module, bool need_head,
                               int min_alarms, bool need_ctrl) {
  if (d::attached_db() == nullptr) return false;
  bool ok = true;
  auto fail = [&ok](const char* line) {
    VPrint_Red(d::own_name(), "%s", line);
    ok = false;
  };
  if (need_module && info.module_name.empty()) fail("[声明参数有效性检查] MODULE_NAME未配置");
  if (need_head && info.io_head.empty()) fail("[声明参数有效性检查] IO_HEAD未配置");
  if (static_cast<int64_t>(info.alarm_points.size()) < min_alarms) {
    fail("[声明参数有效性检查] ALARM_ID配置缺少");
  }
  if (need_ctrl && info.ctrl_mode == VEXLOR_UNUSED_POINT) {
    fail("[声明参数有效性检查] CTRL_MODE未配置");
  }
  return ok;
}

}  // namespace Vexlor
