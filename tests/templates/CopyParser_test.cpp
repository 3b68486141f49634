#include "templates/CopyParser.h"

#include <gtest/gtest.h>


namespace nemvo {
namespace {

using namespace std::string_literals;

struct Token {
  TTokenKind kind;
  std::string text;
  bool operator==(const Token&) const = default;
};

std::vector<Token> Tokens(const std::string& text, std::string* copied = nullptr) {
  TStringStream in(text), out;
  std::vector<Token> tokens;
  {
    TCopyParser parser(in, &out);
    for (;;) {
      tokens.push_back({parser.Token(), parser.TokenText()});
      if (parser.Token() == TCopyParser::EndToken) break;
      parser.Advance(true);
    }
  }
  if (copied) *copied = out.DataString();
  return tokens;
}

TEST(TCopyParser, CutsWordsAndSingleCharacters) {
  std::string copied;
  auto tokens = Tokens(" \t_a1 9x<#\xE9\x7F\r\n", &copied);
  const std::vector<Token> expected = {{TCopyParser::WordToken, "_a1"}, {'9', "9"}, {TCopyParser::WordToken, "x"},
                                       {'<', "<"}, {'#', "#"}, {0xE9, "\xE9"}, {0x7F, "\x7F"},
                                       {TCopyParser::EndToken, ""}};
  EXPECT_EQ(tokens, expected);
  EXPECT_EQ(copied, " \t \r\n");  // blanks are copied, tokens are not
  EXPECT_EQ(Tokens("ab\0cd"s).size(), 2u);  // a NUL ends the input
  EXPECT_EQ(Tokens("").size(), 1u);
}

TEST(TCopyParser, CountsLinesAndLeavesTheStreamAfterTheLastToken) {
  TStringStream in("a\nb\r\n\nc d");
  {
    TCopyParser parser(in, nullptr);
    parser.Advance(false);
    parser.Advance(false);
    EXPECT_EQ(parser.TokenText(), "c");
    EXPECT_EQ(parser.SourceLine(), 4);
  }
  EXPECT_EQ(in.Position(), 6);  // at "c", the current token
}

struct CollectCase {
  const char* text;  // the scan starts on the first token of `text`
  TTokenKind stop;
  const char* collected;
  TTokenKind after;
};

TEST(TCopyParser, CollectUntilHonoursBothKindsOfQuotes) {
  const CollectCase cases[] = {
      {"T a=1  b=2>rest", '>', " a=1  b=2", '>'},
      {"T a=\">\" b>", '>', " a=\">\" b", '>'},
      {"T a='>' b>", '>', " a='>' b", '>'},
      {"T a=\"it's>\"> x", '>', " a=\"it's>\"", '>'},
      {"T t=it's> rest <p>", '>', " t=it's> rest <p>", TCopyParser::EndToken},
      {"T\r\n a\n>", '>', "\r\n a\n", '>'},
      {"T no end ", '>', " no end ", TCopyParser::EndToken},
      {"> x>", '>', " x", '>'},
      {"T a \"b", '"', " a ", '"'},
  };
  for (const auto& c : cases) {
    TStringStream in(c.text);
    TCopyParser parser(in, nullptr);
    EXPECT_EQ(parser.CollectUntil(c.stop), c.collected) << c.text;
    EXPECT_EQ(parser.Token(), c.after) << c.text;
  }
}

}  // namespace
}  // namespace nemvo
