#pragma once
// Descriptors to wait on, kept from one wait to the next. A listening socket
// that several processes wait on is added as shared: a connection then wakes
// one of them, not all (which on a small machine costs every worker a wake-up
// and a failed accept per connection).
#include <vector>

namespace nemvo::platform {

class ReadinessSet {
 public:
  ReadinessSet();
  ~ReadinessSet();
  ReadinessSet(const ReadinessSet&) = delete;
  ReadinessSet& operator=(const ReadinessSet&) = delete;

  // False (errno set) when the set could not be made or `fd` not added.
  bool Add(int fd, bool shared = false);
  // Forgets `fd`; nothing happens when it is not in the set.
  void Remove(int fd);
  // Waits until one of the descriptors can be read, has been closed by its
  // peer or has an error, or `timeoutMs` have passed (negative: no limit);
  // the ready ones.
  std::vector<int> Wait(int timeoutMs);

 private:
  int fEpoll;
};

}  // namespace nemvo::platform
