// Form field decoding over any bytes: URLDecode, SplitHeaderFields with the
// settings of both its callers (form bodies: "&", no white space, decoding,
// no quote stripping; tag parameters: " ", " ", decoding, quote stripping on
// and off), and ValueOf over the lists they build, each against a reading of
// its rules written here in another shape: decoding escape by escape with
// find, fields cut by what they start with, quotes paired with rfind, and
// names compared by the C library's Unicode case mapping of the Windows-1252
// letters instead of the program's own tables.
#include <locale.h>
#include <wctype.h>

#include <algorithm>
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

namespace nemvo::fuzzing {
namespace {

// What decoding gives: the text, or the failure's class and message.
struct Decoded {
  std::string text;
  std::string error;  // "EWebException" or "EConvertError"; empty when decoded
  std::string message;
  bool operator==(const Decoded&) const = default;
};

// The decoding rules, one escape at a time: the plain runs between "%" signs
// are copied with "+" read as a blank.
Decoded ReferenceDecode(std::string_view t) {
  static constexpr std::string_view kDigits = "0123456789ABCDEFabcdef";
  auto digit = [](char c) -> std::optional<int> {
    const size_t at = kDigits.find(c);
    if (c == '\0' || at == std::string_view::npos) return std::nullopt;
    return int(at < 16 ? at : at - 6);
  };
  Decoded d;
  size_t from = 0;
  for (;;) {
    const size_t percent = t.find('%', from);
    std::string plain(t.substr(from, percent == std::string_view::npos ? std::string_view::npos : percent - from));
    std::replace(plain.begin(), plain.end(), '+', ' ');
    d.text += plain;
    if (percent == std::string_view::npos) return d;
    const std::string_view after = t.substr(percent + 1);
    const std::string position = std::to_string(percent + 1);
    if (after.starts_with('%')) {
      d.text += '%';
      from = percent + 2;
    } else if (after.size() < 2 || after.substr(0, 2).find('\0') != std::string_view::npos) {
      return {{}, "EWebException", "Error decoding URL style (%XX) encoded string at position " + position};
    } else if (!digit(after[0]) || !digit(after[1])) {
      return {{}, "EConvertError", "Invalid URL encoded character (%" + std::string(after.substr(0, 2)) + ") at position " + position};
    } else {
      d.text += char(*digit(after[0]) * 16 + *digit(after[1]));
      from = percent + 3;
    }
  }
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

// Quote removal: from the end, the last quotation mark of either kind goes,
// and so does the nearest earlier mark of the same kind, its partner; the
// search for the next pair starts left of that partner.
std::string ReferenceStripQuotes(std::string_view field) {
  std::string s(field);
  size_t before = s.size();
  while (before > 0) {
    const size_t mark = s.find_last_of("\"'", before - 1);
    if (mark == std::string::npos) break;
    const char quote = s[mark];
    s.erase(mark, 1);
    if (mark == 0) break;
    const size_t partner = s.rfind(quote, mark - 1);
    if (partner == std::string::npos) break;
    s.erase(partner, 1);
    before = partner;
  }
  return s;
}

// The raw fields by what each starts with, after white space: a field that
// opens with a quotation mark runs to the next one, which it leaves out, and
// the byte after that starts the next field; any other field runs to the
// next separator, unless that is a quotation mark, which takes it on to and
// including the closing mark and swallows the byte after it. A mark never
// closed takes the field to the end. The text ends at its first NUL.
std::vector<std::string> ReferenceSplit(std::string_view text, std::string_view separators, std::string_view white) {
  const std::string_view t = text.substr(0, text.find('\0'));
  const std::string stops = std::string(separators) + "\r\n\"";
  const std::string skip = std::string(white) + "\r\n";
  std::vector<std::string> fields;
  size_t at = 0;
  for (;;) {
    at = t.find_first_not_of(skip, at);
    if (at == std::string_view::npos) return fields;
    if (t[at] == '"') {
      const size_t close = t.find('"', at + 1);
      if (close == std::string_view::npos) {
        if (at + 1 < t.size()) fields.emplace_back(t.substr(at + 1));
        return fields;
      }
      fields.emplace_back(t.substr(at + 1, close - at - 1));
      at = close + 1;
      continue;
    }
    const size_t stop = t.find_first_of(stops, at);
    if (stop == std::string_view::npos) {
      fields.emplace_back(t.substr(at));
      return fields;
    }
    if (t[stop] != '"') {
      fields.emplace_back(t.substr(at, stop - at));
      at = stop + 1;
      continue;
    }
    const size_t close = t.find('"', stop + 1);
    if (close == std::string_view::npos) {
      fields.emplace_back(t.substr(at));
      return fields;
    }
    fields.emplace_back(t.substr(at, close + 1 - at));
    if (close + 1 >= t.size()) return fields;
    at = close + 2;
  }
}

// Windows-1252 bytes as Unicode code points and back, for the letters that
// have a partner of the other case in the code page.
wint_t ToUnicode(unsigned char c) {
  switch (c) {
    case 0x8A: return 0x160;
    case 0x9A: return 0x161;
    case 0x8C: return 0x152;
    case 0x9C: return 0x153;
    case 0x8E: return 0x17D;
    case 0x9E: return 0x17E;
    case 0x9F: return 0x178;
    default: return c;
  }
}

std::optional<unsigned char> FromUnicode(wint_t u) {
  for (unsigned c = 0; c < 256; ++c)
    if (ToUnicode(static_cast<unsigned char>(c)) == u) return static_cast<unsigned char>(c);
  return std::nullopt;
}

locale_t UnicodeLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
  if (locale == locale_t(0)) Fail("the C.UTF-8 locale is missing");
  return locale;
}

wint_t Folded(unsigned char c) { return towlower_l(ToUnicode(c), UnicodeLocale()); }

// The name with each letter changed to its other case where the code page
// has that letter.
std::string OtherCase(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    const wint_t u = ToUnicode(static_cast<unsigned char>(c));
    const wint_t other = iswupper_l(u, UnicodeLocale()) ? towlower_l(u, UnicodeLocale()) : towupper_l(u, UnicodeLocale());
    if (auto back = FromUnicode(other)) c = char(*back);
  }
  return out;
}

bool ReferenceSameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Folded(static_cast<unsigned char>(a[i])) != Folded(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string ReferenceValueOf(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos && ReferenceSameName(std::string_view(line).substr(0, eq), name))
      return line.substr(eq + 1);
  }
  return {};
}

