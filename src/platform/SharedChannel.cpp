#include "platform/SharedChannel.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/ByteRangeLock.h"

namespace nemvo::platform {

namespace {

// How often a lock waiter looks again without being woken: the longest a
// holder that died (and so never wakes anyone) can hold it up.
constexpr auto LockRecheck = std::chrono::milliseconds(10);

std::string PosixName(const std::string& name) { return "/" + name; }

// Every account may shorten the objects (ftruncate needs nothing but write
// access), and touching a mapped page past the new end raises SIGBUS. Each
// access to the memory therefore runs under a guard: a bus error inside the
// guarded range jumps back out of the access, which then counts as failed,
// and the object as lost. Any other bus error goes on to whatever handled
// the signal before.
struct TFaultGuard {
  sigjmp_buf env;
  const unsigned char* begin;
  const unsigned char* end;
};
thread_local TFaultGuard* tGuard = nullptr;
struct sigaction gPreviousBusError;

void OnBusError(int signal, siginfo_t* info, void* context) {
  // A bus error that kill, sigqueue or tgkill sent (si_code <= 0) carries no
  // fault: there is no access to cut short, and nothing to end the process
  // for. Passed on, it would end the process (the default, or a sanitizer's
  // handler that takes every bus error for a crash): it is ignored.
  if (info->si_code <= 0) return;
  const TFaultGuard* guard = tGuard;
  const auto* at = static_cast<const unsigned char*>(info->si_addr);
  if (guard && at >= guard->begin && at < guard->end) siglongjmp(tGuard->env, 1);
  if (gPreviousBusError.sa_flags & SA_SIGINFO) {
    if (gPreviousBusError.sa_sigaction) gPreviousBusError.sa_sigaction(signal, info, context);
    return;
  }
  if (gPreviousBusError.sa_handler != SIG_DFL && gPreviousBusError.sa_handler != SIG_IGN) {
    gPreviousBusError.sa_handler(signal);
    return;
  }
  // A real fault outside the objects: the faulting access runs again on
  // return and ends the process as if this handler had never been there.
  // The guard goes with the process, never without it.
  struct sigaction defaultAction = {};
  defaultAction.sa_handler = SIG_DFL;
  sigaction(SIGBUS, &defaultAction, nullptr);
}

void InstallBusErrorGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &gPreviousBusError);
  });
}

// Runs `access` (which touches only [begin, begin + size)); false when it
// was cut short by a bus error there. Nothing here is changed between the
// jump's setting and its landing, so nothing can be clobbered by it.
bool RunGuarded(const unsigned char* begin, size_t size, void (*access)(void*), void* context) {
  TFaultGuard guard;
  guard.begin = begin;
  guard.end = begin + size;
  tGuard = &guard;
  if (sigsetjmp(guard.env, 0) != 0) {
    tGuard = nullptr;
    // The handler ran with SIGBUS blocked and was left by a jump.
    sigset_t busError;
    sigemptyset(&busError);
    sigaddset(&busError, SIGBUS);
    pthread_sigmask(SIG_UNBLOCK, &busError, nullptr);
    return false;
  }
  access(context);
  tGuard = nullptr;
  return true;
}

std::string ObjectPath(const std::string& name) { return std::string(SharedObjectDirectory) + "/" + name; }

// What is under the name now, for the caller's message.
void DescribeFound(const std::string& name, SharedOpenFailure& failure) {
  struct stat st;
  failure.found = lstat(ObjectPath(name).c_str(), &st) == 0;
  if (!failure.found) return;
  failure.owner = st.st_uid;
  failure.group = st.st_gid;
  failure.mode = st.st_mode & 07777;
}

// A new object, complete before anybody can open it: made nameless
// (O_TMPFILE), given its group, mode and size, and only then linked under
// its name, which fails if somebody else got there first (EEXIST). So no
// opener ever finds one half made, nor with another access than asked.
int CreateComplete(const std::string& name, size_t size, const SharedAccess& access,
                   SharedOpenFailure::Kind& kind) {
  kind = SharedOpenFailure::Kind::kSystem;
  const int fd = open(SharedObjectDirectory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  auto fail = [fd] {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  };
  if (access.group && fchown(fd, static_cast<uid_t>(-1), *access.group) != 0) {
    if (errno == EPERM) kind = SharedOpenFailure::Kind::kNotMember;
    return fail();
  }
  // The mode given to open passes through the umask; fchmod does not.
  if (fchmod(fd, access.Mode()) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) return fail();
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, ObjectPath(name).c_str(), AT_SYMLINK_FOLLOW) != 0) return fail();
  return fd;
}

