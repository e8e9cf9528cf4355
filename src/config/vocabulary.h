// The standard vocabulary of an equipment: every well-known point that the named point
// accessors and the host link's items name (cluster controller "CTC.", host link "GEM." and
// "FA.", load ports, per-module counters, wafer positions, robot positions, process-module
// recipe progress), for the modules the equipment configures. Generated from the same item
// tables as the accessors, so the two cannot disagree.
#pragma once

#include <vexlor/types.h>

#include <cstdint>
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

// The pool of alarms the library posts for faults it finds itself (a routine that cannot be
// run, for example): alarm IDs 800 to 898.
constexpr int32_t kFirstSystemAlarm = 800;
constexpr int32_t kLastSystemAlarm = 898;

// Adds every system alarm of the pool whose ID the builder does not hold yet, in ID order:
// "SYSTEM_ALARM_<id>", level 1, no module, text "System alarm|系统报警", choices Retry, Ignore
// and Abort. Returns how many were added.
int add_standard_system_alarms(DatabaseBuilder& builder);

}  // namespace vexlor::config
