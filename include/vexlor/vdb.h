// The equipment database library (VDB): the equipment's SQLite file below its database path,
// holding the data-log tables (which points a data logger records, in order) and the alarm
// history. Routines reach it through VIO_Find_DataLog_IO_List and alarm posting.
//
// The file is "<database path>\vexlor.db" (VSystem_Get_Database_Path; on POSIX mapped onto
// the file system like every system path: "Z:\Database" is <VEXLOR_DRIVE_ROOT>/Z/Database).
// `vexlor-db create` writes the data-log tables of the equipment configuration into it.
#pragma once

#include <vexlor/export.h>
#include <vexlor/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Vexlor {

// One point of a data-log table. VDB_Get_DataLog_IO fills `name` and leaves `point`
// -99999999 and `type` -1; VIO_Find_DataLog_IO_List resolves them.
struct DataLog_IO_Item {
  std::string name;
  int32_t point = VEXLOR_UNUSED_POINT;
  IO_TYPE type = IO_NONE;
  int32_t position = 0;  // place of the point in its table, from 0
};

// The points of data-log table `table` (matched ignoring ASCII letter case) in their
// configured order; `list` is replaced. False, with `list` untouched, before start-up, for a
// null or unknown table name, or when the equipment's database file cannot be read.
VEXLOR_API bool VDB_Get_DataLog_IO(const char* table, std::vector<DataLog_IO_Item>& list);

}  // namespace Vexlor
