#pragma once
// A bound on a blocking call made into code that offers none of its own: a
// connect() to an address whose packets are dropped waits for the system's
// retries (about two minutes on Linux), whatever the caller's time-outs say;
// a library waiting for its server's reply restarts the wait after every
// interruption, for as long as the server stays silent.
#include <chrono>

#include "platform/SocketIdentity.h"

namespace nemvo::platform {

// While it lives, a system call that the constructing thread is still blocked
// in when `after` has passed returns EINTR (interrupted by a real-time signal
// of the deadline's own, Signal(), whose handler does nothing else; SIGALRM
// and every other signal's handler are left to whoever set them). The signal comes once, to this thread only;
// calls that restart after an interruption are not ended by it. For those,
// `connection` names the socket the call waits on: it is shut down at the
// same moment (if the descriptor still refers to that socket), so the
// restarted wait ends at once, as for a connection the peer has closed. A
// zero or negative `after` arms nothing.
class TCallDeadline {
 public:
  explicit TCallDeadline(std::chrono::milliseconds after, TSocketIdentity connection = {});
  // No bound: for calls whose waits are left to the code called.
  static TCallDeadline None() { return TCallDeadline(std::chrono::milliseconds(0)); }
  ~TCallDeadline();
  TCallDeadline(const TCallDeadline&) = delete;
  TCallDeadline& operator=(const TCallDeadline&) = delete;

  // Whether the deadline passed while this object lived.
  bool Passed() const;

  // The signal deadlines use (SIGRTMIN+3, or the next one above it that had
  // no handler when the first deadline was armed); 0 when none of SIGRTMIN+3
  // to SIGRTMIN+10 was free, and then no deadline is ever armed.
  static int Signal();

 private:
  friend struct DeadlineSignal;

  void* fTimer = nullptr;  // the POSIX timer, while armed
  bool fArmed = false;
  TSocketIdentity fConnection;
  unsigned fToken = 0;              // what its timer's signal carries
  TCallDeadline* fOuter = nullptr;  // the thread's deadline armed before this one
};

}  // namespace nemvo::platform
