// Path masks: any text compiles to a mask or raises EMaskException, exactly
// when and where a separate reading of the mask text (tests/web/
// MaskReference.h) finds it invalid; a compiled mask decides every text as
// that reading does.
//
// Input: the mask text (libFuzzer's length-prefixed string), then the text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "web/Mask.h"
#include "web/MaskReference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nemvo;
  using nemvo::fuzzing::Quoted;
  FuzzedDataProvider input(data, size);
  const std::string maskText = input.ConsumeRandomLengthString(256);
  const std::string text = input.ConsumeRemainingBytesAsString();
  const nemvo::testing::MaskReference reference(maskText);

  std::unique_ptr<TMask> mask;
  try {
    mask = std::make_unique<TMask>(maskText);
  } catch (const EMaskException& e) {
    FUZZ_CHECK(reference.ErrorAt().has_value(), "mask " + Quoted(maskText) + " refused as " + Quoted(e.Message()) +
                                                    "; the reference compiles it");
    const std::string expected =
        "'" + maskText + "' is an invalid mask at (" + std::to_string(*reference.ErrorAt()) + ")";
    FUZZ_CHECK(e.Message() == expected, "mask error " + Quoted(e.Message()) + ", expected " + Quoted(expected));
    return 0;
  }
  FUZZ_CHECK(!reference.ErrorAt().has_value(), "mask " + Quoted(maskText) + " compiled; the reference fails it at " +
                                                   std::to_string(reference.ErrorAt().value_or(0)));

  const bool accepted = mask->Accepts(text);
  FUZZ_CHECK(accepted == reference.Accepts(text), "mask " + Quoted(maskText) + (accepted ? " accepts " : " refuses ") +
                                                      Quoted(text) + "; the reference says the opposite");
  // Compiled once, asked again: the same answer.
  FUZZ_CHECK(mask->Accepts(text) == accepted, "a second Accepts differs: " + Quoted(maskText));
  return 0;
}
