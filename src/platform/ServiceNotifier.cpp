#include "platform/ServiceNotifier.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "platform/Environment.h"

namespace nemvo::platform {

TServiceNotifier::TServiceNotifier() {
  std::string path = EnvironmentVariable("NOTIFY_SOCKET");
  if (path.empty() || (path[0] != '/' && path[0] != '@') || path.size() >= sizeof(sockaddr_un::sun_path)) return;
  if (path[0] == '@') path[0] = '\0';
  fAddress = path;
}

TServiceNotifier::~TServiceNotifier() {
  if (fFd >= 0) close(fFd);
}

bool TServiceNotifier::Send(const std::string& state) {
  if (fAddress.empty()) return false;
  if (fFd < 0) fFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fFd < 0) return false;
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, fAddress.data(), fAddress.size());
  const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + fAddress.size());
  return sendto(fFd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address), length) ==
         ssize_t(state.size());
}

}  // namespace nemvo::platform
