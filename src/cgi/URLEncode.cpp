#include "cgi/URLEncode.h"

namespace nemvo {

namespace {

bool Kept(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!': case '$': case '\'': case '(': case ')': case '*': case '-': case '.': case '@': case '_':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string URLEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (Kept(c)) {
      out += ch;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace nemvo
