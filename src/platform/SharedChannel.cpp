#include "platform/SharedChannel.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>
#include <thread>

namespace nemvo::platform {

namespace {

// How long an opener waits for the creator to finish setting an object up.
constexpr auto SetUpWait = std::chrono::seconds(1);
constexpr uint32_t ReadyMark = 0x4E4D5631;  // set last, once the object is usable

std::string PosixName(const std::string& name) { return "/" + name; }

timespec MonotonicDeadline(SharedClock::time_point deadline) {
  // steady_clock is CLOCK_MONOTONIC on Linux; the shared conditions use it too.
  auto since = deadline.time_since_epoch();
  if (since.count() < 0) since = {};
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
  timespec ts;
  ts.tv_sec = static_cast<time_t>(seconds.count());
  ts.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
  return ts;
}

// A robust, process-shared mutex: a holder that dies hands it on instead of
// blocking everyone; the data it guarded is validated by its users anyway.
void InitMutex(pthread_mutex_t* m) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(m, &attr);
  pthread_mutexattr_destroy(&attr);
}

bool LockMutex(pthread_mutex_t* m, SharedClock::time_point deadline) {
  timespec ts = MonotonicDeadline(deadline);
  int rc = pthread_mutex_clocklock(m, CLOCK_MONOTONIC, &ts);
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(m);
    rc = 0;
  }
  return rc == 0;
}

// The waiting part of a condition wait; false on time-out or a broken mutex.
bool WaitCondition(pthread_cond_t* c, pthread_mutex_t* m, SharedClock::time_point deadline) {
  timespec ts = MonotonicDeadline(deadline);
  int rc = pthread_cond_timedwait(c, m, &ts);
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(m);
    rc = 0;
  }
  return rc == 0;
}