std::vector<std::string> Split(const TCharSet& separators, const TCharSet& white, std::string_view text,
                               bool stripQuotes) {
  TStringList list;
  SplitHeaderFields(separators, white, text, list, false, stripQuotes);  // raises nothing without decoding
  return list.Lines();
}

void CheckValueOf(const TStringList& list) {
  const auto& lines = list.Lines();
  for (size_t i = 0; i < lines.size() && i < 16; ++i) {
    const size_t eq = lines[i].find('=');
    if (eq == std::string::npos) continue;
    const std::string name = lines[i].substr(0, eq);
    for (const std::string& asked : {name, OtherCase(name), name + "x"}) {
      FUZZ_CHECK(ValueOf(list, asked) == ReferenceValueOf(lines, asked),
                 "ValueOf " + Quoted(asked) + " gave " + Quoted(ValueOf(list, asked)) + ", expected " +
                     Quoted(ReferenceValueOf(lines, asked)));
    }
  }
  FUZZ_CHECK(ValueOf(list, "=").empty(), "ValueOf of a name holding \"=\"");
}

// One caller's settings: the raw fields, the fields without their quotes,
// then the decoded ones, each against the rules read here.
void CheckSplit(std::string_view separators, std::string_view white, std::string_view text, bool stripQuotes) {
  const TCharSet separatorSet = CharSet(separators), whiteSet = CharSet(white);
  const std::vector<std::string> raw = Split(separatorSet, whiteSet, text, false);
  const std::vector<std::string> expectedRaw = ReferenceSplit(text, separators, white);
  if (raw != expectedRaw) {
    std::string fields, expected;
    for (const std::string& f : raw) fields += " " + Quoted(f);
    for (const std::string& f : expectedRaw) expected += " " + Quoted(f);
    Fail("splitting " + Quoted(text) + " gave" + fields + "; expected" + expected);
  }

  std::vector<std::string> fields = raw;
  if (stripQuotes) {
    fields = Split(separatorSet, whiteSet, text, true);
    FUZZ_CHECK(fields.size() == raw.size(), "quote stripping changed the number of fields: " + Quoted(text));
    for (size_t i = 0; i < raw.size(); ++i)
      FUZZ_CHECK(fields[i] == ReferenceStripQuotes(raw[i]),
                 "quotes stripped from " + Quoted(raw[i]) + " gave " + Quoted(fields[i]));
  }

  TStringList decoded;
  const char* error = nullptr;
  std::string message;
  try {
    SplitHTTPFields(separatorSet, whiteSet, text, decoded, stripQuotes);
  } catch (const EWebException& e) {
    error = e.ClassName();
    message = e.Message();
  } catch (const EConvertError& e) {
    error = e.ClassName();
    message = e.Message();
  }
  // The fields decode in order up to the first that does not; its error ends
  // the splitting.
  std::vector<std::string> expectedLines;
  Decoded failing;
  for (const std::string& field : fields) {
    Decoded d = ReferenceDecode(field);
    if (!d.error.empty()) {
      failing = d;
      break;
    }
    expectedLines.push_back(d.text);
  }
  FUZZ_CHECK(decoded.Lines() == expectedLines, "decoded lines of " + Quoted(text));
  FUZZ_CHECK(failing.error == (error ? error : "") && failing.message == message,
             "splitting raised " + std::string(error ? error : "nothing") + " " + Quoted(message) + " for " + Quoted(text));
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

  CheckSplit("&", "", text, false);   // the request's form fields
  CheckSplit(" ", " ", text, false);  // tag parameters, quotes kept
  CheckSplit(" ", " ", text, true);   // tag parameters, quotes stripped
  return 0;
}
