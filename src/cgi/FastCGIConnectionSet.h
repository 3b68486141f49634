#pragma once
// The connections one FastCGI worker holds at once: new ones whose request
// head is on its way, kept ones between requests, closing ones lingering
// after their last answer. Bounded: a new connection beyond the bound takes
// the place of the kept connection idle longest (or of one lingering), never
// of one with bytes waiting. Each is given up once past its deadline.
#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

#include "cgi/FastCGIConnection.h"
#include "cgi/FastCGILimits.h"
#include "platform/ReadinessSet.h"

namespace nemvo {

class TFastCGIConnectionSet {
 public:
  using Clock = std::chrono::steady_clock;

  // Each connection's socket is watched in `waits` while it is held.
  // `limits` and `waits` outlive the set.
  TFastCGIConnectionSet(const TFastCGILimits& limits, platform::ReadinessSet& waits)
      : fLimits(limits), fWaits(waits) {}
  ~TFastCGIConnectionSet();
  TFastCGIConnectionSet(const TFastCGIConnectionSet&) = delete;
  TFastCGIConnectionSet& operator=(const TFastCGIConnectionSet&) = delete;

  bool Empty() const { return fConnections.empty(); }
  // Room for one more: below the bound, or a kept idle or lingering
  // connection that may go.
  bool CanTake() const;
  // Takes `fd`, a connection just accepted (making room first), and reads
  // what it has sent. False when it cannot be watched: then it is closed.
  bool Add(int fd, Clock::time_point now);
  // Reads what the connections among `ready` have sent.
  void Advance(const std::vector<int>& ready, Clock::time_point now);
  // Gives up the connections past their deadlines, once what they sent
  // meanwhile has been read (the worker may have been busy with another).
  void Expire(Clock::time_point now);
  // A connection whose request is ready to be served, each in turn; nullptr
  // when none is.
  TFastCGIConnection* NextReady();
  // Forgets the connections that have closed.
  void Sweep();
  // Closes the kept connections with nothing of a next request.
  void CloseIdle();
  // A request head is on its way on some connection.
  bool AnyHeading() const;
  // Milliseconds until the first deadline, rounded up; -1: none.
  int TimeoutMs(Clock::time_point now) const;

 private:
  // The connection that may go to make room: the kept one idle longest, else
  // the one lingering longest; nullptr when none may.
  TFastCGIConnection* Evictable() const;

  const TFastCGILimits& fLimits;
  platform::ReadinessSet& fWaits;
  std::vector<std::unique_ptr<TFastCGIConnection>> fConnections;
  size_t fTurn = 0;  // where the search for a ready request starts
};

}  // namespace nemvo
