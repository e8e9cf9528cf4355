// Named point accessors: one getter and one setter per well-known point of the equipment, so
// that no routine spells a point name itself. Each item resolves its point on first use and
// keeps the index for the life of the process; a point the database does not hold prints the
// lookup's line once and then fails quietly.
//
// Kinds: digital items read and return int (failure -99999999), analog items double (failure
// -99999999.99), string items const char* (failure ""). A setter returns true when it wrote,
// false when the point is not resolved. Before start-up every accessor fails and resolves on
// a later call.
#pragma once

#include <vexlor/export.h>

// The value type of each kind, as getters return it and setters take it.
#define VEXLOR_NAMED_VALUE_DIGITAL int
#define VEXLOR_NAMED_VALUE_ANALOG double
#define VEXLOR_NAMED_VALUE_STRING const char*

namespace Vexlor {

#define VEXLOR_NAMED_POINT(item, kind, name)             \
  VEXLOR_API VEXLOR_NAMED_VALUE_##kind VIO_Get_##item(); \
  VEXLOR_API bool VIO_Set_##item(VEXLOR_NAMED_VALUE_##kind value);
#include <vexlor/named/ctc_points.def>

}  // namespace Vexlor
