// The mapping table of the attached equipment: the standard events, the variables whose points
// the equipment has, the standard constants (a constant whose point is missing is kept by the
// host link alone), every alarm of the alarm table with its English text, the command RUN; then
// the equipment's own entries of its [host] section (from the equipment's database file, where
// `vexlor-db create` wrote them), which replace default ones with the same ID or name.
#pragma once

#include "gem/mapping.h"

namespace vexlor_eap {

vexlor::gem::Mapping equipment_mapping();

}  // namespace vexlor_eap
