// The enumeration table: finding enumerations by name, reading items, translating between
// item index, value and text, and copying item lists out (the array forms hand the caller
// memory that the matching free releases).
#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "frame/context.h"
#include "frame/index_check.h"
#include "util/text.h"
#include "points/enum_texts.h"
#include "points/lookup.h"
#include "vexlor/points.h"

namespace vexlor::detail {
namespace {

using Vexlor::MEM_ENUM_SP_STRU;

constexpr int kItemSlots = 60;

// The enumeration record behind a checked database (null when the check failed).
const MEM_ENUM_SP_STRU* record(const Vexlor::MMAP_STRU* db, int point) {
  return db ? &db->enum_sp[point] : nullptr;
}

// Items in use, kept within the record's slots whatever the count field holds.
int items_in_use(const MEM_ENUM_SP_STRU& e) { return std::clamp(e.item_count, 0, kItemSlots); }

// First slot of all 60 holding the value; -1 when none.
int slot_of_value(const MEM_ENUM_SP_STRU& e, int value) {
  for (int i = 0; i < kItemSlots; ++i) {
    if (e.values[i] == value) return i;
  }
  return -1;
}

// First slot of all 60 named by the text; -1 when none. A null text reads as "".
int slot_of_text(const MEM_ENUM_SP_STRU& e, const char* text) {
  const EnumTextMatcher matcher(text ? std::string_view(text) : std::string_view());
  for (int i = 0; i < kItemSlots; ++i) {
    if (matcher.names(field_text(e.texts[i]))) return i;
  }
  return -1;
}

void append_variants(const MEM_ENUM_SP_STRU& e, int language, std::vector<std::string>& texts) {
  const int n = items_in_use(e);
  for (int i = 0; i < n; ++i) texts.emplace_back(enum_variant(field_text(e.texts[i]), language));
}

// A new array of the chosen variants, one malloc'ed text buffer each (a buffer that could not
// be had stays null, which the free skips). Outputs untouched for 0 items or when the array
// itself could not be had.
void hand_out_variants(const MEM_ENUM_SP_STRU& e, int language, char**& texts, int& count) {
  const int n = items_in_use(e);
  if (n == 0) {
    count = 0;
    return;
  }
  char** out = new (std::nothrow) char*[n]();
  if (out == nullptr) return;
  for (int i = 0; i < n; ++i) {
    const std::string variant(enum_variant(field_text(e.texts[i]), language));
    if (Vexlor::VStr_Prepare_Mem(&out[i], 64)) Vexlor::VStr_Copy_Mem(&out[i], variant.c_str());
  }
  texts = out;
  count = n;
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

bool VEnum_Find_Point(int* point, const char* name) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return false;
  if (point) *point = VEXLOR_ERROR_POINT;
  const std::string_view wanted = name ? std::string_view(name) : std::string_view();
  const int32_t count = db->system_block->enum_count;
  for (int32_t i = 0; i < count; ++i) {
    if (d::name_matches(db->enum_sp[i].name, wanted)) {
      if (point) *point = i;
      return true;
    }
  }
  VPrint_Red(d::own_name(), "枚举量:%s 未识别", name ? name : "");
  return false;
}

const char* VEnum_Get_Name(int point) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  return e ? e->name : "";
}

int VEnum_Get_Data_Count(int point) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  return e ? e->item_count : 0;
}

int VEnum_Get_DData(int point, int index) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  return e && index >= 0 && index < d::kItemSlots ? e->values[index] : 0;
}

const char* VEnum_Get_SData(int point, int index) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  return e && index >= 0 && index < d::kItemSlots ? e->texts[index] : "";
}

const char* VEnum_Get_SData_By_DData(int point, int value) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  const int slot = e ? d::slot_of_value(*e, value) : -1;
  return slot >= 0 ? e->texts[slot] : "";
}

int VEnum_Get_Index_By_DData(int point, int value) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  const int slot = e ? d::slot_of_value(*e, value) : -1;
  return slot >= 0 ? slot : VEXLOR_UNUSED_POINT;
}

int VEnum_Get_DData_By_SData(int point, const char* text) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  const int slot = e ? d::slot_of_text(*e, text) : -1;
  return slot >= 0 ? e->values[slot] : VEXLOR_UNUSED_POINT;
}

int VEnum_Get_Index_By_SData(int point, const char* text) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  const int slot = e ? d::slot_of_text(*e, text) : -1;
  return slot >= 0 ? slot : VEXLOR_UNUSED_POINT;
}

void VEnum_Get_DData_All(int point, std::vector<int>& values) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  if (e == nullptr) return;
  values.insert(values.end(), e->values, e->values + d::items_in_use(*e));
}

void VEnum_Get_DData_All(int point, int*& values, int& count) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  if (e == nullptr) return;
  const int n = d::items_in_use(*e);
  if (n == 0) {
    count = 0;
    return;
  }
  int* out = new (std::nothrow) int[n];
  if (out == nullptr) return;
  std::copy(e->values, e->values + n, out);
  values = out;
  count = n;
}

void VEnum_Get_SData_All(int point, std::vector<std::string>& texts) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  if (e) d::append_variants(*e, d::current_language(), texts);
}

void VEnum_Get_SData_All(int point, char**& texts, int& count) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  if (e) d::hand_out_variants(*e, d::current_language(), texts, count);
}

void VEnum_Get_SData_All(int point, int language, std::vector<std::string>& texts) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  if (e) d::append_variants(*e, language, texts);
}

void VEnum_Get_SData_All(int point, int language, char**& texts, int& count) {
  const MEM_ENUM_SP_STRU* e = d::record(VEXLOR_CHECKED_DB(kEnum, point), point);
  if (e) d::hand_out_variants(*e, language, texts, count);
}

void VEnum_Free_DData_All(int*& values, int /*count*/) {
  delete[] values;
  values = nullptr;
}

void VEnum_Free_SData_All(char**& texts, int count) {
  if (texts == nullptr) return;
  for (int i = 0; i < count; ++i) std::free(texts[i]);
  delete[] texts;
  texts = nullptr;
}

}  // namespace Vexlor
