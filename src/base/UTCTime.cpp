#include "base/UTCTime.h"

#include <time.h>

#include <cstdio>

namespace nemvo {

std::string UTCTimeText(int64_t secondsSinceEpoch, int milliseconds) {
  const time_t when = time_t(secondsSinceEpoch);
  tm parts{};
  char text[64];
  size_t length = 0;
  if (!gmtime_r(&when, &parts) || (length = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts)) == 0)
    return std::to_string(secondsSinceEpoch);
  if (milliseconds >= 0)
    std::snprintf(text + length, sizeof text - length, ".%03dZ", milliseconds % 1000);
  else
    std::snprintf(text + length, sizeof text - length, "Z");
  return text;
}

}  // namespace nemvo
