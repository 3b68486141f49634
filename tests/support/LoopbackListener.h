#pragma once
// A TCP listener on 127.0.0.1 at a free port, for the stand-ins of the tests
// that play a server.
#include <netinet/in.h>
#include <sys/socket.h>

#include <stdexcept>
#include <string>

namespace nemvo::testing {

// The listening descriptor; its port in `port`. Throws, naming `who`, when
// it cannot listen.
inline int ListenOnLoopback(int& port, const std::string& who) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // any free port
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error(who + ": cannot listen on 127.0.0.1");
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace nemvo::testing
