// Logging: category tags, colours and switches, the daily log files under the history path.
#include <cstdarg>
#include <cstdio>

#include "frame/context.h"
#include "os/clock.h"
#include "vexlor/frame.h"

namespace vexlor::detail {
namespace {

constexpr char kDefaultHistoryPath[] = "Z:\\History";
constexpr std::size_t kPathSize = 260;
constexpr std::size_t kFolderSize = 256;

struct Category {
  const char* tag;
  int colour;
};

constexpr Category kCategories[] = {
    {"[ALM]", 224}, {"[ERR]", 79}, {"[DBG]", 31}, {"[CIM]", 223}, {"[EVT]", 176}, {"[VIR]", 112},
};

// How the switches are taken when no database is attached.
enum class Detached { kBothOn, kFileOnly };

// `file` is the log file name after the daily folder, e.g. "system.log".
void write_log(const char* source, Vexlor::LOG_TYPE type, Detached detached, const char* file,
               const char* format, va_list args) {
  if (type < 0 || type > Vexlor::LOG_VIR) return;
  bool first = true;
  bool second = true;
  if (Vexlor::MMAP_STRU* db = attached_db()) {
    first = db->system_block->log_switch_first[type] != 0;
    second = db->system_block->log_switch_second[type] != 0;
    if (!first && !second) return;
    if (source == nullptr) source = own_name();
  } else {
    if (detached == Detached::kFileOnly) first = false;
    if (source == nullptr) source = "未定义";
  }
  char path[kPathSize];
  std::snprintf(path, sizeof path, "%s/%s", Vexlor::VSystem_Get_History_Full_Path(), file);
  Vexlor::VPrint_Log(source, format, args, kCategories[type].colour, kCategories[type].tag, first,
                     second, path);
}

}  // namespace

// "<history>\YYYY\MM\DD" for a given date; the clock-free part of the daily folder.
void format_daily_folder(char* out, std::size_t size, const char* history, int year, int month,
                         int day) {
  std::snprintf(out, size, "%s\\%04d\\%02d\\%02d", history ? history : "", year, month, day);
}

}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;

void VSystem_Log(LOG_TYPE type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  d::write_log(nullptr, type, d::Detached::kBothOn, "system.log", format, args);
  va_end(args);
}

void VSystem_Log(const char* source, LOG_TYPE type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  d::write_log(source ? source : "", type, d::Detached::kFileOnly, "system.log", format, args);
  va_end(args);
}

void VDriver_Log(const char* source, LOG_TYPE type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  d::write_log(source ? source : "", type, d::Detached::kFileOnly, "driver.log", format, args);
  va_end(args);
}

void VGui_Err_Log(const char* /*text*/, const char* format, ...) {
  char path[d::kPathSize];
  std::snprintf(path, sizeof path, "%s/gui_error.log", VSystem_Get_History_Full_Path());
  const char* source = d::attached_db() ? d::own_name() : "GUI";
  va_list args;
  va_start(args, format);
  VPrint_Log(source, format, args, 12, "[ERR]", true, true, path);
  va_end(args);
}

LOG_STATUS VSystem_Get_Log_Status(LOG_TYPE type) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr) return LOG_STATUS_SECOND;
  if (type < 0 || type > 7) return LOG_STATUS_OFF;
  const bool first = db->system_block->log_switch_first[type] != 0;
  const bool second = db->system_block->log_switch_second[type] != 0;
  return static_cast<LOG_STATUS>((first ? 2 : 0) | (second ? 1 : 0));
}

void VSystem_Set_Log_Status(LOG_TYPE type, LOG_STATUS status) {
  MMAP_STRU* db = d::attached_db();
  if (db == nullptr || type < 0 || type > 7) return;
  db->system_block->log_switch_second[type] = (status == 1 || status == 3) ? 1 : 0;
  db->system_block->log_switch_first[type] = (status == 2 || status == 3) ? 1 : 0;
}

const char* VSystem_Get_History_Path() {
  MMAP_STRU* db = d::attached_db();
  return db ? db->system_block->history_path : d::kDefaultHistoryPath;
}

const char* VSystem_Get_History_Full_Path() {
  thread_local char folder[d::kFolderSize];
  const vexlor::os::LocalTime now = vexlor::os::local_time();
  d::format_daily_folder(folder, sizeof folder, VSystem_Get_History_Path(), now.year, now.month,
                         now.day);
  return folder;
}

}  // namespace Vexlor
