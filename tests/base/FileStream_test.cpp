#include "base/FileStream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "base/Exception.h"
#include "support/TempDirectory.h"

namespace nemvo {
namespace {

using nemvo::testing::TempDirectory;

std::string OpenError(const std::string& name) {
  try {
    TFileStream stream(name);
  } catch (const EFOpenError& e) {
    return e.Message();
  }
  return "(opened)";
}

// Runs `body` with the current directory set to `dir`.
template <class F>
void InDirectory(const std::filesystem::path& dir, F body) {
  auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  body();
  std::filesystem::current_path(saved);
}

TEST(TFileStream, ReadsTheWholeFile) {
  TempDirectory dir;
  std::string bytes("a\0b\r\nc\xFF", 7);
  TFileStream stream(dir.Write("f", bytes));
  EXPECT_EQ(stream.Size(), 7);
  std::string got(16, '?');
  EXPECT_EQ(stream.Read(got.data(), 16), 7);
  EXPECT_EQ(got.substr(0, 7), bytes);
  EXPECT_EQ(stream.Read(got.data(), 16), 0);
  stream.SetPosition(2);
  EXPECT_EQ(stream.Read(got.data(), 1), 1);
  EXPECT_EQ(got[0], 'b');
  EXPECT_EQ(stream.Write("x", 1), 0);
}

TEST(TFileStream, OpenFailuresNameTheAbsoluteFileAndTheSystemText) {
  TempDirectory dir;
  std::string base = dir.Path().lexically_normal().string();
  EXPECT_EQ(OpenError(dir.PathOf("missing.html")),
            "Cannot open file \"" + base + "/missing.html\". No such file or directory");
  EXPECT_EQ(OpenError(dir.Path().string()), "Cannot open file \"" + base + "\". Is a directory");
  std::filesystem::create_directory(dir.Path() / "sub");
  InDirectory(dir.Path() / "sub", [&] {
    EXPECT_EQ(OpenError("../sub/./none.html"),
              "Cannot open file \"" + base + "/sub/none.html\". No such file or directory");
  });
}

TEST(TFileStream, WritersAreRefusedWhileOpen) {
  TempDirectory dir;
  std::string name = dir.Write("f", "text");
  int writer = ::open(name.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  {
    TFileStream stream(name);
    EXPECT_NE(::flock(writer, LOCK_EX | LOCK_NB), 0);  // a writer asking for the file is refused
    TFileStream second(name);                           // other readers are welcome
  }
  ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);     // released on close
  EXPECT_EQ(OpenError(name), "Cannot open file \"" + name + "\". Resource temporarily unavailable");
  ::close(writer);
}

}  // namespace
}  // namespace nemvo
