#pragma once
// What the fuzz targets share: a failed expectation is a finding, reported
// with the bytes involved and ended by abort() so that libFuzzer keeps the
// input that caused it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace nemvo::fuzzing {

// The bytes as a C string literal, so a report can be pasted into a test.
inline std::string Quoted(std::string_view bytes, size_t limit = 400) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c >= 32 && c < 127) {
      out += char(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
      out += "\"\"";  // ends the escape: the next byte may be a hex digit
    }
  }
  if (bytes.size() > limit) out += "...";
  return out + "\"";
}

[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "\n*** fuzz check failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace nemvo::fuzzing

// The message is only built when the check fails.
#define FUZZ_CHECK(condition, message)                   \
  do {                                                   \
    if (!(condition)) ::nemvo::fuzzing::Fail(message);   \
  } while (0)
