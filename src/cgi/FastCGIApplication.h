#pragma once
// The application object of a FastCGI worker: takes connections from a
// listening socket it shares with the other workers of its pool, holds
// several at once (new ones whose head is on its way, kept ones between
// requests) and serves the requests that have come whole, one at a time,
// through the request cycle of the CGI host, until the process is asked to
// end or has served its share of requests.
#include <chrono>
#include <cstdint>

#include "cgi/CGIApplication.h"
#include "cgi/FastCGILimits.h"
#include "cgi/FastCGIListener.h"

namespace nemvo {

class IWorkerHooks;
class TFastCGIConnection;

class TFastCGIApplication : public TCGIApplication {
 public:
  // `listenSocket` is shared with the other workers, `terminationChannel`
  // becomes readable when the process is asked to end; neither is owned.
  // `maxRequests` 0: no limit. `limits` bound what one web server
  // connection can hold of the worker (FastCGILimits.h). CacheConnections
  // starts false: the modules of a request are freed after its answer
  // (ReleaseRetiredModules), not reused.
  TFastCGIApplication(int listenSocket, int terminationChannel, int64_t maxRequests,
                      const TFastCGILimits& limits = {}, TComponent* owner = nullptr);

  // Serves requests until asked to end, after maxRequests requests, or when
  // the socket fails for good (then raises EOSError). A request being
  // answered is always finished. Asked to end, the worker then takes and
  // answers the connections already waiting on the listening socket and the
  // requests on their way on its own connections, closes its idle kept
  // connections and returns; after maxRequests it does the same without
  // taking more connections (so it may answer a few more, which were sent
  // before it could tell their web servers it is done).
  void Run() override;

  int64_t Served() const { return fServed; }
  const TFastCGILimits& Limits() const { return fLimits; }

  // What a request writes to its error stream (the login log) goes to the
  // worker's own standard error, the pool's log, instead of the web
  // server's error log.
  void SetOwnErrorLog(bool own) { fOwnErrorLog = own; }
  // The pool's view of each request (WorkerHooks.h); not owned, nullptr:
  // none. A request the worker refuses (parameters beyond the limits, a role
  // it does not play) is reported through RequestRefused alone; every other
  // through RequestBegun and then RequestEnded.
  void SetHooks(IWorkerHooks* hooks) { fHooks = hooks; }
  // The peers served (--allow-remote; FastCGIListener.h); default: all.
  void SetPeerFilter(const TFastCGIPeerFilter& filter) { fPeerFilter = filter; }

 private:
  // The request in hand on `connection`, answered.
  void Serve(TFastCGIConnection& connection);

  int fListenSocket;
  int fTerminationChannel;
  int64_t fMaxRequests;
  TFastCGILimits fLimits;
  int64_t fServed = 0;
  bool fOwnErrorLog = false;
  IWorkerHooks* fHooks = nullptr;
  TFastCGIPeerFilter fPeerFilter;
};

}  // namespace nemvo
