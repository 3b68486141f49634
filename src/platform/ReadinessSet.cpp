#include "platform/ReadinessSet.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

namespace nemvo::platform {

ReadinessSet::ReadinessSet() : fEpoll(epoll_create1(EPOLL_CLOEXEC)) {}

ReadinessSet::~ReadinessSet() {
  if (fEpoll >= 0) close(fEpoll);
}

bool ReadinessSet::Add(int fd, bool shared) {
  if (fEpoll < 0) return false;
  epoll_event event = {};
  event.events = EPOLLIN | (shared ? EPOLLEXCLUSIVE : 0u);
  event.data.fd = fd;
  return epoll_ctl(fEpoll, EPOLL_CTL_ADD, fd, &event) == 0;
}

void ReadinessSet::Remove(int fd) {
  if (fEpoll >= 0) epoll_ctl(fEpoll, EPOLL_CTL_DEL, fd, nullptr);
}

std::vector<int> ReadinessSet::Wait(int timeoutMs) {
  std::vector<int> ready;
  epoll_event events[8];
  int n;
  do {
    n = epoll_wait(fEpoll, events, 8, timeoutMs);
  } while (n < 0 && errno == EINTR);
  for (int i = 0; i < n; ++i) ready.push_back(events[i].data.fd);
  return ready;
}

}  // namespace nemvo::platform
