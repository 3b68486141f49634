#include "platform/WaitReadable.h"

#include <poll.h>

#include <cerrno>
#include <vector>

namespace nemvo::platform {

bool WaitReadable(std::span<const int> fds, std::span<bool> ready, int timeoutMs) {
  std::vector<pollfd> polled;
  for (int fd : fds) polled.push_back({fd, POLLIN, 0});  // poll skips negative descriptors
  int n;
  do {
    n = poll(polled.data(), nfds_t(polled.size()), timeoutMs);
  } while (n < 0 && errno == EINTR);
  for (size_t i = 0; i < fds.size() && i < ready.size(); ++i) ready[i] = n > 0 && polled[i].revents != 0;
  return n > 0;
}

}  // namespace nemvo::platform
