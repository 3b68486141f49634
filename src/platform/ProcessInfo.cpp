#include "platform/ProcessInfo.h"

#include <unistd.h>

#include <climits>

namespace nemvo::platform {

std::string ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, size_t(n)) : std::string();
}

std::string ExecutableFileName() {
  const std::string full = ExecutablePath();
  if (full.empty()) return {};
  size_t slash = full.rfind('/');
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

int ProcessorCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? int(n) : 1;
}

}  // namespace nemvo::platform
