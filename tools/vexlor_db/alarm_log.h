// `vexlor-db alarms`: prints the equipment's alarm log.
#pragma once

#include <string>

namespace vexlor_db {

// Prints every alarm-log row inserted at or after `since` ("" for all; "YYYY/MM/DD HH:MM:SS"
// or "YYYY-MM-DD HH:MM:SS", any leading part of it), oldest first, one line per row:
//   inserted | ID | name | POST or the answer | post time | clear time | module | level |
//   code position | log text | description
// with "-" for an empty field. Exit status 0, or 1 with one line on stderr when the instance
// has no database or its database file cannot be read.
int run_alarms(const std::string& since);

}  // namespace vexlor_db
