#pragma once
// One socket of this process, told apart from whatever its descriptor number
// may refer to later: the number alone is reused as soon as the socket is
// closed, the inode of an open socket is its own.
#include <sys/types.h>

namespace nemvo::platform {

struct TSocketIdentity {
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;

  bool Known() const { return fd >= 0; }
  // Whether the descriptor still refers to this socket. Safe in a signal
  // handler.
  bool StillOpen() const noexcept;
  // Ends the connection both ways, if the descriptor still refers to this
  // socket: a call blocked on it returns at once, as for a connection the
  // peer has closed. The descriptor stays open for its owner to close. Safe
  // in a signal handler.
  void ShutDown() const noexcept;
};

}  // namespace nemvo::platform
