// A state file of the account's own: what other accounts, and processes of
// the account that die or stall, can do to it.
#include "platform/PrivateStateFile.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/ForkedProcess.h"
#include "support/TempDirectory.h"

namespace nemvo::platform {
namespace {

using namespace std::chrono_literals;
using testing::TForkedProcess;
using testing::TempDirectory;

constexpr size_t kSize = 8192;

TEST(PrivateStateFile, MadeForTheAccountAloneAndSharedByItsProcesses) {
  TempDirectory dir;
  const std::string path = dir.PathOf("state");
  const mode_t old = umask(0);  // a loose umask must not open it up
  std::string error;
  auto first = TPrivateStateFile::Open(path, kSize, error);
  umask(old);
  ASSERT_TRUE(first) << error;
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_size, off_t(kSize));
  // What one opener writes, another sees.
  first->Data()[100] = std::byte{42};
  auto second = TPrivateStateFile::Open(path, kSize, error);
  ASSERT_TRUE(second) << error;
  EXPECT_EQ(second->Data()[100], std::byte{42});
  // Opened up by hand: closed again at the next open.
  chmod(path.c_str(), 0666);
  ASSERT_TRUE(TPrivateStateFile::Open(path, kSize, error)) << error;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(PrivateStateFile, RefusesWhatIsNotTheAccountsOwnPlainFile) {
  TempDirectory dir;
  std::string error;
  const std::string target = dir.Write("target", std::string(kSize, '\0'));
  struct Row {
    const char* name;
    std::string path;
    const char* why;
  };
  std::filesystem::create_symlink(target, dir.PathOf("link"));
  std::filesystem::create_hard_link(target, dir.PathOf("second-name"));
  std::filesystem::create_directory(dir.PathOf("directory"));
  const Row rows[] = {
      {"a symbolic link (to a file of the account, even)", dir.PathOf("link"), "symbolic link"},
      {"a file with a second name", dir.PathOf("second-name"), "hard links"},
      {"a directory", dir.PathOf("directory"), ""},
      {"a path that cannot be made", dir.PathOf("missing/state"), "No such file"},
  };
  for (const Row& row : rows) {
    EXPECT_FALSE(TPrivateStateFile::Open(row.path, kSize, error)) << row.name;
    EXPECT_NE(error.find(row.why), std::string::npos) << row.name << ": " << error;
  }
}

TEST(PrivateStateFile, RefusesAFileAnotherAccountMadeFirst) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to make a file as another account";
  TempDirectory dir;
  chmod(dir.Path().c_str(), 01777);
  const std::string path = dir.PathOf("state");
  // Another account got to the name first and left its file open to all.
  TForkedProcess squatter(
      [&](const TForkedProcess::Ready& ready) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0666);
        if (fd < 0 || fchmod(fd, 0666) != 0) _exit(1);
        ready();
      },
      TForkedProcess::AsNobody);
  ASSERT_TRUE(squatter.IsReady());
  std::string error;
  EXPECT_FALSE(TPrivateStateFile::Open(path, kSize, error));
  EXPECT_NE(error.find("belongs to user id 65534"), std::string::npos) << error;
}

TEST(PrivateStateFile, ALockDiesWithItsHolderAndAStalledHolderCostsOnlyTheWait) {
  TempDirectory dir;
  const std::string path = dir.PathOf("state");
  std::string error;
  auto mine = TPrivateStateFile::Open(path, kSize, error);
  ASSERT_TRUE(mine) << error;
  {
    // A process of the account takes the lock and stops there.
    TForkedProcess holder([&](const TForkedProcess::Ready& ready) {
      std::string e;
      auto theirs = TPrivateStateFile::Open(path, kSize, e);
      if (!theirs || !theirs->Lock(1s)) _exit(1);
      ready();
      pause();
    });
    ASSERT_TRUE(holder.IsReady());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(mine->Lock(100ms));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 100ms);
    EXPECT_LT(waited, 2s);
    holder.Kill();
  }
  // Killed: its lock went with it.
  EXPECT_TRUE(mine->Lock(0ms));
  mine->Unlock();
}

}  // namespace
}  // namespace nemvo::platform
