// `vexlor points`: the typed points with value, unit and state; reading and writing one point
// by name through the library's generic by-name access.
#include <vexlor/vexlor.h>

#include <cstdio>

#include "console.h"

namespace vexlor_console {

const char* const kKinds[] = {"digital", "analog", "string"};

std::string decimal_text(double value, int decimal) {
  if (decimal < 0 || decimal > 8) decimal = 2;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimal, value);
  return buffer;
}

int input_driver(Vexlor::IO_TYPE kind, int index) {
  switch (kind) {
    case Vexlor::IO_D:
      return Vexlor::VDigital_Get_IDrv_Point(index);
    case Vexlor::IO_A:
      return Vexlor::VAnalog_Get_IDrv_Point(index);
    default:
      return Vexlor::VString_Get_IDrv_Point(index);
  }
}

int output_driver(Vexlor::IO_TYPE kind, int index) {
  switch (kind) {
    case Vexlor::IO_D:
      return Vexlor::VDigital_Get_ODrv_Point(index);
    case Vexlor::IO_A:
      return Vexlor::VAnalog_Get_ODrv_Point(index);
    default:
      return Vexlor::VString_Get_ODrv_Point(index);
  }
}

bool has_driver(int driver) { return driver >= 0 && driver < Vexlor::VSystem_Get_Driver_Count(); }

Vexlor::IO_TYPE kind_of(const PointRow& row) {
  if (row.kind == kKinds[0]) return Vexlor::IO_D;
  if (row.kind == kKinds[1]) return Vexlor::IO_A;
  return Vexlor::IO_S;
}

// Reads one point through its drivers and fills the row.
PointRow read_point(Vexlor::IO_TYPE kind, int index) {
  PointRow row;
  row.kind = kKinds[kind];
  row.index = index;
  switch (kind) {
    case Vexlor::IO_D: {
      row.name = Vexlor::VDigital_Get_Name(index);
      row.unit = Vexlor::VDigital_Get_Unit(index);
      int value = 0;
      row.read_ok = Vexlor::VDigital_Read(index, &value);
      if (row.read_ok) {
        row.numeric = true;
        row.number = value;
        row.raw = std::to_string(value);
        row.value = row.raw;
        if (Vexlor::VDigital_Get_Enum_Point(index) >= 0) {
          char text[64] = {};
          Vexlor::VDigital_Get_Enum_S_Data(index, value, text);
          row.value = text;
        }
      }
      break;
    }
    case Vexlor::IO_A: {
      row.name = Vexlor::VAnalog_Get_Name(index);
      row.unit = Vexlor::VAnalog_Get_Unit(index);
      double value = 0;
      row.read_ok = Vexlor::VAnalog_Read(index, &value);
      if (row.read_ok) {
        row.numeric = true;
        row.number = value;
        row.value = decimal_text(value, Vexlor::VAnalog_Get_Decimal(index));
        char raw[64];
        std::snprintf(raw, sizeof raw, "%.15g", value);
        row.raw = raw;
      }
      break;
    }
    default: {
      row.name = Vexlor::VString_Get_Name(index);
      char text[1024] = {};
      row.read_ok = Vexlor::VString_Read(index, text);
      if (row.read_ok) row.value = row.raw = text;
      break;
    }
  }
  const int in = input_driver(kind, index), out = output_driver(kind, index);
  if ((has_driver(in) && driver_offline(in)) || (has_driver(out) && driver_offline(out))) {
    row.status = "offline";
  } else {
    row.status = row.read_ok ? "ok" : "fail";
  }
  return row;
}

namespace {

int count_of(Vexlor::IO_TYPE kind) {
  switch (kind) {
    case Vexlor::IO_D:
      return Vexlor::VSystem_Get_Digital_Count();
    case Vexlor::IO_A:
      return Vexlor::VSystem_Get_Analog_Count();
    default:
      return Vexlor::VSystem_Get_String_Count();
  }
}

const char* name_of(Vexlor::IO_TYPE kind, int index) {
  switch (kind) {
    case Vexlor::IO_D:
      return Vexlor::VDigital_Get_Name(index);
    case Vexlor::IO_A:
      return Vexlor::VAnalog_Get_Name(index);
    default:
      return Vexlor::VString_Get_Name(index);
  }
}

// Why a write through VIO_Write was refused, as far as the definition tells.
std::string write_refusal(const PointRow& row, const std::string& value) {
  const Vexlor::IO_TYPE kind = kind_of(row);
  const int out = output_driver(kind, row.index);
  if (has_driver(out) && driver_offline(out)) {
    return "cannot write " + row.name + ": output driver " + Vexlor::VDriver_Get_Name(out) +
           " is offline";
  }
  const std::string head = "cannot write " + in_quotes(value) + " to " + row.name + ": ";
  double number = 0;
  const bool is_number = Vexlor::VStr_To_Double(value.c_str(), &number);
  if (kind == Vexlor::IO_D) {
    const std::string range = std::to_string(Vexlor::VDigital_Get_Min(row.index)) + ".." +
                              std::to_string(Vexlor::VDigital_Get_Max(row.index));
    if (is_number) return head + "out of range " + range;
    std::string allowed = "a number in " + range;
    const int e = Vexlor::VDigital_Get_Enum_Point(row.index);
    if (e >= 0) {
      std::vector<std::string> texts;
      Vexlor::VEnum_Get_SData_All(e, Vexlor::VSystem_Get_Language(), texts);
      std::string list;
      for (const auto& t : texts) list += (list.empty() ? "" : ", ") + t;
      allowed = "one of " + list + " or " + allowed;
    }
    return head + "not " + allowed;
  }
  if (kind == Vexlor::IO_A) {
    const int decimal = Vexlor::VAnalog_Get_Decimal(row.index);
    const std::string range = decimal_text(Vexlor::VAnalog_Get_Min(row.index), decimal) + ".." +
                              decimal_text(Vexlor::VAnalog_Get_Max(row.index), decimal);
    return head + (is_number ? "out of range " : "not a number in ") + range;
  }
  return head + "the write failed";
}

}  // namespace

