#pragma once
// The listening socket as a FastCGI worker takes connections from it: shared
// with the other workers of its pool, so never waited on in an accept (a
// request to end could not reach a worker blocked there), and each
// connection taken is made non-blocking for the worker's own waits.
namespace nemvo {

namespace platform {
class TPeerAllowList;
class TRefusedPeerLog;
}  // namespace platform

// The peers a worker serves (--allow-remote): with a list, a connection from
// any other address is closed as it is taken, before a byte of it is read,
// and logged on the worker's standard error (the pool's log) as
//
//   nemvoweb[PID]: refused a FastCGI connection from ADDRESS (not in --allow-remote)
//
// as often as `refusals` lets it (platform/RefusedPeerLog.h). No list: every
// peer is served. Neither is owned.
struct TFastCGIPeerFilter {
  const platform::TPeerAllowList* allowed = nullptr;
  platform::TRefusedPeerLog* refusals = nullptr;
};

class TFastCGIListener {
 public:
  // `fd` is not owned.
  explicit TFastCGIListener(int fd, TFastCGIPeerFilter filter = {}) : fFd(fd), fFilter(filter) {}

  int Fd() const { return fFd; }
  // Makes the socket non-blocking (for every process that shares it): false
  // with errno set when it cannot be.
  bool Prepare();
  // One connection waiting on the socket: non-blocking, close-on-exec, and
  // on TCP without the delay of small writes. -1 with errno set when none
  // could be taken (ECONNREFUSED: one was, from a peer the filter refuses,
  // and is closed); PassingFailure says whether the socket is still usable.
  int Accept();
  // A failure of one accept that leaves the socket usable: another worker
  // took the connection first, the connection went before it was taken, or
  // its peer was refused.
  static bool PassingFailure(int error);

 private:
  int fFd;
  TFastCGIPeerFilter fFilter;
};

}  // namespace nemvo
