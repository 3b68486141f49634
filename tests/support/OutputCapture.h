#pragma once
// What this process writes to one of its file descriptors (standard output,
// standard error) while the capture lives: the descriptor points at a memory
// file until Text() or the end puts the original back.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

namespace nemvo::testing {

class OutputCapture {
 public:
  explicit OutputCapture(int fd) : fFd(fd) {
    std::fflush(nullptr);  // what stdio holds belongs to before
    fSaved = dup(fd);
    fFile = memfd_create("captured", 0);
    if (fSaved < 0 || fFile < 0 || dup2(fFile, fd) < 0) throw std::runtime_error("cannot capture descriptor");
  }
  OutputCapture(OutputCapture&& other) noexcept
      : fFd(other.fFd), fSaved(std::exchange(other.fSaved, -1)), fFile(std::exchange(other.fFile, -1)) {}
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  ~OutputCapture() {
    Restore();
    if (fFile >= 0) close(fFile);
  }

  // Puts the descriptor back (once) and returns everything written to it.
  std::string Text() {
    Restore();
    std::string out;
    if (fFile < 0) return out;
    lseek(fFile, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fFile, buffer, sizeof buffer)) > 0) out.append(buffer, size_t(n));
    return out;
  }

 private:
  void Restore() {
    if (fSaved < 0) return;
    std::fflush(nullptr);
    dup2(fSaved, fFd);
    close(fSaved);
    fSaved = -1;
  }

  int fFd;
  int fSaved = -1;
  int fFile = -1;
};

}  // namespace nemvo::testing
