// Texts and small look-ups the operator tools share.
#include "equipment_text.h"

#include <vexlor/vexlor.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace vexlor_tools {

const char* style_name(int style) {
  static const char* const kNames[] = {"ALM_CLEAR",  "ALM_RETRY",   "ALM_WAIT",
                                       "ALM_IGNORE", "ALM_DISABLE", "ALM_ENABLE",
                                       "ALM_STOP",   "ALM_ABORT",   "ALM_PAUSED"};
  return style >= 0 && style <= 8 ? kNames[style] : "ALM_UNKNOWN";
}

int answer_from_text(std::string_view text) {
  std::string name(text);
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (name.rfind("ALM_", 0) == 0) name.erase(0, 4);
  for (int style = Vexlor::ALM_CLEAR; style < Vexlor::ALM_PAUSED; ++style) {
    if (name == style_name(style) + 4) return style;
  }
  return -1;
}

const char* status_name(int status) {
  static const char* const kNames[] = {"SYS_AVAILABLE", "SYS_RUNNING", "SYS_ABORTED",
                                       "SYS_SUCCESS",   "SYS_ERROR",   "SYS_WAITTING",
                                       "SYS_KILLED",    "SYS_BUSY",    "SYS_SKIP"};
  static const char* const kCodes[] = {
      "SYS_ERRCODE",  "SYS_ERRCODE1", "SYS_ERRCODE2", "SYS_ERRCODE3", "SYS_ERRCODE4",
      "SYS_ERRCODE5", "SYS_ERRCODE6", "SYS_ERRCODE7", "SYS_ERRCODE8", "SYS_ERRCODE9"};
  if (status >= 0 && status <= 8) return kNames[status];
  if (status >= 100 && status <= 109) return kCodes[status - 100];
  return "SYS_UNKNOWN";
}

std::string instance_name() {
  const char* name = std::getenv("VEXLOR_INSTANCE");
  return name != nullptr && *name != '\0' ? name : "default";
}

std::string in_quotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

namespace {

std::string local_text(std::time_t seconds, int milliseconds) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char buffer[48];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y/%m/%d %H:%M:%S", &local);
  if (milliseconds >= 0) std::snprintf(buffer + n, sizeof buffer - n, ".%03d", milliseconds);
  return buffer;
}

}  // namespace

std::string local_time_text(bool milliseconds) {
  const auto now = std::chrono::system_clock::now();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return local_text(std::chrono::system_clock::to_time_t(now),
                    milliseconds ? static_cast<int>(ms) : -1);
}

std::string local_time_text_of(long long seconds) {
  return seconds > 0 ? local_text(static_cast<std::time_t>(seconds), -1) : std::string();
}

bool normalise_time(std::string text, std::string* out) {
  static const char kForm[] = "dddd/dd/dd dd:dd:dd";
  if (text.size() < 4 || text.size() > sizeof kForm - 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i < 10 && text[i] == '-') text[i] = '/';
    if (i == 10 && text[i] == 'T') text[i] = ' ';
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return false;
  }
  *out = text;
  return true;
}

