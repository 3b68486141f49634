// Form field decoding over any bytes: URLDecode against the plain reading of
// its rules, SplitHeaderFields with the settings of both its callers (form
// bodies: "&", no white space, decoding, no quote stripping; tag parameters:
// " ", " ", decoding, quote stripping on and off), and ValueOf over the lists
// they build.
//
// Splitting with decoding must give the lines that splitting without
// decoding gives, each decoded, up to the first line that does not decode;
// raw lines are pieces of the text in order; quote-free texts split exactly
// at their separators.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "base/Exception.h"
#include "cgi/HTTPFields.h"
#include "cgi/WebException.h"
#include "platform/CaseFolding.h"

namespace nemvo::fuzzing {
namespace {

// What decoding gives: the text, or the failure's class and message.
struct Decoded {
  std::string text;
  std::string error;  // "EWebException" or "EConvertError"; empty when decoded
  std::string message;
  bool operator==(const Decoded&) const = default;
};

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The decoding rules read one at a time, byte by byte.
Decoded ReferenceDecode(std::string_view t) {
  Decoded d;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '+') {
      d.text += ' ';
    } else if (t[i] != '%') {
      d.text += t[i];
    } else if (i + 1 < t.size() && t[i + 1] == '%') {
      d.text += '%';
      ++i;
    } else if (i + 2 >= t.size() || t[i + 1] == '\0' || t[i + 2] == '\0') {
      return {{}, "EWebException",
              "Error decoding URL style (%XX) encoded string at position " + std::to_string(i + 1)};
    } else if (Hex(t[i + 1]) < 0 || Hex(t[i + 2]) < 0) {
      return {{}, "EConvertError",
              "Invalid URL encoded character (" + std::string(t.substr(i, 3)) + ") at position " + std::to_string(i + 1)};
    } else {
      d.text += char(Hex(t[i + 1]) * 16 + Hex(t[i + 2]));
      i += 2;
    }
  }
  return d;
}

Decoded Decode(std::string_view text) {
  try {
    return {URLDecode(text), {}, {}};
  } catch (const EWebException& e) {
    return {{}, e.ClassName(), e.Message()};
  } catch (const EConvertError& e) {
    return {{}, e.ClassName(), e.Message()};
  }
}

// Quote removal as the rules state it: pairs formed from the field's end.
std::string ReferenceStripQuotes(std::string_view field) {
  std::string kept;
  bool inStrip = false;
  char quote = 0;
  for (size_t i = field.size(); i-- > 0;) {
    const char c = field[i];
    if (c == '"' || c == '\'') {
      if (!inStrip) {
        inStrip = true;
        quote = c;
        continue;
      }
      if (c == quote) {
        inStrip = false;
        continue;
      }
    }
    kept += c;
  }
  return std::string(kept.rbegin(), kept.rend());
}

std::vector<std::string> Split(const TCharSet& separators, const TCharSet& white, std::string_view text,
                               bool stripQuotes) {
  TStringList list;
  SplitHeaderFields(separators, white, text, list, false, stripQuotes);  // raises nothing without decoding
  return list.Lines();
}

// The fields of a text free of NUL, CR, LF and double quotes.
std::vector<std::string> PlainFields(std::string_view text, char separator, bool skipBlanks) {
  std::vector<std::string> fields;
  if (skipBlanks) {
    size_t i = 0;
    while (i < text.size()) {
      while (i < text.size() && text[i] == separator) ++i;
      size_t start = i;
      while (i < text.size() && text[i] != separator) ++i;
      if (i > start) fields.emplace_back(text.substr(start, i - start));
    }
    return fields;
  }
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      if (start < text.size()) fields.emplace_back(text.substr(start));
      return fields;
    }
    fields.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
}

