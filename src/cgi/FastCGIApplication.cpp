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

// What the request object holds between requests. The library never takes
// a connection itself: it would wait on it without a bound (and on a unix
// socket for up to two seconds before it reads a byte). The worker takes
// each connection and hands it over as one the web server kept; when the
// library then finds no whole request on it, its own accept fails at once on
// the listening socket it is given, none (EBADF).
struct RequestSlot {
  static constexpr int kNoListener = -1;
  FCGX_Request request;
  RequestSlot() { FCGX_InitRequest(&request, kNoListener, 0); }
  ~RequestSlot() { FCGX_Free(&request, 1); }
  RequestSlot(const RequestSlot&) = delete;
  RequestSlot& operator=(const RequestSlot&) = delete;
  // A connection the web server asked to keep for its next request; -1 when
  // there is none. (The library keeps it in the request between requests.)
  int KeptConnection() const { return request.ipcFd; }
  // A connection just taken, read by the next FCGX_Accept_r as if kept. Its
  // first record says whether the web server keeps it after that request.
  void Adopt(int connection) {
    request.ipcFd = connection;
    request.keepConnection = 1;
  }
  // The web server's next request on a kept connection follows the end of
  // this one's body: whatever of the body the request did not read is read
  // now, so that the next request starts where it should.
  void SkipUnreadBody() {
    if (!request.keepConnection) return;
    char buffer[4096];
    while (FCGX_GetStr(buffer, sizeof buffer, request.in) > 0) {
    }
  }
  // Lets a kept connection go.
  void DropKeptConnection() {
    FCGX_Free(&request, 1);
    FCGX_InitRequest(&request, kNoListener, 0);
  }
};

}  // namespace

TFastCGIApplication::TFastCGIApplication(int listenSocket, int terminationChannel, int64_t maxRequests,
                                         std::chrono::seconds ioTimeout, TComponent* owner)
    : TCGIApplication(owner),
      fListenSocket(listenSocket),
      fTerminationChannel(terminationChannel),
      fMaxRequests(maxRequests),
      fIOTimeout(ioTimeout) {
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
  RequestSlot slot;
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
      slot.DropKeptConnection();
    }
    if (slot.KeptConnection() < 0) {
      const int connection = platform::AcceptConnection(fListenSocket, fIOTimeout);
      if (connection < 0) {
        if (PassingAcceptFailure(errno)) continue;
        throw EOSError::FromLastError(errno);
      }
      slot.Adopt(connection);
    }
    const int rc = FCGX_Accept_r(&slot.request);
    if (rc < 0) {
      // The connection ended, failed or timed out before a whole request
      // came: it is gone, and the worker waits for the next one.
      if (rc == -EBADF || PassingAcceptFailure(-rc)) continue;
      throw EOSError::FromLastError(-rc);
    }
    ++fServed;
    {
      TFastCGIRequestSource source(slot.request, fOwnErrorLog);
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
