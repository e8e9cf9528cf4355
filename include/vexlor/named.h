// Named point accessors: one getter and one setter per well-known point of the equipment, so
// that no routine spells a point name itself. Each item resolves its point on first use and
// keeps the index for the life of the process; a point the database does not hold prints the
// lookup's line once and then fails quietly. The items, their names and cache shapes are listed
// in <vexlor/named/named_points.def>.
//
// Kinds: digital items read and return int (failure -99999999), analog items double (failure
// -99999999.99), string items const char* (failure ""). A setter returns true when it wrote,
// false when the point is not resolved. Before start-up every accessor fails and resolves on
// a later call. Indices are zero-based; an index outside the item's row or grid fails.
#pragma once

#include <vexlor/export.h>
#include <vexlor/util.h>

// The value type of each kind, as getters return it and setters take it.
#define VEXLOR_NAMED_VALUE_DIGITAL int
#define VEXLOR_NAMED_VALUE_ANALOG double
#define VEXLOR_NAMED_VALUE_STRING const char*

namespace Vexlor {

#define VEXLOR_NAMED_POINT(item, kind, name, mode)       \
  VEXLOR_API VEXLOR_NAMED_VALUE_##kind VIO_Get_##item(); \
  VEXLOR_API bool VIO_Set_##item(VEXLOR_NAMED_VALUE_##kind value);
#define VEXLOR_NAMED_ROW(item, kind, n, rule, format, mode)   \
  VEXLOR_API VEXLOR_NAMED_VALUE_##kind VIO_Get_##item(int i); \
  VEXLOR_API bool VIO_Set_##item(int i, VEXLOR_NAMED_VALUE_##kind value);
#define VEXLOR_NAMED_GRID(item, kind, n, m, rule, format, mode)      \
  VEXLOR_API VEXLOR_NAMED_VALUE_##kind VIO_Get_##item(int i, int j); \
  VEXLOR_API bool VIO_Set_##item(int i, int j, VEXLOR_NAMED_VALUE_##kind value);
#include <vexlor/named/named_points.def>

// Formats into 1024 characters (longer output is cut), then VIO_Set_CTC_Message.
VEXLOR_API bool VIO_Set_CTC_MessageF(const char* format, ...) VEXLOR_PRINTF(1, 2);
// Formats into 1024 characters, then VIO_Set_PM_Process_Message(i, text).
VEXLOR_API bool VIO_Set_PM_Process_MessageF(int i, const char* format, ...) VEXLOR_PRINTF(2, 3);

}  // namespace Vexlor
