// The point mutex "<point name>_SIO_MUTEX" of a string point, for the string operations that
// read-modify-write a value.
#pragma once

#include <functional>

#include "points/typed_point.h"

namespace vexlor::detail {

// Runs `access` holding the point's named mutex, as VString_Write_Mutex does (waiting in
// slices, logging a failed creation or wait, marking a value left by a dead owner); the access
// is made in every case. False when the point is bad, a wait failed or `access` failed.
bool under_string_mutex(int index, const std::function<bool(Vexlor::VMMAP&)>& access, Site site);

}  // namespace vexlor::detail
