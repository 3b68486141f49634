#include "platform/SocketIdentity.h"

#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>

namespace nemvo::platform {

bool TSocketIdentity::StillOpen() const noexcept {
  if (fd < 0) return false;
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == device && st.st_ino == inode;
}

void TSocketIdentity::ShutDown() const noexcept {
  // Called from a signal handler: the interrupted code's errno is kept.
  const int saved = errno;
  if (StillOpen()) shutdown(fd, SHUT_RDWR);
  errno = saved;
}

}  // namespace nemvo::platform