bool record_fields(const std::string& text, std::vector<std::string>* fields) {
  const std::size_t bar = text.find('|');
  if (bar == std::string::npos || bar == 0 || bar > 9) return false;
  for (std::size_t i = 0; i < bar; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  const std::size_t count = std::stoul(text.substr(0, bar));
  const std::string list = text.substr(bar + 1);
  fields->clear();
  if (count == 0) return list.empty();
  for (std::size_t start = 0;;) {
    const std::size_t comma = list.find(',', start);
    fields->push_back(list.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return fields->size() == count;
}

std::string language_part(const std::string& text, bool chinese) {
  const std::size_t bar = text.find('|');
  if (bar == std::string::npos) return text;
  if (chinese && bar + 1 < text.size()) return text.substr(bar + 1);
  return text.substr(0, bar);
}

bool display_chinese() {
  return Vexlor::MMAP_DB() != nullptr && Vexlor::VSystem_Get_Language() == Vexlor::LANGUAGE_CHINESE;
}

std::string word(const char* pair, bool chinese) {
  return language_part(pair != nullptr ? pair : "", chinese);
}

std::string word(const char* pair) { return word(pair, display_chinese()); }

uint32_t decode_utf8(std::string_view text, std::size_t i, std::size_t* len) {
  const auto c = static_cast<unsigned char>(text[i]);
  *len = 0;
  std::size_t n = 0;
  uint32_t cp = 0, min = 0;
  if (c < 0x80) {
    *len = 1;
    return c;
  } else if ((c & 0xE0) == 0xC0) {
    n = 2, cp = c & 0x1Fu, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, cp = c & 0x0Fu, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, cp = c & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *len = n;
  return cp;
}

int find_alarm_point(int id) {
  const int alarms = Vexlor::VSystem_Get_Alarm_Count();
  for (int i = 0; i < alarms; ++i) {
    if (Vexlor::VAlarm_Get_ID(i) == id) return i;
  }
  return -1;
}

OfferedAnswers offered_answers(int point, int answer) {
  Vexlor::ALARM_STYLE offered[8] = {};
  const int n = Vexlor::VAlarm_Get_Recovery_Result_Count(point);
  Vexlor::VAlarm_Get_Recovery_Result(point, offered);
  OfferedAnswers result;
  result.allowed = n <= 0;
  for (int k = 0; k < n && k < 8; ++k) {
    result.allowed = result.allowed || offered[k] == answer;
    result.list += (result.list.empty() ? "" : ", ") + std::string(style_name(offered[k]) + 4);
  }
  return result;
}

namespace {

// The main-form routine's name: the name in slot N of the instance's function table.
bool main_form_name(const char* probe_routine, std::string* name) {
  Vexlor::VMMAP probe;
  Vexlor::MMAP_STRU* db = probe.VMMAP_Initial(probe_routine) ? probe.DB() : nullptr;
  const int n = db != nullptr ? db->system_block->function_count : -1;
  if (n >= 0) {
    const char* slot = db->function_sp[n].name;
    name->assign(slot, strnlen(slot, sizeof db->function_sp[n].name));
  }
  probe.VMMAP_Release();
  return n >= 0;
}

}  // namespace

bool reset_routine(int index, int* was, std::string* failure) {
  *was = Vexlor::VFunction_Get_Run_Status(index);
  if (*was == Vexlor::SYS_RUNNING || *was == Vexlor::SYS_WAITTING) {
    *failure = std::string("cannot reset ") + Vexlor::VFunction_Get_Name(index) +
               ": it is running (" + status_name(*was) + ")";
    return false;
  }
  Vexlor::VFunction_Set_Exit_Flag(index, false);
  Vexlor::VFunction_Set_Abort_Flag(index, false);
  Vexlor::VFunction_Set_Run_Status(index, Vexlor::SYS_AVAILABLE);
  return true;
}

bool attach_main_form(const char* probe_routine, std::string* name, std::string* failure) {
  if (!main_form_name(probe_routine, name)) {
    *failure =
        "no database in instance " + in_quotes(instance_name()) + " (create one with vexlor-db)";
    return false;
  }
  if (Vexlor::VHub_Initial(name->c_str())) return true;
  const bool locked = Vexlor::MMAP_DB() != nullptr &&
                      Vexlor::VFunction_Check_Locker(Vexlor::VSystem_Get_Function_Count());
  Vexlor::VHub_Release();
  *failure = locked ? "the main form " + in_quotes(*name) + " of instance " +
                          in_quotes(instance_name()) + " is already running"
                    : "cannot start as the main form " + in_quotes(*name) + " of instance " +
                          in_quotes(instance_name());
  return false;
}

}  // namespace vexlor_tools
