#include "cgi/FastCGIListener.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/ListeningSocket.h"

namespace nemvo {

bool TFastCGIListener::Prepare() { return platform::SetNonBlocking(fFd); }

int TFastCGIListener::Accept() {
  sockaddr_storage peer;
  socklen_t length = sizeof peer;
  const int fd = accept4(fFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return -1;
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
