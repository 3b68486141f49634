#pragma once
// A bound on a blocking call made into code that offers none of its own: a
// connect() to an address whose packets are dropped waits for the system's
// retries (about two minutes on Linux), whatever the caller's time-outs say.
#include <chrono>

namespace nemvo::platform {

// While it lives, a system call that the constructing thread is still blocked
// in when `after` has passed returns EINTR (interrupted by a signal whose
// handler does nothing). The signal comes once, to this thread only; calls
// that restart after an interruption are not ended by it. A zero or negative
// `after` arms nothing.
class TCallDeadline {
 public:
  explicit TCallDeadline(std::chrono::milliseconds after);
  ~TCallDeadline();
  TCallDeadline(const TCallDeadline&) = delete;
  TCallDeadline& operator=(const TCallDeadline&) = delete;

  // Whether the deadline passed while this object lived.
  bool Passed() const;

 private:
  void* fTimer = nullptr;  // the POSIX timer, while armed
  bool fArmed = false;
};

}  // namespace nemvo::platform
