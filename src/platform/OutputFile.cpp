#include "platform/OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace nemvo::platform {

namespace {

int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text.remove_prefix(size_t(n));
  }
  return 0;
}

}  // namespace

int WriteOutputFile(const std::string& fileName, std::string_view head, std::string_view body) {
  int fd = open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int error = WriteAll(fd, head);
  if (error == 0) error = WriteAll(fd, body);
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace nemvo::platform
