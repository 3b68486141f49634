#include "platform/PrivateStateFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/ByteRangeLock.h"
#include "platform/SystemError.h"

namespace nemvo::platform {

namespace {

// Why an open file may not serve as this account's private state; empty
// when it may.
std::string Refusal(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return "is not a plain file";
  if (st.st_uid != geteuid()) return "belongs to user id " + std::to_string(st.st_uid);
  // A second name for the file is one this account did not make.
  if (st.st_nlink != 1) return "has other names (hard links)";
  return {};
}

}  // namespace

std::unique_ptr<TPrivateStateFile> TPrivateStateFile::Open(const std::string& path, size_t size, std::string& error) {
  // No symbolic link is followed, and an open never waits: a lease that
  // someone holds on the name must not hold a request up.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
  if (fd < 0) {
    error = path + ": " + (errno == ELOOP ? std::string("is a symbolic link") : SystemErrorText(errno));
    return nullptr;
  }
  auto fail = [&](const std::string& why) {
    error = path + ": " + why;
    close(fd);
    return nullptr;
  };
  struct stat st{};
  if (fstat(fd, &st) != 0) return fail(SystemErrorText(errno));
  if (std::string why = Refusal(st); !why.empty()) return fail(why);
  // Ours, but opened up by hand or made under a loose umask elsewhere.
  if ((st.st_mode & 0077) != 0 && fchmod(fd, 0600) != 0) return fail(SystemErrorText(errno));
  // Also when the file is long enough: one made with a hole in it would
  // still need space at the first write.
  if (const int rc = posix_fallocate(fd, 0, off_t(size)); rc != 0) return fail(SystemErrorText(rc));
  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) return fail(SystemErrorText(errno));
  // A request looks at two or three places of the file. Read ahead, the
  // kernel would map 64 KiB around each into a process that lives for one
  // request: up to 192 KiB of a CGI process's memory. Advice only.
  madvise(data, size, MADV_RANDOM);
  return std::unique_ptr<TPrivateStateFile>(new TPrivateStateFile(fd, static_cast<std::byte*>(data), size));
}

TPrivateStateFile::~TPrivateStateFile() {
  munmap(fData, fSize);
  close(fFd);
}

bool TPrivateStateFile::Lock(std::chrono::milliseconds wait) {
  // Held for a few microseconds at a time: looking again every
  // millisecond costs a waiter little.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!LockByteRange(fFd, F_WRLCK, 0)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void TPrivateStateFile::Unlock() { LockByteRange(fFd, F_UNLCK, 0); }

std::string PrivateStatePath(std::string_view stem) {
  return "/dev/shm/" + std::string(stem) + "." + std::to_string(geteuid());
}

}  // namespace nemvo::platform
