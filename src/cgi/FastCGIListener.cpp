#include "cgi/FastCGIListener.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "platform/BootClock.h"
#include "platform/ListeningSocket.h"
#include "platform/PeerAllowList.h"
#include "platform/RefusedPeerLog.h"
#include "platform/LogLine.h"

namespace nemvo {

namespace {

void LogRefusal(const std::optional<platform::TPeerAllowList::Address>& address, platform::TRefusedPeerLog* refusals) {
  // A peer without an address cannot reach a TCP socket; were it to, it is
  // refused all the same, and each time told.
  platform::TRefusedPeerLog::Verdict verdict{.log = true};
  if (address && refusals) verdict = refusals->Refused(*address, platform::SecondsSinceBoot());
  if (!verdict.log) return;
  std::string line = "refused a FastCGI connection from " +
                     (address ? platform::PeerAddressText(*address) : std::string("a peer without an address")) +
                     " (not in --allow-remote)";
  if (verdict.unlogged > 0)
    line += "; " + std::to_string(verdict.unlogged) + " earlier refusals were not logged (over " +
            std::to_string(platform::TRefusedPeerLog::kLinesPerMinute) + " lines a minute)";
  platform::LogLine("nemvoweb", line, platform::LogPriority::kWarning);
}

}  // namespace

bool TFastCGIListener::Prepare() { return platform::SetNonBlocking(fFd); }

int TFastCGIListener::Accept() {
  sockaddr_storage peer;
  socklen_t length = sizeof peer;
  const int fd = accept4(fFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return -1;
  if (fFilter.allowed) {
    const std::optional<platform::TPeerAllowList::Address> address = platform::PeerAddress(reinterpret_cast<sockaddr*>(&peer));
    if (!address || !fFilter.allowed->Admits(*address)) {
      // Told before the close: whoever sees the connection end finds the
      // line already in the log.
      LogRefusal(address, fFilter.refusals);
      close(fd);
      errno = ECONNREFUSED;
      return -1;
    }
  }
  if (peer.ss_family == AF_INET || peer.ss_family == AF_INET6) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  return fd;
}

bool TFastCGIListener::PassingFailure(int error) {
  switch (error) {
    case EAGAIN:
    case EINTR:
    case ECONNABORTED:
    case ECONNREFUSED:
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

}  // namespace nemvo
