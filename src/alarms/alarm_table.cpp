// The alarm table: lookup by alarm ID, module text or module slot, the definition and
// run-time fields, the bilingual texts and the recovery choices.
#include <vexlor/alarms.h>
#include <vexlor/frame.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "alarms/alarm_core.h"
#include "util/charset.h"
#include "frame/context.h"
#include "frame/index_check.h"
#include "util/text.h"
#include "points/lookup.h"

namespace vexlor::detail {

std::string_view language_part(std::string_view text, int32_t language, std::size_t max_bytes) {
  const Bilingual parts = split_bilingual(text);
  std::string_view part = parts.english;
  if (language == Vexlor::LANGUAGE_CHINESE && !parts.chinese.empty()) part = parts.chinese;
  return part.substr(0, cut_length(part, max_bytes));
}

Vexlor::MMAP_STRU* alarm_db_quiet(int32_t point) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr || point < 0 || point >= db->system_block->alarm_count) return nullptr;
  return db;
}

namespace {

// The number of recovery choices a record really offers.
int32_t choice_count(const Vexlor::MEM_ALARM_SP_STRU& sp) {
  return std::clamp<int32_t>(sp.recovery_count, 0, 8);
}

// A text of the alarm's definition or run-time record in `language` into a 512-byte buffer.
template <std::size_t N>
void copy_language_part(char* out, const char (&field)[N], int32_t language) {
  copy_text(out, kAlarmTextSize, language_part(field_text(field), language, kAlarmTextSize - 1));
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

// ---- Lookup ----------------------------------------------------------------------------

bool VAlarm_Find_Point(int* point, int id) {
  return d::alarm_point_by_id(point, id, true, "Vexlor::VAlarm_Find_Point", __LINE__);
}

bool VAlarm_Find_Point(int* point, const char* module, int number) {
  return d::alarm_point_by_module(point, module, number, true, "Vexlor::VAlarm_Find_Point",
                                  __LINE__);
}

bool VAlarm_Find_Point(int* point, MODULE_TYPE type, int module_number, int number) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return false;
  // The module alarm bases of the system block, [kind][module number]; 0 outside it.
  const auto& bases = db->system_block->module_alarm_bases;
  int32_t base = 0;
  if (type >= 0 && type < static_cast<int>(std::size(bases)) && module_number >= 0 &&
      module_number < static_cast<int>(std::size(bases[0]))) {
    base = bases[type][module_number];
  }
  if (base < 0) {
    if (point) *point = -1;
    return false;
  }
  return d::alarm_point_by_id(point, int64_t{base} * 1000 + number, true,
                              "Vexlor::VAlarm_Find_Point", __LINE__);
}

// ---- Definition and run-time fields ----------------------------------------------------
// One getter per field: (name, result, table, member, failure value).
#define VEXLOR_ALARM_FIELD(Name, Result, table, member, failure)        \
  Result Name(int point) {                                              \
    MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);                   \
    return db ? static_cast<Result>(db->table[point].member) : failure; \
  }
VEXLOR_ALARM_FIELD(VAlarm_Get_ID, int, alarm_sp, alarm_id, 0)
VEXLOR_ALARM_FIELD(VAlarm_Get_Module_Point, int, alarm_sp, module_point, 0)
VEXLOR_ALARM_FIELD(VAlarm_Get_Level, ALARM_LEVEL, alarm_sp, level, ALARM_LEVEL{0})
VEXLOR_ALARM_FIELD(VAlarm_Get_Used, bool, alarm_sp, used, false)
VEXLOR_ALARM_FIELD(VAlarm_Get_Name, const char*, alarm_sp, name, "")
VEXLOR_ALARM_FIELD(VAlarm_Get_Description, const char*, alarm_sp, description, "")
VEXLOR_ALARM_FIELD(VAlarm_Get_Code_Position, const char*, alarm_rt, code_position, "")
VEXLOR_ALARM_FIELD(VAlarm_Get_Post_Time, const char*, alarm_rt, post_time, "")
VEXLOR_ALARM_FIELD(VAlarm_Get_Clear_Time, const char*, alarm_rt, clear_time, "")
VEXLOR_ALARM_FIELD(VAlarm_Get_Recovery_Result_Count, int, alarm_sp, recovery_count, 0)
#undef VEXLOR_ALARM_FIELD

