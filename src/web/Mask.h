#pragma once
// Path masks: a wildcard pattern compiled once and matched against many
// texts. "*" stands for any run of characters, "?" for one character, and
// "[...]" for one character of a set ("[!...]" negates it, "a-z" gives a
// range). Letters A to Z compare without regard to case; every other byte
// compares exactly.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/Exception.h"

namespace nemvo {

// A mask text that does not compile: "'<mask>' is an invalid mask at (<pos>)".
NEMVO_EXCEPTION(EMaskException, Exception);

enum TMaskStepKind : uint8_t { LiteralStep, AnyCharStep, SetStep };

// One compiled step: it consumes one character of the text (the last step,
// a LiteralStep holding NUL, stands for the end of the text instead).
struct MaskStep {
  bool SkipAhead = false;  // a "*" stood before it: it may be found further on
  TMaskStepKind Kind = LiteralStep;
  bool Negated = false;     // SetStep only
  unsigned char Literal = 0;  // LiteralStep only; stored upper-cased
  std::array<uint64_t, 4> Set{};  // SetStep only; one bit per upper-cased byte

  bool SetHas(unsigned char c) const { return (Set[c >> 6] >> (c & 63)) & 1u; }
  void SetAdd(unsigned char c) { Set[c >> 6] |= uint64_t(1) << (c & 63); }
};

class TMask {
 public:
  // At most this many steps of a mask may follow a "*".
  static constexpr int MaxStarRuns = 30;

  // Compiles the mask; raises EMaskException when it is invalid.
  explicit TMask(std::string_view mask);
  ~TMask();
  TMask(const TMask&) = delete;
  TMask& operator=(const TMask&) = delete;

  // Whether the whole text fits the mask. Work is bounded by the text length
  // times the number of steps, however many "*" the mask holds.
  bool Accepts(std::string_view text) const;

  int StepCount() const { return fStepCount; }
  const MaskStep& Step(int index) const { return fSteps[size_t(index)]; }

  // The case folding of masks: a to z become A to Z, nothing else changes.
  static unsigned char UpCase(unsigned char c) { return (c >= 'a' && c <= 'z') ? (unsigned char)(c - 32) : c; }

 private:
  int fStepCount = 0;
  std::unique_ptr<MaskStep[]> fSteps;  // exactly fStepCount, the end step last
};

}  // namespace nemvo
