#include "platform/SocketSnapshot.h"

#include <dirent.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace nemvo::platform {

namespace {

// Calls `f(fd, stat)` for every open descriptor that is a socket.
template <class F>
void ForEachSocket(F f) {
  auto visit = [&](int fd) {
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) f(fd, st);
  };
  if (DIR* dir = opendir("/proc/self/fd")) {
    const int own = dirfd(dir);
    while (dirent* e = readdir(dir)) {
      char* end = nullptr;
      const long fd = std::strtol(e->d_name, &end, 10);
      if (end == e->d_name || *end != '\0' || fd == own) continue;
      visit(int(fd));
    }
    closedir(dir);
    return;
  }
  // Without /proc (a confined service may lack it) every possible number is
  // tried; slower, but only then.
  rlimit limit{};
  const rlim_t top = getrlimit(RLIMIT_NOFILE, &limit) == 0 ? std::min<rlim_t>(limit.rlim_cur, 65536) : 1024;
  for (int fd = 0; fd < int(top); ++fd) visit(fd);
}

bool IsConnectedTCP(int fd) {
  int domain = 0, type = 0, protocol = 0;
  socklen_t n = sizeof domain;
  if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &n) != 0 || (domain != AF_INET && domain != AF_INET6))
    return false;
  n = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &n) != 0 || type != SOCK_STREAM) return false;
  n = sizeof protocol;
  if (getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &n) != 0 || protocol != IPPROTO_TCP) return false;
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  return getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

}  // namespace

TSocketSnapshot::TSocketSnapshot() {
  ForEachSocket([&](int, const struct stat& st) { fInodes.push_back(st.st_ino); });
}

TSocketIdentity TSocketSnapshot::NewConnection() const {
  TSocketIdentity found;
  int count = 0;
  ForEachSocket([&](int fd, const struct stat& st) {
    if (std::find(fInodes.begin(), fInodes.end(), st.st_ino) != fInodes.end() || !IsConnectedTCP(fd)) return;
    if (++count == 1) found = TSocketIdentity{fd, st.st_dev, st.st_ino};
  });
  // Two or more: which one is the caller's cannot be told, and a connection
  // that is not its own must never be ended on its behalf.
  return count == 1 ? found : TSocketIdentity{};
}

}  // namespace nemvo::platform
