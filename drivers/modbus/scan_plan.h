// Grouping of a driver's points into as few read requests as the protocol allows: points of
// one table whose addresses touch or overlap share a request of at most 125 registers or 2000
// bits. A point that drew an exception inside a group is read on its own from then on.
#pragma once

#include <cstdint>
#include <vector>

#include "modbus/mapping.h"

namespace vexlor::drivers::modbus {

struct PlannedPoint {
  Mapping mapping;
  bool solo = false;
};

struct ReadGroup {
  Table table = Table::Coil;
  uint16_t start = 0;
  int count = 0;             // registers or bits
  std::vector<int> members;  // indices into the planned points
};

std::vector<ReadGroup> plan_reads(const std::vector<PlannedPoint>& points);

}  // namespace vexlor::drivers::modbus
