#include "cgi/HeaderSafeText.h"

namespace nemvo {

std::string HeaderSafeText(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return out;
}

}  // namespace nemvo
