#include "platform/BootClock.h"

#include <time.h>

namespace nemvo::platform {

int64_t SecondsSinceBoot() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return int64_t(now.tv_sec);
}

}  // namespace nemvo::platform
