#pragma once
// What a server test needs to know about the Firebird server that the
// "firebird" CTest fixture runs: connection strings, the test user, and how
// many attachments a database still has open.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "support/Prerequisites.h"

namespace nemvo::testing {

class FirebirdServer {
 public:
  // The variable's value; empty when it is not set.
  static std::string Env(const char* name) {
    const char* v = ::getenv(name);
    return v ? std::string(v) : std::string();
  }
  // True when the fixture's environment is present.
  static bool Available() { return !Env("NEMVO_TEST_DB").empty() && !Env("NEMVO_FIREBIRD_SCRIPT").empty(); }

  static std::string Database() { return Env("NEMVO_TEST_DB"); }            // dialect 3, host named
  static std::string DatabasePath() { return Env("NEMVO_TEST_DB_PATH"); }
  static std::string Dialect1Database() { return Env("NEMVO_TEST_DB1"); }    // dialect 1, host named
  static std::string Dialect1DatabasePath() { return Env("NEMVO_TEST_DB1_PATH"); }
  static std::string User() { return Env("NEMVO_TEST_USER"); }
  static std::string Password() { return Env("NEMVO_TEST_PASSWORD"); }
  static std::string Port() { return Env("NEMVO_FB_PORT").empty() ? "3050" : Env("NEMVO_FB_PORT"); }
  // A connection string for another file on the same server.
  static std::string Url(const std::string& path) {
    std::string url("127.0.0.1/");
    url.append(Port()).append(":").append(path);
    return url;
  }

  // `s` as one single-quoted shell word.
  static std::string Quote(const std::string& s) {
    std::string q("'");
    for (char c : s) {
      if (c == '\'') q.append("'\\''");
      else q.push_back(c);
    }
    q.push_back('\'');
    return q;
  }

  // Runs the server script with `args` (already quoted for the shell) and
  // returns its standard output; -1 in `status` when it could not run.
  static std::string Script(const std::string& args, int* status = nullptr) {
    std::string cmd = Quote(Env("NEMVO_FIREBIRD_SCRIPT"));
    cmd.append(" ").append(args);
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) {
      if (status) *status = -1;
      return out;
    }
    char buf[256];
    size_t n;
    while ((n = ::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = ::pclose(p);
    if (status) *status = rc;
    return out;
  }

  // Ends, as the administrator, every attachment of the test user to the
  // test database: what a server going away does to a connection. False
  // when it could not be done.
  static bool EndTestUserAttachments() {
    std::string sysdba = Script("sysdba-password");
    sysdba.erase(sysdba.find_last_not_of('\n') + 1);
    std::string sql("DELETE FROM MON$ATTACHMENTS WHERE MON$USER = UPPER('");
    sql.append(User()).append("');");
    std::string cmd("echo ");
    cmd.append(Quote(sql))
        .append(" | isql-fb -q -b -user SYSDBA -password ")
        .append(Quote(sysdba))
        .append(" ")
        .append(Quote(Database()))
        .append(" >/dev/null 2>&1");
    return ::system(cmd.c_str()) == 0;
  }

  // User attachments open on the database file `path`, or -1 when the count
  // cannot be had.
  static int Attachments(const std::string& path) {
    int status = 0;
    std::string args("attachments ");
    args.append(Quote(path));
    std::string out = Script(args, &status);
    if (status != 0 || out.empty()) return -1;
    return ::atoi(out.c_str());
  }
};

}  // namespace nemvo::testing

// Skips (or, in the test command, fails) a server test run without the server.
#define NEMVO_REQUIRE_FIREBIRD()                                                              \
  NEMVO_REQUIRE(::nemvo::testing::FirebirdServer::Available(),                                \
                "needs the Firebird server: run it through ctest, whose firebird fixture starts it")
