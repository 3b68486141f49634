#pragma once
// Categories of SQL trace messages, and sets of them.
#include <cstdint>
#include <initializer_list>

namespace nemvo {

enum class TTraceFlag : int32_t {
  tfQPrepare,
  tfQExecute,
  tfQFetch,
  tfError,
  tfStmt,
  tfConnect,
  tfTransact,
  tfBlob,
  tfService,
  tfMisc,
};
inline constexpr int TraceFlagCount = 10;

// The category's name as trace readers show it ("Error" for tfError);
// "Unknown" for an ordinal outside the enumeration.
const char* TraceFlagName(int32_t ordinal);

class TTraceFlags {
 public:
  constexpr TTraceFlags() = default;
  constexpr TTraceFlags(std::initializer_list<TTraceFlag> flags) {
    for (TTraceFlag f : flags) Include(f);
  }
  static constexpr TTraceFlags All() {
    TTraceFlags all;
    all.fBits = (1u << TraceFlagCount) - 1;
    return all;
  }
  constexpr bool Contains(TTraceFlag flag) const { return (fBits & Bit(flag)) != 0; }
  constexpr bool Empty() const { return fBits == 0; }
  constexpr void Include(TTraceFlag flag) { fBits |= Bit(flag); }
  constexpr void Exclude(TTraceFlag flag) { fBits &= ~Bit(flag); }
  constexpr bool operator==(const TTraceFlags&) const = default;

 private:
  static constexpr uint32_t Bit(TTraceFlag flag) { return 1u << static_cast<int>(flag); }
  uint32_t fBits = 0;
};

}  // namespace nemvo
