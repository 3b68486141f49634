#include "db/TraceDisplay.h"

namespace nemvo {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); }

}  // namespace

std::string DisplayTraceText(const std::string& text, bool raw) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (c == '\n' || c == '\t') {
      out += static_cast<char>(c);
    } else if (IsControl(c)) {
      out += "\\x";
      out += Hex[c >> 4];
      out += Hex[c & 0xF];
    } else if (c < 0x80 || raw) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace nemvo
