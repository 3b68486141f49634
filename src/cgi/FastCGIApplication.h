#pragma once
// The application object of a FastCGI worker: the request cycle of the CGI
// host, run once for every request accepted on a listening socket, until the
// process is asked to end or has served its share of requests.
#include <chrono>
#include <cstdint>

#include "cgi/CGIApplication.h"

namespace nemvo {

class TFastCGIApplication : public TCGIApplication {
 public:
  // `listenSocket` is shared with the other workers, `terminationChannel`
  // becomes readable when the process is asked to end; neither is owned.
  // `maxRequests` 0: no limit. A web server that sends nothing, or reads
  // nothing, for `ioTimeout` (zero: no bound) loses its request, so that a
  // stalled peer cannot hold the worker. CacheConnections starts false: the
  // modules of a request are freed after its answer (ReleaseRetiredModules),
  // not reused.
  TFastCGIApplication(int listenSocket, int terminationChannel, int64_t maxRequests, std::chrono::seconds ioTimeout,
                      TComponent* owner = nullptr);

  // Serves requests one after another. A request being answered is always
  // finished; a request to end is taken between requests. Returns when asked
  // to end, after maxRequests requests, or when the socket fails for good
  // (then raises EOSError).
  void Run() override;

  int64_t Served() const { return fServed; }

  // What a request writes to its error stream (the login log) goes to the
  // worker's own standard error, the pool's log, instead of the web
  // server's error log.
  void SetOwnErrorLog(bool own) { fOwnErrorLog = own; }

 private:
  int fListenSocket;
  int fTerminationChannel;
  int64_t fMaxRequests;
  std::chrono::seconds fIOTimeout;
  int64_t fServed = 0;
  bool fOwnErrorLog = false;
};

}  // namespace nemvo
