#pragma once
// How many connections wait in the kernel's queue of a listening socket, not
// yet taken by any worker: when every worker is busy, this is where the web
// server's connections pile up, and where its time-outs come from.
#include <cstdint>

namespace nemvo::platform {

// The connections waiting now to be accepted on `listeningFd`: a TCP (IPv4
// or IPv6) or unix stream socket that listens. -1 when that cannot be known:
// not a socket, another kind of socket, a socket that does not listen (it has
// no such queue), or the kernel's socket diagnostics refused the question
// (unix sockets are asked about through netlink). A handful of system calls,
// no child process and no file read: cheap enough for every status request.
int64_t ListenQueueLength(int listeningFd);

}  // namespace nemvo::platform
