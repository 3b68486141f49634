#include "platform/ProfileFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/TempDirectory.h"

namespace nemvo::platform {
namespace {

using nemvo::testing::TempDirectory;
using namespace std::string_literals;

struct ProfileCase {
  const char* what;
  std::string file;
  const char* section;
  const char* key;
  std::string expected;  // the default is "DEF"
};

TEST(ReadProfileString, FollowsTheProfileFileRules) {
  const ProfileCase cases[] = {
      {"plain value", "[S]\nk=v\n", "S", "k", "v"},
      {"missing section", "[T]\nk=v\n", "S", "k", "DEF"},
      {"missing key", "[S]\nother=v\n", "S", "k", "DEF"},
      {"empty value is not the default", "[S]\nk=\n", "S", "k", ""},
      {"blank value is empty", "[S]\nk=  \t\n", "S", "k", ""},
      {"names ignore case", "[nemvo.framework]\nmainhtml=x\n", "Nemvo.FrameWork", "MainHTML", "x"},
      {"accented names fold", "[Se\xE7\xE3o]\nCHAVE\xC9=x\n", "SE\xC7\xC3O", "chave\xE9", "x"},
      {"blanks around names and value", "  [ S ]  \n \t k \t=  a b  \n", "S", "k", "a b"},
      {"names asked for are trimmed", "[S]\nk=v\n", " S\t", "\tk ", "v"},
      {"only first = splits", "[S]\nk=a=b\n", "S", "k", "a=b"},
      {"line without = is not a key", "[S]\nk\nk=v\n", "S", "k", "v"},
      {"comment line", "[S]\n;k=c\nk=v\n", "S", "k", "v"},
      {"indented comment line", "[S]\n  ;k=c\n", "S", "k", "DEF"},
      {"semicolon later is value", "[S]\nk=v ; not a comment\n", "S", "k", "v ; not a comment"},
      {"hash is not a comment", "[S]\n#k=c\nk=v\n", "S", "#k", "c"},
      {"double quotes stripped", "[S]\nk=\" a b \"\n", "S", "k", " a b "},
      {"single quotes stripped", "[S]\nk='x'\n", "S", "k", "x"},
      {"two quotes make empty", "[S]\nk=\"\"\n", "S", "k", ""},
      {"lone quote stays", "[S]\nk=\"\n", "S", "k", "\""},
      {"mixed quotes stay", "[S]\nk=\"x'\n", "S", "k", "\"x'"},
      {"inner quotes stay", "[S]\nk=a\"b\"\n", "S", "k", "a\"b\""},
      {"first key wins", "[S]\nk=1\nK=2\n", "S", "k", "1"},
      {"first section wins", "[S]\na=1\n[T]\n[s]\nk=2\n", "S", "k", "DEF"},
      {"section ends at next header", "[S]\n[T]\nk=v\n", "S", "k", "DEF"},
      {"key before any section", "k=v\n[S]\n", "S", "k", "DEF"},
      {"name runs to last bracket", "[a]b]\nk=v\n", "a]b", "k", "v"},
      {"text after bracket ignored", "[S] tail\nk=v\n", "S", "k", "v"},
      {"open bracket alone is no header", "[S]\n[x\nk=v\n", "S", "k", "v"},
      {"CR LF lines", "[S]\r\nk=v\r\nj=w\r\n", "S", "j", "w"},
      {"lone CR lines", "[S]\rk=v\rj=w", "S", "j", "w"},
      {"no final line break", "[S]\nk=v", "S", "k", "v"},
      {"byte order mark", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v"},
      {"high bytes kept", "[S]\nk=Usu\xE1rio\n", "S", "k", "Usu\xE1rio"},
      {"empty file", "", "S", "k", "DEF"},
  };
  TempDirectory dir;
  for (const auto& c : cases) {
    std::string name = dir.Write("p.ini", c.file);
    EXPECT_EQ(ReadProfileString(c.section, c.key, "DEF", name), c.expected) << c.what;
  }
}

TEST(ReadProfileString, UnreadableFilesGiveTheDefault) {
  TempDirectory dir;
  EXPECT_EQ(ReadProfileString("S", "k", "DEF", dir.PathOf("missing.ini")), "DEF");
  EXPECT_EQ(ReadProfileString("S", "k", "DEF", dir.Path().string()), "DEF");  // a directory
  std::string fifo = dir.PathOf("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadProfileString("S", "k", "DEF", fifo), "DEF");  // must not wait for a writer
  EXPECT_EQ(ReadProfileString("S", "k", "", dir.PathOf("missing.ini")), "");
}

TEST(ReadProfileString, ResultIsCutToTheBuffer) {
  TempDirectory dir;
  std::string value(3000, 'x');
  value[2046] = 'y';
  std::string name = dir.Write("p.ini", "[S]\nk=" + value + "\nshort=" + std::string(2047, 'z') + "\n");
  std::string got = ReadProfileString("S", "k", "", name);
  EXPECT_EQ(got.size(), 2047u);
  EXPECT_EQ(got.back(), 'y');
  EXPECT_EQ(ReadProfileString("S", "short", "", name), std::string(2047, 'z'));
  EXPECT_EQ(ReadProfileString("S", "missing", std::string(3000, 'd'), name), std::string(2047, 'd'));
  EXPECT_EQ(ReadProfileString("S", "k", "", name, 5), "xxxx");
}

TEST(ReadProfileString, ReadsTheFileAnewOnEveryCall) {
  TempDirectory dir;
  std::string name = dir.Write("p.ini", "[S]\nk=1\n");
  EXPECT_EQ(ReadProfileString("S", "k", "", name), "1");
  dir.Write("p.ini", "[S]\nk=2\n");
  EXPECT_EQ(ReadProfileString("S", "k", "", name), "2");
  ::unlink(name.c_str());
  EXPECT_EQ(ReadProfileString("S", "k", "gone", name), "gone");
}

}  // namespace
}  // namespace nemvo::platform
