#include "base/Format.h"

#include <gtest/gtest.h>

namespace nemvo {
namespace {

struct FormatCase {
  const char* format;
  std::string expected;
};

TEST(Format, PlaceholdersTakeArgumentsVerbatim) {
  using namespace std::string_literals;
  EXPECT_EQ(Format("Resource %s not found", "TWM1"), "Resource TWM1 not found");
  EXPECT_EQ(Format("%s on line %d", "Line too long", 1), "Line too long on line 1");
  EXPECT_EQ(Format("100%%"), "100%");
  EXPECT_EQ(Format("%1:s-%0:s", "a", "b"), "b-a");
  // An argument is never read as a directive, and NUL bytes survive.
  EXPECT_EQ(Format("[%s]", "%s%d%%"), "[%s%d%%]");
  EXPECT_EQ(Format("[%s]", "a\0b"s), "[a\0b]"s);
  EXPECT_EQ(Format("%s %s", "only"), "only ");
  EXPECT_EQ(Format("50%", 1), "50%");
}

}  // namespace
}  // namespace nemvo
