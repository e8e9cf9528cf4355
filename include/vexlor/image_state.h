// Whether the database this process maps is still the instance's database. Not part of the
// Vexlor interface: the tools and routine loops use it to stop showing values of a database
// that `vexlor-db create --force` replaced or `vexlor-db remove` removed.
#pragma once

#include <vexlor/export.h>
#include <vexlor/records.h>

namespace vexlor {

// True when `db` (for example Vexlor::MMAP_DB()) maps a database image that was replaced or
// removed since it was attached; false for null.
VEXLOR_API bool database_retired(const Vexlor::MMAP_STRU* db);

}  // namespace vexlor
