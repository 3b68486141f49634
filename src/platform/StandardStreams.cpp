#include "platform/StandardStreams.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#define NEMVO_SANITIZER_REPORTS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define NEMVO_SANITIZER_REPORTS 1
#endif
#endif
#ifdef NEMVO_SANITIZER_REPORTS
#include <sanitizer/common_interface_defs.h>
#endif

namespace nemvo::platform {

namespace {

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

// Opens /dev/null on the lowest free descriptor, which is `fd` when that is closed.
void FillWithNull(int fd, int flags) {
  if (IsOpen(fd)) return;
  int opened = open("/dev/null", flags | O_CLOEXEC);
  if (opened >= 0 && opened != fd) {
    dup2(opened, fd);
    close(opened);
  }
}

int64_t WriteAll(int fd, const void* buffer, int64_t count) {
  const char* p = static_cast<const char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    size_t chunk = size_t(std::min<int64_t>(count - done, SSIZE_MAX));
    ssize_t n = write(fd, p + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

}  // namespace

int PrepareStandardStreams() {
  signal(SIGPIPE, SIG_IGN);
  FillWithNull(STDIN_FILENO, O_RDONLY);
  if (!IsOpen(STDOUT_FILENO)) {
    // Hold the number so a later open cannot become "standard output".
    FillWithNull(STDOUT_FILENO, O_WRONLY);
    FillWithNull(STDERR_FILENO, O_WRONLY);
    return EBADF;
  }
  FillWithNull(STDERR_FILENO, O_WRONLY);
  int mode = fcntl(STDOUT_FILENO, F_GETFL);
  if (mode != -1 && (mode & O_ACCMODE) == O_RDONLY) return EBADF;
  return 0;
}

int64_t ReadStandardInput(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  size_t chunk = size_t(std::min<int64_t>(count, SSIZE_MAX));
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, chunk);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

int64_t WriteStandardOutput(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return WriteAll(STDOUT_FILENO, buffer, count);
}

void WriteStandardError(std::string_view text) {
  if (!text.empty()) WriteAll(STDERR_FILENO, text.data(), int64_t(text.size()));
}

void FlushStandardOutput() { std::fflush(stdout); }

namespace {

// Points `fd` at /dev/null (or closes it when /dev/null cannot be opened).
void PointAtNull(int fd, int flags = O_WRONLY) {
  int null = open("/dev/null", flags | O_CLOEXEC);
  if (null < 0) {
    close(fd);
    return;
  }
  if (null != fd) {
    dup2(null, fd);
    close(null);
  }
}

}  // namespace

void EndStandardOutput() {
  FlushStandardOutput();
  PointAtNull(STDOUT_FILENO);
}

void EndStandardInput() { PointAtNull(STDIN_FILENO, O_RDONLY); }

void EndStandardError() {
  std::fflush(stderr);
#ifdef NEMVO_SANITIZER_REPORTS
  int copy = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (copy >= 0) __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(copy)));
#endif
  PointAtNull(STDERR_FILENO);
}

}  // namespace nemvo::platform
