// The definition fields, value-slot operations and whole-record operations of the three point
// families, expanded from their field tables.
#include "points/typed_point.h"
#include "vexlor/analog.h"
#include "vexlor/digital.h"
#include "vexlor/string_points.h"

namespace Vexlor {

// Each table undefines its rows at its end, so each needs define_rows.h before it.
// clang-format off
#include "points/define_rows.h"
#include "vexlor/points/digital_fields.def"

#include "points/define_rows.h"
#include "vexlor/points/analog_fields.def"

#include "points/define_rows.h"
#include "vexlor/points/string_fields.def"
// clang-format on

}  // namespace Vexlor
