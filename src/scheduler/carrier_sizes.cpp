// Carrier wafer sizes read from the enumeration texts of the carrier type points, the size code
// conversions and the module display string.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frame/context.h"
#include "vexlor/digital.h"
#include "vexlor/frame.h"
#include "vexlor/module_strings.h"
#include "vexlor/points.h"
#include "vexlor/scheduler.h"
#include "vexlor/util.h"

namespace vexlor::detail {
namespace {

constexpr const char* kOperation = "Vexlor::VModule_Get_CM_Wafer_Size";
constexpr int kCarrierModules = 6;

struct SizeCode {
  int inches, code;
};
constexpr SizeCode kSizeCodes[] = {{2, 2}, {3, 4}, {4, 8}, {6, 32}, {8, 64}, {12, 128}};

// The digital point of a name through the process's name cache; -1 when it does not resolve to
// a digital point.
int digital_point(const char* name) {
  const Vexlor::IO_MAP map = Vexlor::IO_Map_Find(name);
  return map.type == Vexlor::IO_D ? map.point : Vexlor::VEXLOR_ERROR_POINT;
}

// The enumeration texts of a digital point in the equipment's language (none without
// enumeration).
std::vector<std::string> enum_texts(int point) {
  std::vector<std::string> texts;
  const int e = Vexlor::VDigital_Get_Enum_Point(point);
  if (e >= 0) Vexlor::VEnum_Get_SData_All(e, texts);
  return texts;
}

// The number of a text that names a size ("8Inch", "12 inch"): upper-cased, "INCH" removed,
// then its leading number. False when the text has no "Inch".
bool inches_of(const std::string& text, int* inches) {
  if (!Vexlor::VStr_Find_SubString_L(text.c_str(), "Inch")) return false;
  std::string upper = text;
  Vexlor::VStr_Upper(upper);
  for (std::size_t at = upper.find("INCH"); at != std::string::npos; at = upper.find("INCH")) {
    upper.erase(at, 4);
  }
  *inches = std::atoi(upper.c_str());
  return true;
}

// The enumeration text of a digital point's current value ("" when it has none).
std::string current_text(int point) {
  const std::vector<std::string> texts = enum_texts(point);
  const int value = Vexlor::VDigital_Read_Mem(point);
  return value >= 0 && static_cast<std::size_t>(value) < texts.size() ? texts[value] : "";
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VModule_Get_CM_Wafer_Size(int cm, int& size) {
  if (cm < 0 || cm >= d::kCarrierModules) {
    VSystem_Log(d::own_name(), LOG_ERR, "CM_Side:%d 超限，不能获得Wafer_Size![代码行:%s:%d]", cm,
                d::kOperation, __LINE__);
    return false;
  }
  char name[d::kNameSize];
  std::snprintf(name, sizeof name, "CM%d.Carrier", cm + 1);
  int parsed = 0;
  bool found = false;
  const int carrier = d::digital_point(name);
  if (carrier >= 0 && d::inches_of(d::current_text(carrier), &parsed)) {
    size = parsed;
    found = parsed >= 0 && parsed <= 12;
  }
  if (!found) {
    VSystem_Log(d::own_name(), LOG_ERR,
                "CM%d 当前 Wafer_Size设置:%d , Carrier判断:%d , 解析获取失败![代码行:%s:%d]",
                cm + 1, parsed, size, d::kOperation, __LINE__);
    return false;
  }
  // The wafer size setting is read as well; the carrier alone decides the size.
  std::snprintf(name, sizeof name, "CTC.WaferSize%d", cm + 1);
  const int setting = d::digital_point(name);
  if (setting >= 0) {
    int setting_inches = 0;
    d::inches_of(d::current_text(setting), &setting_inches);
  }
  return true;
}

int VModule_Get_CM_Wafer_Size(int cm) {
  int size = 0;
  VModule_Get_CM_Wafer_Size(cm, size);
  return size;
}

bool VModule_Get_CM_Wafer_Size(int sizes[6][3], int counts[6]) {
  if (sizes == nullptr || counts == nullptr) return false;
  for (int cm = 0; cm < d::kCarrierModules; ++cm) {
    counts[cm] = 0;
    for (int k = 0; k < 3; ++k) sizes[cm][k] = 0;
  }
  const int modules = VSystem_Get_CM_Count();
  int errors = 0;
  for (int cm = 0; cm < modules && cm < d::kCarrierModules; ++cm) {
    char name[d::kNameSize];
    std::snprintf(name, sizeof name, "CM%d.Carrier", cm + 1);
    const int carrier = d::digital_point(name);
    if (carrier < 0) {
      VPrint_Red(d::own_name(), "获取IO失败:%s", name);
      ++errors;
      continue;
    }
    for (const std::string& text : d::enum_texts(carrier)) {
      int inches = 0;
      if (!d::inches_of(text, &inches)) continue;
      if (inches < 1 || inches > 12) {
        ++errors;
      } else if (counts[cm] < 3) {
        sizes[cm][counts[cm]++] = inches;
      }
    }
  }
  if (modules <= 0) return false;
  if (errors == 0) return true;
  VSystem_Log(d::own_name(), LOG_ERR,
              "Wafer Size 解析错误! 请确定IO CMx.Carrier 与 CTC.WaferSize 是否存在 且 "
              "WaferSize枚举是否一致 , 枚举值格式必须是 整数 或 整数+Inch ");
  return false;
}

int VModule_Size_Conv_To_Inch(int inches) {
  for (const d::SizeCode& s : d::kSizeCodes) {
    if (s.inches == inches) return s.code;
  }
  return 0;
}

int VModule_Inch_Conv_To_Size(int code) {
  for (const d::SizeCode& s : d::kSizeCodes) {
    if (s.code == code) return s.inches;
  }
  return 0;
}

std::string VModule_Get_String(int kind, int side) {
  if (kind < 0 || kind > 3 || d::attached_db() == nullptr) return "";
  return std::string(VSCH_Get_Module_ID(kind, side)) + "(" + VSCH_Get_Module_Name(kind, side) + ")";
}

}  // namespace Vexlor
