// The accept queue's length read from the kernel, on real sockets of each
// family the pool listens on: connections that nobody has taken yet count,
// taken ones do not, and sockets without such a queue answer -1.
#include "platform/ListenQueue.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/ListeningSocket.h"
#include "support/TempDirectory.h"

namespace nemvo::platform {
namespace {

using namespace std::chrono_literals;

struct Fd {
  int fd = -1;
  explicit Fd(int f = -1) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(Fd&& other) noexcept : fd(other.fd) { other.fd = -1; }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

Fd Connect(int listening) {
  sockaddr_storage address;
  socklen_t length = sizeof address;
  getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length);
  Fd peer(socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  EXPECT_EQ(connect(peer.fd, reinterpret_cast<sockaddr*>(&address), length), 0) << std::strerror(errno);
  return peer;
}

// A TCP handshake may end on the listener's side a moment after connect()
// returns on the client's.
int64_t SettledLength(int listening, int64_t expected) {
  int64_t length = ListenQueueLength(listening);
  for (auto waited = 0ms; length != expected && waited < 2s; waited += 10ms) {
    std::this_thread::sleep_for(10ms);
    length = ListenQueueLength(listening);
  }
  return length;
}

TEST(ListenQueueLength, CountsConnectionsNotTakenYet) {
  nemvo::testing::TempDirectory dir;
  for (const std::string& address : std::vector<std::string>{"127.0.0.1:0", "[::1]:0", "unix:" + dir.PathOf("pool.sock")}) {
    SCOPED_TRACE(address);
    std::string error;
    ListeningSocket listener = OpenListeningSocket(address, false, error);
    if (listener.fd < 0 && address.starts_with("[")) {
      std::printf("no IPv6 loopback here (%s): that family left out\n", error.c_str());
      continue;
    }
    ASSERT_GE(listener.fd, 0) << error;
    SetNonBlocking(listener.fd);
    EXPECT_EQ(ListenQueueLength(listener.fd), 0);

    constexpr int kWaiting = 3;
    std::vector<Fd> peers;
    for (int i = 0; i < kWaiting; ++i) peers.push_back(Connect(listener.fd));
    EXPECT_EQ(SettledLength(listener.fd, kWaiting), kWaiting);

    for (int i = 0; i < kWaiting; ++i) {
      Fd taken(accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
      EXPECT_GE(taken.fd, 0) << std::strerror(errno);
      EXPECT_EQ(ListenQueueLength(listener.fd), kWaiting - 1 - i);
    }
    // A peer that gave up before it was taken still waits in the queue.
    peers.push_back(Connect(listener.fd));
    EXPECT_EQ(SettledLength(listener.fd, 1), 1);
    peers.pop_back();
    EXPECT_EQ(SettledLength(listener.fd, 1), 1);
    CloseListeningSocket(listener);
  }
}

TEST(ListenQueueLength, UnixSocketWhoseFileIsGone) {
  // The pool's socket file removed by hand: the socket still listens, and is
  // found by its inode, not its path.
  nemvo::testing::TempDirectory dir;
  std::string error;
  ListeningSocket listener = OpenListeningSocket("unix:" + dir.PathOf("pool.sock"), false, error);
  ASSERT_GE(listener.fd, 0) << error;
  Fd peer = Connect(listener.fd);
  ASSERT_EQ(unlink(listener.path.c_str()), 0);
  EXPECT_EQ(ListenQueueLength(listener.fd), 1);
  CloseListeningSocket(listener);
}

// -1 for whatever has no accept queue: the answer is "unknown", never a
// queue that looks empty.
TEST(ListenQueueLength, UnknownWithoutAQueue) {
  nemvo::testing::TempDirectory dir;
  std::string error;
  ListeningSocket tcp = OpenListeningSocket("127.0.0.1:0", false, error);
  ASSERT_GE(tcp.fd, 0) << error;
  ListeningSocket local = OpenListeningSocket("unix:" + dir.PathOf("pool.sock"), false, error);
  ASSERT_GE(local.fd, 0) << error;
  Fd tcpPeer = Connect(tcp.fd);
  Fd unixPeer = Connect(local.fd);
  Fd boundOnly(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(boundOnly.fd, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback), 0);
  Fd udp(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  Fd unixDatagram(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
  Fd pipeRead(pipeEnds[0]), pipeWrite(pipeEnds[1]);
  Fd file(open(dir.Write("plain", "x").c_str(), O_RDONLY | O_CLOEXEC));

  const struct {
    const char* what;
    int fd;
  } cases[] = {
      {"a TCP connection's client end", tcpPeer.fd},
      {"a unix connection's client end", unixPeer.fd},
      {"a TCP socket bound, not listening", boundOnly.fd},
      {"a UDP socket", udp.fd},
      {"a unix datagram socket", unixDatagram.fd},
      {"a pipe", pipeRead.fd},
      {"a plain file", file.fd},
      {"no descriptor", -1},
      {"a closed descriptor", 1000},
  };
  for (const auto& c : cases) EXPECT_EQ(ListenQueueLength(c.fd), -1) << c.what;
  CloseListeningSocket(tcp);
  CloseListeningSocket(local);
}

}  // namespace
}  // namespace nemvo::platform
