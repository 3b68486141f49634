#include "platform/PoolBoard.h"

#include <sys/mman.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

namespace nemvo::platform {

static_assert(std::atomic<int64_t>::is_always_lock_free && std::atomic<uint64_t>::is_always_lock_free,
              "the board's counters must be shared between processes without a lock");

int64_t MonotonicNanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

TPoolBoard::TPoolBoard(int places) : fPlaces(std::max(places, 1)) {
  const size_t totals = (sizeof(TPoolTotals) + 63) / 64 * 64;
  fSize = totals + sizeof(TWorkerPlace) * size_t(fPlaces);
  // Shared with the workers forked later, and with nothing else: no name,
  // no file.
  fMemory = mmap(nullptr, fSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (fMemory == MAP_FAILED)
    throw std::runtime_error(std::string("cannot map the pool's board: ") + std::strerror(errno));
  // A fresh anonymous mapping is zeros, which is what every field starts as;
  // the objects are made in it all the same.
  auto* bytes = static_cast<std::byte*>(fMemory);
  fTotals = new (bytes) TPoolTotals{};
  fWorkers = reinterpret_cast<TWorkerPlace*>(bytes + totals);
  for (int i = 0; i < fPlaces; ++i) new (&fWorkers[i]) TWorkerPlace{};
}

TPoolBoard::~TPoolBoard() { munmap(fMemory, fSize); }

void TPoolBoard::BeginRequest(TWorkerPlace& place, const char* path, size_t length) {
  length = std::min(length, TWorkerPlace::kPathSize);
  const uint64_t sequence = place.sequence.load(std::memory_order_relaxed);
  place.sequence.store(sequence + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (size_t i = 0; i < length; ++i)
    std::atomic_ref<char>(place.path[i]).store(path[i], std::memory_order_relaxed);
  place.pathLength.store(uint32_t(length), std::memory_order_relaxed);
  place.requestStart.store(MonotonicNanoseconds(), std::memory_order_relaxed);
  place.busy.store(1, std::memory_order_relaxed);
  place.sequence.store(sequence + 2, std::memory_order_release);
}

void TPoolBoard::EndRequest(TWorkerPlace& place) {
  const uint64_t sequence = place.sequence.load(std::memory_order_relaxed);
  place.sequence.store(sequence + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  place.phase.store(0, std::memory_order_relaxed);
  place.busy.store(0, std::memory_order_relaxed);
  place.requestStart.store(0, std::memory_order_relaxed);
  place.pathLength.store(0, std::memory_order_relaxed);
  place.idleSince.store(MonotonicNanoseconds(), std::memory_order_relaxed);
  place.served.fetch_add(1, std::memory_order_relaxed);
  place.sequence.store(sequence + 2, std::memory_order_release);
}

std::string TPoolBoard::RequestPath(const TWorkerPlace& place) {
  const uint64_t before = place.sequence.load(std::memory_order_acquire);
  if (before & 1) return {};
  const size_t length = std::min<size_t>(place.pathLength.load(std::memory_order_relaxed), TWorkerPlace::kPathSize);
  std::string path(length, '\0');
  for (size_t i = 0; i < length; ++i)
    path[i] = std::atomic_ref<char>(const_cast<char&>(place.path[i])).load(std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_acquire);
  if (place.sequence.load(std::memory_order_relaxed) != before) return {};
  return path;
}

void TPoolBoard::Clear(TWorkerPlace& place) {
  place.pid.store(0, std::memory_order_relaxed);
  place.busy.store(0, std::memory_order_relaxed);
  place.phase.store(0, std::memory_order_relaxed);
  place.requestStart.store(0, std::memory_order_relaxed);
  place.pathLength.store(0, std::memory_order_relaxed);
  place.sequence.fetch_add(2, std::memory_order_release);
}

}  // namespace nemvo::platform
