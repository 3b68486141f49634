#pragma once
// Which connection a library opened during a call, when the library does not
// tell: the sockets the process holds before the call, compared with those it
// holds after it.
#include <sys/types.h>

#include <vector>

#include "platform/SocketIdentity.h"

namespace nemvo::platform {

class TSocketSnapshot {
 public:
  // The sockets this process holds now.
  TSocketSnapshot();

  // The one TCP connection (IPv4 or IPv6, connected to a peer) that is open
  // now and was not when the snapshot was taken; unknown when there is no
  // such socket or more than one.
  TSocketIdentity NewConnection() const;

 private:
  std::vector<ino_t> fInodes;
};

}  // namespace nemvo::platform
