#include "cgi/HTTPFields.h"

#include <vector>

#include "base/Exception.h"
#include "cgi/WebException.h"
#include "platform/CaseFolding.h"

namespace nemvo {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Pairs quotes from the end of the field: the last quote opens a pair that the
// next quote of the same kind closes; a lone quote goes too.
std::string StripQuotes(std::string_view field) {
  std::vector<bool> dropped(field.size(), false);
  bool inStrip = false;
  char quote = 0;
  for (size_t i = field.size(); i-- > 0;) {
    char c = field[i];
    if (c != '"' && c != '\'') continue;
    if (!inStrip) {
      inStrip = true;
      quote = c;
      dropped[i] = true;
    } else if (c == quote) {
      inStrip = false;
      dropped[i] = true;
    }
  }
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i)
    if (!dropped[i]) out += field[i];
  return out;
}

}  // namespace

TCharSet CharSet(std::string_view chars) {
  TCharSet set;
  for (char c : chars) set.set(static_cast<unsigned char>(c));
  return set;
}

std::string URLDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else if (i + 1 < n && text[i + 1] == '%') {
      out += '%';
      ++i;
    } else if (i + 2 >= n || text[i + 1] == '\0' || text[i + 2] == '\0') {
      throw EWebException(Format("Error decoding URL style (%%XX) encoded string at position %d", i + 1));
    } else {
      int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
      if (hi < 0 || lo < 0)
        throw EConvertError(Format("Invalid URL encoded character (%s) at position %d", text.substr(i, 3), i + 1));
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    }
  }
  return out;
}

void SplitHeaderFields(const TCharSet& separators, const TCharSet& whiteSpace, std::string_view text,
                       TStringList& list, bool decode, bool stripQuotes) {
  if (text.empty()) return;
  TCharSet seps = separators;
  for (unsigned char c : {'\0', '\r', '\n', '"'}) seps.set(c);
  TCharSet white = whiteSpace;
  white.set('\r').set('\n');
  // The end of the text reads as NUL; NUL must not count as white space or
  // skipping would never stop there.
  white.reset(0);

  auto at = [&](size_t i) -> unsigned char { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };

  bool quoteOpen = false;  // carries over from one field to the next
  size_t pos = 0;
  for (;;) {
    while (white[at(pos)]) ++pos;
    size_t start = pos;
    bool inQuote = false, leadingQuote = false;
    for (;;) {
      unsigned char c = at(pos);
      while ((inQuote && c != 0 && c != '"') || !seps[c]) c = at(++pos);
      if (c != '"') break;
      if (quoteOpen) {
        quoteOpen = false;
      } else {
        leadingQuote = pos == start;
        quoteOpen = true;
        if (leadingQuote) ++start;
      }
      inQuote = quoteOpen;
      if (!inQuote) break;
      ++pos;
    }
    if (!leadingQuote && at(pos) == '"') ++pos;
    const bool atEnd = at(pos) == 0;
    if (at(start) != 0) {
      // Each field is made once, from the text itself: a field may be most of
      // a large body.
      const std::string_view raw = text.substr(start, pos - start);
      std::string field;
      if (stripQuotes) {
        field = StripQuotes(raw);
        if (decode) field = URLDecode(field);
      } else {
        field = decode ? URLDecode(raw) : std::string(raw);
      }
      list.Add(std::move(field));
    }
    if (atEnd) break;
    ++pos;
  }
}

void SplitHTTPFields(const TCharSet& separators, const TCharSet& whiteSpace, std::string_view text,
                     TStringList& list, bool stripQuotes) {
  SplitHeaderFields(separators, whiteSpace, text, list, true, stripQuotes);
}

std::string_view ValueViewOf(const TStringList& list, std::string_view name) {
  for (const std::string& line : list.Lines()) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (platform::AnsiSameText(std::string_view(line).substr(0, eq), name)) return std::string_view(line).substr(eq + 1);
  }
  return {};
}

std::string ValueOf(const TStringList& list, std::string_view name) { return std::string(ValueViewOf(list, name)); }

}  // namespace nemvo
