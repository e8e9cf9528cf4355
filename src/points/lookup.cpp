// Point lookup: names to points in the digital, analog, string, function and alarm tables,
// with the format forms and the numbered families.
#include "points/lookup.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "db/db_image.h"
#include "db/name_index.h"
#include "frame/context.h"
#include "util/charset.h"
#include "util/text.h"
#include "vexlor/points.h"

// The functions a lookup runs through, here and in the name index, normalisation and text
// helpers, are marked hot: the compiler gathers them on a few pages of code, so the first lookup
// after attaching (when the unmapping of an earlier image has flushed every translation) walks
// few code pages.

namespace vexlor::detail {

using Vexlor::IO_TYPE;

const char* io_type_text(int type) {
  static constexpr const char* kTexts[] = {"IO_D", "IO_A", "IO_S", "IO_F", "IO_L"};
  return type >= 0 && type <= 4 ? kTexts[type] : "IO_UNKNOWN";
}

[[gnu::hot]] bool name_matches(const char (&field)[64], std::string_view name) {
  // Length first: the field must end exactly where the name does.
  // Cheap rejections first: the field must end exactly where the name does, and the last
  // bytes must agree up to ASCII case (| 0x20 folds letters and never separates equal ones).
  const std::size_t n = name.size();
  if (n >= 64 || field[n] != '\0') return false;
  if (n == 0) return true;
  if ((field[n - 1] | 0x20) != (name[n - 1] | 0x20)) return false;
  return equal_text(name, std::string_view(field, n), true);
}

namespace {

template <typename Record>
int32_t scan_names(const Record* records, int32_t count, std::string_view name) {
  for (int32_t i = 0; i < count; ++i) {
    if (name_matches(records[i].name, name)) return i;
  }
  return -1;
}

// The first record of a point table bearing `name`: through the image's name index, or by a
// scan when the index cannot answer.
template <typename Record>
int32_t find_name(const Vexlor::MMAP_STRU& db, NameTable table, const Record* records,
                  int32_t count, std::string_view name) {
  const int32_t found = name_index_find(
      db, table, name, count, [&](int32_t i) { return name_matches(records[i].name, name); });
  return found != kNoNameIndex ? found : scan_names(records, count, name);
}

// atoi semantics without its overflow: blanks, an optional sign, the leading digits (0 when
// there are none), clamped to the int32 range.
int32_t leading_int(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > (int64_t{1} << 32)) break;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

// The alarm forms of a lookup: the whole name as an alarm ID, or "module|number". `point`
// receives -1 from a failed "module|number" lookup.
bool find_alarm(const Vexlor::MMAP_STRU& db, std::string_view name, int* point, bool report) {
  if (find_char(name, '|') == std::string_view::npos) {
    const int32_t found = scan_alarm_id(db, leading_int(name));
    if (found < 0) return false;
    *point = found;
    return true;
  }
  char module[kNameSize];
  char number[kNameSize];
  const std::string whole(name);
  Vexlor::VStr_Seperate_Char(whole.c_str(), '|', module, number, sizeof module);
  if (Vexlor::VStr_Int_Check(number) != 1) return false;
  return alarm_point_by_module(point, module, leading_int(number), report,
                               "Vexlor::VAlarm_Find_Point", __LINE__);
}

// The search of VIO_Find over the normalised name. Returns the type found, or IO_NONE.
[[gnu::hot]] IO_TYPE search_all(const Vexlor::MMAP_STRU& db, std::string_view name, int* point,
                                bool report) {
  for (IO_TYPE t : {Vexlor::IO_D, Vexlor::IO_A, Vexlor::IO_S, Vexlor::IO_F}) {
    const int32_t found = scan_table(db, t, name);
    if (found >= 0) {
      *point = found;
      return t;
    }
  }
  return find_alarm(db, name, point, report) ? Vexlor::IO_L : Vexlor::IO_NONE;
}

[[gnu::hot]] bool find(int* point, IO_TYPE* type, bool silent, const char* name) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr) return false;
  char work[kNameSize];
  normalise_name(name, work);
  int found = point ? *point : Vexlor::VEXLOR_UNUSED_POINT;
  const IO_TYPE t = search_all(*db, buffer_text(work), &found, !silent);
  if (point) *point = found;
  if (type) *type = t;
  if (t != Vexlor::IO_NONE) return true;
  if (!silent) {
    Vexlor::VPrint_Red(own_name(), "IO_NAME:%s - IO_TYPE:%s未识别. [代码行:%s:%d]", work,
                       "IO_UNKNOWN", "Vexlor::VIO_Find", __LINE__);
  }
  return false;
}

