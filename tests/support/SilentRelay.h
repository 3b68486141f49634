#pragma once
// A stand-in for a network path to the database server that goes silent: it
// forwards each TCP connection made to its port on 127.0.0.1 to the real
// server on 127.0.0.1, and from a chosen moment on passes nothing more in
// either direction while it keeps both connections open. Neither end sees an
// error: each waits for replies that never come, as behind a server that has
// hung or a link that drops everything. What the real server cannot be made
// to do.
//
// The moment is a turn of the client: what it sends before the server's next
// reply (the client library sends one request and waits for its answer). The
// first connection to reach the chosen turn goes silent from that turn on,
// the turn's own bytes included; connections made later forward as usual.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/LoopbackListener.h"

namespace nemvo::testing {

class SilentRelay {
 public:
  explicit SilentRelay(int targetPort) : fTargetPort(targetPort) {
    fListener = ListenOnLoopback(fPort, "silent relay");
    fThread = std::thread([this] { Run(); });
  }
  ~SilentRelay() {
    fStop = true;
    fThread.join();
    close(fListener);
    for (Pair& p : fPairs) p.Close();
  }
  SilentRelay(const SilentRelay&) = delete;
  SilentRelay& operator=(const SilentRelay&) = delete;

  int Port() const { return fPort; }

  // The first connection whose client begins turn `turn` (1: its first
  // bytes) goes silent then.
  void SilenceAtClientTurn(int turn) {
    std::lock_guard guard(fLock);
    fSilenceAt = turn;
  }

  // Whether a connection has gone silent.
  bool Silenced() {
    std::lock_guard guard(fLock);
    return fSilenced;
  }

  // The client turns of the connection that ended last (0 before any).
  int TurnsOfLastEnded() {
    std::lock_guard guard(fLock);
    return fTurnsOfLastEnded;
  }

  // Whether the client has closed its end of the silent connection (what it
  // sent meanwhile is read and dropped, never passed on).
  bool SilencedClosedByClient() {
    std::lock_guard guard(fLock);
    for (const Pair& p : fPairs)
      if (p.silent) return p.clientClosed;
    return false;
  }

 private:
  struct Pair {
    int client = -1;
    int server = -1;
    int turns = 0;
    bool serverSpokeLast = true;  // so that the client's first bytes begin turn 1
    bool silent = false;
    bool clientClosed = false;
    void Close() {
      for (int* fd : {&client, &server})
        if (*fd >= 0) {
          close(*fd);
          *fd = -1;
        }
    }
  };

  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    return address;
  }

  static bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= size_t(n);
    }
    return true;
  }

  void Accept() {
    const int client = accept4(fListener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in target = Loopback(fTargetPort);
    if (server < 0 || connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
      close(client);
      if (server >= 0) close(server);
      return;
    }
    std::lock_guard guard(fLock);
    fPairs.push_back(Pair{client, server});
  }

  // Called with the lock held.
  void Ended(Pair& p) {
    fTurnsOfLastEnded = p.turns;
    p.Close();
  }

  // One pass over what is ready on pair `p`'s `fd`. Called with the lock held.
  void Move(Pair& p, bool fromClient) {
    char buffer[65536];
    const ssize_t n = recv(fromClient ? p.client : p.server, buffer, sizeof buffer, 0);
    if (p.silent) {
      // Only the client side is still watched: to see it close.
      if (n <= 0) p.clientClosed = true;
      return;
    }
    if (n <= 0) return Ended(p);
    if (fromClient) {
      if (p.serverSpokeLast) ++p.turns;
      p.serverSpokeLast = false;
      if (!fSilenced && fSilenceAt > 0 && p.turns == fSilenceAt) {
        p.silent = fSilenced = true;
        return;
      }
    } else {
      p.serverSpokeLast = true;
    }
    if (!SendAll(fromClient ? p.server : p.client, buffer, size_t(n))) Ended(p);
  }

  void Run() {
    while (!fStop) {
      std::vector<pollfd> fds{{fListener, POLLIN, 0}};
      std::vector<std::pair<Pair*, bool>> owners{{nullptr, false}};
      {
        std::lock_guard guard(fLock);
        for (Pair& p : fPairs) {
          if (p.client < 0 || p.clientClosed) continue;
          fds.push_back({p.client, POLLIN, 0});
          owners.emplace_back(&p, true);
          if (p.silent) continue;  // the server's replies stay where they are
          fds.push_back({p.server, POLLIN, 0});
          owners.emplace_back(&p, false);
        }
      }
      if (poll(fds.data(), nfds_t(fds.size()), 50) <= 0) continue;
      if (fds[0].revents) Accept();
      std::lock_guard guard(fLock);
      for (size_t i = 1; i < fds.size(); ++i) {
        Pair& p = *owners[i].first;
        if (fds[i].revents && p.client >= 0) Move(p, owners[i].second);
      }
    }
  }

  int fTargetPort;
  int fListener = -1;
  int fPort = 0;
  std::atomic<bool> fStop{false};
  std::mutex fLock;
  std::list<Pair> fPairs;  // stable addresses while the loop works on them
  int fSilenceAt = 0;
  bool fSilenced = false;
  int fTurnsOfLastEnded = 0;
  std::thread fThread;
};

}  // namespace nemvo::testing
