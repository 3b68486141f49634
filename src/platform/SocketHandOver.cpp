#include "platform/SocketHandOver.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "platform/Environment.h"

namespace nemvo::platform {

namespace {

bool SetCloseOnExec(int fd, bool on) {
  const int flags = fcntl(fd, F_GETFD);
  return flags != -1 && fcntl(fd, F_SETFD, on ? flags | FD_CLOEXEC : flags & ~FD_CLOEXEC) == 0;
}

}  // namespace

bool HandOverOnExec(const ListeningSocket& socket) {
  if (socket.fd < 0 || !SetCloseOnExec(socket.fd, false)) return false;
  const std::string value = std::to_string(socket.fd) + " " + std::to_string(socket.device) + " " +
                            std::to_string(socket.inode) + " " + socket.path;
  if (setenv(kHandedOverSocketVariable, value.c_str(), 1) == 0) return true;
  SetCloseOnExec(socket.fd, true);
  return false;
}

void TakeBackFromExec(const ListeningSocket& socket) {
  unsetenv(kHandedOverSocketVariable);
  if (socket.fd > STDIN_FILENO) SetCloseOnExec(socket.fd, true);
}

std::optional<ListeningSocket> TakeHandedOverSocket() {
  const std::string value = EnvironmentVariable(kHandedOverSocketVariable);
  unsetenv(kHandedOverSocketVariable);
  if (value.empty()) return std::nullopt;
  int fd = -1;
  uint64_t device = 0, inode = 0;
  int pathAt = 0;
  if (std::sscanf(value.c_str(), "%d %" SCNu64 " %" SCNu64 " %n", &fd, &device, &inode, &pathAt) != 3 ||
      pathAt <= 0 || fd < 0 || !IsListeningSocket(fd))
    return std::nullopt;
  // Standard input stays as a service manager gave it.
  if (fd > STDIN_FILENO) SetCloseOnExec(fd, true);
  return ListeningSocket{.fd = fd, .path = value.substr(size_t(pathAt)), .device = device, .inode = inode};
}

}  // namespace nemvo::platform
