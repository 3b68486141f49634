// The server script the fixture, the demo and the later black-box tests lean
// on: the databases it made are reachable through the server and its
// attachment count sees an open attachment and its end.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "support/FirebirdServer.h"

using nemvo::testing::FirebirdServer;

namespace {

// An isql session attached as the test user, held open until closed.
struct IsqlSession {
  FILE* pipe = nullptr;
  explicit IsqlSession(const std::string& db) {
    std::string cmd("isql-fb -q -user ");
    cmd.append(FirebirdServer::Quote(FirebirdServer::User()))
        .append(" -password ")
        .append(FirebirdServer::Quote(FirebirdServer::Password()))
        .append(" ")
        .append(FirebirdServer::Quote(db))
        .append(" >/dev/null 2>&1");
    pipe = ::popen(cmd.c_str(), "w");
    // A statement that only an attached session answers; it proves the attach happened.
    ::fputs("SELECT 1 FROM RDB$DATABASE;\n", pipe);
    ::fflush(pipe);
  }
  int Close() {
    ::fputs("QUIT;\n", pipe);
    int rc = ::pclose(pipe);
    pipe = nullptr;
    return rc;
  }
  ~IsqlSession() {
    if (pipe) Close();
  }
};

int WaitForAttachments(const std::string& path, int wanted) {
  int n = -1;
  for (int i = 0; i < 50 && n != wanted; ++i) {
    n = FirebirdServer::Attachments(path);
    if (n != wanted) ::usleep(100 * 1000);
  }
  return n;
}

}  // namespace

TEST(ServerScript, AttachmentCountFollowsAnOpenSession) {
  NEMVO_REQUIRE_FIREBIRD();
  for (const std::string& path : {FirebirdServer::DatabasePath(), FirebirdServer::Dialect1DatabasePath()}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(0, FirebirdServer::Attachments(path));
    IsqlSession session(FirebirdServer::Url(path));
    EXPECT_EQ(1, WaitForAttachments(path, 1));
    EXPECT_EQ(0, session.Close());
    EXPECT_EQ(0, WaitForAttachments(path, 0));
  }
}

TEST(ServerScript, AttachmentsOfAMissingDatabaseIsAnError) {
  NEMVO_REQUIRE_FIREBIRD();
  EXPECT_EQ(-1, FirebirdServer::Attachments(FirebirdServer::DatabasePath() + ".missing"));
}
