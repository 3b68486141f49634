// The trace channel's access as the configuration gives it: switched off
// only by "0", the group's name trimmed, an empty one for every account, and
// the build's default wherever the key (or the whole file) is missing.
#include "db/TraceAccess.h"

#include <gtest/gtest.h>

#include "support/TempDirectory.h"

namespace nemvo {
namespace {

TEST(TraceAccess, FromTheConfigurationsValues) {
  const TTraceAccess build = BuildTraceAccess();
  struct Case {
    const char* trace;
    std::optional<std::string_view> group;
    TTraceAccess expected;
  };
  const Case cases[] = {
      {"", std::nullopt, build},
      {"0", std::nullopt, {false, build.group}},
      {" 0\t", std::nullopt, {false, build.group}},
      {"00", std::nullopt, build},
      {"1", std::nullopt, build},
      {"no", std::nullopt, build},
      {"", "staff", {true, "staff"}},
      {"", "  staff ", {true, "staff"}},
      {"", "", {true, ""}},
      {"", " ", {true, ""}},
      {"0", "staff", {false, "staff"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("trace \"") + c.trace + "\", group " +
                 (c.group ? "\"" + std::string(*c.group) + "\"" : std::string("absent")));
    EXPECT_EQ(TraceAccessFrom(c.trace, c.group), c.expected);
  }
}

TEST(TraceAccess, FromTheConfigurationFile) {
  testing::TempDirectory dir;
  const TTraceAccess build = BuildTraceAccess();
  struct Case {
    const char* what;
    const char* text;  // nullptr: no file
    TTraceAccess expected;
  };
  const Case cases[] = {
      {"no file", nullptr, build},
      {"no keys", "[Nemvo.FrameWork]\nDBSuporte=x:y\n", build},
      {"both keys", "[Nemvo.FrameWork]\nSQLTrace=0\nSQLTraceGroup=staff\n", {false, "staff"}},
      {"an empty group", "[Nemvo.FrameWork]\nSQLTraceGroup=\n", {true, ""}},
      {"keys of another section", "[Other]\nSQLTrace=0\nSQLTraceGroup=staff\n", build},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.PathOf(std::string(c.what) + ".Config");
    if (c.text) dir.Write(std::string(c.what) + ".Config", c.text);
    EXPECT_EQ(TraceAccessFromFile(path, "Nemvo.FrameWork", "SQLTrace", "SQLTraceGroup"), c.expected);
  }
}

}  // namespace
}  // namespace nemvo
