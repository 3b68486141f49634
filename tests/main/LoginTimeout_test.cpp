// A login answers within its bound whatever the database server does: a
// server that accepts the connection and never answers (a stand-in of the
// test's own, since the real server cannot be made to hang), and an address
// whose packets are dropped (a network namespace of the test's own with a
// DROP rule). The visitor gets the message page with the client library's
// error text, the connection attempt is given up and the process ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/ChildProcess.h"
#include "support/ExpectedPages.h"
#include "support/ProgramConfig.h"
#include "support/SilentServer.h"
#include "support/TempDirectory.h"

namespace nemvo::testing {
namespace {

using namespace std::chrono_literals;

const std::string kProgram = NEMVO_WEB_PROGRAM;
const std::string kSilent = "connection rejected by remote interface";
const std::string kDropped = "Unable to complete network request to host \"127.0.0.1\".\r\nFailed to establish a connection";

// Time a run may take beyond its bound: the program's own start and end (a
// sanitized or valgrind-run program is slower). Far below the three minutes
// the client library waits by itself.
constexpr auto kSlack = 8s;

struct Timed {
  CGIRun run;
  std::chrono::duration<double> took;
};

Timed Login(const std::string& program, std::chrono::seconds bound) {
  const auto start = std::chrono::steady_clock::now();
  CGIRun run = RunCGI(program, Request("POST", "/main", "u=nemvo&p=secret"), "u=nemvo&p=secret",
                      {.timeout = std::chrono::duration_cast<std::chrono::milliseconds>(bound + 30s)});
  return {run, std::chrono::steady_clock::now() - start};
}

void ExpectAnsweredWithin(const Timed& t, const std::string& message, std::chrono::seconds bound,
                          const std::string& name) {
  EXPECT_FALSE(t.run.timedOut) << name;
  EXPECT_EQ(t.run.exitCode, 0) << name;
  EXPECT_EQ(t.run.out, Failed(message)) << name;
  EXPECT_EQ(t.run.err, LoginLine("error", "nemvo")) << name;
  EXPECT_TRUE(t.run.leftBehind.empty()) << name << ": a process of the program still runs";
  // Not before the bound (the wait is the server's, not ours to cut short),
  // and not much after it.
  EXPECT_GE(t.took, bound - 1s) << name;
  EXPECT_LT(t.took, bound + kSlack) << name << ": took " << t.took.count() << " s";
}

TEST(LoginTimeout, ServerThatAcceptsAndNeverAnswers) {
  NEMVO_REQUIRE_WRITABLE_CONFIG();
  struct Case {
    const char* name;
    std::string line;  // the key's line in the configuration, if any
    std::chrono::seconds bound;
  };
  const Case cases[] = {
      {"LoginTimeout=2", "LoginTimeout=2\n", 2s},
      {"blanks around the value", "LoginTimeout = 3 \n", 3s},
      // The default when the file names none: what an administrator gets
      // without reading about it.
      {"no key: the default of 15 s", "", 15s},
  };
  for (const Case& c : cases) {
    SilentServer server;
    ProgramConfig::WriteSection("DBSuporte=127.0.0.1/" + std::to_string(server.Port()) + ":/nemvo/silent.fdb\n" +
                                c.line);
    Timed t = Login(kProgram, c.bound);
    ExpectAnsweredWithin(t, kSilent, c.bound, c.name);
    EXPECT_GE(server.Accepted(), 1) << c.name;
    // The attempt is given up, not left waiting: the connection is closed.
    EXPECT_TRUE(server.AllClosedByClients()) << c.name;
  }
}

// The program runs in a network namespace of its own in which every TCP
// packet to 127.0.0.1 is dropped, so its connect waits for the system's
// retries (about two minutes) unless the program gives up.
TEST(LoginTimeout, AddressWhosePacketsAreDropped) {
  NEMVO_REQUIRE_WRITABLE_CONFIG();
  if (UnderValgrind()) GTEST_SKIP() << "runs the program through unshare, which valgrind would follow instead";
  const bool root = geteuid() == 0;
  const bool tools = access("/usr/bin/unshare", X_OK) == 0 && access("/usr/sbin/ip", X_OK) == 0 &&
                     access("/usr/sbin/iptables", X_OK) == 0;
  const bool canIsolate =
      root && tools &&
      std::system("/usr/bin/unshare --net /bin/sh -c '/usr/sbin/ip link set lo up && "
                  "/usr/sbin/iptables -A INPUT -p tcp -j DROP' >/dev/null 2>&1") == 0;
  NEMVO_REQUIRE(canIsolate, "a network namespace with a DROP rule cannot be made here (needs root, unshare, ip and "
                            "iptables): the case of an address whose packets are dropped is not tested");

  TempDirectory dir;
  const std::string wrapper = dir.PathOf("in-dropping-namespace");
  {
    std::ofstream out(wrapper);
    out << "#!/bin/sh\n"
           "exec /usr/bin/unshare --net /bin/sh -c '/usr/sbin/ip link set lo up && "
           "/usr/sbin/iptables -A INPUT -p tcp -j DROP && exec \"$0\"' "
        << kProgram << "\n";
  }
  ASSERT_EQ(chmod(wrapper.c_str(), 0755), 0);
  ProgramConfig::WriteSection("DBSuporte=127.0.0.1/3050:/nemvo/dropped.fdb\nLoginTimeout=2\n");
  // The client library's own time-out does not bound a connect; the program
  // cuts it off one second after the bound.
  Timed t = Login(wrapper, 3s);
  ExpectAnsweredWithin(t, kDropped, 3s, "dropped packets");
}

}  // namespace
}  // namespace nemvo::testing
