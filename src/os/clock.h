// Clock, sleeps and the local calendar time.
#pragma once

#include <cstdint>

namespace vexlor::os {

// Seconds from an arbitrary fixed start, monotonic, sub-millisecond resolution.
double clock_seconds();

void sleep_seconds(double seconds);
void sleep_milliseconds(uint32_t milliseconds);

struct LocalTime {
  int year, month, day, day_of_week, hour, minute, second, milliseconds;
};

// The local date and time now (month 1-12, day_of_week 0 = Sunday).
LocalTime local_time();

}  // namespace vexlor::os
