#pragma once
// The template scanner: cuts an input stream into tokens while copying what
// lies between them to an output stream.
//
// The input is read into one 4096-byte buffer. A refill always stops at a line
// boundary (or the true end of the input), so no token is ever cut by it, and
// a NUL sentinel at the scan end lets every scanning loop test one byte only.
// A line that does not fit the buffer is an error ("Line too long").
#include <cstdint>
#include <memory>
#include <string>

#include "base/Stream.h"

namespace nemvo {

// A token's kind: EndToken, WordToken, or the code (33 to 255) of the single
// character the token is.
using TTokenKind = unsigned char;

class TCopyParser {
 public:
  static constexpr int ScanBufferSize = 4096;
  static constexpr TTokenKind EndToken = 0;
  // A letter A-Z/a-z or "_", then letters, digits and "_".
  static constexpr TTokenKind WordToken = 1;

  // Reads the first token; the blanks before it are copied to `output`. Neither
  // stream is owned; without an output, copying writes nothing.
  TCopyParser(TStream& input, TStream* output);
  // The same, copying onto the end of `output` (not owned).
  TCopyParser(TStream& input, std::string& output);
  // Leaves the input stream just after what was consumed: at the start of the
  // current token.
  ~TCopyParser();
  TCopyParser(const TCopyParser&) = delete;
  TCopyParser& operator=(const TCopyParser&) = delete;

  // Passes the blanks (bytes 1 to 32) at the scan position, writing them to
  // the output when `copyBlanks`, then reads the next token without writing it.
  TTokenKind Advance(bool copyBlanks);
  // The same, with the blanks passed appended to `passedBlanks` instead of
  // being written.
  TTokenKind Advance(std::string& passedBlanks);
  // Writes the current token's text to the output.
  void CopyToken();
  // Copies text up to the next "<" that may open a transparent tag, that is
  // one followed (after blanks) by "#" or by the end of the buffered text, and
  // returns with that "<" as the current token, or at EndToken. Every other
  // "<" is copied with the blanks after it, and a "<" right after it as text:
  // the output is what copying token by token would give, done in large runs.
  TTokenKind CopyToTagStart();
  // The current token's text; empty at EndToken.
  std::string TokenText() const;
  // Reads on until the token `stop`, outside quotes as far as `stop` allows,
  // and returns the exact input text in between; writes nothing. Afterwards
  // `stop` (or EndToken) is the current token. `stop` is a single character
  // that is not a letter, digit or "_".
  std::string CollectUntil(TTokenKind stop);

  TTokenKind Token() const { return fToken; }
  // 1 at the start; one more for every line feed passed.
  int SourceLine() const { return fSourceLine; }

 private:
  enum class TBlanks { Skip, Copy, Collect };
  void PassBlanks(TBlanks mode, std::string* collected);
  void ReadToken();
  void Refill();
  void Emit(const char* from, const char* to);
  void Start();

  TStream& fInput;
  TStream* fOutput = nullptr;
  std::string* fOutputText = nullptr;
  std::unique_ptr<char[]> fBuffer;  // ScanBufferSize bytes, and padding for wide reads
  char* fFillEnd;     // just after the last byte read into the buffer
  char* fBufferEnd;
  char* fPosition;    // the scan position
  char* fScanEnd;     // where the sentinel NUL stands
  char* fTokenStart;
  int fSourceLine = 1;
  char fSavedChar = 0;  // the byte the sentinel covers
  TTokenKind fToken = EndToken;
};

}  // namespace nemvo
