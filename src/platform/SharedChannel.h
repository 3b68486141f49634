#pragma once
// Named objects shared between processes: memory, a mutex and manual-reset
// events, all in POSIX shared memory ("/name" under /dev/shm) and created
// readable and writable by every user, so that a reader run by one account
// can watch processes run by another. Every wait is bounded: nothing that
// another process does (or fails to do) can hang the caller.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace nemvo::platform {

using SharedClock = std::chrono::steady_clock;

// A named shared-memory segment mapped into this process.
class TSharedMemory {
 public:
  // Creates the segment (zero-filled) or opens the existing one. Null on
  // failure, with the reason in LastErrorCode(). `created` tells which.
  static std::unique_ptr<TSharedMemory> CreateOrOpen(const std::string& name, size_t size, bool& created);
  ~TSharedMemory();
  TSharedMemory(const TSharedMemory&) = delete;
  TSharedMemory& operator=(const TSharedMemory&) = delete;

  unsigned char* Data() const { return fData; }
  size_t Size() const { return fSize; }

 private:
  TSharedMemory(unsigned char* data, size_t size) : fData(data), fSize(size) {}
  unsigned char* fData;
  size_t fSize;
};

struct SharedMutexState;
struct SharedEventState;

// A mutex shared under a name. When a holder dies, the next Lock succeeds.
class TSharedMutex {
 public:
  static std::unique_ptr<TSharedMutex> CreateOrOpen(const std::string& name);
  // Whether the mutex was taken before `deadline`.
  bool Lock(SharedClock::time_point deadline);
  void Unlock();

 private:
  explicit TSharedMutex(std::unique_ptr<TSharedMemory> memory);
  std::unique_ptr<TSharedMemory> fMemory;
  SharedMutexState* fState;
};

// A manual-reset event shared under a name. Each Set also advances a
// generation count, so that a waiter can wait for "set again since I looked"
// even when the event has stayed set in between.
class TSharedEvent {
 public:
  static std::unique_ptr<TSharedEvent> CreateOrOpen(const std::string& name, bool initiallySet);
  void Set();
  void Reset();
  bool IsSet();
  uint64_t Generation();
  // Whether the event is set, waiting for it at most until `deadline`.
  bool WaitFor(SharedClock::time_point deadline);
  // Whether it was set and this call reset it: of several callers, one wins.
  bool WaitAndReset(SharedClock::time_point deadline);
  // Whether the generation moved past `generation` before `deadline`.
  bool WaitForGenerationAfter(uint64_t generation, SharedClock::time_point deadline);

 private:
  explicit TSharedEvent(std::unique_ptr<TSharedMemory> memory);
  std::unique_ptr<TSharedMemory> fMemory;
  SharedEventState* fState;
};

// The names of one channel's objects.
struct SharedChannelNames {
  std::string memory;
  std::string mutex;
  std::string writeEvent;          // initially clear
  std::string writeFinishedEvent;  // initially set
  std::string readEvent;           // initially clear
  std::string readFinishedEvent;   // initially clear
};

struct TSharedChannel {
  std::unique_ptr<TSharedMemory> memory;
  bool memoryCreated = false;
  std::unique_ptr<TSharedMutex> mutex;
  std::unique_ptr<TSharedEvent> writeEvent;
  std::unique_ptr<TSharedEvent> writeFinishedEvent;
  std::unique_ptr<TSharedEvent> readEvent;
  std::unique_ptr<TSharedEvent> readFinishedEvent;
};

// Creates or opens all of a channel's objects. Null when any of them fails,
// with the reason in LastErrorCode().
std::unique_ptr<TSharedChannel> OpenSharedChannel(const SharedChannelNames& names, size_t memorySize);

// Removes the named objects (for tests and administrators; processes that
// have them open keep working on the old ones).
void RemoveSharedChannel(const SharedChannelNames& names);

}  // namespace nemvo::platform
