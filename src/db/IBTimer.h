#pragma once
// A timer that fires on the thread that made it, when that thread runs its
// event loop (DispatchTimers). A CGI process has no event loop, so there a
// timer never fires; a program with a loop calls DispatchTimers from it.
#include <chrono>
#include <functional>

namespace nemvo {

class TIBTimer {
 public:
  using Clock = std::chrono::steady_clock;

  TIBTimer();
  ~TIBTimer();
  TIBTimer(const TIBTimer&) = delete;
  TIBTimer& operator=(const TIBTimer&) = delete;

  bool Enabled() const { return fEnabled; }
  void SetEnabled(bool value);
  int Interval() const { return fInterval; }  // milliseconds
  void SetInterval(int milliseconds);
  std::function<void()> OnTimer;

  // Fires every enabled timer of the calling thread whose interval has passed
  // by `now`, each at most once per call; returns how many fired.
  static int DispatchTimers(Clock::time_point now = Clock::now());

 private:
  void Restart();
  bool fEnabled = false;
  int fInterval = 0;
  Clock::time_point fDue{};
};

}  // namespace nemvo
