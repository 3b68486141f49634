#pragma once
// The HTTP status of an answer as the web server will read it from the
// answer's head: its "Status: NNN" line, else 200; 0 for no answer at all
// (the request cycle writes nothing where the web server is to answer with
// its own error, which the logs then do not count as a success). Fed the answer's bytes as
// they are written; only the head is looked at, and no more of it is kept
// than a head of a few kilobytes needs.
#include <cstddef>
#include <string>
#include <string_view>

namespace nemvo {

class TFastCGIAnswerStatus {
 public:
  void Feed(std::string_view bytes);
  // The status found so far: 0 before any byte, then 200 until a Status
  // line has been read.
  int Status() const { return fAnswered ? fStatus : 0; }

 private:
  // A head longer than this is no head a web server takes.
  static constexpr size_t kMaxHead = 8 * 1024;

  bool fAnswered = false;
  bool fDone = false;
  int fStatus = 200;
  size_t fSeen = 0;
  std::string fLine;  // the head's line being read
};

}  // namespace nemvo