// Opens the existing object or creates it; -1 with `failure` filled in.
// O_NONBLOCK: an open for writing breaks a lease that another process
// holds on the object, and would wait up to the kernel's lease-break time
// (45 s by default) for it; non-blocking, it fails at once instead.
int OpenOrCreate(const std::string& name, size_t size, const SharedAccess& access, bool& created,
                 SharedOpenFailure& failure) {
  const std::string posixName = PosixName(name);
  // The object may vanish between a failed open and the create (someone
  // removed it) and appear between them: then look again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = shm_open(posixName.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd >= 0) return fd;
    if (errno != ENOENT) {
      const int error = errno;
      failure.kind = error == EACCES                          ? SharedOpenFailure::Kind::kNoAccess
                     : error == EAGAIN || error == EWOULDBLOCK ? SharedOpenFailure::Kind::kLeased
                                                               : SharedOpenFailure::Kind::kSystem;
      failure.error = error;
      DescribeFound(name, failure);
      errno = error;
      return -1;
    }
    fd = CreateComplete(name, size, access, failure.kind);
    if (fd >= 0) {
      created = true;
      return fd;
    }
    if (errno != EEXIST) {
      failure.error = errno;
      return -1;
    }
  }
  failure.kind = SharedOpenFailure::Kind::kSystem;
  failure.error = errno;
  return -1;
}

}  // namespace

std::unique_ptr<TSharedMemory> TSharedMemory::CreateOrOpen(const std::string& name, size_t size, bool& created,
                                                           const SharedAccess& access, SharedOpenFailure* failure) {
  SharedOpenFailure ignored;
  SharedOpenFailure& why = failure ? *failure : ignored;
  why = {};
  why.object = name;
  created = false;
  const int fd = OpenOrCreate(name, size, access, created, why);
  if (fd < 0) return nullptr;
  auto fail = [&](int error) -> std::unique_ptr<TSharedMemory> {
    close(fd);
    why.error = error;
    errno = error;
    return nullptr;
  };
  struct stat st;
  if (fstat(fd, &st) != 0) return fail(errno);
  why.found = true;
  why.owner = st.st_uid;
  why.group = st.st_gid;
  why.mode = st.st_mode & 07777;
  if (!S_ISREG(st.st_mode)) return fail(EINVAL);
  // Only its owner (or root) can have changed the access it was made with:
  // more open than asked lets others in, of another group the wrong ones.
  if (why.mode != access.Mode() || (access.group && st.st_gid != *access.group)) {
    why.kind = SharedOpenFailure::Kind::kWrongAccess;
    return fail(EACCES);
  }
  // An object made by an older program may have no size yet, or a smaller
  // one: whoever comes first sizes it. Zero bytes are every object's
  // initial state, so there is nothing else to wait for. Never shrunk: that
  // would pull the memory from under the processes that use it. (While this
  // process holds it open for writing, nobody can take a lease on it.)
  if (static_cast<size_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0) return fail(errno);
  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) return fail(errno);
  InstallBusErrorGuard();
  return std::unique_ptr<TSharedMemory>(new TSharedMemory(static_cast<unsigned char*>(data), size, fd));
}

TSharedMemory::~TSharedMemory() {
  munmap(fData, fSize);
  close(fFd);  // drops this object's byte locks
}

uint32_t* TSharedMemory::Word(size_t offset) const {
  // Offsets are the callers' constants; a wrong one is a programming error.
  if (offset % 4 != 0 || offset > fSize || fSize - offset < 4) std::abort();
  return reinterpret_cast<uint32_t*>(fData + offset);
}

template <class Access>
bool TSharedMemory::Guarded(Access& access) const {
  if (fLost.load(std::memory_order_relaxed)) return false;
  if (RunGuarded(fData, fSize, [](void* a) { (*static_cast<Access*>(a))(); }, &access)) return true;
  fLost.store(true, std::memory_order_relaxed);
  return false;
}

uint32_t TSharedMemory::Load(size_t offset) const {
  uint32_t* word = Word(offset);
  uint32_t value = 0;
  auto access = [&] { value = std::atomic_ref<uint32_t>(*word).load(std::memory_order_acquire); };
  Guarded(access);
  return value;
}

void TSharedMemory::Store(size_t offset, uint32_t value) {
  uint32_t* word = Word(offset);
  auto access = [&] { std::atomic_ref<uint32_t>(*word).store(value, std::memory_order_release); };
  Guarded(access);
}

uint32_t TSharedMemory::Exchange(size_t offset, uint32_t value) {
  uint32_t* word = Word(offset);
  uint32_t old = 0;
  auto access = [&] { old = std::atomic_ref<uint32_t>(*word).exchange(value, std::memory_order_acq_rel); };
  Guarded(access);
  return old;
}

bool TSharedMemory::CompareExchange(size_t offset, uint32_t expected, uint32_t desired) {
  uint32_t* word = Word(offset);
  bool exchanged = false;
  auto access = [&] {
    exchanged = std::atomic_ref<uint32_t>(*word).compare_exchange_strong(expected, desired, std::memory_order_acq_rel);
  };
  Guarded(access);
  return exchanged;
}

uint32_t TSharedMemory::Add(size_t offset, uint32_t delta) {
  uint32_t* word = Word(offset);
  uint32_t old = 0;
  auto access = [&] { old = std::atomic_ref<uint32_t>(*word).fetch_add(delta, std::memory_order_acq_rel); };
  Guarded(access);
  return old + delta;
}

