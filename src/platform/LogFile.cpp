#include "platform/LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nemvo::platform {

namespace {

int OpenForAppending(const std::string& path, std::string& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0640);
  if (fd < 0) error = path + ": " + std::strerror(errno);
  return fd;
}

}  // namespace

bool PointStandardErrorAt(const std::string& path, std::string& error) {
  const int fd = OpenForAppending(path, error);
  if (fd < 0) return false;
  const bool done = dup2(fd, STDERR_FILENO) >= 0;
  if (!done) error = path + ": " + std::strerror(errno);
  close(fd);
  return done;
}

TAppendFile::~TAppendFile() {
  if (fOwned) close(fFd);
}

bool TAppendFile::Open(const std::string& path, std::string& error) {
  int fd = STDERR_FILENO;
  if (path != "-" && (fd = OpenForAppending(path, error)) < 0) return false;
  if (fOwned) close(fFd);
  fFd = fd;
  fOwned = path != "-";
  return true;
}

void TAppendFile::Write(std::string_view line) const {
  if (fFd < 0) return;
  while (!line.empty()) {
    const ssize_t n = write(fFd, line.data(), line.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    line.remove_prefix(size_t(n));
  }
}

}  // namespace nemvo::platform
