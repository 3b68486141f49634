#pragma once
// Template expansion done the plain way, token by token over the text held
// whole (so without the scanner's buffer, its refills and its fast
// scanning), up to the first NUL byte. It reads the template by the tag
// rules, not through the scanner, and renders each tag as
// "[name|line|line...]", so that the name and every parameter line show.
// Blanks passed after a "<" that opens no tag are written back, as the
// scanner does. Lines of 4095 bytes or more, which the scanner refuses, are
// not its concern.
#include <string>
#include <string_view>

#include "base/Exception.h"
#include "base/StringList.h"
#include "cgi/HTTPFields.h"
#include "cgi/WebException.h"

namespace nemvo::testing {

// The expansion's result: the page, or the class and message of the error.
struct Outcome {
  std::string page;
  std::string error;
  std::string message;
  bool operator==(const Outcome&) const = default;
};

inline std::string Replacement(const std::string& tag, TStringList& params) {
  std::string out = "[" + tag;
  for (const std::string& line : params.Lines()) out += "|" + line;
  return out + "]";
}

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

}  // namespace nemvo::testing
