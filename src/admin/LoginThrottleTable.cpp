#include "admin/LoginThrottleTable.h"

#include <algorithm>
#include <cstring>

namespace nemvo {

namespace {

constexpr char kMagic[8] = {'N', 'V', 'L', 'O', 'G', 'I', 'N', '1'};
constexpr uint32_t kInUse = 0x4e564c31;
// Far beyond any limit a configuration sets; a larger count is garbage.
constexpr uint32_t kMaxFailures = 1u << 20;

uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

uint64_t Hash(uint64_t seed, const void* data, size_t size) {
  uint64_t h = 0xcbf29ce484222325ULL ^ seed;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) h = (h ^ bytes[i]) * 0x100000001b3ULL;
  return Mix(h);
}

}  // namespace

struct TLoginThrottleTable::Record {
  TClientKey key{};
  int64_t lastFailure = 0;
  int64_t blockedUntil = 0;
  uint32_t failures = 0;
  uint32_t inUse = 0;
  uint64_t check = 0;
};

TLoginThrottleTable::TLoginThrottleTable(std::span<std::byte> block, const TLoginThrottleSettings& settings,
                                         uint64_t seed)
    : fBlock(block.first(kSize)), fSettings(settings) {
  static_assert(sizeof(Record) == kRecordSize);
  uint64_t stored[2];
  std::memcpy(stored, fBlock.data() + sizeof kMagic, sizeof stored);
  if (std::memcmp(fBlock.data(), kMagic, sizeof kMagic) == 0 && stored[1] == Mix(stored[0] ^ kInUse)) {
    fSeed = stored[0];
    return;
  }
  // New, or left half made by a process that was killed: the magic goes in
  // last, so a table is never taken for made before it is.
  std::memset(fBlock.data(), 0, fBlock.size());
  fSeed = seed;
  const uint64_t header[2] = {seed, Mix(seed ^ kInUse)};
  std::memcpy(fBlock.data() + sizeof kMagic, header, sizeof header);
  std::memcpy(fBlock.data(), kMagic, sizeof kMagic);
}

int64_t TLoginThrottleTable::Backoff(int64_t failures) const {
  const int64_t doublings = std::max<int64_t>(0, failures - fSettings.failures);
  int64_t wait = std::max<int64_t>(fSettings.backoff, 0);
  for (int64_t i = 0; i < doublings && wait < fSettings.backoffMax; ++i) wait *= 2;
  return std::min(wait, fSettings.backoffMax);
}

bool TLoginThrottleTable::Forgotten(const Record& record, int64_t now) const {
  return now - std::max(record.lastFailure, record.blockedUntil) > fSettings.window;
}

bool TLoginThrottleTable::Read(size_t slot, Record& record) const {
  std::memcpy(&record, fBlock.data() + kHeaderSize + slot * kRecordSize, kRecordSize);
  return record.inUse == kInUse && record.check == Hash(fSeed, &record, offsetof(Record, check));
}

void TLoginThrottleTable::Write(size_t slot, const Record& record) {
  Record out = record;
  out.inUse = kInUse;
  out.check = Hash(fSeed, &out, offsetof(Record, check));
  std::memcpy(fBlock.data() + kHeaderSize + slot * kRecordSize, &out, kRecordSize);
}

void TLoginThrottleTable::Free(size_t slot) {
  std::memset(fBlock.data() + kHeaderSize + slot * kRecordSize, 0, kRecordSize);
}

bool TLoginThrottleTable::Find(const TClientKey& client, int64_t now, Record& record, size_t& slot) const {
  const size_t first = (Hash(fSeed, client.data(), client.size()) % kSets) * kWays;
  // Where a new record goes when the client has none: a free place, else
  // one whose client is forgotten, else the one whose client was heard of
  // longest ago, those made to wait last.
  size_t victim = first;
  int victimRank = -1;
  int64_t victimAge = 0;
  for (size_t way = 0; way < kWays; ++way) {
    const size_t candidate = first + way;
    Record r;
    int rank;
    int64_t age = 0;
    if (!Read(candidate, r)) {
      rank = 3;
    } else if (r.key == client) {
      record = r;
      slot = candidate;
      // A record is held to what these settings allow from now, whatever
      // was written in it.
      record.failures = std::min(record.failures, kMaxFailures);
      record.lastFailure = std::min(record.lastFailure, now);
      record.blockedUntil = std::min(record.blockedUntil, now + fSettings.backoffMax);
      return true;
    } else if (Forgotten(r, now)) {
      rank = 2;
    } else {
      rank = now >= r.blockedUntil ? 1 : 0;
      age = now - std::max(r.lastFailure, r.blockedUntil);
    }
    if (rank > victimRank || (rank == victimRank && age > victimAge)) {
      victim = candidate;
      victimRank = rank;
      victimAge = age;
    }
  }
  slot = victim;
  record = Record{};
  record.key = client;
  return false;
}

int64_t TLoginThrottleTable::Admit(const TClientKey& client, int64_t now) {
  if (fSettings.failures <= 0) return 0;
  Record r;
  size_t slot = 0;
  Find(client, now, r, slot);
  if (r.failures > 0 && Forgotten(r, now)) {
    r.failures = 0;
    r.blockedUntil = 0;
  }
  if (now < r.blockedUntil) return r.blockedUntil - now;
  ++r.failures;
  r.lastFailure = now;
  // Counted as refused until it is settled: the attempt that reaches the
  // limit makes the next one wait already.
  if (r.failures >= fSettings.failures) r.blockedUntil = now + Backoff(r.failures);
  Write(slot, r);
  return 0;
}

void TLoginThrottleTable::Settle(const TClientKey& client, TLoginOutcome outcome, int64_t now) {
  if (fSettings.failures <= 0 || outcome == TLoginOutcome::Throttled) return;
  Record r;
  size_t slot = 0;
  const bool found = Find(client, now, r, slot);
  if (outcome == TLoginOutcome::Refused) {
    // Gone meanwhile (pushed out by other clients): counted anew.
    if (!found) r.failures = 1;
    // The wait runs from the refusal, which a slow server may have given
    // long after the attempt began.
    r.lastFailure = now;
    if (r.failures >= fSettings.failures) r.blockedUntil = std::max(r.blockedUntil, now + Backoff(r.failures));
    Write(slot, r);
    return;
  }
  if (!found) return;
  // Not a refusal after all: the count it was given goes again, and so does
  // a wait that this attempt alone brought about.
  if (r.failures > 0) --r.failures;
  if (r.failures < fSettings.failures) r.blockedUntil = 0;
  if (r.failures == 0 && r.blockedUntil == 0)
    Free(slot);
  else
    Write(slot, r);
}

}  // namespace nemvo
