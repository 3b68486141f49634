#include "platform/ByteRangeLock.h"

#include <sys/types.h>

namespace nemvo::platform {

bool LockByteRange(int fd, short type, size_t byte) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(byte);
  lock.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

}  // namespace nemvo::platform