std::string display_text(const PointRow& r) {
  if (!r.read_ok) return "-";
  if (r.kind == kKinds[2]) return r.value;
  return r.value + (r.unit.empty() ? "" : " " + r.unit);
}

std::vector<PointRow> collect_points(std::string_view pattern) {
  std::vector<PointRow> rows;
  for (Vexlor::IO_TYPE kind : {Vexlor::IO_D, Vexlor::IO_A, Vexlor::IO_S}) {
    const int count = count_of(kind);
    for (int i = 0; i < count; ++i) {
      if (name_matches(name_of(kind, i), pattern)) rows.push_back(read_point(kind, i));
    }
  }
  return rows;
}

bool point_by_name(const std::string& name, PointRow* row) {
  // The order of the by-name access: digital, then analog, then string.
  for (Vexlor::IO_TYPE kind : {Vexlor::IO_D, Vexlor::IO_A, Vexlor::IO_S}) {
    int point = -1;
    if (Vexlor::VIO_Find_Point(&point, kind, true, name.c_str()) && point >= 0) {
      *row = read_point(kind, point);
      return true;
    }
  }
  return false;
}

void table_of_points(const std::vector<PointRow>& rows, std::string* text) {
  TextTable t({"NAME|名称", "KIND|类型", "VALUE|值", "UNIT|单位", "STATUS|状态"});
  for (const PointRow& r : rows) {
    std::string value = "-";
    if (r.read_ok) value = r.kind == kKinds[2] && r.value.empty() ? "\"\"" : cell(r.value);
    t.add({r.name, r.kind, value, r.unit.empty() ? "-" : r.unit, r.status});
  }
  *text += t.render();
}

void json_of_point_fields(const PointRow& r, JsonWriter& json) {
  json.field("name", r.name).field("kind", r.kind).field("index", r.index);
  json.key("value");
  if (r.read_ok) {
    json.value(r.value);
  } else {
    json.null();
  }
  json.key("raw");
  if (r.read_ok && r.numeric) {
    json.value(r.number);
  } else {
    json.null();
  }
  json.field("unit", r.unit).field("status", r.status);
}

void json_of_point(const PointRow& r, JsonWriter& json) {
  json.begin_object();
  json_of_point_fields(r, json);
  json.end_object();
}

void json_of_points(const std::vector<PointRow>& rows, JsonWriter& json) {
  json.begin_array();
  for (const PointRow& r : rows) json_of_point(r, json);
  json.end_array();
}

int run_points(const Options& o, const std::string& pattern) {
  const std::vector<PointRow> rows = collect_points(pattern);
  if (o.json) {
    JsonWriter json;
    json_of_points(rows, json);
    print(json.text() + "\n");
    return kOk;
  }
  if (rows.empty()) {
    if (!pattern.empty()) return fail("no point matches " + in_quotes(pattern));
    print(word("no points|无点") + "\n");
    return kOk;
  }
  std::string text;
  table_of_points(rows, &text);
  print(text);
  return kOk;
}

int run_point_get(const Options& o, const std::string& name, bool raw) {
  PointRow row;
  if (!point_by_name(name, &row)) return fail("unknown point " + in_quotes(name));
  const int in = input_driver(kind_of(row), row.index);
  if (has_driver(in) && driver_offline(in)) {
    return fail("cannot read " + row.name + ": input driver " + Vexlor::VDriver_Get_Name(in) +
                " is offline");
  }
  if (!row.read_ok) return fail("cannot read " + row.name);
  if (o.json) {
    JsonWriter json;
    json_of_point(row, json);
    print(json.text() + "\n");
  } else {
    print((raw ? row.raw : display_text(row)) + "\n");
  }
  return kOk;
}

int run_point_set(const Options& o, const std::string& name, const std::string& value) {
  PointRow row;
  if (!point_by_name(name, &row)) return fail("unknown point " + in_quotes(name));
  if (!Vexlor::VIO_Write(name.c_str(), value.c_str(), true)) {
    const std::string refusal = write_refusal(row, value);
    journal("set", row.name, value, refusal);
    return fail(refusal);
  }
  journal("set", row.name, value, "ok");
  if (row.kind == kKinds[2] && value.size() > kStringCapacity) {
    warn(row.name + " holds " + std::to_string(kStringCapacity) +
         " bytes: the value was cut from " + std::to_string(value.size()));
  }
  point_by_name(name, &row);  // read back what the point holds now
  if (o.json) {
    JsonWriter json;
    json_of_point(row, json);
    print(json.text() + "\n");
  } else {
    print(row.name + " = " + display_text(row) + "\n");
  }
  return kOk;
}

}  // namespace vexlor_console
