// Connections taken by a FastCGI worker: a peer that stops sending or stops
// reading fails the worker's read or write after the bound instead of
// holding the worker.
#include "platform/ListeningSocket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "support/TempDirectory.h"

namespace nemvo::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Fd {
  int fd = -1;
  explicit Fd(int f = -1) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

// A listening socket of either family and a peer connected to it.
class Listener {
 public:
  explicit Listener(bool tcp) {
    std::string error;
    fSocket = OpenListeningSocket(tcp ? "127.0.0.1:0" : "unix:" + fDir.PathOf("s.sock"), false, error);
    EXPECT_GE(fSocket.fd, 0) << error;
    SetNonBlocking(fSocket.fd);
    sockaddr_storage address;
    socklen_t length = sizeof address;
    getsockname(fSocket.fd, reinterpret_cast<sockaddr*>(&address), &length);
    fPeer.fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(connect(fPeer.fd, reinterpret_cast<sockaddr*>(&address), length), 0) << std::strerror(errno);
  }
  ~Listener() { CloseListeningSocket(fSocket); }
  int fd() const { return fSocket.fd; }
  int peer() const { return fPeer.fd; }

 private:
  nemvo::testing::TempDirectory fDir;
  ListeningSocket fSocket;
  Fd fPeer;
};

TEST(AcceptConnection, StalledPeerFailsReadsAndWritesAfterTheBound) {
  for (const bool tcp : {false, true}) {
    SCOPED_TRACE(tcp ? "tcp" : "unix");
    Listener listener(tcp);
    Fd connection(AcceptConnection(listener.fd(), 1s));
    ASSERT_GE(connection.fd, 0) << std::strerror(errno);
    EXPECT_EQ(fcntl(connection.fd, F_GETFL) & O_NONBLOCK, 0) << "blocks, as the FastCGI library expects";
    EXPECT_NE(fcntl(connection.fd, F_GETFD) & FD_CLOEXEC, 0);
    if (tcp) {
      int nodelay = 0;
      socklen_t length = sizeof nodelay;
      getsockopt(connection.fd, IPPROTO_TCP, TCP_NODELAY, &nodelay, &length);
      EXPECT_NE(nodelay, 0);
    }

    char byte;
    auto start = Clock::now();
    EXPECT_EQ(read(connection.fd, &byte, 1), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_GE(Clock::now() - start, 900ms);
    EXPECT_LT(Clock::now() - start, 10s);

    // A peer that reads nothing: the buffers fill, then a write fails.
    const std::string block(1 << 16, 'x');
    start = Clock::now();
    ssize_t n = 0;
    while ((n = write(connection.fd, block.data(), block.size())) > 0 && Clock::now() - start < 30s) {
    }
    EXPECT_LT(Clock::now() - start, 30s) << "a write waited without a bound";
    EXPECT_EQ(errno, EAGAIN);
  }
}

TEST(AcceptConnection, NothingWaiting) {
  Listener listener(false);
  Fd first(AcceptConnection(listener.fd(), 1s));
  EXPECT_GE(first.fd, 0);
  EXPECT_EQ(AcceptConnection(listener.fd(), 1s), -1);
  EXPECT_EQ(errno, EAGAIN);
}

}  // namespace
}  // namespace nemvo::platform

namespace nemvo::platform {
namespace {

// The socket file's mode and group as asked, set before anyone may connect;
// the listen queue's length as asked (the kernel reports a TCP listener's).
TEST(OpenListeningSocket, ModeGroupAndBacklogAsAsked) {
  struct Line {
    unsigned mode;
    std::string group;
    std::string error;  // empty: opened
  };
  const Line lines[] = {
      {0600, "", ""},
      {0660, std::to_string(getgid()), ""},
      {0666, "", ""},
      {0660, "no-such-group-of-nemvo", "--socket-group: no group no-such-group-of-nemvo"},
  };
  for (const Line& line : lines) {
    nemvo::testing::TempDirectory dir;
    std::string error;
    ListeningSocket socket =
        OpenListeningSocket("unix:" + dir.PathOf("s.sock"), ListenOptions{.group = line.group, .mode = line.mode}, error);
    EXPECT_EQ(error, line.error);
    if (!line.error.empty()) {
      EXPECT_LT(socket.fd, 0);
      EXPECT_NE(access(dir.PathOf("s.sock").c_str(), F_OK), 0) << "a refused socket left its file";
      continue;
    }
    struct stat st;
    ASSERT_EQ(stat(dir.PathOf("s.sock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, line.mode);
    EXPECT_EQ(st.st_gid, getgid());
    CloseListeningSocket(socket);
  }
  std::string error;
  ListeningSocket tcp = OpenListeningSocket("127.0.0.1:0", ListenOptions{.backlog = 7}, error);
  ASSERT_GE(tcp.fd, 0) << error;
  tcp_info info = {};
  socklen_t length = sizeof info;
  ASSERT_EQ(getsockopt(tcp.fd, IPPROTO_TCP, TCP_INFO, &info, &length), 0);
  EXPECT_EQ(info.tcpi_sacked, 7u);
  CloseListeningSocket(tcp);
}

}  // namespace
}  // namespace nemvo::platform
