#include "admin/IniFile.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "admin/Configuration.h"
#include "support/TempDirectory.h"

namespace nemvo {
namespace {

using nemvo::testing::TempDirectory;

TEST(TIniFile, ReadsTheProgramsKeys) {
  TempDirectory dir;
  std::string name = dir.Write("Nemvo.Config",
                               "; demo\r\n[nemvo.framework]\r\ndbsuporte = db.lan:/srv/nemvo.fdb\r\n"
                               "mainhtml=/srv/main.html\r\n");
  TIniFile ini(name);
  EXPECT_EQ(ini.FileName(), name);
  EXPECT_EQ(ini.ReadString(ConfigSection, DBSuporteKey, DefaultDBSuporte()), "db.lan:/srv/nemvo.fdb");
  EXPECT_EQ(ini.ReadString(ConfigSection, MainHTMLKey, ""), "/srv/main.html");
}

TEST(TIniFile, DefaultsAndEmptyValues) {
  TempDirectory dir;
  TIniFile missing(dir.PathOf("none.ini"));  // creating it opens nothing
  EXPECT_EQ(missing.ReadString(ConfigSection, DBSuporteKey, DefaultDBSuporte()), DefaultDBSuporte());
  EXPECT_EQ(missing.ReadString(ConfigSection, MainHTMLKey, ""), "");

  TIniFile empty(dir.Write("e.ini", "[Nemvo.FrameWork]\nDBSuporte=\n"));
  EXPECT_EQ(empty.ReadString(ConfigSection, DBSuporteKey, DefaultDBSuporte()), "");
  EXPECT_EQ(empty.ReadString(ConfigSection, MainHTMLKey, "none"), "none");
  EXPECT_EQ(empty.ReadString("Other", DBSuporteKey, "none"), "none");
}

TEST(TIniFile, LongValuesAreCutAndEveryReadSeesTheFile) {
  TempDirectory dir;
  std::string name = dir.Write("c.ini", "[Nemvo.FrameWork]\nMainHTML=" + std::string(3000, 'a') + "\n");
  TIniFile ini(name);
  EXPECT_EQ(ini.ReadString(ConfigSection, MainHTMLKey, ""), std::string(2047, 'a'));
  dir.Write("c.ini", "[Nemvo.FrameWork]\nMainHTML=/new.html\n");
  EXPECT_EQ(ini.ReadString(ConfigSection, MainHTMLKey, ""), "/new.html");
}

TEST(Configuration, LoginTimeoutIsWholeSecondsWithinItsRange) {
  const std::pair<std::string, int> cases[] = {
      {"2", 2},       {"0", 0},       {"15", 15},     {"3600", 3600}, {"007", 7},
      // Anything else gives the default.
      {"", 15},       {"3601", 15},   {"-1", 15},     {"+5", 15},     {"5s", 15},
      {"1.5", 15},    {"abc", 15},    {"99999999999", 15},           {"0x10", 15},
  };
  for (const auto& [text, seconds] : cases) EXPECT_EQ(LoginTimeoutSeconds(text), seconds) << "'" << text << "'";
}

// The build's settings as the build system passed them to this test, not
// through the program's generated header.
TEST(Configuration, DefaultDatabaseIsOnTheLanServer) {
  EXPECT_EQ(DefaultDBSuporte(), NEMVO_TEST_DB_SERVER ":D:\\Nemvo\\Dados\\NEMVOSUPORTE.FDB");
  EXPECT_STREQ(ConfigFilePath, NEMVO_TEST_CONFIG_PATH);
}

}  // namespace
}  // namespace nemvo
