// `vexlor-db alarms`: the alarm log of the instance's equipment database file, oldest first.
#include "alarm_log.h"

#include <vexlor/records.h>
#include <vexlor/vmmap.h>

#include <iostream>
#include <string>
#include <vector>

#include "util/text.h"
#include "util/vdb.h"
#include "frame/vdb_alarm_log.h"
#include "os/instance.h"

namespace vexlor_db {
namespace {

const std::string& or_dash(const std::string& text) {
  static const std::string dash = "-";
  return text.empty() ? dash : text;
}

}  // namespace

int run_alarms(const std::string& since) {
  namespace d = vexlor::detail;
  std::string file;
  {
    Vexlor::VMMAP mmap;
    if (!mmap.VMMAP_Initial("vexlor-db") || mmap.DB() == nullptr) {
      std::cerr << "vexlor-db: cannot attach the database of instance \""
                << vexlor::os::instance_name() << "\"\n";
      return 1;
    }
    file = d::vdb_file_for(d::field_text(mmap.DB()->system_block->database_path));
    mmap.VMMAP_Release();
  }
  std::vector<d::AlarmLogRow> rows;
  std::string error;
  if (!d::read_alarm_log(file, since, &rows, &error)) {
    std::cerr << "vexlor-db: alarm log: " << error << "\n";
    return 1;
  }
  for (const d::AlarmLogRow& row : rows) {
    const Vexlor::AlarmLog_Item& i = row.item;
    std::cout << row.inserted << " | " << or_dash(i.alarm_id) << " | " << or_dash(i.alarm_name)
              << " | " << (i.answer.empty() ? "POST" : i.answer) << " | " << or_dash(i.post_time)
              << " | " << or_dash(i.clear_time) << " | " << or_dash(i.module_name) << " | "
              << or_dash(i.level) << " | " << or_dash(i.code_position) << " | "
              << or_dash(i.log_text) << " | " << or_dash(i.description) << "\n";
  }
  return 0;
}

}  // namespace vexlor_db
