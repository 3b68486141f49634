#include "base/LogField.h"

namespace nemvo {

std::string LogField(std::string_view text, size_t limit) {
  static constexpr char kHex[] = "0123456789abcdef";
  text = text.substr(0, limit);
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b > 0x20 && b < 0x7f && c != '"' && c != '\'' && c != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xf];
    }
  }
  return out;
}

}  // namespace nemvo
