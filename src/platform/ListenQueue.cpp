#include "platform/ListenQueue.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <limits>

namespace nemvo::platform {

namespace {

// Whoever asks a socket's diagnostics by inode and not through a dump passes
// "no cookie" in both halves.
constexpr uint32_t kNoCookie = ~0u;
// The kernel answers during the request itself; the wait only bounds a
// kernel that would not.
constexpr int kAnswerWaitMilliseconds = 1000;

class TOwnedDescriptor {
 public:
  explicit TOwnedDescriptor(int fd) : fFd(fd) {}
  ~TOwnedDescriptor() {
    if (fFd >= 0) close(fFd);
  }
  TOwnedDescriptor(const TOwnedDescriptor&) = delete;
  TOwnedDescriptor& operator=(const TOwnedDescriptor&) = delete;
  int Get() const { return fFd; }

 private:
  int fFd;
};

int SocketOption(int fd, int option) {
  int value = 0;
  socklen_t length = sizeof value;
  return getsockopt(fd, SOL_SOCKET, option, &value, &length) == 0 ? value : -1;
}

// On a listening socket TCP's info reports the accept queue where a
// connection reports its unacknowledged segments (and the backlog where it
// reports the selectively acknowledged ones).
int64_t TCPQueueLength(int fd) {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return -1;
  if (length < offsetof(tcp_info, tcpi_unacked) + sizeof info.tcpi_unacked) return -1;
  if (info.tcpi_state != TCP_LISTEN) return -1;
  return info.tcpi_unacked;
}

// The receive queue's length from the attributes that follow a unix_diag_msg
// (`attributes`, `size` bytes); -1 when they hold none.
int64_t ReceiveQueueAttribute(const char* attributes, size_t size) {
  size_t at = 0;
  while (size - at >= sizeof(rtattr)) {
    rtattr attribute;
    std::memcpy(&attribute, attributes + at, sizeof attribute);
    if (attribute.rta_len < sizeof attribute || attribute.rta_len > size - at) return -1;
    if (attribute.rta_type == UNIX_DIAG_RQLEN && attribute.rta_len >= RTA_LENGTH(sizeof(unix_diag_rqlen))) {
      unix_diag_rqlen queue;
      std::memcpy(&queue, attributes + at + RTA_LENGTH(0), sizeof queue);
      return queue.udiag_rqueue;
    }
    at += RTA_ALIGN(attribute.rta_len);
  }
  return -1;
}

// The kernel's own diagnostics of the unix socket with inode `inode`: for a
// listening socket, the receive queue holds the connections not accepted yet.
int64_t UnixQueueLength(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_ino > std::numeric_limits<uint32_t>::max()) return -1;
  const uint32_t inode = uint32_t(st.st_ino);

  TOwnedDescriptor diag(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (diag.Get() < 0) return -1;

  struct {
    nlmsghdr header;
    unix_diag_req body;
  } request{};
  static_assert(sizeof request == NLMSG_LENGTH(sizeof(unix_diag_req)));
  constexpr uint32_t kSequence = 1;
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.header.nlmsg_seq = kSequence;
  request.body.sdiag_family = AF_UNIX;
  request.body.udiag_states = 1u << TCP_LISTEN;
  request.body.udiag_ino = inode;
  request.body.udiag_show = UDIAG_SHOW_RQLEN;
  request.body.udiag_cookie[0] = request.body.udiag_cookie[1] = kNoCookie;

  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ssize_t sent;
  do {
    sent = sendto(diag.Get(), &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
  } while (sent < 0 && errno == EINTR);
  if (sent != ssize_t(sizeof request)) return -1;

  pollfd ready{diag.Get(), POLLIN, 0};
  int polled;
  do {
    polled = poll(&ready, 1, kAnswerWaitMilliseconds);
  } while (polled < 0 && errno == EINTR);
  if (polled <= 0) return -1;
  char answer[8192];
  ssize_t received;
  do {
    received = recv(diag.Get(), answer, sizeof answer, MSG_DONTWAIT);
  } while (received < 0 && errno == EINTR);
  if (received <= 0) return -1;

  // One answer holds one message for the socket, or an error (no such
  // socket, diagnostics of unix sockets not in this kernel).
  const size_t size = size_t(received);
  size_t at = 0;
  while (size - at >= sizeof(nlmsghdr)) {
    nlmsghdr header;
    std::memcpy(&header, answer + at, sizeof header);
    if (header.nlmsg_len < sizeof header || header.nlmsg_len > size - at) return -1;
    if (header.nlmsg_type == NLMSG_ERROR || header.nlmsg_type == NLMSG_DONE) return -1;
    if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY && header.nlmsg_seq == kSequence &&
        header.nlmsg_len >= NLMSG_LENGTH(sizeof(unix_diag_msg))) {
      unix_diag_msg message;
      std::memcpy(&message, answer + at + NLMSG_HDRLEN, sizeof message);
      const size_t attributesAt = NLMSG_SPACE(sizeof message);
      if (message.udiag_ino == inode && message.udiag_state == TCP_LISTEN && header.nlmsg_len >= attributesAt)
        return ReceiveQueueAttribute(answer + at + attributesAt, header.nlmsg_len - attributesAt);
      return -1;
    }
    at += NLMSG_ALIGN(header.nlmsg_len);
  }
  return -1;
}

}  // namespace

int64_t ListenQueueLength(int listeningFd) {
  if (SocketOption(listeningFd, SO_TYPE) != SOCK_STREAM || SocketOption(listeningFd, SO_ACCEPTCONN) != 1) return -1;
  switch (SocketOption(listeningFd, SO_DOMAIN)) {
    case AF_INET:
    case AF_INET6:
      return TCPQueueLength(listeningFd);
    case AF_UNIX:
      return UnixQueueLength(listeningFd);
    default:
      return -1;
  }
}

}  // namespace nemvo::platform