void TSharedMemory::CopyOut(size_t offset, void* to, size_t length) const {
  if (offset > fSize || fSize - offset < length) std::abort();
  auto* out = static_cast<unsigned char*>(to);
  auto access = [&] {
    for (size_t i = 0; i < length; ++i)
      out[i] = std::atomic_ref<unsigned char>(fData[offset + i]).load(std::memory_order_relaxed);
  };
  if (!Guarded(access)) std::fill(out, out + length, 0);
}

void TSharedMemory::CopyIn(size_t offset, const void* from, size_t length) {
  if (offset > fSize || fSize - offset < length) std::abort();
  const auto* in = static_cast<const unsigned char*>(from);
  auto access = [&] {
    for (size_t i = 0; i < length; ++i)
      std::atomic_ref<unsigned char>(fData[offset + i]).store(in[i], std::memory_order_relaxed);
  };
  Guarded(access);
}

bool TSharedMemory::WaitWhile(size_t offset, uint32_t value, SharedClock::time_point deadline) const {
  uint32_t* word = Word(offset);
  const auto left = deadline - SharedClock::now();
  if (left <= SharedClock::duration::zero()) return Load(offset) != value;
  if (fLost.load(std::memory_order_relaxed)) {
    // Nothing will ever wake this word: a plain sleep, so that callers that
    // look again in a loop do not spin.
    std::this_thread::sleep_until(deadline);
    return false;
  }
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
  timespec relative;
  relative.tv_sec = static_cast<time_t>(seconds.count());
  relative.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count());
  // Not FUTEX_PRIVATE: the word is shared with other processes.
  if (syscall(SYS_futex, word, FUTEX_WAIT, value, &relative, nullptr, 0) == 0) return true;
  if (errno == EFAULT) fLost.store(true, std::memory_order_relaxed);  // the page is gone
  return errno == EAGAIN;  // the word had changed already
}

void TSharedMemory::WakeAll(size_t offset) const { syscall(SYS_futex, Word(offset), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0); }

bool TSharedMemory::TryLockByte(size_t byte) { return LockByteRange(fFd, F_WRLCK, byte); }

void TSharedMemory::UnlockByte(size_t byte) { LockByteRange(fFd, F_UNLCK, byte); }

bool TSharedMemory::ByteLockedElsewhere(size_t byte) const {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(byte);
  lock.l_len = 1;
  if (fcntl(fFd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

namespace {
constexpr size_t HolderOffset = 0;
constexpr size_t ReleasesOffset = 4;
constexpr size_t LockByte = 0;
}  // namespace

SharedLockResult TSharedLock::Lock(SharedClock::time_point deadline) {
  // Threads of one process that share a lock object take turns here first.
  // It is never held for long, so looking again every millisecond will do
  // (and a timed lock of the standard library is one that some thread
  // checkers cannot follow).
  while (!fLocal.try_lock()) {
    if (SharedClock::now() >= deadline) return SharedLockResult::kTimedOut;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (;;) {
    const uint32_t releases = fMemory.Load(ReleasesOffset);
    if (fMemory.TryLockByte(LockByte)) {
      // A live holder clears its mark before it lets go of the byte, so a
      // mark found now was left by a holder that died (or was written by
      // somebody who should not have).
      const uint32_t mark = fMemory.Exchange(HolderOffset, static_cast<uint32_t>(getpid()));
      return mark == 0 ? SharedLockResult::kLocked : SharedLockResult::kOwnerDied;
    }
    const auto now = SharedClock::now();
    if (now >= deadline) {
      fLocal.unlock();
      return SharedLockResult::kTimedOut;
    }
    fMemory.WaitWhile(ReleasesOffset, releases, std::min(deadline, now + LockRecheck));
  }
}

void TSharedLock::Unlock() {
  fMemory.Store(HolderOffset, 0);
  fMemory.UnlockByte(LockByte);
  fMemory.Add(ReleasesOffset, 1);
  fMemory.WakeAll(ReleasesOffset);
  fLocal.unlock();
}

std::unique_ptr<TSharedChannel> OpenSharedChannel(const SharedChannelNames& names, size_t memorySize,
                                                  size_t controlSize, const SharedAccess& access,
                                                  SharedOpenFailure* failure) {
  auto channel = std::make_unique<TSharedChannel>();
  channel->memory = TSharedMemory::CreateOrOpen(names.memory, memorySize, channel->memoryCreated, access, failure);
  if (!channel->memory) return nullptr;
  bool created = false;
  for (auto [name, object] : {std::pair{&names.mutex, &channel->mutex}, {&names.writeEvent, &channel->writeEvent},
                              {&names.writeFinishedEvent, &channel->writeFinishedEvent},
                              {&names.readEvent, &channel->readEvent},
                              {&names.readFinishedEvent, &channel->readFinishedEvent}}) {
    *object = TSharedMemory::CreateOrOpen(*name, controlSize, created, access, failure);
    if (!*object) return nullptr;
  }
  return channel;
}

void RemoveSharedChannel(const SharedChannelNames& names) {
  for (const std::string* name : {&names.memory, &names.mutex, &names.writeEvent, &names.writeFinishedEvent,
                                  &names.readEvent, &names.readFinishedEvent})
    shm_unlink(PosixName(*name).c_str());
}

}  // namespace nemvo::platform
