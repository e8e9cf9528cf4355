// Where the attached equipment keeps its SQLite file (alarm log, data-log tables).
#pragma once

#include <string>

namespace vexlor::detail {

// The file-system path of the attached equipment's database file; "" before start-up or
// without a database path.
std::string vdb_file();

}  // namespace vexlor::detail
