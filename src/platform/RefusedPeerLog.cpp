#include "platform/RefusedPeerLog.h"

#include <sys/mman.h>

#include <cstring>
#include <new>
#include <random>

#include "base/BitMix.h"

namespace nemvo::platform {

// Each word of `places` holds an address's fingerprint (high half) and the
// second it was last logged, plus one (low half; 0: a free place). The
// budget holds the lines logged in the minute being counted (high half) and
// the second that minute began, plus one (low half).
struct TRefusedPeerLog::Shared {
  std::atomic<uint64_t> budget{0};
  std::atomic<uint64_t> unlogged{0};
  std::atomic<uint64_t> places[kPlaces] = {};
};

namespace {


uint64_t Fingerprint(const TPeerAllowList::Address& address, uint64_t key) {
  uint64_t halves[2];
  std::memcpy(halves, address.data(), sizeof halves);
  return MixBits(MixBits(key ^ halves[0]) ^ halves[1]);
}

uint64_t Pack(uint64_t high, int64_t seconds) { return high << 32 | (uint64_t(seconds + 1) & 0xffffffffu); }
int64_t Seconds(uint64_t word) { return int64_t(word & 0xffffffffu) - 1; }

}  // namespace

TRefusedPeerLog::TRefusedPeerLog() {
  std::random_device random;
  fKey = uint64_t(random()) << 32 | random();
  void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory != MAP_FAILED) {
    fShared = new (memory) Shared();
    fMapped = true;
  } else {
    fOwn = std::make_unique<Shared>();
    fShared = fOwn.get();
  }
}

TRefusedPeerLog::~TRefusedPeerLog() {
  if (!fMapped) return;
  fShared->~Shared();
  munmap(fShared, sizeof(Shared));
}

TRefusedPeerLog::Verdict TRefusedPeerLog::Refused(const TPeerAllowList::Address& address, int64_t now) {
  const uint64_t print = Fingerprint(address, fKey);
  std::atomic<uint64_t>& place = fShared->places[print % kPlaces];
  const uint64_t mine = print >> 32;
  uint64_t seen = place.load(std::memory_order_relaxed);
  do {
    const bool logged = (seen & 0xffffffffu) != 0 && seen >> 32 == mine;
    if (logged && now - Seconds(seen) < kIntervalSeconds) return {};
  } while (!place.compare_exchange_weak(seen, Pack(mine, now), std::memory_order_relaxed));

  // Another worker may log in the same moment: whichever takes the place
  // above logs, and the budget below is counted the same way.
  uint64_t budget = fShared->budget.load(std::memory_order_relaxed);
  for (;;) {
    const bool sameMinute = (budget & 0xffffffffu) != 0 && now - Seconds(budget) < kIntervalSeconds;
    const uint64_t lines = sameMinute ? budget >> 32 : 0;
    if (lines >= kLinesPerMinute) {
      fShared->unlogged.fetch_add(1, std::memory_order_relaxed);
      return {};
    }
    const uint64_t next = sameMinute ? Pack(lines + 1, Seconds(budget)) : Pack(1, now);
    if (fShared->budget.compare_exchange_weak(budget, next, std::memory_order_relaxed)) break;
  }
  return {true, fShared->unlogged.exchange(0, std::memory_order_relaxed)};
}

}  // namespace nemvo::platform
