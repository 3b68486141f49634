#include "platform/SocketSnapshot.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <vector>

namespace nemvo::platform {
namespace {

// Descriptors a case opens, closed at its end.
struct Opened {
  std::vector<int> fds;
  ~Opened() {
    for (int fd : fds)
      if (fd >= 0) close(fd);
  }
  int Keep(int fd) {
    fds.push_back(fd);
    return fd;
  }
};

// A listener on the loopback address of `family`, any free port; -1 (kept
// all the same, so that the case's first descriptor is always its listener)
// when the system has no such address.
int Listen(Opened& o, int family) {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage address{};
  socklen_t length;
  if (family == AF_INET) {
    auto& a = reinterpret_cast<sockaddr_in&>(address);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof a;
  } else {
    auto& a = reinterpret_cast<sockaddr_in6&>(address);
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    length = sizeof a;
  }
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0) {
    if (fd >= 0) close(fd);
    return o.Keep(-1);
  }
  return o.Keep(fd);
}

// A connection to `listener`. It is left unaccepted (the system completes it
// all the same), so that the process holds one end of it only, as a client
// of another process would.
int Connect(Opened& o, int listener) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  EXPECT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int fd = o.Keep(socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
  return fd;
}

TEST(SocketSnapshot, TellsTheOneConnectionOpenedSince) {
  struct Case {
    const char* name;
    // Opens what the case needs before the snapshot, in `before`, and after
    // it; returns the descriptor expected to be found, or -1.
    std::function<int(Opened&)> before, after;
  };
  const Case cases[] = {
      {"a TCP connection", [](Opened& o) { return Listen(o, AF_INET); },
       [](Opened& o) { return Connect(o, o.fds[0]); }},
      {"nothing opened", [](Opened&) { return -1; }, [](Opened&) { return -1; }},
      {"a connection open before",
       [](Opened& o) {
         Connect(o, Listen(o, AF_INET));
         return -1;
       },
       [](Opened&) { return -1; }},
      {"a local socket pair", [](Opened&) { return -1; },
       [](Opened& o) {
         int pair[2];
         EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
         o.Keep(pair[0]);
         o.Keep(pair[1]);
         return -1;
       }},
      {"a listening TCP socket", [](Opened&) { return -1; },
       [](Opened& o) {
         Listen(o, AF_INET);
         return -1;
       }},
      {"a TCP socket not connected", [](Opened&) { return -1; },
       [](Opened& o) {
         o.Keep(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
         return -1;
       }},
      {"a UDP socket with a peer", [](Opened&) { return -1; },
       [](Opened& o) {
         const int fd = o.Keep(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
         sockaddr_in a{};
         a.sin_family = AF_INET;
         a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
         a.sin_port = htons(9);
         EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
         return -1;
       }},
      {"two TCP connections: neither, since which one cannot be told",
       [](Opened& o) { return Listen(o, AF_INET); },
       [](Opened& o) {
         Connect(o, o.fds[0]);
         Connect(o, o.fds[0]);
         return -1;
       }},
      {"a TCP connection whose number now refers to a local socket",
       [](Opened& o) { return Listen(o, AF_INET); },
       [](Opened& o) {
         const int fd = Connect(o, o.fds[0]);
         int pair[2];
         EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
         EXPECT_EQ(dup2(pair[0], fd), fd);
         close(pair[0]);
         o.Keep(pair[1]);
         return -1;
       }},
      {"an IPv6 connection, where the system has an IPv6 loopback address",
       [](Opened& o) { return Listen(o, AF_INET6); },
       [](Opened& o) { return o.fds[0] < 0 ? -1 : Connect(o, o.fds[0]); }},
  };
  for (const Case& c : cases) {
    Opened o;
    c.before(o);
    const TSocketSnapshot snapshot;
    const int expected = c.after(o);
    const TSocketIdentity found = snapshot.NewConnection();
    EXPECT_EQ(found.fd, expected) << c.name;
    EXPECT_EQ(found.Known(), expected >= 0) << c.name;
    if (found.Known()) {
      EXPECT_TRUE(found.StillOpen()) << c.name;
    }
  }
}

}  // namespace
}  // namespace nemvo::platform
