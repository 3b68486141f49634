#include "base/HTMLEscape.h"

namespace nemvo {

void AppendHTMLEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
}

std::string HTMLEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendHTMLEscaped(out, text);
  return out;
}

}  // namespace nemvo
