// VTime: the clock and sleeps every wait of the library is built on.
#include <cmath>

#include "os/clock.h"
#include "vexlor/util.h"

namespace Vexlor {

double VTime_Get() { return vexlor::os::clock_seconds(); }

void VTime_Sleep(double seconds) {
  if (!(seconds > 0) || std::isinf(seconds)) return;  // NaN, 0 and negative do not sleep
  vexlor::os::sleep_seconds(seconds);
}

void VTime_MSleep(int milliseconds) {
  if (milliseconds <= 0) return;
  vexlor::os::sleep_milliseconds(static_cast<uint32_t>(milliseconds));
}

}  // namespace Vexlor