[[gnu::hot]] bool find_point(int* point, IO_TYPE type, bool silent, const char* name) {
  Vexlor::MMAP_STRU* db = attached_db();
  if (db == nullptr) return false;
  char work[kNameSize];
  normalise_name(name, work);
  const std::string_view text = buffer_text(work);
  int found = -1;
  bool ok = false;
  if (type >= Vexlor::IO_D && type <= Vexlor::IO_F) {
    found = scan_table(*db, type, text);
    ok = found >= 0;
  } else if (type == Vexlor::IO_L) {
    ok = find_alarm(*db, text, &found, !silent);
  }
  if (point) *point = ok ? found : -1;
  if (ok) return true;
  if (!silent) {
    Vexlor::VPrint_Red(own_name(), "IO_NAME:%s - IO_TYPE:%s 未识别. [代码行:%s:%d]", work,
                       io_type_text(type), "Vexlor::VIO_Find_Point", __LINE__);
  }
  return false;
}

// Family member names. A pattern holding "{1}" has its placeholders replaced by the numbers;
// any other pattern is a printf format taking one int, expanded once per number.
bool has_placeholders(const char* pattern) {
  return pattern && find_text(pattern, "{1}", false) != std::string_view::npos;
}

void replace_placeholder(const char* text, const char* placeholder, int value,
                         char (&out)[kNameSize]) {
  std::string name(text ? text : "");
  Vexlor::VStr_Replace(name, placeholder, std::to_string(value).c_str());
  copy_text(out, name);
}

// snprintf of a one-int format into 64 bytes. A format with any other conversion, or more
// than one, is taken literally rather than handed to the formatter.
void format_int(const char* format, int value, char (&out)[kNameSize]) {
  const char* p = format ? format : "";
  int conversions = 0;
  for (const char* c = p; *c; ++c) {
    if (*c != '%') continue;
    if (*++c == '%') continue;
    while (*c && std::strchr("-+ #0", *c)) ++c;
    while (*c >= '0' && *c <= '9') ++c;
    if (*c == '.') {
      ++c;
      while (*c >= '0' && *c <= '9') ++c;
    }
    if (*c == '\0' || !std::strchr("diouxXc", *c) || ++conversions > 1) {
      copy_text(out, p);
      return;
    }
  }
  std::snprintf(out, sizeof out, p, value);
}

// Numbered families accept counts up to this size per dimension (and 10^6 members in all).
constexpr int64_t kMaxFamily = 100000;

bool family_range_ok(int count, int start) {
  return count <= kMaxFamily && int64_t{start} + count - 1 <= std::numeric_limits<int32_t>::max();
}

}  // namespace

[[gnu::hot]] int32_t scan_table(const Vexlor::MMAP_STRU& db, IO_TYPE type, std::string_view name) {
  const Vexlor::MEM_SYSTEM_STRU& s = *db.system_block;
  switch (type) {
    case Vexlor::IO_D:
      return find_name(db, NameTable::kDigital, db.digital_sp,
                       bounded_count(db, DbTable::DigitalDefs, s.digital_count), name);
    case Vexlor::IO_A:
      return find_name(db, NameTable::kAnalog, db.analog_sp,
                       bounded_count(db, DbTable::AnalogDefs, s.analog_count), name);
    case Vexlor::IO_S:
      return find_name(db, NameTable::kString, db.string_sp,
                       bounded_count(db, DbTable::StringDefs, s.string_count), name);
    case Vexlor::IO_F:
      return scan_names(db.function_sp, bounded_count(db, DbTable::FunctionDefs, s.function_count),
                        name);
    default:
      return -1;
  }
}

int32_t scan_alarm_id(const Vexlor::MMAP_STRU& db, int32_t id) {
  const int32_t count = bounded_count(db, DbTable::AlarmDefs, db.system_block->alarm_count);
  for (int32_t i = 0; i < count; ++i) {
    if (db.alarm_sp[i].alarm_id == id) return i;
  }
  return -1;
}

bool alarm_point_by_id(int* point, int64_t id, bool report, const char* operation, int line) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->db == nullptr) return false;
  int result = -1;
  const bool in_range =
      id >= std::numeric_limits<int32_t>::min() && id <= std::numeric_limits<int32_t>::max();
  const int32_t id32 = static_cast<int32_t>(in_range ? id : -1);
  if (in_range) {
    {
      MapLock lock(map_mutex());
      auto it = ctx->alarm_index_cache.find(id32);
      if (it != ctx->alarm_index_cache.end()) result = it->second;
    }
    if (result < 0) {
      result = scan_alarm_id(*ctx->db, id32);
      if (result >= 0) {
        MapLock lock(map_mutex());
        ctx->alarm_index_cache.emplace(id32, result);
      }
    }
  }
  if (point) *point = result;
  if (result >= 0) return true;
  if (report) {
    Vexlor::VPrint_Red(own_name(), "ALARM_ID:%d未识别. [代码行:%s:%d]",
                       static_cast<int>(static_cast<uint32_t>(id)), operation, line);
  }
  return false;
}

bool alarm_point_by_module(int* point, const char* module, int number, bool report,
                           const char* operation, int line) {
  if (attached_db() == nullptr) return false;
  const int base = Vexlor::VModule_Get_Alarm_Base(module);
  if (base < 0) {
    if (point) *point = -1;
    return false;
  }
  return alarm_point_by_id(point, int64_t{base} * 1000 + number, report, operation, line);
}

}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

