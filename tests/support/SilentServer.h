#pragma once
// A stand-in for a database server that has hung: it accepts TCP connections
// on 127.0.0.1 and never answers. What the real server cannot be made to do.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "support/LoopbackListener.h"

namespace nemvo::testing {

class SilentServer {
 public:
  SilentServer() {
    fListener = ListenOnLoopback(fPort, "silent server");
    fThread = std::thread([this] { AcceptUntilStopped(); });
  }
  ~SilentServer() {
    fStop = true;
    fThread.join();
    close(fListener);
    for (int fd : fAccepted) close(fd);
  }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  int Port() const { return fPort; }
  int Accepted() {
    std::lock_guard guard(fLock);
    return int(fAccepted.size());
  }
  // Whether every accepted connection has been closed by its client.
  bool AllClosedByClients() {
    std::lock_guard guard(fLock);
    for (int fd : fAccepted) {
      // What the client sent (its first packet) is read and dropped; then
      // the end of the stream must follow.
      for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) != 1) return false;
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0) break;
        if (n < 0) return false;
      }
    }
    return true;
  }

 private:
  void AcceptUntilStopped() {
    while (!fStop) {
      pollfd p{fListener, POLLIN, 0};
      if (poll(&p, 1, 50) != 1) continue;
      int fd = accept4(fListener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      std::lock_guard guard(fLock);
      fAccepted.push_back(fd);  // kept open, never read, never written
    }
  }

  int fListener = -1;
  int fPort = 0;
  std::atomic<bool> fStop{false};
  std::mutex fLock;
  std::vector<int> fAccepted;
  std::thread fThread;
};

}  // namespace nemvo::testing
