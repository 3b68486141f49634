#include "admin/LoginThrottleTable.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/BitMix.h"

namespace nemvo {

namespace {

constexpr char kMagic[8] = {'N', 'V', 'L', 'O', 'G', 'I', 'N', '2'};
constexpr uint32_t kInUse = 0x4e564c32;
// Far beyond any limit a configuration sets; a larger count is garbage.
constexpr uint32_t kMaxFailures = 1u << 20;

// The Firebird server's guard, as measured (bench/login_guard.sh): a user
// name's failures count while they come less than kServerGap seconds apart,
// and the one after kServerNameFailures is held; so is every failure once
// 16 came within kServerGap seconds. Its clock counts whole seconds, ours
// too, in another phase: a second more keeps on the safe side. Clients with
// refusals stop at kServerWideFailures, leaving room below 16 for those
// without.
constexpr int64_t kServerGap = 8;
constexpr int64_t kServerNameFailures = 3;
constexpr int64_t kServerWideFailures = 12;

// Failures of anyone per second, for the last kServerGap seconds: one
// bucket per second, by the second modulo their number.
struct Bucket {
  int64_t second;
  int64_t count;
};
constexpr size_t kBuckets = size_t(kServerGap);
constexpr size_t kBucketsOffset = 32;


uint64_t Hash(uint64_t seed, const void* data, size_t size) {
  uint64_t h = 0xcbf29ce484222325ULL ^ seed;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) h = (h ^ bytes[i]) * 0x100000001b3ULL;
  return MixBits(h);
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
                                         uint64_t (*newSeed)())
    : fBlock(block.first(kSize)), fSettings(settings) {
  static_assert(sizeof(Record) == kRecordSize);
  uint64_t stored[2];
  std::memcpy(stored, fBlock.data() + sizeof kMagic, sizeof stored);
  if (std::memcmp(fBlock.data(), kMagic, sizeof kMagic) == 0 && stored[1] == MixBits(stored[0] ^ kInUse)) {
    fSeed = stored[0];
    return;
  }
  // New, or left half made by a process that was killed: the magic goes in
  // last, so a table is never taken for made before it is.
  std::memset(fBlock.data(), 0, fBlock.size());
  const uint64_t seed = newSeed();
  fSeed = seed;
  static_assert(kBucketsOffset + kBuckets * sizeof(Bucket) <= kHeaderSize);
  const uint64_t header[2] = {seed, MixBits(seed ^ kInUse)};
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

TClientKey TLoginThrottleTable::NameKey(std::string_view user) const {
  std::string folded(user);
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  const uint64_t halves[2] = {Hash(fSeed, folded.data(), folded.size()), Hash(~fSeed, folded.data(), folded.size())};
  TClientKey key;
  std::memcpy(key.data(), halves, key.size());
  // A client's key has byte 8 zero (an IPv6 /64, an IPv4-mapped address).
  key[8] |= 1;
  return key;
}

int64_t TLoginThrottleTable::NameHeldFor(const Record& name, int64_t now) {
  // The server starts over after each held failure: every (n+1)th is held.
  const int64_t since = now - name.lastFailure;
  if (since > kServerGap || name.failures % (kServerNameFailures + 1) != kServerNameFailures) return 0;
  return kServerGap + 1 - since;
}

int64_t TLoginThrottleTable::ServerWideHeldFor(int64_t now) const {
  Bucket buckets[kBuckets];
  std::memcpy(buckets, fBlock.data() + kBucketsOffset, sizeof buckets);
  // Per second of the window, oldest first; what a dead writer left beyond
  // reason counts for nothing.
  int64_t counts[kBuckets] = {};
  int64_t total = 0;
  for (const Bucket& b : buckets) {
    const int64_t age = now - b.second;
    if (age < 0 || age >= kServerGap || b.count <= 0 || b.count > kMaxFailures) continue;
    counts[kServerGap - 1 - age] = b.count;
    total += b.count;
  }
  if (total < kServerWideFailures) return 0;
  // Until enough of the oldest seconds have left the window.
  for (int64_t i = 0; i < kServerGap; ++i) {
    total -= counts[i];
    if (total < kServerWideFailures) return i + 1;
  }
  return kServerGap;
}

void TLoginThrottleTable::CountServerWide(int64_t second, int delta) {
  Bucket b;
  std::byte* at = fBlock.data() + kBucketsOffset + size_t(second % kServerGap) * sizeof(Bucket);
  std::memcpy(&b, at, sizeof b);
  if (b.second != second || b.count < 0 || b.count > kMaxFailures) {
    if (delta < 0) return;  // that second has left the window: nothing to take back
    b = {second, 0};
  }
  b.count = std::max<int64_t>(0, b.count + delta);
  std::memcpy(at, &b, sizeof b);
}

TLoginAdmission TLoginThrottleTable::Admit(const TClientKey& client, std::string_view user, int64_t now) {
  if (fSettings.failures <= 0) return {};
  Record r;
  size_t slot = 0;
  Find(client, now, r, slot);
  if (r.failures > 0 && Forgotten(r, now)) {
    r.failures = 0;
    r.blockedUntil = 0;
  }
  if (now < r.blockedUntil) return {r.blockedUntil - now, false};

  Record name;
  size_t nameSlot = 0;
  const TClientKey nameKey = NameKey(user);
  if (fSettings.serverGuard) {
    Find(nameKey, now, name, nameSlot);
    // A client refused lately waits while its failure would be held.
    if (r.failures > 0) {
      const int64_t wait = std::max(NameHeldFor(name, now), ServerWideHeldFor(now));
      if (wait > 0) return {wait, true};
    }
  }

  ++r.failures;
  r.lastFailure = now;
  // Counted as refused until it is settled: the attempt that reaches the
  // limit makes the next one wait already.
  if (r.failures >= fSettings.failures) r.blockedUntil = now + Backoff(r.failures);
  Write(slot, r);
  if (fSettings.serverGuard) {
    // As the server will count it if it fails.
    if (now - name.lastFailure >= kServerGap) name.failures = 0;
    ++name.failures;
    name.lastFailure = now;
    Write(nameSlot, name);
    CountServerWide(now, +1);
  }
  return {};
}

void TLoginThrottleTable::Settle(const TClientKey& client, std::string_view user, TLoginOutcome outcome,
                                 int64_t admitted, int64_t now) {
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
  // Not a refusal after all: the counts it was given go again, and so does
  // a wait that this attempt alone brought about.
  if (found) {
    if (r.failures > 0) --r.failures;
    if (r.failures < fSettings.failures) r.blockedUntil = 0;
    if (r.failures == 0 && r.blockedUntil == 0)
      Free(slot);
    else
      Write(slot, r);
  }
  if (fSettings.serverGuard) {
    Record name;
    size_t nameSlot = 0;
    // The server forgets a name's failures when it logs in; an error takes
    // back only this attempt's count.
    if (Find(NameKey(user), now, name, nameSlot) && name.failures > 0) {
      name.failures = outcome == TLoginOutcome::Accepted ? 0 : name.failures - 1;
      Write(nameSlot, name);
    }
    CountServerWide(admitted, -1);
  }
}

}  // namespace nemvo