namespace {

// Expands a format into a 64-byte name (vsnprintf semantics; a null format is the empty name).
void format_name(char (&out)[d::kNameSize], const char* format, va_list args) {
  out[0] = '\0';
  if (format != nullptr) std::vsnprintf(out, sizeof out, format, args);
}

}  // namespace

[[gnu::hot]] bool VIO_Find(int* point, IO_TYPE* type, const char* name) {
  return d::find(point, type, false, name);
}

bool VIO_Find(int* point, IO_TYPE* type, bool silent, const char* name) {
  return d::find(point, type, silent, name);
}

bool VIO_FindF(int* point, IO_TYPE* type, const char* format, ...) {
  char name[d::kNameSize];
  va_list args;
  va_start(args, format);
  format_name(name, format, args);
  va_end(args);
  return d::find(point, type, false, name);
}

bool VIO_Find_Point(int* point, IO_TYPE type, const char* name) {
  return d::find_point(point, type, false, name);
}

bool VIO_Find_Point(int* point, IO_TYPE type, bool silent, const char* name) {
  return d::find_point(point, type, silent, name);
}

bool VIO_Find_PointF(int* point, IO_TYPE type, const char* format, ...) {
  char name[d::kNameSize];
  va_list args;
  va_start(args, format);
  format_name(name, format, args);
  va_end(args);
  return d::find_point(point, type, false, name);
}

bool VIO_Find_Type(IO_TYPE* type, const char* name) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return false;
  char work[d::kNameSize];
  d::normalise_name(name, work);
  int ignored = -1;
  const IO_TYPE t = d::search_all(*db, d::buffer_text(work), &ignored, false);
  if (type) *type = t;
  return t != IO_NONE;
}

bool VIO_Find_TypeF(IO_TYPE* type, const char* format, ...) {
  char name[d::kNameSize];
  va_list args;
  va_start(args, format);
  format_name(name, format, args);
  va_end(args);
  return VIO_Find_Type(type, name);
}

bool VIO_Find_Point1(std::vector<int>* out, IO_TYPE type, int count, int start,
                     const char* pattern) {
  if (out == nullptr || !d::family_range_ok(count, start)) return false;
  if (count <= 0) return true;
  if (out->size() < static_cast<std::size_t>(count)) out->resize(count, -1);
  const bool braces = d::has_placeholders(pattern);
  bool all = true;
  for (int k = 0; k < count; ++k) {
    char name[d::kNameSize];
    if (braces) {
      d::replace_placeholder(pattern, "{1}", start + k, name);
    } else {
      d::format_int(pattern, start + k, name);
    }
    if (!d::find_point(&(*out)[k], type, false, name)) all = false;
  }
  return all;
}

bool VIO_Find_Point1(std::vector<int>* out, IO_TYPE type, const char* pattern, int count,
                     int start) {
  return VIO_Find_Point1(out, type, count, start, pattern);
}

bool VIO_Find_Point1F(std::vector<int>* out, IO_TYPE type, int count, int start, const char* format,
                      ...) {
  char pattern[d::kNameSize];
  va_list args;
  va_start(args, format);
  format_name(pattern, format, args);
  va_end(args);
  return VIO_Find_Point1(out, type, count, start, pattern);
}

bool VIO_Find_Point2(std::vector<std::vector<int>>* out, IO_TYPE type, int count1, int start1,
                     int count2, int start2, const char* pattern) {
  if (out == nullptr || !d::family_range_ok(count1, start1) ||
      !d::family_range_ok(count2, start2) || int64_t{count1} * count2 > 1000000) {
    return false;
  }
  if (count1 <= 0 || count2 <= 0) return true;
  if (out->size() < static_cast<std::size_t>(count1)) out->resize(count1);
  const bool braces = d::has_placeholders(pattern);
  bool all = true;
  for (int a = 0; a < count1; ++a) {
    std::vector<int>& row = (*out)[a];
    if (row.size() < static_cast<std::size_t>(count2)) row.resize(count2, -1);
    char outer[d::kNameSize];
    if (braces) {
      d::replace_placeholder(pattern, "{1}", start1 + a, outer);
    } else {
      d::format_int(pattern, start1 + a, outer);
    }
    for (int b = 0; b < count2; ++b) {
      char name[d::kNameSize];
      if (braces) {
        d::replace_placeholder(outer, "{2}", start2 + b, name);
      } else {
        d::format_int(outer, start2 + b, name);
      }
      if (!d::find_point(&row[b], type, false, name)) all = false;
    }
  }
  return all;
}

bool VIO_Find_Point2(std::vector<std::vector<int>>* out, IO_TYPE type, const char* pattern,
                     int count1, int start1, int count2, int start2) {
  return VIO_Find_Point2(out, type, count1, start1, count2, start2, pattern);
}

bool VIO_Find_Point2F(std::vector<std::vector<int>>* out, IO_TYPE type, int count1, int start1,
                      int count2, int start2, const char* format, ...) {
  char pattern[d::kNameSize];
  va_list args;
  va_start(args, format);
  format_name(pattern, format, args);
  va_end(args);
  return VIO_Find_Point2(out, type, count1, start1, count2, start2, pattern);
}

}  // namespace Vexlor
