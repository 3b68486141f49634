#pragma once
// A field of a log line that administrators and tools such as fail2ban read
// (the login log, the pool's access and slow logs): whatever a visitor sent,
// it stays one field of printable ASCII. A byte outside 0x21-0x7E, a quote or
// a backslash is written "\xHH" (two lowercase hex digits); an empty field is
// written "-".
#include <cstddef>
#include <string>
#include <string_view>

namespace nemvo {

// `text` cut at `limit` bytes (before escaping) and escaped as above; empty
// stays empty.
std::string LogField(std::string_view text, size_t limit);

// The same, "-" for nothing.
inline std::string LogFieldOrDash(std::string_view text, size_t limit) {
  return text.empty() ? std::string("-") : LogField(text, limit);
}

}  // namespace nemvo