// Maps a segment that the creator fills with a ready mark at offset 0 once
// `init` has run; an opener waits a bounded time for that mark.
template <class State, class Init>
std::unique_ptr<TSharedMemory> MapObject(const std::string& name, Init init) {
  bool created = false;
  auto memory = TSharedMemory::CreateOrOpen(name, sizeof(State), created);
  if (!memory) return nullptr;
  auto* state = reinterpret_cast<State*>(memory->Data());
  std::atomic_ref<uint32_t> ready(state->ready);
  if (created) {
    init(state);
    ready.store(ReadyMark, std::memory_order_release);
    return memory;
  }
  const auto deadline = SharedClock::now() + SetUpWait;
  while (ready.load(std::memory_order_acquire) != ReadyMark) {
    if (SharedClock::now() >= deadline) {
      errno = ETIMEDOUT;
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return memory;
}

}  // namespace

struct SharedMutexState {
  alignas(8) uint32_t ready;
  pthread_mutex_t mutex;
};

struct SharedEventState {
  alignas(8) uint32_t ready;
  uint32_t isSet;
  uint64_t generation;
  pthread_mutex_t mutex;
  pthread_cond_t changed;
};

std::unique_ptr<TSharedMemory> TSharedMemory::CreateOrOpen(const std::string& name, size_t size, bool& created) {
  const std::string posixName = PosixName(name);
  created = false;
  int fd = shm_open(posixName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    created = true;
    // The mode given to shm_open passes through the umask; the channel must
    // stay open to every account.
    if (fchmod(fd, 0666) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
      int error = errno;
      close(fd);
      shm_unlink(posixName.c_str());
      errno = error;
      return nullptr;
    }
  } else {
    if (errno != EEXIST) return nullptr;
    fd = shm_open(posixName.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    // The creator may not have sized it yet.
    const auto deadline = SharedClock::now() + SetUpWait;
    for (;;) {
      struct stat st;
      if (fstat(fd, &st) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return nullptr;
      }
      if (static_cast<size_t>(st.st_size) >= size) break;
      if (SharedClock::now() >= deadline) {
        close(fd);
        errno = EINVAL;
        return nullptr;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  int error = errno;
  close(fd);
  if (data == MAP_FAILED) {
    errno = error;
    return nullptr;
  }
  return std::unique_ptr<TSharedMemory>(new TSharedMemory(static_cast<unsigned char*>(data), size));
}

TSharedMemory::~TSharedMemory() { munmap(fData, fSize); }

std::unique_ptr<TSharedMutex> TSharedMutex::CreateOrOpen(const std::string& name) {
  auto memory = MapObject<SharedMutexState>(name, [](SharedMutexState* s) { InitMutex(&s->mutex); });
  if (!memory) return nullptr;
  return std::unique_ptr<TSharedMutex>(new TSharedMutex(std::move(memory)));
}

TSharedMutex::TSharedMutex(std::unique_ptr<TSharedMemory> memory)
    : fMemory(std::move(memory)), fState(reinterpret_cast<SharedMutexState*>(fMemory->Data())) {}

bool TSharedMutex::Lock(SharedClock::time_point deadline) { return LockMutex(&fState->mutex, deadline); }

void TSharedMutex::Unlock() { pthread_mutex_unlock(&fState->mutex); }

std::unique_ptr<TSharedEvent> TSharedEvent::CreateOrOpen(const std::string& name, bool initiallySet) {
  auto memory = MapObject<SharedEventState>(name, [initiallySet](SharedEventState* s) {
    s->isSet = initiallySet ? 1 : 0;
    s->generation = 0;
    InitMutex(&s->mutex);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&s->changed, &attr);
    pthread_condattr_destroy(&attr);
  });
  if (!memory) return nullptr;
  return std::unique_ptr<TSharedEvent>(new TSharedEvent(std::move(memory)));
}

TSharedEvent::TSharedEvent(std::unique_ptr<TSharedMemory> memory)
    : fMemory(std::move(memory)), fState(reinterpret_cast<SharedEventState*>(fMemory->Data())) {}

namespace {
// Changing an event's state must not wait on a stuck peer for long either.
constexpr auto EventLockWait = std::chrono::seconds(1);
}  // namespace

void TSharedEvent::Set() {
  if (!LockMutex(&fState->mutex, SharedClock::now() + EventLockWait)) return;
  fState->isSet = 1;
  ++fState->generation;
  pthread_cond_broadcast(&fState->changed);
  pthread_mutex_unlock(&fState->mutex);
}

void TSharedEvent::Reset() {
  if (!LockMutex(&fState->mutex, SharedClock::now() + EventLockWait)) return;
  fState->isSet = 0;
  pthread_mutex_unlock(&fState->mutex);
}

bool TSharedEvent::IsSet() { return std::atomic_ref<uint32_t>(fState->isSet).load() != 0; }

uint64_t TSharedEvent::Generation() { return std::atomic_ref<uint64_t>(fState->generation).load(); }

bool TSharedEvent::WaitFor(SharedClock::time_point deadline) {
  if (!LockMutex(&fState->mutex, deadline)) return false;
  while (!fState->isSet && WaitCondition(&fState->changed, &fState->mutex, deadline)) {
  }
  bool set = fState->isSet != 0;
  pthread_mutex_unlock(&fState->mutex);
  return set;
}

bool TSharedEvent::WaitAndReset(SharedClock::time_point deadline) {
  if (!LockMutex(&fState->mutex, deadline)) return false;
  while (!fState->isSet && WaitCondition(&fState->changed, &fState->mutex, deadline)) {
  }
  bool taken = fState->isSet != 0;
  fState->isSet = 0;
  pthread_mutex_unlock(&fState->mutex);
  return taken;
}

bool TSharedEvent::WaitForGenerationAfter(uint64_t generation, SharedClock::time_point deadline) {
  if (!LockMutex(&fState->mutex, deadline)) return false;
  while (fState->generation == generation && WaitCondition(&fState->changed, &fState->mutex, deadline)) {
  }
  bool moved = fState->generation != generation;
  pthread_mutex_unlock(&fState->mutex);
  return moved;
}

std::unique_ptr<TSharedChannel> OpenSharedChannel(const SharedChannelNames& names, size_t memorySize) {
  auto channel = std::make_unique<TSharedChannel>();
  channel->memory = TSharedMemory::CreateOrOpen(names.memory, memorySize, channel->memoryCreated);
  if (!channel->memory) return nullptr;
  if (!(channel->mutex = TSharedMutex::CreateOrOpen(names.mutex))) return nullptr;
  if (!(channel->writeEvent = TSharedEvent::CreateOrOpen(names.writeEvent, false))) return nullptr;
  if (!(channel->writeFinishedEvent = TSharedEvent::CreateOrOpen(names.writeFinishedEvent, true))) return nullptr;
  if (!(channel->readEvent = TSharedEvent::CreateOrOpen(names.readEvent, false))) return nullptr;
  if (!(channel->readFinishedEvent = TSharedEvent::CreateOrOpen(names.readFinishedEvent, false))) return nullptr;
  return channel;
}

void RemoveSharedChannel(const SharedChannelNames& names) {
  for (const std::string* name : {&names.memory, &names.mutex, &names.writeEvent, &names.writeFinishedEvent,
                                  &names.readEvent, &names.readFinishedEvent})
    shm_unlink(PosixName(*name).c_str());
}

}  // namespace nemvo::platform
