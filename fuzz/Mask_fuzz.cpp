// Path masks: any text compiles to a mask or raises EMaskException with a
// position inside the text (or one past it); a compiled mask decides every
// text exactly as the plain backtracking matcher does.
//
// Input: the mask text (libFuzzer's length-prefixed string), then the text.
// The backtracking matcher takes time exponential in the number of "*" steps,
// so it is asked only when its work stays small; the linear matcher is asked
// always.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "web/Mask.h"
#include "web/MaskBacktracking.h"

namespace {

// An upper bound of the placements backtracking can try: the ways to pick
// one text position per "*" step, C(length + stars, stars), capped.
bool BacktrackingIsCheap(size_t textLength, int stars) {
  constexpr double Cap = 200000;
  double ways = 1;
  for (int k = 1; k <= stars; ++k) {
    ways = ways * double(textLength + size_t(k)) / k;
    if (ways > Cap) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nemvo;
  using nemvo::fuzzing::Quoted;
  FuzzedDataProvider input(data, size);
  const std::string maskText = input.ConsumeRandomLengthString(256);
  const std::string text = input.ConsumeRemainingBytesAsString();

  std::unique_ptr<TMask> mask;
  try {
    mask = std::make_unique<TMask>(maskText);
  } catch (const EMaskException& e) {
    const std::string prefix = "'" + maskText + "' is an invalid mask at (";
    const std::string& message = e.Message();
    FUZZ_CHECK(message.starts_with(prefix) && message.ends_with(")"), "mask error message " + Quoted(message));
    const std::string position = message.substr(prefix.size(), message.size() - prefix.size() - 1);
    const long at = std::strtol(position.c_str(), nullptr, 10);
    FUZZ_CHECK(at >= 1 && size_t(at) <= maskText.size() + 1, "mask error position " + Quoted(message));
    return 0;
  }

  const int last = mask->StepCount() - 1;
  FUZZ_CHECK(last >= 0 && mask->Step(last).Kind == LiteralStep && mask->Step(last).Literal == 0,
             "the last step is not the end step: " + Quoted(maskText));
  int stars = 0;
  for (int i = 0; i <= last; ++i) {
    stars += mask->Step(i).SkipAhead;
    FUZZ_CHECK(i == last || mask->Step(i).Kind != LiteralStep || mask->Step(i).Literal != 0 ||
                   maskText.find('\0') != std::string::npos,
               "an end step before the end: " + Quoted(maskText));
  }
  FUZZ_CHECK(stars <= TMask::MaxStarRuns, "more \"*\" steps than the limit: " + Quoted(maskText));

  const bool accepted = mask->Accepts(text);
  if (BacktrackingIsCheap(text.size(), stars)) {
    const bool expected = nemvo::testing::BacktrackingAccepts(*mask, text);
    FUZZ_CHECK(accepted == expected, "mask " + Quoted(maskText) + (accepted ? " accepts " : " refuses ") +
                                         Quoted(text) + "; backtracking says the opposite");
  }
  // Compiled once, asked again: the same answer.
  FUZZ_CHECK(mask->Accepts(text) == accepted, "a second Accepts differs: " + Quoted(maskText));
  return 0;
}
