#include "templates/CopyParser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// FindTagStart reads 16 bytes at a time, and the byte after them, from at
// most the sentinel on; this much room after the buffer keeps every such read
// inside the allocation.
constexpr int ScanPadding = 32;

// The line feeds in [p, end).
int CountLineFeeds(const char* p, const char* end) {
  int count = 0;
#if defined(__SSE2__)
  // Byte lanes count up to 255 blocks, then fold into the total.
  while (end - p >= 16) {
    const long blocks = std::min<long>((end - p) / 16, 255);
    __m128i lanes = _mm_setzero_si128();
    for (long i = 0; i < blocks; ++i, p += 16)
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                                 _mm_set1_epi8('\n')));
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    count += _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
  }
#endif
  for (; p < end; ++p) count += *p == '\n';
  return count;
}

// From `p`, the first "<" that may open a transparent tag, or the first NUL,
// whichever comes first; a NUL (the sentinel) is always found. A "<" may open
// a tag when, after the blanks that follow it, comes "#" or a NUL (then the
// caller must look further). Any other "<" is text, and so are the blanks
// after it and a "<" right after those, as the token-by-token copy treats
// them.
char* FindTagStart(char* p) {
  for (;;) {
#if defined(__SSE2__)
    constexpr int Width = 16;
    // Stops: every NUL, and every "<" whose next byte is a blank, "#", "<" or
    // NUL; a "<" followed by anything else is plain text.
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i blankAfter = _mm_cmpeq_epi8(_mm_max_epu8(after, _mm_set1_epi8(32)), _mm_set1_epi8(32));
    const __m128i specialAfter = _mm_or_si128(
        blankAfter, _mm_or_si128(_mm_cmpeq_epi8(after, _mm_set1_epi8('#')), _mm_cmpeq_epi8(after, _mm_set1_epi8('<'))));
    const __m128i lessThan = _mm_and_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('<')), specialAfter);
    unsigned stops =
        unsigned(_mm_movemask_epi8(_mm_or_si128(lessThan, _mm_cmpeq_epi8(block, _mm_setzero_si128()))));
#else
    constexpr int Width = 1;
    unsigned stops = *p == '<' || *p == '\0' ? 1u : 0u;
#endif
    char* resume = nullptr;
    while (stops) {
      char* at = p + std::countr_zero(stops);
      if (*at == '\0') return at;
      const unsigned char next = At(at + 1);
      if (next > 32 && next != '#' && next != '<') {  // the common case: "<td" and the like
        stops &= stops - 1;
        continue;
      }
      char* q = at + 1;
      while (At(q) - 1u < 32u) ++q;  // blanks: bytes 1 to 32
      if (*q == '#' || *q == '\0') return at;
      resume = *q == '<' ? q + 1 : q;
      break;
    }
    p = resume ? resume : p + Width;
  }
}

}  // namespace

TCopyParser::TCopyParser(TStream& input, TStream* output) : fInput(input), fOutput(output) { Start(); }

TCopyParser::TCopyParser(TStream& input, std::string& output) : fInput(input), fOutputText(&output) { Start(); }

void TCopyParser::Start() {
  fBuffer.reset(new char[ScanBufferSize + ScanPadding]());
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
  if (to <= from) return;
  if (fOutputText) {
    fOutputText->append(from, size_t(to - from));
  } else if (fOutput) {
    fOutput->WriteString(std::string_view(from, size_t(to - from)));
  }
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

TTokenKind TCopyParser::CopyToTagStart() {
  if (fToken == EndToken) return fToken;
  char* run = fTokenStart;
  for (;;) {
    char* at = FindTagStart(run);
    // Line feeds in text are blanks, never in a token: all of them count.
    fSourceLine += CountLineFeeds(run, at);
    Emit(run, at);
    if (*at == '<') {
      fTokenStart = at;
      fPosition = at + 1;
      fToken = '<';
      return fToken;
    }
    fPosition = at;
    // The sentinel: go on after a refill. A NUL before it ends the input.
    if (at == fScanEnd) {
      Refill();
      run = fPosition;
      if (*run != '\0') continue;
    }
    fTokenStart = fPosition;
    fToken = EndToken;
    return fToken;
  }
}

std::string TCopyParser::CollectUntil(TTokenKind stop) {
  // Byte by byte: words never hold quotes or `stop`, so every byte that is not
  // a blank starts a token or lies inside a word that cannot matter here.
  std::string result;
  if (fToken == EndToken) return result;
  bool inSingle = false;
  bool inDouble = false;
  char* p = fPosition;
  char* run = p;
  for (;; ++p) {
    const unsigned char c = At(p);
    if (c == 0) {
      result.append(run, size_t(p - run));
      fPosition = p;
      if (p == fScanEnd) {
        Refill();
        p = run = fPosition;
        if (*p != '\0') {
          --p;  // the loop steps on to the buffer's first byte
          continue;
        }
      }
      fTokenStart = fPosition;
      fToken = EndToken;
      return result;
    }
    if (c == '\n') {
      ++fSourceLine;
    } else if (c == '"') {
      inDouble = !inSingle && !inDouble;
    } else if (c == '\'') {
      inSingle = !inSingle && !inDouble;
    }
    if (c == stop && ((c == '"' && !inSingle) || (c == '\'' && !inDouble) || (!inSingle && !inDouble))) {
      result.append(run, size_t(p - run));
      fTokenStart = p;
      fPosition = p + 1;
      fToken = stop;
      return result;
    }
  }
}

}  // namespace nemvo
