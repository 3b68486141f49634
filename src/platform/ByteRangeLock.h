#pragma once
// One-byte locks on a file that belong to an open file description
// (F_OFD_SETLK): the kernel drops them when the last descriptor of that
// description closes, a holder killed at any moment included.
#include <fcntl.h>

#include <cstddef>

namespace nemvo::platform {

// Takes (F_RDLCK, F_WRLCK) or drops (F_UNLCK) the lock on `byte` of `fd`
// without waiting: whether it succeeded.
bool LockByteRange(int fd, short type, size_t byte);

}  // namespace nemvo::platform
