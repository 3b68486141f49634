#pragma once
// How long a transfer with the web server (a request's body, an answer) may
// keep the worker waiting: a grace plus the time its bytes so far would take
// at a minimum rate. Only the time spent waiting for the peer counts, not the
// worker's own between waits (a sanitized or traced worker is slow, and that
// is no fault of the peer's). A peer that sends or reads a byte now and then
// gets no more than a peer that stops: each wait is bounded by what is left
// of the whole transfer's allowance, not by a fresh time-out.
#include <chrono>
#include <cstdint>

namespace nemvo {

class TFastCGITransferPace {
 public:
  using Clock = std::chrono::steady_clock;

  enum class TDirection {
    Receiving,  // every byte read came from the peer
    // What the socket's buffer takes before the peer has held the worker up
    // once went into the buffer, not to the peer: it earns no time (a peer
    // that reads nothing would otherwise earn minutes for the buffer's
    // few hundred kilobytes).
    Sending,
  };

  // `grace` zero: no bound at all. `minRate` in bytes a second; 0: the
  // grace alone.
  TFastCGITransferPace(std::chrono::milliseconds grace, int64_t minRate, TDirection direction)
      : fGrace(grace), fMinRate(minRate), fCounting(direction == TDirection::Receiving) {}

  bool Bounded() const { return fGrace.count() > 0; }
  // `count` more bytes have moved.
  void Moved(int64_t count) {
    if (fCounting) fBytes += count;
  }
  // A wait that lasted `waited`.
  void Waited(Clock::duration waited) {
    fWaited += waited;
    fCounting = true;
  }
  // How long the next wait may last: zero or less once the allowance is spent.
  Clock::duration Left() const;
  // Left() as a poll time-out: -1 when unbounded, else whole milliseconds
  // rounded up (so that a wait never ends just short of its bound).
  int PollTimeout() const;

 private:
  std::chrono::milliseconds fGrace;
  int64_t fMinRate;
  bool fCounting;
  int64_t fBytes = 0;
  Clock::duration fWaited{0};
};

}  // namespace nemvo
