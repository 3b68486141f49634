#pragma once
// The listening socket as a FastCGI worker takes connections from it: shared
// with the other workers of its pool, so never waited on in an accept (a
// request to end could not reach a worker blocked there), and each
// connection taken is made non-blocking for the worker's own waits.
namespace nemvo {

class TFastCGIListener {
 public:
  // `fd` is not owned.
  explicit TFastCGIListener(int fd) : fFd(fd) {}

  int Fd() const { return fFd; }
  // Makes the socket non-blocking (for every process that shares it): false
  // with errno set when it cannot be.
  bool Prepare();
  // One connection waiting on the socket: non-blocking, close-on-exec, and
  // on TCP without the delay of small writes. -1 with errno set when none
  // could be taken; PassingFailure says whether the socket is still usable.
  int Accept();
  // A failure of one accept that leaves the socket usable: another worker
  // took the connection first, or the connection went before it was taken.
  static bool PassingFailure(int error);

 private:
  int fFd;
};

}  // namespace nemvo
