// Template expansion over any input, with and without quote stripping, with
// and without a tag handler.
//
// Input: one byte of settings (bit 0: strip quotes; bit 1: a tag handler;
// bits 2-7: how many bytes the stream hands over per read, 0 for all it is
// asked), then the template.
//
// Checks: only the scanner's and the decoding's errors escape; "Line too
// long" comes only for a line of 4095 bytes or more; without such lines the
// result is what the plain token-by-token expansion gives; a text without "<"
// (and without NUL bytes and overlong lines) comes out byte for byte, and so
// does one without "#"; a stream that hands over a few bytes at a time gives
// what a stream that hands over everything gives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "base/Exception.h"
#include "base/Stream.h"
#include "cgi/HTTPFields.h"
#include "cgi/WebException.h"
#include "templates/CopyParser.h"
#include "templates/ExpandTemplate.h"
#include "templates/TemplateReference.h"

namespace nemvo::fuzzing {
namespace {

using testing::Outcome;
using testing::Replacement;
using testing::TReferenceExpansion;

// A stream over a text that gives at most `chunk` bytes per read.
class TTrickleStream : public TStringStream {
 public:
  TTrickleStream(std::string data, int64_t chunk) : TStringStream(std::move(data)), fChunk(chunk) {}
  int64_t Read(void* buffer, int64_t count) override { return TStringStream::Read(buffer, std::min(count, fChunk)); }

 private:
  int64_t fChunk;
};

Outcome Expand(TStream& input, bool stripQuotes, bool withHandler) {
  try {
    return {ExpandTemplate(input, stripQuotes, withHandler ? TTagHandler(Replacement) : TTagHandler()), {}, {}};
  } catch (const EParserError& e) {
    return {{}, e.ClassName(), e.Message()};
  } catch (const EWebException& e) {
    return {{}, e.ClassName(), e.Message()};
  } catch (const EConvertError& e) {
    return {{}, e.ClassName(), e.Message()};
  }
}

// The length of the longest line, line feeds not counted.
size_t LongestLine(std::string_view text) {
  size_t longest = 0, start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    longest = std::max(longest, (end == std::string_view::npos ? text.size() : end) - start);
    if (end == std::string_view::npos) return longest;
    start = end + 1;
  }
}

}  // namespace
}  // namespace nemvo::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nemvo;
  using namespace nemvo::fuzzing;
  if (size == 0) return 0;
  const bool stripQuotes = data[0] & 1;
  const bool withHandler = data[0] & 2;
  const int64_t chunk = data[0] >> 2;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  TStringStream whole(text);
  const Outcome outcome = Expand(whole, stripQuotes, withHandler);
  if (chunk > 0) {
    TTrickleStream trickle(text, chunk);
    const Outcome trickled = Expand(trickle, stripQuotes, withHandler);
    FUZZ_CHECK(trickled == outcome, "reading " + std::to_string(chunk) + " bytes at a time changes the result for " +
                                        Quoted(text) + ": " + Quoted(trickled.page + trickled.message) + " instead of " +
                                        Quoted(outcome.page + outcome.message));
  }

  const size_t longest = LongestLine(text);
  const bool hasNul = text.find('\0') != std::string::npos;
  if (outcome.error == "EParserError") {
    FUZZ_CHECK(longest >= size_t(TCopyParser::ScanBufferSize - 1),
               "\"" + outcome.message + "\" with no line of 4095 bytes or more");
    FUZZ_CHECK(outcome.message.starts_with("Line too long on line "), "parser error " + Quoted(outcome.message));
  }
  if (!outcome.error.empty() && outcome.error != "EParserError")
    FUZZ_CHECK(text.find('#') != std::string::npos && text.find('%') != std::string::npos,
               outcome.error + " " + Quoted(outcome.message) + " without a tag holding \"%\": " + Quoted(text));

  if (longest < size_t(TCopyParser::ScanBufferSize - 1)) {
    const Outcome expected = TReferenceExpansion(text, stripQuotes, withHandler).Run();
    FUZZ_CHECK(outcome == expected, "expanding " + Quoted(text) + " gave " + Quoted(outcome.page) + " " + outcome.error +
                                        " " + Quoted(outcome.message) + " instead of " + Quoted(expected.page) + " " +
                                        expected.error + " " + Quoted(expected.message));
  }
  if (!hasNul && longest < size_t(TCopyParser::ScanBufferSize - 1)) {
    // Text outside tags is copied unchanged, so a text without tags is.
    if (text.find('<') == std::string::npos || text.find('#') == std::string::npos) {
      FUZZ_CHECK(outcome.error.empty() && outcome.page == text,
                 "a text without tags changed: " + Quoted(text) + " gave " + Quoted(outcome.page) + " " +
                     outcome.error + " " + Quoted(outcome.message));
    }
  }
  return 0;
}
