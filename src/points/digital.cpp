// Digital points: raw access, access by name, pulses, and the enumeration texts of values in
// both directions. The fields and the value slot are expanded in point_fields.cpp.
#include "vexlor/digital.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "points/enum_texts.h"
#include "points/typed_point.h"

namespace vexlor::detail {
namespace {

using Digital = DigitalKind;

// Width of a caller's text buffer for the text of a value.
constexpr std::size_t kTextSize = kNameSize;

void write_number(char* text, int value) {
  if (text != nullptr) std::snprintf(text, kTextSize, "%d", value);
}

// The enumeration record of a point, or null when it has none (negative enum point) or the
// enum point is outside the enumeration table (reported for the operation at `site`).
const Vexlor::MEM_ENUM_SP_STRU* enumeration_of(const PointRef<Digital>& p, Site site) {
  const int32_t e = p.record().enum_point;
  if (e < 0) return nullptr;
  if (!index_in_range(IndexKind::kEnum, e, table_size(*p.db, IndexKind::kEnum), site.operation,
                      site.line)) {
    return nullptr;
  }
  return &p.db->enum_sp[e];
}

// The text of `value` into the caller's 64-byte buffer: the first entry holding the value, in
// the display language (or whole), else the decimal number. True when an entry was found.
bool value_text(const PointRef<Digital>& p, int value, char* text, bool whole, Site site) {
  if (const Vexlor::MEM_ENUM_SP_STRU* e = enumeration_of(p, site)) {
    for (int i = 0; i < 60; ++i) {
      if (e->values[i] != value) continue;
      const std::string_view entry = field_text(e->texts[i]);
      std::string_view shown = entry;
      if (!whole) {
        const Bilingual parts = split_bilingual(entry);
        const bool chinese = current_language() == Vexlor::LANGUAGE_CHINESE;
        shown = chinese && !parts.chinese.empty() ? parts.chinese : parts.english;
      }
      if (text != nullptr) copy_text(text, kTextSize, shown.substr(0, cut_length(shown, 63)));
      return true;
    }
  }
  write_number(text, value);
  return false;
}

// The value a text names: the first of the 60 entries whose whole text, English part or
// Chinese part equals it (letter case ignored; `exact_whole` compares the whole text byte for
// byte), else the text as a decimal integer. An empty text names the first entry with an
// empty part: a text without '|' has an empty Chinese part, an unused entry is empty whole.
bool text_value(const PointRef<Digital>& p, const char* text, bool exact_whole, int* value,
                Site site) {
  if (text == nullptr) return false;
  const std::string_view given(text);
  const Vexlor::MEM_ENUM_SP_STRU* e = enumeration_of(p, site);
  for (int i = 0; e != nullptr && i < 60; ++i) {
    const std::string_view entry = field_text(e->texts[i]);
    const Bilingual parts = split_bilingual(entry);
    if (equal_text(entry, given, !exact_whole) || equal_text(parts.english, given, true) ||
        equal_text(parts.chinese, given, true)) {
      *value = e->values[i];
      return true;
    }
  }
  return Vexlor::VStr_To_Int(text, value);
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;
using d::Digital;

// ---- Raw access ------------------------------------------------------------------------------

bool VDigital_Write_Pulse(int index, unsigned milliseconds) {
  if (!VDigital_Write(index, 1)) return false;
  VTime_MSleep(milliseconds > INT_MAX ? INT_MAX : static_cast<int>(milliseconds));
  return VDigital_Write(index, 0);
}

// ---- Enumeration texts -----------------------------------------------------------------------

bool VDigital_Read_Str(int index, char* text) {
  const d::PointRef<Digital> p = d::checked_point<Digital>(index, VEXLOR_SITE);
  int value = VEXLOR_UNUSED_POINT;
  if (!p || !VDigital_Read(index, &value)) {
    d::write_number(text, VEXLOR_UNUSED_POINT);
    return false;
  }
  d::value_text(p, value, text, false, VEXLOR_SITE);
  return true;
}

int VDigital_Read_Mem_Str(int index, char* text) {
  const d::PointRef<Digital> p = d::checked_point<Digital>(index, VEXLOR_SITE);
  if (!p) {
    d::write_number(text, VEXLOR_UNUSED_POINT);
    return VEXLOR_UNUSED_POINT;
  }
  const int value = d::shown_value(p);
  d::value_text(p, value, text, false, VEXLOR_SITE);
  return value;
}

bool VDigital_Write_Str(int index, const char* text) {
  if (text == nullptr || text[0] == '\0') return false;
  const d::PointRef<Digital> p = d::checked_point<Digital>(index, VEXLOR_SITE);
  if (!p) return false;
  int value = 0;
  if (!d::text_value(p, text, false, &value, VEXLOR_SITE)) {
    VSystem_Log(LOG_ERR, "[DIO:%s] 写入失败 , 未找到枚举:%s. [代码行:%s:%d]", p.record().name, text,
                "Vexlor::VDigital_Write_Str", __LINE__);
    return false;
  }
  return VDigital_Write(index, value);
}

bool VDigital_Write_Mem_Str(int index, const char* text) {
  const d::PointRef<Digital> p = d::checked_point<Digital>(index, VEXLOR_SITE);
  if (!p) return false;
  int value = 0;
  if (!d::text_value(p, text, true, &value, VEXLOR_SITE)) {
    VSystem_Log(LOG_ERR, "[DIO:%s] 写入失败. 未找到枚举:%s.[代码行:%s:%d]", p.record().name,
                text ? text : "", "Vexlor::VDigital_Write_Mem_Str", __LINE__);
    return false;
  }
  d::store_value(p.slot().write_value, value);
  return true;
}

// Given no buffer, the text is formed in a work area of the string library and dropped.
bool VDigital_Get_Enum_S_Data(int index, int value, char* text) {
  const d::PointRef<Digital> p = d::checked_point<Digital>(index, VEXLOR_SITE);
  if (!p) return false;
  if (text != nullptr) return d::value_text(p, value, text, false, VEXLOR_SITE);
  char* work = nullptr;
  if (!VStr_Prepare_Mem(&work, static_cast<int>(d::kTextSize))) {
    VSystem_Log(LOG_ERR, "%s:%s 执行失败 , 获取枚举:%d字符串 内存准备不足,  返回 false.",
                "Vexlor::VDigital_Get_Enum_S_Data", p.record().name, value);
    return false;
  }
  const bool found = d::value_text(p, value, work, false, VEXLOR_SITE);
  std::free(work);
  return found;
}

bool VDigital_Get_Enum_S_Data2(int index, int value, char* text) {
  const d::PointRef<Digital> p = d::checked_point<Digital>(index, VEXLOR_SITE);
  return p && d::value_text(p, value, text, true, VEXLOR_SITE);
}

bool VDigital_Get_Enum_SData_All(int index, int language, char**& texts, int& count) {
  const d::PointRef<Digital> p = d::checked_point<Digital>(index, VEXLOR_SITE);
  if (!p || p.record().enum_point < 0) return false;
  VEnum_Get_SData_All(p.record().enum_point, language, texts, count);
  return true;
}

bool VDigital_Get_Enum_SData_All(int index, int language, std::vector<std::string>& texts) {
  const d::PointRef<Digital> p = d::checked_point<Digital>(index, VEXLOR_SITE);
  if (!p || p.record().enum_point < 0) return false;
  VEnum_Get_SData_All(p.record().enum_point, language, texts);
  return true;
}

}  // namespace Vexlor
