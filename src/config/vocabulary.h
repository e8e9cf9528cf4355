// The standard vocabulary of an equipment: every well-known point that the named point
// accessors and the host link's items name (cluster controller "CTC.", host link "GEM." and
// "FA.", load ports, per-module counters, wafer positions, robot positions, process-module
// recipe progress), for the modules the equipment configures. Generated from the same item
// tables as the accessors, so the two cannot disagree.
#pragma once

#include <vexlor/types.h>

#include <string>
#include <vector>

#include "config/builder.h"

namespace vexlor::config {

struct VocabularyPoint {
  Vexlor::IO_TYPE kind;
  std::string name;
  std::string unit;
};

// The vocabulary for the modules of `builder`, without duplicates, in table order.
std::vector<VocabularyPoint> standard_vocabulary(DatabaseBuilder& builder);

// Adds every point of the vocabulary whose name the builder does not hold in any table yet
// (ASCII case ignored), with value 0 or "", wide integer limits and its unit; returns how many
// were added. Carrier types and wafer size settings get the enumeration "WaferSize" (the
// file's own when it defines one).
int add_standard_vocabulary(DatabaseBuilder& builder);

}  // namespace vexlor::config
