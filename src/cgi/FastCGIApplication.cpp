#include "cgi/FastCGIApplication.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/Exception.h"
#include "base/RequestProgress.h"
#include "cgi/FastCGIConnection.h"
#include "cgi/FastCGIConnectionSet.h"
#include "cgi/FastCGIListener.h"
#include "cgi/FastCGIOwnAnswer.h"
#include "cgi/FastCGIRefusal.h"
#include "cgi/FastCGIRequestSource.h"
#include "cgi/WorkerHooks.h"
#include "platform/ReadinessSet.h"
#include "platform/StandardStreams.h"
#include "platform/TerminationRequests.h"

namespace nemvo {

namespace {

using Clock = std::chrono::steady_clock;

// Takes one connection from `listener` into `connections`; false when none
// was waiting. Raises EOSError when the socket has failed for good.
bool TakeConnection(TFastCGIListener& listener, TFastCGIConnectionSet& connections) {
  for (;;) {
    const int fd = listener.Accept();
    if (fd >= 0) {
      if (!connections.Add(fd, Clock::now())) throw EOSError::FromLastError(errno);
      return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
    // A connection gone before it was taken: the next one may be there.
    if (!TFastCGIListener::PassingFailure(errno)) throw EOSError::FromLastError(errno);
    if (errno == EINTR) continue;
    return true;
  }
}

}  // namespace

TFastCGIApplication::TFastCGIApplication(int listenSocket, int terminationChannel, int64_t maxRequests,
                                         const TFastCGILimits& limits, TComponent* owner)
    : TCGIApplication(owner),
      fListenSocket(listenSocket),
      fTerminationChannel(terminationChannel),
      fMaxRequests(maxRequests),
      fLimits(limits) {
  // Each request gets modules of its own, freed once its answer has gone: a
  // module kept for the next request would carry this one's credentials into
  // it, and the connection its login left open.
  SetCacheConnections(false);
}

void TFastCGIApplication::Run() {
  TWebApplication::Run();
  // The answers go through the connections: standard output is not needed,
  // but a connection the web server drops must not end the process.
  platform::PrepareStandardStreams();
  TFastCGIListener listener(fListenSocket, fPeerFilter);
  if (!listener.Prepare()) throw EOSError::FromLastError(errno);
  platform::ReadinessSet waits;
  if (!waits.Add(fTerminationChannel)) throw EOSError::FromLastError(errno);
  // Declared after the waits: its connections leave them as it goes.
  TFastCGIConnectionSet connections(fLimits, waits);
  bool watchingListener = false;
  bool ending = false;       // asked to end
  bool queueTaken = false;   // and what waited on the listening socket then has been taken
  auto served = [this] { return fMaxRequests > 0 && fServed >= fMaxRequests; };
  for (;;) {
    connections.Expire(Clock::now());
    while (TFastCGIConnection* connection = connections.NextReady()) {
      Serve(*connection);
      connections.Sweep();
    }
    if (ending && !queueTaken) {
      // The web servers that connected before the request to end get their
      // answers: the socket is closed only once every worker has ended.
      bool took = false;
      while (connections.CanTake() && !queueTaken) {
        if (TakeConnection(listener, connections))
          took = true;
        else
          queueTaken = true;
      }
      if (took) continue;
    }
    const bool stopTaking = ending ? queueTaken : served();
    if (stopTaking) {
      connections.CloseIdle();
      if (connections.Empty()) break;
    }
    // Watched only while a connection could be taken: a worker with no room
    // leaves new connections to the others.
    const bool wantListener = !ending && !stopTaking && connections.CanTake();
    if (wantListener != watchingListener) {
      if (!wantListener)
        waits.Remove(fListenSocket);
      else if (!waits.Add(fListenSocket, true))
        throw EOSError::FromLastError(errno);
      watchingListener = wantListener;
    }
    ReportRequestPhase(connections.AnyHeading() ? TRequestPhase::ReadingHead : TRequestPhase::Idle);
    const std::vector<int> ready = waits.Wait(connections.TimeoutMs(Clock::now()));
    auto isReady = [&ready](int fd) { return std::find(ready.begin(), ready.end(), fd) != ready.end(); };
    if (isReady(fTerminationChannel) && platform::TakeTerminationRequest(fTerminationChannel)) ending = true;
    // One connection a wake-up: the others that wait wake other workers.
    if (watchingListener && !ending && isReady(fListenSocket)) TakeConnection(listener, connections);
    connections.Advance(ready, Clock::now());
  }
  if (watchingListener) waits.Remove(fListenSocket);
}

void TFastCGIApplication::Serve(TFastCGIConnection& connection) {
  ++fServed;
  if (connection.Refusal() != TFastCGIConnection::TRefusal::None) {
    const TFastCGIRefusal refusal = TFastCGIRefusal::For(connection, fLimits);
    connection.WriteStream(fastcgi::kStdout, refusal.answer);
    connection.EndRequest(refusal.status == 0 ? fastcgi::kUnknownRole : fastcgi::kRequestComplete);
    ReportRequestPhase(TRequestPhase::Idle);
    if (fHooks) fHooks->RequestRefused(refusal.status, refusal.why);
    return;
  }
  bool delivered = false;
  int status = 0;
  {
    TFastCGIRequestSource source(connection, fOwnErrorLog);
    if (!fHooks || !fHooks->RequestBegun(source)) RunRequest(source);
    status = source.Status();
    if (status == 0) {
      // The cycle wrote nothing: no action serves the path.
      connection.WriteStream(fastcgi::kStdout, FastCGIOwnAnswer(kNothingWrittenStatus, kNothingWrittenReason));
      status = kNothingWrittenStatus;
    }
    delivered = connection.EndRequest();
  }
  ReportRequestPhase(TRequestPhase::Idle);
  if (fHooks) fHooks->RequestEnded(delivered ? status : 0);
  // The web server has the answer: the request's modules, and with them its
  // database connection, go now, before the next request is waited for.
  ReleaseRetiredModules();
}

}  // namespace nemvo
