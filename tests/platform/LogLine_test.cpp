// The program's own lines: "name[pid]: text" on a plain standard error, the
// journal's priority prefix alone where standard error is the journal.
#include "platform/LogLine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "support/TempDirectory.h"

namespace nemvo::platform {
namespace {

// Standard error pointed at a file of the test's own while it lives.
class StandardErrorToFile {
 public:
  explicit StandardErrorToFile(const std::string& path) : fSaved(dup(STDERR_FILENO)) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    dup2(fd, STDERR_FILENO);
    close(fd);
  }
  ~StandardErrorToFile() {
    dup2(fSaved, STDERR_FILENO);
    close(fSaved);
    unsetenv("JOURNAL_STREAM");
  }

 private:
  int fSaved;
};

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LogLine, PriorityPrefixOnlyWhereStandardErrorIsTheJournal) {
  testing::TempDirectory dir;
  const std::string path = dir.PathOf("stderr");
  const std::string pid = std::to_string(getpid());
  struct stat st;
  struct Case {
    const char* name;
    std::function<std::string()> journalStream;  // the variable's value; empty: unset
    std::string expected;
  };
  const Case cases[] = {
      {"no journal", [] { return std::string(); }, "nemvoweb[" + pid + "]: worker ended\n"},
      {"the journal's stream", [&] { return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino); },
       "<4>worker ended\n"},
      {"another stream (a log file put in its place)",
       [&] { return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1); },
       "nemvoweb[" + pid + "]: worker ended\n"},
      {"garbage", [] { return std::string("12:34x"); }, "nemvoweb[" + pid + "]: worker ended\n"},
  };
  for (const Case& c : cases) {
    unlink(path.c_str());
    {
      StandardErrorToFile redirect(path);
      ASSERT_EQ(fstat(STDERR_FILENO, &st), 0);
      if (const std::string value = c.journalStream(); !value.empty()) setenv("JOURNAL_STREAM", value.c_str(), 1);
      LogLine("nemvoweb", "worker ended", LogPriority::kWarning);
    }
    EXPECT_EQ(Read(path), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace nemvo::platform
