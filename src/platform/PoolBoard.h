#pragma once
// What the processes of a FastCGI pool share: one place per worker (its
// state, the request in hand and since when) and the pool's counters. It is
// an anonymous mapping the pool makes before it starts its workers, so only
// the pool's own processes ever see it, and it outlives any worker: a worker
// that dies leaves its counts behind.
//
// Workers write with single atomic stores and adds, never a lock, so a
// request pays a few stores and a worker killed at any moment leaves nothing
// locked. A reader may see a place half-way through a change; what it shows
// is checked against the place's sequence (a request's path is kept only
// when the sequence did not move while it was copied).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace nemvo::platform {

// Nanoseconds on the monotonic clock, shared by all processes.
int64_t MonotonicNanoseconds();

struct TWorkerPlace {
  static constexpr size_t kPathSize = 240;
  std::atomic<int32_t> pid;            // 0: free; set by the worker once it can take connections
  std::atomic<uint8_t> busy;           // 1 while a request is in hand
  std::atomic<uint8_t> phase;          // the request's phase (the host's own numbering; 0 between requests)
  std::atomic<int64_t> requestStart;   // when the request in hand began (MonotonicNanoseconds); 0 idle
  std::atomic<int64_t> idleSince;      // when the worker last became idle
  std::atomic<uint64_t> sequence;      // odd while the path is being written
  std::atomic<uint64_t> served;        // requests this worker has finished
  std::atomic<uint32_t> pathLength;
  char path[kPathSize];                // the request in hand's path as logs show it (escaped), cut at kPathSize
};

struct TPoolTotals {
  static constexpr int kLoginOutcomes = 5;
  static constexpr int kAnswerBuckets = 13;
  std::atomic<uint64_t> requests;
  std::atomic<uint64_t> requestsRefused;
  std::atomic<uint64_t> requestsTimedOut;
  std::atomic<uint64_t> slowRequests;
  std::atomic<uint64_t> workersStarted;
  std::atomic<uint64_t> workersReplaced;
  std::atomic<uint64_t> workersRecycled;
  std::atomic<uint64_t> logins[kLoginOutcomes];
  std::atomic<uint64_t> answerCounts[kAnswerBuckets];
  std::atomic<uint64_t> answerNanoseconds;
  // Raised by the pool when its logs are to be opened anew (after rotation);
  // each worker reopens its own when it sees a number it has not seen.
  std::atomic<uint64_t> logGeneration;
  std::atomic<int64_t> startTime;  // seconds since the epoch
};

class TPoolBoard {
 public:
  // A board with `places` worker places; throws EOSError-like std::runtime_error
  // when the mapping cannot be made.
  explicit TPoolBoard(int places);
  ~TPoolBoard();
  TPoolBoard(const TPoolBoard&) = delete;
  TPoolBoard& operator=(const TPoolBoard&) = delete;

  int Places() const { return fPlaces; }
  TWorkerPlace& Place(int index) const { return fWorkers[index]; }
  TPoolTotals& Totals() const { return *fTotals; }

  // Worker side: the request in hand.
  static void BeginRequest(TWorkerPlace& place, const char* path, size_t length);
  static void SetPhase(TWorkerPlace& place, uint8_t phase) { place.phase.store(phase, std::memory_order_relaxed); }
  static void EndRequest(TWorkerPlace& place);
  // Reader side: the request in hand's path; empty when the place changed
  // while it was read, or is idle.
  static std::string RequestPath(const TWorkerPlace& place);
  // Pool side: the place is free again (its worker ended).
  static void Clear(TWorkerPlace& place);

 private:
  int fPlaces;
  size_t fSize;
  void* fMemory;
  TPoolTotals* fTotals;
  TWorkerPlace* fWorkers;
};

}  // namespace nemvo::platform