// Run-time numbers that posting and answering rewrite while others read them.
int VAlarm_Get_Post_Type(int point) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  return db ? vexlor::os::load_relaxed(db->alarm_rt[point].post_type) : 0;
}

int VAlarm_Get_Func_Point(int point) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  return db ? vexlor::os::load_relaxed(db->alarm_rt[point].function_point) : VEXLOR_UNUSED_POINT;
}

bool VAlarm_Get_Text(int point, LANGUAGE language, char* text) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  if (db == nullptr || text == nullptr) return false;
  d::copy_language_part(text, db->alarm_sp[point].text, language);
  return true;
}

bool VAlarm_Get_Append(int point, LANGUAGE language, char* text) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  if (db == nullptr || text == nullptr) return false;
  char stored[sizeof db->alarm_rt[point].append];
  d::load_text(stored, db->alarm_rt[point].append);
  d::copy_language_part(text, stored, language);
  return true;
}

bool VAlarm_Get_Text_Full(int point, char* text) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  if (db == nullptr || text == nullptr) return false;
  const LANGUAGE language = VSystem_Get_Language();
  char own[d::kAlarmTextSize];
  char append[d::kAlarmTextSize];
  d::copy_language_part(own, db->alarm_sp[point].text, language);
  char stored[sizeof db->alarm_rt[point].append];
  d::load_text(stored, db->alarm_rt[point].append);
  d::copy_language_part(append, stored, language);
  if (append[0] == '\0') {
    d::copy_text(text, d::kAlarmTextSize, own);
    return true;
  }
  std::string full = own;
  full += '(';
  full += append;
  full += ')';
  const std::string_view view(full);
  d::copy_text(text, d::kAlarmTextSize, view.substr(0, d::cut_length(view, d::kAlarmTextSize - 1)));
  return true;
}

// ---- Recovery choices ------------------------------------------------------------------

void VAlarm_Get_Recovery_Result(int point, ALARM_STYLE out[]) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  if (db == nullptr || out == nullptr) return;
  const MEM_ALARM_SP_STRU& sp = db->alarm_sp[point];
  for (int32_t i = 0; i < d::choice_count(sp); ++i) {
    out[i] = static_cast<ALARM_STYLE>(sp.recovery_results[i]);
  }
}

void VAlarm_Get_Recovery_Result_Message(int point, LANGUAGE language, char**& texts, int& count) {
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  if (db == nullptr) return;
  const MEM_ALARM_SP_STRU& sp = db->alarm_sp[point];
  count = d::choice_count(sp);
  texts = nullptr;
  if (count <= 0) return;
  auto** array = static_cast<char**>(std::calloc(static_cast<std::size_t>(count), sizeof(char*)));
  if (array == nullptr) {
    count = 0;
    return;
  }
  for (int i = 0; i < count; ++i) {
    const std::string part(d::language_part(d::field_text(sp.recovery_messages[i]), language,
                                            d::kAlarmCaptionSize - 1));
    VStr_Copy_Mem(&array[i], part.c_str());
  }
  texts = array;
}

void VAlarm_Get_Recovery_Result_Message(int point, LANGUAGE language,
                                        std::vector<std::string>& texts) {
  texts.clear();
  MMAP_STRU* db = VEXLOR_CHECKED_DB(kAlarm, point);
  if (db == nullptr) return;
  const MEM_ALARM_SP_STRU& sp = db->alarm_sp[point];
  for (int32_t i = 0; i < d::choice_count(sp); ++i) {
    texts.emplace_back(d::language_part(d::field_text(sp.recovery_messages[i]), language,
                                        d::kAlarmCaptionSize - 1));
  }
}

void VAlarm_Free_Recovery_Result_Message(char**& texts, int count) {
  if (texts == nullptr) return;
  for (int i = 0; i < count; ++i) std::free(texts[i]);
  std::free(texts);
  texts = nullptr;
}

}  // namespace Vexlor
