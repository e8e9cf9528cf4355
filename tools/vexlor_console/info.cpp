// `vexlor info POINT`: everything about one point in one place: kind and index, value and
// status, limits, decimals, unit, enumeration items, drivers and their state, mode,
// interlocks, initial value, annotation and append.
#include <vexlor/vexlor.h>

#include "console.h"

namespace vexlor_console {
namespace {

struct DriverInfo {
  int index = -1;
  std::string name;
  int type = 0;
  bool offline = false;
};

struct PointInfo {
  PointRow row;
  bool limited = false;  // digital and analog: min, max
  double min = 0, max = 0;
  int decimals = -1;  // analog only
  int enumeration = -1;
  std::string enumeration_name;
  std::vector<std::pair<int, std::string>> items;  // value, text in the equipment's language
  bool has_input = false, has_output = false;
  DriverInfo input, output;
  int mode = 0;
  bool setpoint_interlock = false, value_interlock = false;
  std::string initial, annotation, append;
};

DriverInfo driver_info(int driver) {
  DriverInfo d;
  d.index = driver;
  d.name = Vexlor::VDriver_Get_Name(driver);
  d.type = Vexlor::VDriver_Get_Type(driver);
  d.offline = driver_offline(driver);
  return d;
}

PointInfo collect(const PointRow& row) {
  PointInfo p;
  p.row = row;
  const int i = row.index;
  const Vexlor::IO_TYPE kind = kind_of(row);
  switch (kind) {
    case Vexlor::IO_D: {
      p.limited = true;
      p.min = Vexlor::VDigital_Get_Min(i);
      p.max = Vexlor::VDigital_Get_Max(i);
      p.mode = static_cast<int>(Vexlor::VDigital_Get_Mode(i));
      p.setpoint_interlock = Vexlor::VDigital_Get_SIntlk_Use(i);
      p.value_interlock = Vexlor::VDigital_Get_VIntlk_Use(i);
      p.initial = std::to_string(Vexlor::VDigital_Get_Init(i));
      p.annotation = Vexlor::VDigital_Get_Annotation(i);
      p.append = Vexlor::VDigital_Get_Append(i);
      const int e = Vexlor::VDigital_Get_Enum_Point(i);
      if (e >= 0 && e < Vexlor::VSystem_Get_Enum_Count()) {
        p.enumeration = e;
        p.enumeration_name = Vexlor::VEnum_Get_Name(e);
        std::vector<std::string> texts;
        Vexlor::VEnum_Get_SData_All(e, Vexlor::VSystem_Get_Language(), texts);
        for (int k = 0; k < static_cast<int>(texts.size()); ++k) {
          p.items.emplace_back(Vexlor::VEnum_Get_DData(e, k), texts[k]);
        }
      }
      break;
    }
    case Vexlor::IO_A:
      p.limited = true;
      p.min = Vexlor::VAnalog_Get_Min(i);
      p.max = Vexlor::VAnalog_Get_Max(i);
      p.decimals = Vexlor::VAnalog_Get_Decimal(i);
      p.mode = static_cast<int>(Vexlor::VAnalog_Get_Mode(i));
      p.setpoint_interlock = Vexlor::VAnalog_Get_SIntlk_Use(i);
      p.value_interlock = Vexlor::VAnalog_Get_VIntlk_Use(i);
      p.initial = decimal_text(Vexlor::VAnalog_Get_Init(i), p.decimals);
      p.annotation = Vexlor::VAnalog_Get_Annotation(i);
      p.append = Vexlor::VAnalog_Get_Append(i);
      break;
    default:
      p.mode = static_cast<int>(Vexlor::VString_Get_Mode(i));
      p.setpoint_interlock = Vexlor::VString_Get_SIntlk_Use(i);
      p.value_interlock = Vexlor::VString_Get_VIntlk_Use(i);
      p.initial = Vexlor::VString_Get_Init(i);
      p.annotation = Vexlor::VString_Get_Annotation(i);
      p.append = Vexlor::VString_Get_Append(i);
      break;
  }
  const int in = input_driver(kind, i), out = output_driver(kind, i);
  p.has_input = has_driver(in);
  if (p.has_input) p.input = driver_info(in);
  p.has_output = has_driver(out);
  if (p.has_output) p.output = driver_info(out);
  return p;
}

std::string limit_text(const PointInfo& p, double value) {
  return p.decimals >= 0 ? decimal_text(value, p.decimals)
                         : std::to_string(static_cast<long long>(value));
}

std::string driver_text(bool present, const DriverInfo& d) {
  if (!present) return "-";
  return d.name + " (driver " + std::to_string(d.index) + ", type " + std::to_string(d.type) +
         ", " + (d.offline ? "offline" : "online") + ")";
}

void json_driver(JsonWriter& json, const char* key, bool present, const DriverInfo& d) {
  json.key(key);
  if (!present) {
    json.null();
    return;
  }
  json.begin_object().field("index", d.index).field("name", d.name).field("type", d.type);
  json.field("state", d.offline ? "offline" : "online").end_object();
}

}  // namespace

int run_info(const Options& o, const std::string& name) {
  PointRow row;
  if (!point_by_name(name, &row)) return fail("unknown point " + in_quotes(name));
  const PointInfo p = collect(row);
  const bool text_kind = kind_of(row) == Vexlor::IO_S;
  if (o.json) {
    JsonWriter json;
    json.begin_object();
    json_of_point_fields(row, json);
    json.key("min");
    p.limited ? json.value(p.min) : json.null();
    json.key("max");
    p.limited ? json.value(p.max) : json.null();
    json.key("decimals");
    p.decimals >= 0 ? json.value(p.decimals) : json.null();
    json.key("capacity");
    text_kind ? json.value(static_cast<int>(kStringCapacity)) : json.null();
    json.key("enumeration");
    if (p.enumeration >= 0) {
      json.begin_object().field("index", p.enumeration).field("name", p.enumeration_name);
      json.key("items").begin_array();
      for (const auto& [value, text] : p.items) {
        json.begin_object().field("number", value).field("text", text).end_object();
      }
      json.end_array().end_object();
    } else {
      json.null();
    }
    json_driver(json, "input_driver", p.has_input, p.input);
    json_driver(json, "output_driver", p.has_output, p.output);
    json.field("mode", p.mode).field("setpoint_interlock", p.setpoint_interlock);
    json.field("value_interlock", p.value_interlock).field("initial_value", p.initial);
    json.field("annotation", p.annotation).field("append", p.append).end_object();
    print(json.text() + "\n");
    return kOk;
  }
  std::string text;
  const bool chinese = vexlor_tools::display_chinese();
  auto line = [&text, chinese](const char* label, const std::string& value) {
    const std::string l = word(label, chinese);
    const std::size_t width = display_width(l);
    text +=
        l + std::string(width < 13 ? 13 - width : 1, ' ') + (value.empty() ? "-" : value) + "\n";
  };
  line("name|名称", row.name);
  line("kind|类型", row.kind + " point " + std::to_string(row.index));
  std::string value = display_text(row);
  if (text_kind && row.read_ok) value = quoted(row.value);
  if (row.read_ok && !text_kind && row.raw != row.value) value += " (raw " + row.raw + ")";
  line("value|值", value);
  line("status|状态", row.status);
  if (p.limited) line("limits|范围", limit_text(p, p.min) + ".." + limit_text(p, p.max));
  if (p.decimals >= 0) line("decimals|小数位", std::to_string(p.decimals));
  if (!text_kind) line("unit|单位", row.unit);
  if (text_kind) line("capacity|容量", std::to_string(kStringCapacity) + " bytes");
  if (kind_of(row) == Vexlor::IO_D) {
    std::string items;
    for (const auto& [v, text] : p.items) {
      items += (items.empty() ? "" : ", ") + std::to_string(v) + " " + text;
    }
    line("enumeration|枚举", p.enumeration >= 0 ? p.enumeration_name + ": " + items : "");
  }
  line("input|输入", driver_text(p.has_input, p.input));
  line("output|输出", driver_text(p.has_output, p.output));
  line("mode|模式", std::to_string(p.mode));
  line("interlocks|联锁", std::string("setpoint ") + (p.setpoint_interlock ? "yes" : "no") +
                              ", value " + (p.value_interlock ? "yes" : "no"));
  line("initial|初始值", text_kind ? quoted(p.initial) : p.initial);
  line("annotation|注释", cell(p.annotation, 200));
  line("append|附加", cell(p.append, 200));
  print(text);
  return kOk;
}

}  // namespace vexlor_console
