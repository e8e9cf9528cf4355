// Clock and calendar on Windows: the performance counter, Sleep and GetLocalTime.
#include "os/windows_api.h"

#include <cmath>
#include <cstdint>

#include "os/clock.h"

namespace vexlor::os {

double clock_seconds() {
  static const double seconds_per_tick = [] {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);  // never fails on Windows XP and later
    return 1.0 / static_cast<double>(frequency.QuadPart);
  }();
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * seconds_per_tick;
}

// Sleeps at least `milliseconds`; Sleep(INFINITE) would never return, so long sleeps go in
// finite pieces.
static void sleep_ms64(uint64_t milliseconds) {
  constexpr uint64_t kPiece = INFINITE - 1;
  while (milliseconds > kPiece) {
    ::Sleep(static_cast<DWORD>(kPiece));
    milliseconds -= kPiece;
  }
  ::Sleep(static_cast<DWORD>(milliseconds));
}

void sleep_seconds(double seconds) {
  if (!(seconds > 0)) return;  // also rejects NaN
  if (seconds > 1e9) seconds = 1e9;
  // Sleep counts whole milliseconds: round up so the sleep is never shorter than asked.
  sleep_ms64(static_cast<uint64_t>(std::ceil(seconds * 1000.0)));
}

void sleep_milliseconds(uint32_t milliseconds) { sleep_ms64(milliseconds); }

LocalTime local_time() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return LocalTime{st.wYear, st.wMonth,  st.wDay,    st.wDayOfWeek,
                   st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

}  // namespace vexlor::os
