#include "cgi/FastCGIAnswerStatus.h"

#include <cctype>

namespace nemvo {

namespace {

// The status of a head line "Status: NNN ...", or 0 when the line is another.
int StatusOfLine(std::string_view line) {
  constexpr std::string_view kName = "status:";
  if (line.size() < kName.size()) return 0;
  for (size_t i = 0; i < kName.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != kName[i]) return 0;
  line.remove_prefix(kName.size());
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  if (line.size() < 3) return 0;
  int status = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) return 0;
    status = status * 10 + (line[i] - '0');
  }
  if (line.size() > 3 && std::isdigit(static_cast<unsigned char>(line[3]))) return 0;
  return status >= 100 ? status : 0;
}

}  // namespace

void TFastCGIAnswerStatus::Feed(std::string_view bytes) {
  fAnswered = fAnswered || !bytes.empty();
  while (!fDone && !bytes.empty()) {
    const size_t room = kMaxHead - fSeen;
    const size_t end = bytes.find('\n');
    const size_t take = end == std::string_view::npos ? bytes.size() : end + 1;
    if (take > room) {
      fDone = true;
      return;
    }
    fLine.append(bytes.data(), take);
    fSeen += take;
    bytes.remove_prefix(take);
    if (fLine.back() != '\n') continue;
    std::string_view line(fLine);
    line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      fDone = true;  // the head's end: no Status line
    } else if (const int status = StatusOfLine(line)) {
      fStatus = status;
      fDone = true;
    }
    fLine.clear();
  }
}

}  // namespace nemvo
