// Clock and calendar on POSIX.
#include <time.h>

#include <cerrno>

#include "os/clock.h"

namespace vexlor::os {

double clock_seconds() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

static void sleep_timespec(timespec ts) {
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void sleep_seconds(double seconds) {
  if (!(seconds > 0)) return;  // also rejects NaN
  if (seconds > 1e9) seconds = 1e9;
  timespec ts;
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
  sleep_timespec(ts);
}

void sleep_milliseconds(uint32_t milliseconds) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(milliseconds / 1000);
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  sleep_timespec(ts);
}

LocalTime local_time() {
  timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  tm parts;
  ::localtime_r(&ts.tv_sec, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1,
                   parts.tm_mday,        parts.tm_wday,
                   parts.tm_hour,        parts.tm_min,
                   parts.tm_sec,         static_cast<int>(ts.tv_nsec / 1000000)};
}

}  // namespace vexlor::os