void CheckValueOf(const TStringList& list) {
  const auto& lines = list.Lines();
  for (size_t i = 0; i < lines.size() && i < 16; ++i) {
    const size_t eq = lines[i].find('=');
    if (eq == std::string::npos) continue;
    const std::string name = lines[i].substr(0, eq);
    FUZZ_CHECK(platform::AnsiSameText(name, platform::AnsiUpperCase(name)) &&
                   platform::AnsiSameText(name, platform::AnsiLowerCase(name)),
               "a name does not equal its own upper or lower case: " + Quoted(name));
    std::optional<std::string> expected;
    for (size_t j = 0; j <= i && !expected; ++j) {
      const size_t e = lines[j].find('=');
      if (e != std::string::npos && platform::AnsiSameText(std::string_view(lines[j]).substr(0, e), name))
        expected = lines[j].substr(e + 1);
    }
    FUZZ_CHECK(ValueOf(list, name) == *expected, "ValueOf " + Quoted(name) + " in line " + std::to_string(i));
    FUZZ_CHECK(ValueOf(list, platform::AnsiUpperCase(name)) == *expected,
               "ValueOf of the upper-cased name " + Quoted(name));
  }
  FUZZ_CHECK(ValueOf(list, "=").empty(), "ValueOf of a name holding \"=\"");
}

// One caller's settings: the raw split, then the decoded one against it.
void CheckSplit(const TCharSet& separators, const TCharSet& white, std::string_view text, bool stripQuotes,
                char separator) {
  const std::vector<std::string> raw = Split(separators, white, text, false);

  size_t cursor = 0, total = 0;
  for (const std::string& line : raw) {
    const size_t at = text.find(line, cursor);
    FUZZ_CHECK(at != std::string_view::npos, "a raw field is not a piece of the text after the one before: " +
                                                  Quoted(line) + " in " + Quoted(text));
    cursor = at + line.size();
    total += line.size();
  }
  FUZZ_CHECK(total <= text.size(), "raw fields longer than the text " + Quoted(text));

  if (text.find_first_of(std::string_view("\0\r\n\"", 4)) == std::string_view::npos) {
    const bool skipBlanks = white[static_cast<unsigned char>(separator)];
    FUZZ_CHECK(raw == PlainFields(text, separator, skipBlanks), "quote-free text split wrongly: " + Quoted(text));
  }

  std::vector<std::string> fields = raw;
  if (stripQuotes) {
    fields = Split(separators, white, text, true);
    FUZZ_CHECK(fields.size() == raw.size(), "quote stripping changed the number of fields: " + Quoted(text));
    for (size_t i = 0; i < raw.size(); ++i)
      FUZZ_CHECK(fields[i] == ReferenceStripQuotes(raw[i]), "quotes stripped wrongly from " + Quoted(raw[i]));
  }

  TStringList decoded;
  const char* error = nullptr;
  std::string message;
  try {
    SplitHTTPFields(separators, white, text, decoded, stripQuotes);
  } catch (const EWebException& e) {
    error = e.ClassName();
    message = e.Message();
  } catch (const EConvertError& e) {
    error = e.ClassName();
    message = e.Message();
  }
  const auto& lines = decoded.Lines();
  FUZZ_CHECK(lines.size() <= fields.size(), "more decoded lines than fields: " + Quoted(text));
  for (size_t i = 0; i < lines.size(); ++i) {
    const Decoded expected = Decode(fields[i]);
    FUZZ_CHECK(expected.error.empty() && expected.text == lines[i], "decoded line " + std::to_string(i) + " of " + Quoted(text));
  }
  if (error) {
    FUZZ_CHECK(lines.size() < fields.size(), "a decoding error after the last field: " + Quoted(text));
    const Decoded failing = Decode(fields[lines.size()]);
    FUZZ_CHECK(failing.error == error && failing.message == message,
               "splitting raised " + std::string(error) + " " + Quoted(message) + " for " + Quoted(text));
  } else {
    FUZZ_CHECK(lines.size() == fields.size(), "decoded lines lost without an error: " + Quoted(text));
  }
  CheckValueOf(decoded);
}

}  // namespace
}  // namespace nemvo::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nemvo;
  using namespace nemvo::fuzzing;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const Decoded got = Decode(text);
  const Decoded expected = ReferenceDecode(text);
  FUZZ_CHECK(got == expected, "URLDecode of " + Quoted(text) + " gave " +
                                  (got.error.empty() ? Quoted(got.text) : got.error + " " + Quoted(got.message)));
  FUZZ_CHECK(got.text.size() <= text.size(), "decoded text longer than the input");

  static const TCharSet Ampersand = CharSet("&"), None = CharSet(""), Space = CharSet(" ");
  CheckSplit(Ampersand, None, text, false, '&');  // the request's form fields
  CheckSplit(Space, Space, text, false, ' ');     // tag parameters, quotes kept
  CheckSplit(Space, Space, text, true, ' ');      // tag parameters, quotes stripped
  return 0;
}
