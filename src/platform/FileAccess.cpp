#include "platform/FileAccess.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace nemvo::platform {

int OpenFileForReading(const std::string& fileName, int& errorCode) {
  // O_NONBLOCK keeps a FIFO from holding the open until a writer comes; it is
  // cleared again for the reads.
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    errorCode = errno;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    errorCode = errno;
  } else if (S_ISDIR(st.st_mode)) {
    errorCode = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    errorCode = EINVAL;
  } else if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    errorCode = errno;
  } else {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
  }
  ::close(fd);
  return -1;
}

int64_t ReadFromFile(int handle, void* buffer, int64_t count, int& errorCode) {
  for (;;) {
    ssize_t n = ::read(handle, buffer, size_t(count));
    if (n >= 0) return n;
    if (errno != EINTR) {
      errorCode = errno;
      return -1;
    }
  }
}

int64_t SeekInFile(int handle, int64_t offset, int origin, int& errorCode) {
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  off_t at = ::lseek(handle, off_t(offset), whence);
  if (at < 0) errorCode = errno;
  return int64_t(at);
}

void CloseFile(int handle) {
  if (handle >= 0) ::close(handle);  // closing drops the shared lock
}

std::string ExpandFileName(std::string_view fileName) {
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(std::filesystem::path(fileName), ec);
  if (ec) return std::string(fileName);
  return full.lexically_normal().string();
}

}  // namespace nemvo::platform
