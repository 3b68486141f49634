#include "cgi/FastCGIConnectionSet.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace nemvo {

TFastCGIConnectionSet::~TFastCGIConnectionSet() {
  for (const auto& c : fConnections) fWaits.Remove(c->Fd());
}

TFastCGIConnection* TFastCGIConnectionSet::Evictable() const {
  TFastCGIConnection* idle = nullptr;
  TFastCGIConnection* closing = nullptr;
  for (const auto& c : fConnections) {
    if (c->Idle() && (!idle || c->IdleSince() < idle->IdleSince())) idle = c.get();
    if (c->State() == TFastCGIConnection::TState::Closing && (!closing || c->Deadline() < closing->Deadline()))
      closing = c.get();
  }
  return idle ? idle : closing;
}

bool TFastCGIConnectionSet::CanTake() const {
  return fConnections.size() < std::max<size_t>(fLimits.maxConnections, 1) || Evictable() != nullptr;
}

bool TFastCGIConnectionSet::Add(int fd, Clock::time_point now) {
  while (fConnections.size() >= std::max<size_t>(fLimits.maxConnections, 1)) {
    TFastCGIConnection* victim = Evictable();
    if (!victim) break;
    // Its bytes may have come since it was last read: then it stays.
    const bool wasIdle = victim->Idle();
    victim->Advance(now);
    if (wasIdle && !victim->Idle() && victim->State() != TFastCGIConnection::TState::Closed) continue;
    victim->Close();
    Sweep();
  }
  if (!fWaits.Add(fd)) {
    const int error = errno;
    close(fd);
    errno = error;
    return false;
  }
  fConnections.push_back(std::make_unique<TFastCGIConnection>(fd, fLimits, now));
  fConnections.back()->Advance(now);
  Sweep();
  return true;
}

void TFastCGIConnectionSet::Advance(const std::vector<int>& ready, Clock::time_point now) {
  for (const auto& c : fConnections)
    if (std::find(ready.begin(), ready.end(), c->Fd()) != ready.end()) c->Advance(now);
  Sweep();
}

void TFastCGIConnectionSet::Expire(Clock::time_point now) {
  for (const auto& c : fConnections) {
    if (c->Deadline() > now) continue;
    c->Advance(now);
    if (c->Deadline() <= now) c->Close();
  }
  Sweep();
}

TFastCGIConnection* TFastCGIConnectionSet::NextReady() {
  const size_t n = fConnections.size();
  for (size_t i = 0; i < n; ++i) {
    const size_t at = (fTurn + i) % n;
    if (fConnections[at]->State() == TFastCGIConnection::TState::Ready) {
      fTurn = at + 1;
      return fConnections[at].get();
    }
  }
  return nullptr;
}

void TFastCGIConnectionSet::Sweep() {
  std::erase_if(fConnections, [this](const std::unique_ptr<TFastCGIConnection>& c) {
    if (c->State() != TFastCGIConnection::TState::Closed) return false;
    // Unwatched before its socket closes, while the number is still its own.
    fWaits.Remove(c->Fd());
    return true;
  });
}

void TFastCGIConnectionSet::CloseIdle() {
  for (const auto& c : fConnections)
    if (c->Idle()) c->Close();
  Sweep();
}

bool TFastCGIConnectionSet::AnyHeading() const {
  return std::any_of(fConnections.begin(), fConnections.end(),
                     [](const auto& c) { return c->State() == TFastCGIConnection::TState::Heading; });
}

int TFastCGIConnectionSet::TimeoutMs(Clock::time_point now) const {
  Clock::time_point first = Clock::time_point::max();
  for (const auto& c : fConnections) first = std::min(first, c->Deadline());
  if (first == Clock::time_point::max()) return -1;
  if (first <= now) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(first - now).count();
  return int(std::min<int64_t>(ms, INT_MAX));
}

}  // namespace nemvo
