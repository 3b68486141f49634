#pragma once
// A 64-bit finalizer that spreads every input bit over the whole word (the
// one of SplitMix64): for hash tables whose keys an outsider chooses, mixed
// with a secret seed, and for checksums of records in shared memory.
#include <cstdint>

namespace nemvo {

constexpr uint64_t MixBits(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

}  // namespace nemvo
