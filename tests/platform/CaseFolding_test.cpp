#include "platform/CaseFolding.h"

#include <gtest/gtest.h>

namespace nemvo::platform {
namespace {

TEST(CaseFolding, LatinLettersFoldWithTheirPartners) {
  struct Case { const char* a; const char* b; bool same; };
  const Case cases[] = {
      {"Usu\xE1rio", "USU\xC1RIO", true},
      {"\xE9", "\xC9", true},
      {"\xFF", "\x9F", true},
      {"\xE9", "e", false},          // accents are not ignored
      {"\xD7", "\xF7", false},       // multiplication and division signs are not letters
      {"\xDF", "SS", false},
      {"abc", "ab", false},
  };
  for (const auto& c : cases) EXPECT_EQ(AnsiSameText(c.a, c.b), c.same) << c.a << " vs " << c.b;
}

}  // namespace
}  // namespace nemvo::platform
