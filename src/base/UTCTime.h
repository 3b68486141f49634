#pragma once
// Times as logs and status pages show them: ISO 8601 in UTC,
// "2026-12-11T05:32:57Z", or with milliseconds "2026-12-11T05:32:57.012Z".
#include <cstdint>
#include <string>

namespace nemvo {

// `milliseconds` negative: none shown. A time the calendar cannot hold is
// written as its number of seconds.
std::string UTCTimeText(int64_t secondsSinceEpoch, int milliseconds = -1);

}  // namespace nemvo
