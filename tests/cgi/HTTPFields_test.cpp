#include "cgi/HTTPFields.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "base/Exception.h"
#include "cgi/WebException.h"

namespace nemvo {
namespace {

using Lines = std::vector<std::string>;

struct DecodeCase {
  std::string in, out;
};

TEST(URLDecode, DecodesEscapesAndPlus) {
  const DecodeCase cases[] = {
      {"a+b%20c", "a b c"},
      {"100%25", "100%"},
      {"100%%", "100%"},
      {"%%%41", "%A"},
      {"%41%62", "Ab"},
      {"%e9", "\xE9"},
      {"%E9", "\xE9"},
      {"%aF", "\xAF"},
      {"plain", "plain"},
      {"", ""},
      {"\xE9\xFF", "\xE9\xFF"},
      {std::string("%00x", 4), std::string("\0x", 2)},
      {"%2B+", "+ "},
  };
  for (const auto& c : cases) EXPECT_EQ(URLDecode(c.in), c.out) << c.in;
}

struct ErrorCase {
  std::string in;
  bool web;  // EWebException, else EConvertError
  std::string message;
};

TEST(URLDecode, RaisesOnMalformedEscapes) {
  const ErrorCase cases[] = {
      {"abc%4", true, "Error decoding URL style (%XX) encoded string at position 4"},
      {"%", true, "Error decoding URL style (%XX) encoded string at position 1"},
      {"ab%", true, "Error decoding URL style (%XX) encoded string at position 3"},
      {std::string("%4\0x", 4), true, "Error decoding URL style (%XX) encoded string at position 1"},
      {"a%zz", false, "Invalid URL encoded character (%zz) at position 2"},
      {"%4g", false, "Invalid URL encoded character (%4g) at position 1"},
      {"x%+1", false, "Invalid URL encoded character (%+1) at position 2"},
      {"%4%", false, "Invalid URL encoded character (%4%) at position 1"},
  };
  for (const auto& c : cases) {
    try {
      URLDecode(c.in);
      ADD_FAILURE() << "no exception for " << c.in;
    } catch (const EWebException& e) {
      EXPECT_TRUE(c.web) << c.in;
      EXPECT_EQ(e.Message(), c.message);
      EXPECT_STREQ(e.ClassName(), "EWebException");
    } catch (const EConvertError& e) {
      EXPECT_FALSE(c.web) << c.in;
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

// Q in the texts below stands for the double quotation mark.
std::string Q(std::string s) {
  for (char& c : s)
    if (c == 'Q') c = '"';
  return s;
}

struct SplitCase {
  std::string text;
  std::string seps, white;
  bool decode, strip;
  Lines lines;
};

TEST(SplitHeaderFields, CutsFieldsAsTheRulesSay) {
  const SplitCase cases[] = {
      {"u=admin&p=s%3Dcr+t", "&", "", true, false, {"u=admin", "p=s=cr t"}},
      {"u=1&&p=2&", "&", "", true, false, {"u=1", "", "p=2"}},
      {"&u=1", "&", "", true, false, {"", "u=1"}},
      {"u=1\r\np=2", "&", "", true, false, {"u=1", "p=2"}},
      {"\r\n\r\nu=1\n\np=2\r\n", "&", "", true, false, {"u=1", "p=2"}},
      {Q("a=1  b=Qx yQ"), " ", " ", true, true, {"a=1", "b=x y"}},
      {Q("a=Qx&yQ&b=1"), "&", "", true, false, {Q("a=Qx&yQ"), "b=1"}},
      {Q("QabQ&c=1"), "&", "", true, false, {"ab", "", "c=1"}},
      {Q("a=QxQyz&b=1"), "&", "", true, false, {Q("a=QxQ"), "z", "b=1"}},
      {Q("u=xQy&p=1"), "&", "", true, false, {Q("u=xQy&p=1")}},
      {std::string("u=1&p=2\0&x=3", 12), "&", "", true, false, {"u=1", "p=2"}},
      {"a=%26&b=%3D", "&", "", true, false, {"a=&", "b=="}},
      {"a=%26&b=%3D", "&", "", false, false, {"a=%26", "b=%3D"}},
      {"", "&", "", true, false, {}},
      {"&", "&", "", true, false, {""}},
      {Q("Q"), "&", "", true, false, {}},
      {Q("QQ"), "&", "", true, false, {""}},
      {Q("a'bQc'"), " ", " ", false, true, {Q("abQc")}},
      {"   x   y ", " ", " ", false, false, {"x", "y"}},
  };
  for (const auto& c : cases) {
    TStringList list;
    SplitHeaderFields(CharSet(c.seps), CharSet(c.white), c.text, list, c.decode, c.strip);
    EXPECT_EQ(list.Lines(), c.lines) << c.text;
  }
}

TEST(SplitHeaderFields, AppendsToWhatTheListHolds) {
  TStringList list{"first"};
  SplitHTTPFields(CharSet("&"), TCharSet(), "a=1", list, false);
  EXPECT_EQ(list.Lines(), (Lines{"first", "a=1"}));
}

TEST(SplitHeaderFields, DecodingErrorKeepsTheLinesBeforeIt) {
  TStringList list;
  EXPECT_THROW(SplitHTTPFields(CharSet("&"), TCharSet(), "a=1&b=%zz&c=3", list, false), EConvertError);
  EXPECT_EQ(list.Lines(), (Lines{"a=1"}));
}

TEST(SplitHeaderFields, NulInWhiteSpaceStillEnds) {
  TStringList list;
  SplitHeaderFields(CharSet("&"), CharSet(std::string("\0 ", 2)), "a &b ", list, false, false);
  EXPECT_EQ(list.Lines(), (Lines{"a ", "b "}));
}

// Any bytes at all: splitting and decoding either succeed or raise one of the
// two decoding errors; no line is longer than the text it came from.
TEST(SplitHeaderFields, AnyInputIsSafe) {
  std::mt19937 random(12345);
  static const char kAlphabet[] = "\0\r\n\"'%+&= aZ09\xE9\xFF";
  const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 40, ' ');
    for (char& c : text) c = random() % 4 == 0 ? char(random() % 256) : alphabet[random() % alphabet.size()];
    TCharSet seps, white;
    for (int i = 0; i < 3; ++i) seps.set(random() % 256), white.set(random() % 256);
    TStringList list;
    try {
      SplitHeaderFields(seps, white, text, list, random() % 2 == 0, random() % 2 == 0);
    } catch (const EWebException&) {
    } catch (const EConvertError&) {
    }
    for (const auto& line : list.Lines()) EXPECT_LE(line.size(), text.size()) << round;
  }
}

TEST(ValueOf, FirstMatchingNameWins) {
  TStringList list{"u=admin", "p=s=cr t", "nameonly", "x=", " y=1", "u=second", "\xC9t\xE9=accent"};
  struct {
    std::string name, value;
  } cases[] = {
      {"u", "admin"},  {"U", "admin"},   {"p", "s=cr t"}, {"nameonly", ""}, {"missing", ""},
      {"x", ""},       {"y", ""},        {" y", "1"},     {"\xE9T\xC9", "accent"}, {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ValueOf(list, c.name), c.value) << c.name;
    EXPECT_EQ(ValueViewOf(list, c.name), c.value) << c.name;
  }
  // The view reads the list's own line.
  EXPECT_EQ(ValueViewOf(list, "p").data(), list[1].data() + 2);
}

TEST(ValueOf, EmptyNameMatchesALineStartingWithEquals) {
  TStringList list{"a=1", "=empty"};
  EXPECT_EQ(ValueOf(list, ""), "empty");
}

}  // namespace
}  // namespace nemvo
