#include "cgi/FastCGIApplication.h"

#include <fcgiapp.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/Exception.h"
#include "cgi/FastCGIRequestSource.h"
#include "cgi/WebApplication.h"
#include "platform/ListeningSocket.h"
#include "platform/StandardStreams.h"
#include "platform/TerminationRequests.h"
#include "platform/ReadinessSet.h"

namespace nemvo {

namespace {

// Failures of one accept that leave the socket usable: another worker took
// the connection first, or the connection went before it was taken.
bool PassingAcceptFailure(int error) {
  switch (error) {
    case EAGAIN:
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case ECONNRESET:
    case EPIPE:
      return true;
    default:
      return false;
  }
}

// What the request object holds between requests.
struct RequestSlot {
  FCGX_Request request;
  explicit RequestSlot(int listenSocket) { FCGX_InitRequest(&request, listenSocket, 0); }
  ~RequestSlot() { FCGX_Free(&request, 1); }
  RequestSlot(const RequestSlot&) = delete;
  RequestSlot& operator=(const RequestSlot&) = delete;
  // A connection the web server asked to keep for its next request; -1 when
  // there is none. (The library keeps it in the request between requests.)
  int KeptConnection() const { return request.ipcFd; }
  // The web server's next request on a kept connection follows the end of
  // this one's body: whatever of the body the request did not read is read
  // now, so that the next request starts where it should.
  void SkipUnreadBody() {
    if (!request.keepConnection) return;
    char buffer[4096];
    while (FCGX_GetStr(buffer, sizeof buffer, request.in) > 0) {
    }
  }
  // Lets a kept connection go, so that the next accept takes a new one.
  void DropKeptConnection(int listenSocket) {
    FCGX_Free(&request, 1);
    FCGX_InitRequest(&request, listenSocket, 0);
  }
};

}  // namespace

TFastCGIApplication::TFastCGIApplication(int listenSocket, int terminationChannel, int64_t maxRequests,
                                         TComponent* owner)
    : TCGIApplication(owner),
      fListenSocket(listenSocket),
      fTerminationChannel(terminationChannel),
      fMaxRequests(maxRequests) {
  // Each request gets modules of its own, freed once its answer has gone: a
  // module kept for the next request would carry this one's credentials into
  // it, and the connection its login left open.
  SetCacheConnections(false);
}

void TFastCGIApplication::Run() {
  TWebApplication::Run();
  // The answers go through the requests' streams: standard output is not
  // needed, but a connection the web server drops must not end the process.
  platform::PrepareStandardStreams();
  if (FCGX_Init() != 0) throw EOSError("The FastCGI library cannot start", 0);
  // Workers wait on the socket together; the one that loses the race for a
  // connection gets EAGAIN instead of blocking where a request to end
  // cannot reach it.
  if (!platform::SetNonBlocking(fListenSocket)) throw EOSError::FromLastError(errno);
  RequestSlot slot(fListenSocket);
  platform::ReadinessSet waits;
  if (!waits.Add(fTerminationChannel) || !waits.Add(fListenSocket, true)) throw EOSError::FromLastError(errno);
  int watchedKept = -1;
  while (fMaxRequests <= 0 || fServed < fMaxRequests) {
    // The kept connection's number may have gone to another connection since
    // the last wait, so it is watched anew each time.
    const int kept = slot.KeptConnection();
    if (watchedKept >= 0) waits.Remove(watchedKept);
    if (kept >= 0) waits.Add(kept);
    watchedKept = kept;
    const std::vector<int> ready = waits.Wait(-1);
    auto isReady = [&ready](int fd) { return fd >= 0 && std::find(ready.begin(), ready.end(), fd) != ready.end(); };
    if (isReady(fTerminationChannel) && platform::TakeTerminationRequest(fTerminationChannel)) break;
    if (kept >= 0 && !isReady(kept)) {
      if (!isReady(fListenSocket)) continue;
      // A new connection while the kept one is idle: one process serves one
      // connection at a time, so the idle one goes.
      slot.DropKeptConnection(fListenSocket);
    }
    const int rc = FCGX_Accept_r(&slot.request);
    if (rc < 0) {
      if (PassingAcceptFailure(-rc)) continue;
      throw EOSError::FromLastError(-rc);
    }
    ++fServed;
    {
      TFastCGIRequestSource source(slot.request);
      RunRequest(source);
    }
    slot.SkipUnreadBody();
    FCGX_Finish_r(&slot.request);
    // The web server has the answer: the request's modules, and with them its
    // database connection, go now, before the next request is waited for.
    ReleaseRetiredModules();
  }
}

}  // namespace nemvo
