#pragma once
// A small file of state that the processes of one account share, and no
// other account may read or change: mapped into each process, guarded by a
// lock that the kernel drops with a holder that dies.
//
// The file is trusted only as far as the account is: another account can
// neither open it nor put a file of its own in its place (one it made first,
// or a link to one) without the open being refused. What a process of the
// account that was killed half-way leaves in it is the reader's to check.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace nemvo::platform {

class TPrivateStateFile {
 public:
  // Opens `path`, creating it with mode 0600 when it is absent, and maps its
  // first `size` bytes (zeros in a new file). Null, with the reason in
  // `error`, when the file is no plain file of this account's, or cannot be
  // made `size` bytes long: the space is reserved here, so that a full file
  // system never turns a later write into a bus error.
  static std::unique_ptr<TPrivateStateFile> Open(const std::string& path, size_t size, std::string& error);
  ~TPrivateStateFile();
  TPrivateStateFile(const TPrivateStateFile&) = delete;
  TPrivateStateFile& operator=(const TPrivateStateFile&) = delete;

  std::byte* Data() const { return fData; }
  size_t Size() const { return fSize; }

  // Takes the file's lock, waiting up to `wait` for another holder: whether
  // it was taken. A holder of the same account that never lets go (stopped,
  // say) costs each caller that wait, not more.
  bool Lock(std::chrono::milliseconds wait);
  void Unlock();

 private:
  TPrivateStateFile(int fd, std::byte* data, size_t size) : fFd(fd), fData(data), fSize(size) {}

  int fFd;
  std::byte* fData;
  size_t fSize;
};

// Where a state file named `stem` lives by default: in the machine's shared
// memory file system, with the account's user id in its name, so that each
// account has its own ("/dev/shm/STEM.UID").
std::string PrivateStatePath(std::string_view stem);

}  // namespace nemvo::platform
