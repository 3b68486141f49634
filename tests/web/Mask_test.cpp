#include "web/Mask.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "web/MaskReference.h"

namespace nemvo {
namespace {

std::string Repeat(std::string_view s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

struct AcceptCase {
  std::string mask, text;
  bool accepted;
};

TEST(Mask, AcceptsWholeTextsOnly) {
  const AcceptCase cases[] = {
      {"/main", "/main", true},    {"/main", "/MAIN", true},     {"/main", "/mAiN", true},
      {"/main", "/main/", false},  {"/main", "/mainx", false},   {"/main", "/mai", false},
      {"/main", "", false},        {"/main", "main", false},     {"/main", "/main/x", false},
      {"", "", true},              {"", "a", false},             {"*", "", true},
      {"*", "anything/at/all", true}, {"*?", "", true},          {"*?", "x", true},
      {"*??", "", true},           {"a?c", "abc", true},         {"a?c", "aBc", true},
      {"a?c", "ac", false},        {"?", "", false},             {"a?", "a", false},
      {"[a-c]x", "Bx", true},      {"[a-c]x", "cX", true},       {"[a-c]x", "dx", false},
      {"[!a-c]", "d", true},       {"[!a-c]", "B", false},       {"[!a]", "", false},
      {"[z-a]", "z", true},        {"[z-a]", "Z", true},         {"[z-a]", "a", false},
      {"[z-a]", "y", false},       {"*.HTML", "index.html", true}, {"*.HTML", "a.b.html", true},
      {"*.HTML", "index.htm", false}, {"*a*b", "xaybzab", true}, {"a*", "a", true},
      {"*a*b", "xaybza", false},   {"\xE9", "\xE9", true},       {"\xE9", "\xC9", false},
      {"[\xE9]", "\xC9", false},   {"a]b", "A]B", true},         {"!-", "!-", true},
      {"[a-]]", "]", true},        {"[!!]", "!", false},         {"[!!]", "x", true},
      {"*[!x]", "", false},        {"*[!x]", "ax", false},       {"*[!x]", "xa", true},
      {"/admin/*", "/admin/", true}, {"/admin/*", "/admin", false}, {"*/x", "/x", true},
      {Repeat("*a", 30), Repeat("a", 30), true}, {Repeat("*a", 30), Repeat("a", 29), false},
      {Repeat("*a", 30) + "b", Repeat("a", 100), false},
      {Repeat("*a", 30) + "b", Repeat("a", 100) + "b", true},
  };
  for (const auto& c : cases) {
    TMask mask(c.mask);
    EXPECT_EQ(mask.Accepts(c.text), c.accepted) << "mask '" << c.mask << "' text '" << c.text << "'";
    // The reference that the random and fuzzed masks are checked against
    // must itself decide these as written.
    const testing::MaskReference reference(c.mask);
    ASSERT_FALSE(reference.ErrorAt()) << "reference: mask '" << c.mask << "'";
    EXPECT_EQ(reference.Accepts(c.text), c.accepted) << "reference: mask '" << c.mask << "' text '" << c.text << "'";
  }
}

// A NUL byte inside the text is an ordinary character, never the end.
TEST(Mask, NulInsideTheTextIsNotTheEnd) {
  const std::string text("ab\0", 3);
  EXPECT_FALSE(TMask("ab").Accepts(text));
  EXPECT_TRUE(TMask("ab?").Accepts(text));
  EXPECT_TRUE(TMask("ab*").Accepts(text));
}

TEST(Mask, CompilesToUpperCasedSteps) {
  TMask mask("a*?[!b-c]?");
  ASSERT_EQ(mask.StepCount(), 4);
  EXPECT_EQ(mask.Step(0).Kind, LiteralStep);
  EXPECT_EQ(mask.Step(0).Literal, 'A');
  EXPECT_EQ(mask.Step(1).Kind, SetStep);
  EXPECT_TRUE(mask.Step(1).SkipAhead);
  EXPECT_TRUE(mask.Step(1).Negated);
  EXPECT_TRUE(mask.Step(1).SetHas('B') && mask.Step(1).SetHas('C'));
  EXPECT_FALSE(mask.Step(1).SetHas('b') || mask.Step(1).SetHas('D'));
  EXPECT_EQ(mask.Step(2).Kind, AnyCharStep);
  EXPECT_FALSE(mask.Step(2).SkipAhead);
  EXPECT_EQ(mask.Step(3).Kind, LiteralStep);
  EXPECT_EQ(mask.Step(3).Literal, 0);
  EXPECT_EQ(TMask("ab*").Step(2).SkipAhead, true);
}

struct ErrorCase {
  std::string mask;
  int position;
};

TEST(Mask, InvalidMasksReportThePosition) {
  const ErrorCase cases[] = {
      {"/[]", 3},      {"[abc", 5},      {"[-a]", 2},     {"[!-a]", 3},    {"x[]", 3},
      {"[!]", 3},      {"[", 2},         {"[!", 3},       {"[a-", 4},      {"[a-]", 5},
      {"a[b", 4},
      {Repeat("*a", 31), 62},                // the 31st "*" step, a literal
      {Repeat("*a", 30) + "*", 62},          // the trailing "*" attaches to the end step
      {Repeat("*a", 30) + "*[xy]", 65},      // completed by the set's "]"
      {Repeat("*a", 31) + "[]", 64},         // a malformed set is found before the limit
  };
  for (const auto& c : cases) {
    EXPECT_EQ(testing::MaskReference(c.mask).ErrorAt(), size_t(c.position)) << "reference: mask '" << c.mask << "'";
    try {
      TMask mask(c.mask);
      ADD_FAILURE() << "mask '" << c.mask << "' compiled";
    } catch (const EMaskException& e) {
      EXPECT_EQ(e.Message(), "'" + c.mask + "' is an invalid mask at (" + std::to_string(c.position) + ")");
    }
  }
  EXPECT_NO_THROW(TMask(Repeat("*a", 30)));
  EXPECT_NO_THROW(TMask(Repeat("*a", 29) + "**?b"));  // runs of "*" and "*?" count once
  EXPECT_STREQ(EMaskException("x").ClassName(), "EMaskException");
}

// The mask and the reference, which reads the mask text by itself, agree on
// which masks compile, where the invalid ones fail and which texts fit. The
// characters are those the rules treat specially, with letters on both sides
// of the case folding and of each other, so that ranges of every direction
// and sets that a "-" extends come up often.
TEST(Mask, AgreesWithTheReferenceOnRandomMasks) {
  std::mt19937 rng(20240611);
  const std::string maskChars = "abc*?*[[]]!--aBC";
  const std::string textChars = "abcABC-!]";
  int compared = 0;
  for (int round = 0; round < 200000; ++round) {
    std::string maskText, text;
    for (int n = int(rng() % 10); n > 0; --n) maskText += maskChars[rng() % maskChars.size()];
    for (int n = int(rng() % 15); n > 0; --n) text += textChars[rng() % textChars.size()];
    const testing::MaskReference reference(maskText);
    std::unique_ptr<TMask> mask;
    try {
      mask = std::make_unique<TMask>(maskText);
    } catch (const EMaskException& e) {
      ASSERT_TRUE(reference.ErrorAt()) << "mask '" << maskText << "' refused: " << e.Message();
      ASSERT_EQ(e.Message(), "'" + maskText + "' is an invalid mask at (" + std::to_string(*reference.ErrorAt()) + ")");
      continue;
    }
    ASSERT_FALSE(reference.ErrorAt()) << "mask '" << maskText << "' compiled; the reference fails it at "
                                      << *reference.ErrorAt();
    ++compared;
    ASSERT_EQ(mask->Accepts(text), reference.Accepts(text)) << "mask '" << maskText << "' text '" << text << "'";
  }
  EXPECT_GT(compared, 50000);
}

}  // namespace
}  // namespace nemvo
