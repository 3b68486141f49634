// Sockets a FastCGI pool listens on: a unix socket's file gets the mode and
// group asked for, and the listen queue the length asked for; a socket whose
// peers are to be checked against --allow-remote's list must be a TCP one.
#include "platform/ListeningSocket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/TempDirectory.h"

namespace nemvo::platform {
namespace {

// The socket file's mode and group as asked, set before anyone may connect;
// the listen queue's length as asked (the kernel reports a TCP listener's).
TEST(OpenListeningSocket, ModeGroupAndBacklogAsAsked) {
  struct Line {
    unsigned mode;
    std::string group;
    std::string error;  // empty: opened
  };
  const Line lines[] = {
      {0600, "", ""},
      {0660, std::to_string(getgid()), ""},
      {0666, "", ""},
      {0660, "no-such-group-of-nemvo", "--socket-group: no group no-such-group-of-nemvo"},
  };
  for (const Line& line : lines) {
    nemvo::testing::TempDirectory dir;
    std::string error;
    ListeningSocket socket =
        OpenListeningSocket("unix:" + dir.PathOf("s.sock"), ListenOptions{.group = line.group, .mode = line.mode}, error);
    EXPECT_EQ(error, line.error);
    if (!line.error.empty()) {
      EXPECT_LT(socket.fd, 0);
      EXPECT_NE(access(dir.PathOf("s.sock").c_str(), F_OK), 0) << "a refused socket left its file";
      continue;
    }
    struct stat st;
    ASSERT_EQ(stat(dir.PathOf("s.sock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, line.mode);
    EXPECT_EQ(st.st_gid, getgid());
    CloseListeningSocket(socket);
  }
  std::string error;
  ListeningSocket tcp = OpenListeningSocket("127.0.0.1:0", ListenOptions{.backlog = 7}, error);
  ASSERT_GE(tcp.fd, 0) << error;
  tcp_info info = {};
  socklen_t length = sizeof info;
  ASSERT_EQ(getsockopt(tcp.fd, IPPROTO_TCP, TCP_INFO, &info, &length), 0);
  EXPECT_EQ(info.tcpi_sacked, 7u);
  CloseListeningSocket(tcp);
}

// Standard input replaced by `fd` for as long as it lives.
class StandardInputAs {
 public:
  explicit StandardInputAs(int fd) : fSaved(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
  ~StandardInputAs() {
    dup2(fSaved, STDIN_FILENO);
    close(fSaved);
  }
  StandardInputAs(const StandardInputAs&) = delete;
  StandardInputAs& operator=(const StandardInputAs&) = delete;

 private:
  int fSaved;
};

TEST(OpenListeningSocket, PeersCheckedOnlyOnTCP) {
  nemvo::testing::TempDirectory dir;
  const ListenOptions checked{.allowRemote = true};
  std::string error;
  ListeningSocket unixSocket = OpenListeningSocket("unix:" + dir.PathOf("s.sock"), checked, error);
  EXPECT_LT(unixSocket.fd, 0);
  EXPECT_EQ(error.find("--allow-remote names the addresses of TCP peers"), 0u) << error;
  EXPECT_NE(access(dir.PathOf("s.sock").c_str(), F_OK), 0) << "a refused socket left its file";

  ListeningSocket local = OpenListeningSocket("unix:" + dir.PathOf("local.sock"), ListenOptions{}, error);
  ASSERT_GE(local.fd, 0) << error;
  ListeningSocket tcp = OpenListeningSocket("127.0.0.1:0", checked, error);
  ASSERT_GE(tcp.fd, 0) << error;
  {
    StandardInputAs handed(local.fd);
    error.clear();
    EXPECT_LT(OpenListeningSocket(kInheritedAddress, checked, error).fd, 0);
    EXPECT_NE(error.find("the socket handed over as standard input is not a TCP one"), std::string::npos) << error;
  }
  {
    StandardInputAs handed(tcp.fd);
    error.clear();
    EXPECT_EQ(OpenListeningSocket(kInheritedAddress, checked, error).fd, STDIN_FILENO) << error;
  }
  CloseListeningSocket(local);
  CloseListeningSocket(tcp);
}

}  // namespace
}  // namespace nemvo::platform
