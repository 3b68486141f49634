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

namespace nemvo::fuzzing {
namespace {

// A stream over a text that gives at most `chunk` bytes per read.
class TTrickleStream : public TStringStream {
 public:
  TTrickleStream(std::string data, int64_t chunk) : TStringStream(std::move(data)), fChunk(chunk) {}
  int64_t Read(void* buffer, int64_t count) override { return TStringStream::Read(buffer, std::min(count, fChunk)); }

 private:
  int64_t fChunk;
};

// The expansion's result: the page, or the class and message of the error.
struct Outcome {
  std::string page;
  std::string error;
  std::string message;
  bool operator==(const Outcome&) const = default;
};

std::string Replacement(const std::string& tag, TStringList& params) {
  std::string out = "[" + tag;
  for (const std::string& line : params.Lines()) out += "|" + line;
  return out + "]";
}

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

// The expansion done the plain way, token by token over the text held whole
// (so without the scanner's buffer, its refills and its fast scanning), up
// to the first NUL byte. Blanks passed after a "<" that opens no tag are
// written back, as the scanner does.
class TReferenceExpansion {
 public:
  TReferenceExpansion(std::string_view text, bool stripQuotes, bool withHandler)
      : fText(text.substr(0, text.find('\0'))), fStrip(stripQuotes), fHandler(withHandler) {}

  Outcome Run() {
    try {
      Expand();
      return {fOut, {}, {}};
    } catch (const EWebException& e) {
      return {{}, e.ClassName(), e.Message()};
    } catch (const EConvertError& e) {
      return {{}, e.ClassName(), e.Message()};
    }
  }

 private:
  static constexpr int End = -1, Word = -2;

  static bool Blank(char c) { return static_cast<unsigned char>(c) - 1u < 32u; }
  static bool WordStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
  static bool WordPart(char c) { return WordStart(c) || (c >= '0' && c <= '9'); }

  std::string PassBlanks() {
    const size_t start = fPos;
    while (fPos < fText.size() && Blank(fText[fPos])) ++fPos;
    return std::string(fText.substr(start, fPos - start));
  }
  void ReadToken() {
    fTokenStart = fPos;
    if (fPos >= fText.size()) {
      fToken = End;
      return;
    }
    const char c = fText[fPos++];
    if (WordStart(c)) {
      while (fPos < fText.size() && WordPart(fText[fPos])) ++fPos;
      fToken = Word;
    } else {
      fToken = static_cast<unsigned char>(c);
    }
  }
  std::string TokenText() const { return std::string(fText.substr(fTokenStart, fPos - fTokenStart)); }
  void Advance(bool copy) {
    std::string blanks = PassBlanks();
    if (copy) fOut += blanks;
    ReadToken();
  }

  std::string CollectUntilGreater() {
    std::string result;
    if (fToken == End) return result;
    bool inSingle = false, inDouble = false;
    for (;;) {
      result += PassBlanks();
      ReadToken();
      if (fToken == End) return result;
      if (fToken == '"') inDouble = !inSingle && !inDouble;
      if (fToken == '\'') inSingle = !inSingle && !inDouble;
      if (fToken == '>' && !inSingle && !inDouble) return result;
      result += TokenText();
    }
  }

  void Expand() {
    static const TCharSet Space = CharSet(" ");
    Advance(true);
    for (;;) {
      while (fToken != End && fToken != '<') {
        fOut += TokenText();
        Advance(true);
      }
      if (fToken == End) return;
      std::string blanks = PassBlanks();
      ReadToken();
      if (fToken == '#') {
        Advance(false);
        const std::string tag = TokenText();
        const std::string collected = CollectUntilGreater();
        std::string_view params = collected;
        while (!params.empty() && static_cast<unsigned char>(params.front()) <= 32) params.remove_prefix(1);
        while (!params.empty() && static_cast<unsigned char>(params.back()) <= 32) params.remove_suffix(1);
        TStringList list;
        SplitHTTPFields(Space, Space, params, list, fStrip);
        if (fHandler) fOut += Replacement(tag, list);
        Advance(true);
      } else {
        fOut += "<" + blanks;
        if (fToken == '<') {
          fOut += TokenText();
          Advance(true);
        }
      }
    }
  }
  std::string_view fText;
  bool fStrip, fHandler;
  size_t fPos = 0, fTokenStart = 0;
  int fToken = End;
  std::string fOut;
};

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
