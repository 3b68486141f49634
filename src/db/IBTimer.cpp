#include "db/IBTimer.h"

#include <algorithm>
#include <vector>

namespace nemvo {

namespace {
// The timers of this thread, in creation order.
thread_local std::vector<TIBTimer*> threadTimers;
}  // namespace

TIBTimer::TIBTimer() { threadTimers.push_back(this); }

TIBTimer::~TIBTimer() { std::erase(threadTimers, this); }

void TIBTimer::Restart() { fDue = Clock::now() + std::chrono::milliseconds(fInterval); }

void TIBTimer::SetEnabled(bool value) {
  if (value == fEnabled) return;
  fEnabled = value;
  if (fEnabled) Restart();
}

void TIBTimer::SetInterval(int milliseconds) {
  if (milliseconds == fInterval) return;
  fInterval = std::max(0, milliseconds);
  if (fEnabled) Restart();
}

int TIBTimer::DispatchTimers(Clock::time_point now) {
  // A handler may create or free timers: work from a snapshot and skip those gone.
  std::vector<TIBTimer*> snapshot = threadTimers;
  int fired = 0;
  for (TIBTimer* t : snapshot) {
    if (std::find(threadTimers.begin(), threadTimers.end(), t) == threadTimers.end()) continue;
    if (!t->fEnabled || t->fInterval <= 0 || now < t->fDue) continue;
    t->fDue = now + std::chrono::milliseconds(t->fInterval);
    ++fired;
    if (t->OnTimer) t->OnTimer();
  }
  return fired;
}

}  // namespace nemvo
