// Read grouping.
#include "modbus/scan_plan.h"

#include <algorithm>
#include <numeric>

namespace vexlor::drivers::modbus {

std::vector<ReadGroup> plan_reads(const std::vector<PlannedPoint>& points) {
  std::vector<int> order(points.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const Mapping& x = points[a].mapping;
    const Mapping& y = points[b].mapping;
    return x.table != y.table ? x.table < y.table : x.address < y.address;
  });
  std::vector<ReadGroup> groups;
  int open = -1;  // the group the next point may join
  for (int i : order) {
    const Mapping& m = points[i].mapping;
    const int end = m.address + m.width();  // one past the point
    const int limit = m.bit_table() ? kMaxReadBits : kMaxReadRegisters;
    if (!points[i].solo && open >= 0) {
      ReadGroup& g = groups[open];
      const int joined = std::max(end, g.start + g.count) - g.start;
      if (g.table == m.table && m.address <= g.start + g.count && joined <= limit) {
        g.count = joined;
        g.members.push_back(i);
        continue;
      }
    }
    groups.push_back(ReadGroup{m.table, m.address, m.width(), {i}});
    open = points[i].solo ? -1 : static_cast<int>(groups.size()) - 1;
  }
  return groups;
}

}  // namespace vexlor::drivers::modbus
