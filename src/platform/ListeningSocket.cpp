#include "platform/ListeningSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/Accounts.h"

namespace nemvo::platform {

namespace {

constexpr std::string_view kUnixPrefix = "unix:";
constexpr std::string_view kNoAddresses = "--allow-remote names the addresses of TCP peers";

std::string ErrorText(const std::string& what, int error) { return what + ": " + std::strerror(error); }

bool FillUnixAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path || path.find('\0') != std::string::npos) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// A socket file nobody accepts on any more is left over from a server that
// ended without removing it; anything else at the path stays.
bool ClearStaleSocket(const std::string& path, const sockaddr_un& address, std::string& error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    error = ErrorText(path, errno);
    return false;
  }
  if (!S_ISSOCK(st.st_mode)) {
    error = path + ": exists and is not a socket";
    return false;
  }
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) {
    error = ErrorText("socket", errno);
    return false;
  }
  const int rc = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int connectError = errno;
  close(probe);
  if (rc == 0) {
    error = path + ": another server is listening on it";
    return false;
  }
  if (connectError != ECONNREFUSED) {
    error = ErrorText(path, connectError);
    return false;
  }
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    error = ErrorText(path, errno);
    return false;
  }
  return true;
}

// A user or group by name or number; -1 (as chown takes it: unchanged) for
// none, false when there is no such.
bool LookUpId(const std::string& name, bool group, id_t& id) {
  id = id_t(-1);
  if (name.empty()) return true;
  if (name.find_first_not_of("0123456789") == std::string::npos && name.size() < 10) {
    id = id_t(std::stoul(name));
    return true;
  }
  const std::optional<id_t> found = group ? GroupId(name) : UserId(name);
  if (found) id = *found;
  return found.has_value();
}

ListeningSocket OpenUnix(const std::string& path, const ListenOptions& options, std::string& error) {
  id_t owner, group;
  if (!LookUpId(options.owner, false, owner)) {
    error = "--socket-owner: no user " + options.owner;
    return {};
  }
  if (!LookUpId(options.group, true, group)) {
    error = "--socket-group: no group " + options.group;
    return {};
  }
  sockaddr_un address;
  if (!FillUnixAddress(path, address)) {
    error = "unix:" + path + ": not a usable socket path";
    return {};
  }
  if (!ClearStaleSocket(path, address, error)) return {};
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = ErrorText("socket", errno);
    return {};
  }
  // Created with mode 0600 at once, and listening only once its owner and
  // mode are the ones asked for: no moment in which others may connect.
  const mode_t previous = umask(0177);
  const int rc = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int bindError = errno;
  umask(previous);
  const bool given = rc == 0 && (owner == id_t(-1) && group == id_t(-1) ? true : lchown(path.c_str(), owner, group) == 0) &&
                     chmod(path.c_str(), mode_t(options.mode & 0777)) == 0;
  if (rc != 0 || !given || listen(fd, options.backlog) != 0) {
    error = ErrorText(path, rc != 0 ? bindError : errno);
    if (rc == 0) unlink(path.c_str());
    close(fd);
    return {};
  }
  ListeningSocket result;
  result.fd = fd;
  result.path = path;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    result.device = st.st_dev;
    result.inode = st.st_ino;
  }
  return result;
}

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
  }
  if (address->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    return IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr);
  }
  return false;
}

bool IsTCP(int fd) {
  sockaddr_storage address;
  socklen_t length = sizeof address;
  return getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
         (address.ss_family == AF_INET || address.ss_family == AF_INET6);
}

int OpenTCP(const std::string& address, bool allowRemote, int backlog, std::string& error) {
  const size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon + 1 == address.size()) {
    error = address + ": not unix:PATH or HOST:PORT";
    return -1;
  }
  std::string host = address.substr(0, colon);
  const std::string port = address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) {
    error = address + ": no host (name the address to listen on, 127.0.0.1 for this machine only)";
    return -1;
  }
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found)) {
    error = address + ": " + gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  error.clear();
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    if (!allowRemote && !IsLoopback(a->ai_addr)) {
      error = address +
              ": not a loopback address (FastCGI has no authentication: --allow-remote ADDR[/PREFIX],... names the "
              "web servers to serve there)";
      continue;
    }
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = ErrorText("socket", errno);
      continue;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, backlog) != 0) {
      error = ErrorText(address, errno);
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  return fd;
}

}  // namespace

bool IsListeningSocket(int fd) {
  int listening = 0;
  socklen_t length = sizeof listening;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening != 0;
}

ListeningSocket OpenListeningSocket(const std::string& address, bool allowRemote, std::string& error) {
  ListenOptions options;
  options.allowRemote = allowRemote;
  return OpenListeningSocket(address, options, error);
}

ListeningSocket OpenListeningSocket(const std::string& address, const ListenOptions& options, std::string& error) {
  if (address == kInheritedAddress) {
    // The socket was opened, bound and secured by whoever started us (a
    // service manager's socket unit): take it as it is, and leave its file
    // to its owner.
    ListeningSocket result;
    if (!IsListeningSocket(STDIN_FILENO))
      error = "standard input is not a listening socket";
    else if (options.allowRemote && !IsTCP(STDIN_FILENO))
      error = std::string(kNoAddresses) + "; the socket handed over as standard input is not a TCP one";
    else
      result.fd = STDIN_FILENO;
    return result;
  }
  if (address.starts_with(kUnixPrefix)) {
    if (options.allowRemote) {
      error = std::string(kNoAddresses) + "; a unix socket's peers have none (--socket-owner, --socket-group and "
              "--socket-mode say who may connect)";
      return {};
    }
    return OpenUnix(address.substr(kUnixPrefix.size()), options, error);
  }
  ListeningSocket result;
  result.fd = OpenTCP(address, options.allowRemote, options.backlog, error);
  return result;
}

void CloseListeningSocket(ListeningSocket& socket) {
  if (socket.fd >= 0) close(socket.fd);
  socket.fd = -1;
  if (socket.path.empty()) return;
  struct stat st;
  if (lstat(socket.path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == socket.device &&
      st.st_ino == socket.inode)
    unlink(socket.path.c_str());
  socket.path.clear();
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags != -1 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace nemvo::platform
