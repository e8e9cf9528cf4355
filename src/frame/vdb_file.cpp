// The attached equipment's SQLite file and the data-log lists read from it.
#include "frame/vdb_file.h"

#include <vexlor/frame.h>
#include <vexlor/vdb.h>

#include <utility>

#include "frame/context.h"
#include "util/vdb.h"

namespace vexlor::detail {

std::string vdb_file() { return vdb_file_for(Vexlor::VSystem_Get_Database_Path()); }

}  // namespace vexlor::detail

namespace Vexlor {

bool VDB_Get_DataLog_IO(const char* table, std::vector<DataLog_IO_Item>& list) {
  namespace d = vexlor::detail;
  if (table == nullptr || d::attached_db() == nullptr) return false;
  std::vector<std::string> names;
  if (!d::read_datalog_table(d::vdb_file(), table, &names)) return false;
  std::vector<DataLog_IO_Item> items;
  items.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    DataLog_IO_Item item;
    item.name = std::move(names[i]);
    item.position = static_cast<int32_t>(i);
    items.push_back(std::move(item));
  }
  list = std::move(items);
  return true;
}

}  // namespace Vexlor
