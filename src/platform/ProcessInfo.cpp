#include "platform/ProcessInfo.h"

#include <unistd.h>

#include <climits>

namespace nemvo::platform {

std::string ExecutableFileName() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string full(path, size_t(n));
  size_t slash = full.rfind('/');
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

int ProcessorCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? int(n) : 1;
}

}  // namespace nemvo::platform
