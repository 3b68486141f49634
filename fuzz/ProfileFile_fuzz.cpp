// The profile-file reader over any file text, any section and any key.
//
// Input: the section and the key (libFuzzer's length-prefixed strings), one
// byte of settings, then the file text. Settings: bit 0 writes a file that
// starts with the section and the key (followed by a value taken from the
// input) in front of the text, so the value must come back; bit 1 puts a
// UTF-8 byte order mark first; bits 2-7 choose the result buffer's size
// (0: the default).
//
// Checks: the result fits the buffer and is the default or a piece of the
// file; a key written first in the first section is found, trimmed and
// unquoted.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "platform/ProfileFile.h"

namespace {

char directory[] = "/tmp/nemvo-fuzz-profile.XXXXXX";

void RemoveProfile() {
  unlink((std::string(directory) + "/Nemvo.Config").c_str());
  rmdir(directory);
}

std::string ProfilePath() {
  if (!mkdtemp(directory)) nemvo::fuzzing::Fail("cannot make a temporary directory");
  std::atexit(RemoveProfile);
  return std::string(directory) + "/Nemvo.Config";
}

void WriteFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0)
    nemvo::fuzzing::Fail("cannot write " + path);
}

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

bool HasLineEnd(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nemvo;
  using nemvo::fuzzing::Quoted;
  static const std::string path = ProfilePath();
  static const std::string kDefault = "\x01no value\x02";

  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(64);
  const std::string key = input.ConsumeRandomLengthString(64);
  const uint8_t settings = input.ConsumeIntegral<uint8_t>();
  const bool writeKeyFirst = settings & 1;
  const bool byteOrderMark = settings & 2;
  const size_t bufferSize = (settings >> 2) == 0 ? platform::ProfileBufferSize : size_t(settings >> 2) - 1;
  const std::string value = writeKeyFirst ? input.ConsumeRandomLengthString(64) : std::string();
  std::string file = byteOrderMark ? "\xEF\xBB\xBF" : "";
  if (writeKeyFirst) file += "[" + section + "]\n" + key + "=" + value + "\n";
  file += input.ConsumeRemainingBytesAsString();
  WriteFile(path, file);

  const std::string result = platform::ReadProfileString(section, key, kDefault, path, bufferSize);
  const size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
  FUZZ_CHECK(result.size() <= limit, "a result of " + std::to_string(result.size()) + " bytes for a buffer of " +
                                         std::to_string(bufferSize));
  FUZZ_CHECK(result == kDefault.substr(0, limit) || file.find(result) != std::string::npos,
             "the result " + Quoted(result) + " is neither the default nor in the file " + Quoted(file));

  // The key stands first in the first section whenever neither name can be
  // read as something else: a line break in it, a "=" in the key, or a key
  // that reads as a comment or a section header.
  const std::string_view trimmedKey = Trim(key);
  const bool plainNames = !HasLineEnd(section) && !HasLineEnd(key) && key.find('=') == std::string::npos &&
                          !trimmedKey.starts_with(';') && !trimmedKey.starts_with('[') && !HasLineEnd(value);
  if (writeKeyFirst && plainNames) {
    std::string_view expected = Trim(value);
    if (expected.size() >= 2 && (expected.front() == '"' || expected.front() == '\'') &&
        expected.back() == expected.front())
      expected = expected.substr(1, expected.size() - 2);
    expected = expected.substr(0, limit);
    FUZZ_CHECK(result == expected, "section " + Quoted(section) + " key " + Quoted(key) + " gave " + Quoted(result) +
                                       " instead of " + Quoted(expected) + " from " + Quoted(file));
  }
  return 0;
}
