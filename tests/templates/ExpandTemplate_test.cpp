#include "templates/ExpandTemplate.h"

#include <gtest/gtest.h>

#include <random>

#include "base/Exception.h"
#include "cgi/HTTPFields.h"
#include "cgi/WebException.h"
#include "templates/TemplateReference.h"

namespace nemvo {
namespace {

using namespace std::string_literals;

// Renders a tag as "[name|line|line...]" so that the name and every
// parameter line show in the output.
std::string ShowTag(const std::string& tagString, TStringList& tagParams) {
  std::string s = "[" + tagString;
  for (const auto& line : tagParams.Lines()) s += "|" + line;
  return s + "]";
}

std::string Expand(const std::string& text, bool strip, const TTagHandler& handler) {
  TStringStream in(text);
  return ExpandTemplate(in, strip, handler);
}

struct ExpandCase {
  std::string text;
  std::string withHandler;       // StripParamQuotes on
  std::string withoutQuoteStrip;  // StripParamQuotes off; "=" means same as withHandler
  std::string withoutHandler;
};

TEST(ExpandTemplate, CopiesTextAndReplacesTags) {
  const ExpandCase cases[] = {
      {"  plain\r\n text\t\n\n", "  plain\r\n text\t\n\n", "=", "  plain\r\n text\t\n\n"},
      {"", "", "=", ""},
      {"a<#x>b", "a[x]b", "=", "ab"},
      {"a <#x> b", "a [x] b", "=", "a  b"},
      {"<html><#Name a=1 b=\"x y\"></html>", "<html>[Name|a=1|b=x y]</html>", "<html>[Name|a=1|b=\"x y\"]</html>",
       "<html></html>"},
      {"<#T a=\">\">.", "[T|a=>].", "[T|a=\">\"].", "."},
      {"<#T t=it's> rest <p>", "[T|t=its>|rest|<p>]", "[T|t=it's>|rest|<p>]", ""},
      {"<#T x=a+b y=%41 z=%3D>", "[T|x=a b|y=A|z==]", "=", ""},
      {"<#T a=1\tb=2>", "[T|a=1\tb=2]", "=", ""},
      {"<#T  a=1   b=2  >", "[T|a=1|b=2]", "=", ""},
      {"<#T a=1\r\n  b=2\n>", "[T|a=1|b=2]", "=", ""},
      {"x<#", "x[]", "=", "x"},
      {"x<#Name more\ntext <b", "x[Name|more|text|<b]", "=", "x"},
      {"x<#Name more\ntext <b> y", "x[Name|more|text|<b] y", "=", "x y"},
      {"x<b>y", "x<b>y", "=", "x<b>y"},
      {"x<", "x<", "=", "x<"},
      {"x< \n", "x< \n", "=", "x< \n"},
      {"a < b <\tc", "a < b <\tc", "=", "a < b <\tc"},
      {"<<#x>", "<<#x>", "=", "<<#x>"},
      {"< # Name>", "[Name]", "=", ""},
      {"<#>x>y", "[>|x]y", "=", "y"},
      {"<#1abc>", "[1|abc]", "=", ""},
      {"<#_a1 k=v>", "[_a1|k=v]", "=", ""},
      {"<#T a=\"1 2\" b='3 4'>", "[T|a=1 2|b=3|4]", "[T|a=\"1 2\"|b='3|4']", ""},
      {"ab\0<#x>cd"s, "ab", "=", "ab"},
      {"\xE9t\xE9 <#x>\xFF", "\xE9t\xE9 [x]\xFF", "=", "\xE9t\xE9 \xFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Expand(c.text, true, ShowTag), c.withHandler) << c.text;
    EXPECT_EQ(Expand(c.text, false, ShowTag), c.withoutQuoteStrip == "=" ? c.withHandler : c.withoutQuoteStrip)
        << c.text;
    EXPECT_EQ(Expand(c.text, true, nullptr), c.withoutHandler) << c.text;
  }
}

TEST(ExpandTemplate, ReplacementIsNotScannedAgain) {
  auto handler = [](const std::string&, TStringList&) { return std::string("<#y a=%zz>"); };
  EXPECT_EQ(Expand("1<#x>2", true, handler), "1<#y a=%zz>2");
}

TEST(ExpandTemplate, FailuresPassOut) {
  auto message = [](const std::string& text, const TTagHandler& handler) -> std::string {
    try {
      Expand(text, true, handler);
    } catch (const Exception& e) {
      return std::string(e.ClassName()) + ": " + e.Message();
    }
    return "(no error)";
  };
  EXPECT_EQ(message("<#T a=%4>", ShowTag),
            "EWebException: Error decoding URL style (%XX) encoded string at position 3");
  EXPECT_EQ(message("<#T a=%zz>", nullptr), "EConvertError: Invalid URL encoded character (%zz) at position 3");
  auto throwing = [](const std::string& name, TStringList&) -> std::string { throw EListError("bad " + name); };
  EXPECT_EQ(message("text <#Tag>", throwing), "EListError: bad Tag");
  EXPECT_EQ(message(std::string(5000, 'x'), nullptr), "EParserError: Line too long on line 1");
  EXPECT_EQ(message("a\nb\n" + std::string(5000, 'x'), nullptr), "EParserError: Line too long on line 3");
  EXPECT_EQ(message(std::string(4095, 'x') + "\n" + std::string(100, 'y'), nullptr),
            "EParserError: Line too long on line 1");
  // A line break in a tag's parameters counts too.
  EXPECT_EQ(message("<#T a\n\nb>\n" + std::string(4100, 'x'), nullptr), "EParserError: Line too long on line 4");
}

TEST(ExpandTemplate, LongestLinesThatFitTheBuffer) {
  for (const std::string& text : {std::string(4000, 'x'), std::string(4095, 'x'),
                                  std::string(4094, 'x') + "\n" + std::string(4094, 'y') + "\n" + "z"}) {
    EXPECT_EQ(Expand(text, true, ShowTag), text) << text.size();
  }
}

// A stream that hands over at most `step` bytes per read, as a pipe may.
class TrickleStream : public TStringStream {
 public:
  TrickleStream(std::string data, int64_t step) : TStringStream(std::move(data)), fStep(step) {}
  int64_t Read(void* buffer, int64_t count) override { return TStringStream::Read(buffer, std::min(count, fStep)); }

 private:
  int64_t fStep;
};

// "T12" as "{12}".
std::string Braced(const std::string& tagName) {
  std::string s("{");
  s.append(tagName, 1);
  s.push_back('}');
  return s;
}

// Many lines of varied length, with tags (some of them spanning lines) placed
// across the scanner's refills: the result must equal the template with the
// tags cut out by plain string search.
TEST(ExpandTemplate, TagsAcrossBufferRefills) {
  std::mt19937 rng(42);
  std::string text, expected;
  int tag = 0;
  while (text.size() < 100000) {
    size_t len = rng() % 300;
    std::string line;
    for (size_t i = 0; i < len; ++i) line += "ab <i> xyz\t_9\xE7"[rng() % 14];
    text += line;
    if (rng() % 3 == 0) {
      std::string params = rng() % 4 == 0 ? " a=1\r\n b=\"x\n>\" " : " n=" + std::to_string(tag);
      // "<" right before a tag makes the tag plain text; keep that apart.
      text += ".<#T" + std::to_string(tag) + params + ">";
      ++tag;
    }
    text += rng() % 2 ? "\r\n" : "\n";
  }
  for (size_t at = 0;;) {
    size_t open = text.find("<#", at);
    if (open == std::string::npos) {
      expected += text.substr(at);
      break;
    }
    expected += text.substr(at, open - at);
    size_t nameEnd = text.find_first_of(" >", open + 2);
    std::string name = text.substr(open + 2, nameEnd - open - 2);
    size_t close = text.find('>', nameEnd);
    size_t quote = text.find('"', nameEnd);
    if (quote < close) close = text.find('>', text.find('"', quote + 1));
    expected += Braced(name);
    at = close + 1;
  }
  auto handler = [](const std::string& name, TStringList&) { return Braced(name); };
  ASSERT_GT(tag, 100);
  EXPECT_EQ(Expand(text, true, handler), expected);
  TrickleStream trickle(text, 7);
  EXPECT_EQ(ExpandTemplate(trickle, true, handler), expected);
  EXPECT_EQ(trickle.Position(), int64_t(text.size()));
}

// Large templates of tags, quotes and line breaks against the plain
// token-by-token reading of the tag rules (shared with the fuzz target):
// ExpandTemplate copies in large runs across buffer refills and must agree.
TEST(ExpandTemplate, MatchesTheTokenByTokenExpansion) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::string text;
    while (text.size() < 20000) {
      size_t len = rng() % 200;
      // Without quotes most tags close; with them many run to the end.
      const std::string_view alphabet = round % 2 ? "ab <<#>\t_9\xE7=\"' " : "ab <<#>\t_9\xE7=x ";
      for (size_t i = 0; i < len; ++i) text += alphabet[rng() % alphabet.size()];
      text += rng() % 3 ? "\n" : "\r\n";
    }
    if (round % 5 == 4) text[rng() % text.size()] = '\0';
    for (const bool strip : {true, false}) {
      for (const bool withHandler : {true, false}) {
        const testing::Outcome expected = testing::TReferenceExpansion(text, strip, withHandler).Run();
        ASSERT_TRUE(expected.error.empty()) << expected.message;
        EXPECT_EQ(Expand(text, strip, withHandler ? TTagHandler(ShowTag) : TTagHandler()), expected.page)
            << "round " << round << (strip ? ", quotes stripped" : "") << (withHandler ? ", with a handler" : "");
      }
    }
  }
}

TEST(ExpandTemplate, ReadsFromTheCurrentPositionToTheEnd) {
  TStringStream in("skip<#x>done");
  in.SetPosition(4);
  EXPECT_EQ(ExpandTemplate(in, true, ShowTag), "[x]done");
  EXPECT_EQ(in.Position(), 12);
}

}  // namespace
}  // namespace nemvo
