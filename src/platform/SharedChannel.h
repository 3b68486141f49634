#pragma once
// Named objects shared between processes: POSIX shared memory ("/name" under
// /dev/shm), created readable and writable by every account (so that a
// reader run by one account can watch processes run by another) or by the
// members of one group only.
//
// Nothing here trusts the other processes. Any of them may die at any moment
// or be hostile (every account, or every member, can write these objects;
// and whoever creates an object first owns it), so:
//  - no open ever waits: an owner's lease (F_SETLEASE) on an object would
//    otherwise hold each open for the kernel's lease-break time; objects
//    whose owner took their access away, or made them more open than asked,
//    are refused and described (SharedOpenFailure);
//  - every wait has a deadline, and signalling never waits at all (a futex
//    wake on a word of the memory);
//  - locks are byte-range locks on the object's file that belong to an open
//    file description (F_OFD_SETLK): the kernel drops them when the holder
//    dies, and no process ever follows a pointer or index it finds in the
//    memory (a process-shared pthread mutex keeps its holder's robust-list
//    pointers inside the shared object and writes through them when it is
//    unlocked: anyone who can write the object could aim those writes);
//  - every word is read once, atomically, and its users check it before
//    they use it;
//  - an object that another account shortens under this process's mapping
//    is lost to it (accesses do nothing), instead of a bus error ending it.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace nemvo::platform {

using SharedClock = std::chrono::steady_clock;

// Who may use a channel's objects: every account (mode 0666), or the members
// of one group (0660, owned by that group). Objects are made so, whatever the
// umask, and objects found otherwise are not used.
struct SharedAccess {
  std::optional<gid_t> group;  // none: every account
  mode_t Mode() const { return group ? 0660 : 0666; }
};

// Why an object could not be used, and what was found under its name.
struct SharedOpenFailure {
  enum class Kind {
    kSystem,       // the system's error, as `error` says
    kNoAccess,     // this account may not open it (EACCES)
    kLeased,       // another process holds a lease on it (EAGAIN)
    kWrongAccess,  // its mode or group is not the one asked for
    kNotMember,    // it cannot be made with the group: not a member of it
  };
  Kind kind = Kind::kSystem;
  std::string object;  // the object's name
  int error = 0;       // errno
  bool found = false;  // whether the object exists: then these are its own
  uid_t owner = 0;
  gid_t group = 0;
  mode_t mode = 0;
};

// A named shared-memory segment mapped into this process. It stays open:
// its file carries the byte-range locks.
class TSharedMemory {
 public:
  // Creates the segment (zero-filled, with `access`) or opens the existing
  // one, which must have exactly that access, sizing it when it is shorter
  // than `size` (an older program may have made it so). Never waits. Null on
  // failure, with the reason in `failure` (when given) and LastErrorCode().
  // `created` tells which.
  static std::unique_ptr<TSharedMemory> CreateOrOpen(const std::string& name, size_t size, bool& created,
                                                     const SharedAccess& access = {},
                                                     SharedOpenFailure* failure = nullptr);
  ~TSharedMemory();
  TSharedMemory(const TSharedMemory&) = delete;
  TSharedMemory& operator=(const TSharedMemory&) = delete;

  size_t Size() const { return fSize; }
  // Whether the memory was pulled from under this process (somebody
  // shortened the object): every access since then has done nothing, loads
  // giving 0, and waits just sleep.
  bool Lost() const { return fLost.load(std::memory_order_relaxed); }

  // 32-bit words at offsets that are multiples of 4 (fixed by the callers,
  // never taken from the memory). Loads acquire, stores release.
  uint32_t Load(size_t offset) const;
  void Store(size_t offset, uint32_t value);
  uint32_t Exchange(size_t offset, uint32_t value);
  // Whether the word held `expected` and now holds `desired`.
  bool CompareExchange(size_t offset, uint32_t expected, uint32_t desired);
  // The value after adding `delta`.
  uint32_t Add(size_t offset, uint32_t delta);
  // Bytes, copied one by one: the other side may change them meanwhile.
  void CopyOut(size_t offset, void* to, size_t length) const;
  void CopyIn(size_t offset, const void* from, size_t length);

  // Waits while the word at `offset` holds `value`, at most until
  // `deadline`. True when woken or the word had changed already; false on
  // the deadline or a signal (so that a caller can look at its stop flag).
  // A wake may be spurious: callers look again.
  bool WaitWhile(size_t offset, uint32_t value, SharedClock::time_point deadline) const;
  // Wakes every waiter on the word. Never blocks.
  void WakeAll(size_t offset) const;

  // Byte-range locks on the segment's file, one byte each, held by this
  // object (a second object on the same segment, in this process or
  // another, is somebody else). Whether the byte was free and is now ours.
  bool TryLockByte(size_t byte);
  void UnlockByte(size_t byte);
  // Whether somebody else holds a lock on the byte.
  bool ByteLockedElsewhere(size_t byte) const;

 private:
  TSharedMemory(unsigned char* data, size_t size, int fd) : fData(data), fSize(size), fFd(fd) {}
  uint32_t* Word(size_t offset) const;
  template <class Access>
  bool Guarded(Access& access) const;
  unsigned char* fData;
  size_t fSize;
  int fFd;
  mutable std::atomic<bool> fLost{false};
};

enum class SharedLockResult { kTimedOut, kLocked, kOwnerDied };

// A lock shared under a name, robust against holders that die: the holder
// owns a byte lock on the segment's file (released by the kernel when it
// dies) and marks the memory while it holds it, so that the next taker sees
// that its predecessor died holding it (kOwnerDied) and can repair what it
// guarded. Waiters sleep on a count of releases in the memory and look again
// every few milliseconds, so a dead holder costs them at most that.
// Layout: word 0 the holder's mark (0 when free), word 4 the release count.
class TSharedLock {
 public:
  static constexpr size_t MinimumSize = 8;
  // `memory` outlives the lock.
  explicit TSharedLock(TSharedMemory& memory) : fMemory(memory) {}
  SharedLockResult Lock(SharedClock::time_point deadline);
  void Unlock();

 private:
  TSharedMemory& fMemory;
  std::mutex fLocal;  // the byte lock does not keep this process's threads apart
};

// The names of one channel's objects.
struct SharedChannelNames {
  std::string memory;
  std::string mutex;
  std::string writeEvent;
  std::string writeFinishedEvent;
  std::string readEvent;
  std::string readFinishedEvent;
};

// A channel's six objects: the data memory and five control objects of
// `controlSize` bytes each, whose use is their user's affair.
struct TSharedChannel {
  std::unique_ptr<TSharedMemory> memory;
  bool memoryCreated = false;
  std::unique_ptr<TSharedMemory> mutex;
  std::unique_ptr<TSharedMemory> writeEvent;
  std::unique_ptr<TSharedMemory> writeFinishedEvent;
  std::unique_ptr<TSharedMemory> readEvent;
  std::unique_ptr<TSharedMemory> readFinishedEvent;
};

// Creates or opens all of a channel's objects with `access`. Null when any
// of them fails, with the reason in `failure` (when given) and
// LastErrorCode().
std::unique_ptr<TSharedChannel> OpenSharedChannel(const SharedChannelNames& names, size_t memorySize,
                                                  size_t controlSize, const SharedAccess& access = {},
                                                  SharedOpenFailure* failure = nullptr);

// The directory the objects live in, for messages and administrators.
inline constexpr const char* SharedObjectDirectory = "/dev/shm";

// Removes the named objects (for tests and administrators; processes that
// have them open keep working on the old ones).
void RemoveSharedChannel(const SharedChannelNames& names);

}  // namespace nemvo::platform
