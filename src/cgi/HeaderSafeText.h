#pragma once
// Texts that go into the head of a CGI answer (the status line, header
// values). A CR or LF inside one would end its line, or the whole head, early
// and let the text write headers or a body of its own.
#include <string>
#include <string_view>

namespace nemvo {

// The text with every control byte (below 0x20, and 0x7F) turned into a
// blank; all other bytes, those above 127 included, stay.
std::string HeaderSafeText(std::string_view text);

}  // namespace nemvo
