#pragma once
// Whole numbers written by people: in the configuration file and on the
// command line.
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace nemvo {

// The decimal number `text` is, when it is one from `least` to `most` and
// nothing else (no sign other than '-', no blanks, no fraction).
inline std::optional<int64_t> ParseWholeNumber(std::string_view text, int64_t least, int64_t most) {
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < least || value > most)
    return std::nullopt;
  return value;
}

}  // namespace nemvo
