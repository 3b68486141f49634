#include "templates/CopyParser.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/Exception.h"

namespace nemvo {

namespace {

constexpr std::array<bool, 256> MakeWordTable(bool withDigits) {
  std::array<bool, 256> t{};
  for (int c = 'A'; c <= 'Z'; ++c) t[size_t(c)] = true;
  for (int c = 'a'; c <= 'z'; ++c) t[size_t(c)] = true;
  t['_'] = true;
  if (withDigits)
    for (int c = '0'; c <= '9'; ++c) t[size_t(c)] = true;
  return t;
}
constexpr std::array<bool, 256> WordStart = MakeWordTable(false);
constexpr std::array<bool, 256> WordPart = MakeWordTable(true);

inline unsigned char At(const char* p) { return static_cast<unsigned char>(*p); }

}  // namespace

TCopyParser::TCopyParser(TStream& input, TStream* output)
    : fInput(input), fOutput(output), fBuffer(new char[ScanBufferSize]) {
  fBuffer[0] = '\0';
  fFillEnd = fPosition = fScanEnd = fTokenStart = fBuffer.get();
  fBufferEnd = fBuffer.get() + ScanBufferSize;
  Advance(true);
}

TCopyParser::~TCopyParser() {
  // The stream stands at the fill end; hand back what was read but not used.
  try {
    if (fTokenStart != fFillEnd) fInput.Seek(fTokenStart - fFillEnd, soCurrent);
  } catch (...) {
    // A stream that cannot seek back keeps its position; nothing more to do.
  }
}

void TCopyParser::Emit(const char* from, const char* to) {
  if (fOutput && to > from) fOutput->WriteString(std::string_view(from, size_t(to - from)));
}

void TCopyParser::Refill() {
  *fScanEnd = fSavedChar;
  const size_t keep = size_t(fFillEnd - fPosition);
  std::memmove(fBuffer.get(), fPosition, keep);
  fFillEnd = fBuffer.get() + keep;
  fPosition = fTokenStart = fBuffer.get();
  // A stream may hand over less than asked before its end; fill up.
  while (fFillEnd < fBufferEnd) {
    int64_t n = fInput.Read(fFillEnd, fBufferEnd - fFillEnd);
    if (n <= 0) break;
    fFillEnd += n;
  }
  fScanEnd = fFillEnd;
  if (fFillEnd == fBufferEnd) {
    // Stop at the last line boundary so that no token is cut; the rest waits
    // for the next refill.
    char* p = fBuffer.get() + ScanBufferSize - 2;
    while (p > fBuffer.get() && *p != '\n') --p;
    if (p == fBuffer.get())
      throw EParserError(Format("%s on line %d", "Line too long", fSourceLine));
    fScanEnd = p + 1;
  }
  fSavedChar = *fScanEnd;
  *fScanEnd = '\0';
}

void TCopyParser::PassBlanks(TBlanks mode, std::string* collected) {
  char* p = fPosition;
  char* run = p;
  auto flush = [&] {
    if (mode == TBlanks::Copy) Emit(run, p);
    else if (mode == TBlanks::Collect) collected->append(run, size_t(p - run));
  };
  for (;;) {
    unsigned char c = At(p);
    if (c == 0) {
      flush();
      fPosition = p;
      // A NUL before the sentinel is part of the input and ends it there.
      if (p != fScanEnd) return;
      Refill();
      p = run = fPosition;
      if (*p == '\0') return;
      continue;
    }
    if (c > 32) break;
    if (c == '\n') ++fSourceLine;
    ++p;
  }
  flush();
  fPosition = p;
}

void TCopyParser::ReadToken() {
  char* p = fPosition;
  fTokenStart = p;
  unsigned char c = At(p);
  if (c == 0) {
    fToken = EndToken;
    return;
  }
  ++p;
  if (WordStart[c]) {
    while (WordPart[At(p)]) ++p;  // the sentinel NUL ends every word
    fToken = WordToken;
  } else {
    fToken = c;
  }
  fPosition = p;
}

TTokenKind TCopyParser::Advance(bool copyBlanks) {
  PassBlanks(copyBlanks ? TBlanks::Copy : TBlanks::Skip, nullptr);
  ReadToken();
  return fToken;
}

TTokenKind TCopyParser::Advance(std::string& passedBlanks) {
  PassBlanks(TBlanks::Collect, &passedBlanks);
  ReadToken();
  return fToken;
}

void TCopyParser::CopyToken() { Emit(fTokenStart, fPosition); }

std::string TCopyParser::TokenText() const { return std::string(fTokenStart, size_t(fPosition - fTokenStart)); }

TTokenKind TCopyParser::CopyToToken(TTokenKind stop) {
  // Tokens never hold `stop`, blanks or line feeds, so copying token by token
  // up to `stop` copies exactly the bytes up to the first `stop` or NUL.
  char* p = fTokenStart;
  while (fToken != EndToken && fToken != stop) {
    char* run = p;
    char* limit = fScanEnd;  // the sentinel: a NUL stands there
    char* found = static_cast<char*>(std::memchr(p, stop, size_t(limit - p)));
    char* end = found ? found : limit;
    if (char* nul = static_cast<char*>(std::memchr(p, '\0', size_t(end - p)))) end = nul;
    fSourceLine += int(std::count(run, end, '\n'));
    Emit(run, end);
    p = end;
    if (end == found) {
      fTokenStart = found;
      fPosition = found + 1;
      fToken = stop;
    } else if (end != limit) {  // a NUL inside the input
      fTokenStart = fPosition = end;
      fToken = EndToken;
    } else {
      fPosition = end;
      Refill();
      p = fPosition;
      if (*p == '\0') fToken = EndToken;
    }
  }
  return fToken;
}

std::string TCopyParser::CollectUntil(TTokenKind stop) {
  std::string result;
  bool inSingle = false;
  bool inDouble = false;
  while (fToken != EndToken) {
    PassBlanks(TBlanks::Collect, &result);
    ReadToken();
    if (fToken == EndToken) break;
    if (fToken == '"') {
      inDouble = !inSingle && !inDouble;
    } else if (fToken == '\'') {
      inSingle = !inSingle && !inDouble;
    }
    if (fToken == stop &&
        ((fToken == '"' && !inSingle) || (fToken == '\'' && !inDouble) || (!inSingle && !inDouble)))
      break;
    result.append(fTokenStart, size_t(fPosition - fTokenStart));
  }
  return result;
}

}  // namespace nemvo
