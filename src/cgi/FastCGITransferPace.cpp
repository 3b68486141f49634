#include "cgi/FastCGITransferPace.h"

#include <algorithm>

namespace nemvo {

TFastCGITransferPace::Clock::duration TFastCGITransferPace::Left() const {
  using namespace std::chrono;
  // Microseconds per byte at the rate, in 64 bits: a transfer's bytes stay
  // far below where this would overflow.
  const microseconds earned = fMinRate > 0 ? microseconds(fBytes * 1000000 / fMinRate) : microseconds(0);
  return duration_cast<Clock::duration>(fGrace + earned) - fWaited;
}

int TFastCGITransferPace::PollTimeout() const {
  if (!Bounded()) return -1;
  const auto left = Left();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return int(std::min<int64_t>(ms, 24 * 3600 * 1000));
}

}  // namespace nemvo
