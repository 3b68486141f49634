// A login whose database server stops answering once the attach is through:
// every later call the login makes into the client library is bounded by
// LoginTimeout (and a second), where the library alone would wait for good.
// The path to the Firebird fixture's server runs through a relay of the
// test's own that goes silent at a chosen request of the client library: the
// dialect question (before the answer: the visitor gets the message page with
// the lost connection's error) or the detach (after the answer: a CGI process
// ends, a FastCGI worker goes on to its next request). Either way the program
// closes its end of the connection, and nothing of it is left running.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>

#include "main/FastCGIPool.h"
#include "main/ProgramCases.h"
#include "main/ServerCases.h"
#include "support/ChildProcess.h"
#include "support/SilentRelay.h"

namespace nemvo::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

const std::string kProgram = NEMVO_WEB_PROGRAM;
const std::string kLostConnection = "Error reading data from the connection";

// LoginTimeout=2: a call gives up after three seconds.
constexpr int kLoginTimeout = 2;
constexpr auto kBound = std::chrono::seconds(kLoginTimeout + 1);

// Beyond the bound: a program's start, attach and end, slower under the
// sanitizers and valgrind. "Bounded", not a measure of speed.
auto Slack() { return 8s * (UnderValgrind() ? ValgrindSlowdown : 1); }

// Long enough for the bound and the slack; a wait that the bound did not end
// runs into it (the program waited forever).
auto ChildLimit() { return std::chrono::duration_cast<std::chrono::milliseconds>(kBound + Slack() + 10s); }

enum class Host { kCGI, kFastCGI };
enum class Moment { kDialectQuestion, kDetach };

struct Case {
  const char* name;
  Host host;
  Moment moment;
};

const Case kCases[] = {
    {"CGI, silent before the dialect question", Host::kCGI, Moment::kDialectQuestion},
    {"CGI, silent before the detach that follows the answer", Host::kCGI, Moment::kDetach},
    {"FastCGI, silent before the dialect question", Host::kFastCGI, Moment::kDialectQuestion},
    {"FastCGI, silent before the detach that follows the answer", Host::kFastCGI, Moment::kDetach},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ServerGoesSilent : public ServerLoginFixture, public ::testing::WithParamInterface<Case> {
 protected:
  // The configuration through `relay`, with the template in place.
  void Configure(const SilentRelay& relay) {
    fDir.Write("main.html", kTemplate);
    ProgramConfig::WriteSection("DBSuporte=127.0.0.1/" + std::to_string(relay.Port()) + ":" +
                                FirebirdServer::DatabasePath() + "\nMainHTML=" + fDir.Path().string() +
                                "/main.html\nLoginTimeout=" + std::to_string(kLoginTimeout) + "\n");
  }

  // The client library's turns in a whole login through `relay`, counted on
  // a login that goes through: its last ones are the dialect question, the
  // detach and the closing word after it. Counted rather than written down
  // so that the test follows the client library's protocol.
  int TurnsOfALogin(SilentRelay& relay) {
    CGIRun run = RunCGI(kProgram, Vars("POST", "/main", kRight, {}), Fill(kRight));
    EXPECT_EQ(run.out, Response(kMainPage)) << "a login through the relay, before it goes silent";
    const auto deadline = Clock::now() + 10s;
    while (relay.TurnsOfLastEnded() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
    return relay.TurnsOfLastEnded();
  }

  static int SilentTurn(int turns, Moment moment) { return moment == Moment::kDialectQuestion ? turns - 2 : turns - 1; }

  static void ExpectWithinBound(Seconds took, const std::string& what) {
    // Not before the bound (the silence hit the call meant), and not much
    // after it.
    EXPECT_GE(took, kBound - 500ms) << what << " came early: " << took.count() << " s";
    EXPECT_LT(took, kBound + Slack()) << what << " took " << took.count() << " s";
  }
};

TEST_P(ServerGoesSilent, LaterCallsAreBoundedByTheLoginTimeout) {
  const Case& c = GetParam();
  const std::string mainPage = Response(kMainPage);
  const std::string expected = c.moment == Moment::kDialectQuestion ? Failed(kLostConnection) : mainPage;
  {
    SilentRelay relay(std::stoi(FirebirdServer::Port()));
    Configure(relay);
    const int turns = TurnsOfALogin(relay);
    ASSERT_GE(turns, 4) << "the relay saw no whole login";
    relay.SilenceAtClientTurn(SilentTurn(turns, c.moment));

    if (c.host == Host::kCGI) {
      const CGICommand command(kProgram);
      TChildProcess child(command.run, command.args, Vars("POST", "/main", kRight, {}), Fill(kRight),
                          {.timeout = ChildLimit()});
      const auto start = Clock::now();
      EXPECT_TRUE(child.WaitForOutput(expected, ChildLimit())) << "no answer: " << child.Output();
      const auto answered = Clock::now();
      child.Finish();
      const auto ended = Clock::now();
      const CGIRun& run = child.Result();
      EXPECT_FALSE(run.timedOut);
      EXPECT_EQ(run.exitCode, 0);
      EXPECT_EQ(run.out, expected);
      EXPECT_EQ(run.err, LoginLine(c.moment == Moment::kDialectQuestion ? "error" : "accepted", FirebirdServer::User()));
      EXPECT_TRUE(run.leftBehind.empty()) << "a process of the program still runs";
      if (c.moment == Moment::kDialectQuestion) {
        ExpectWithinBound(answered - start, "the message page");
        EXPECT_LT(Seconds(ended - answered), 2s * (UnderValgrind() ? ValgrindSlowdown : 1))
            << "the process lingered after its answer";
      } else {
        EXPECT_LT(Seconds(answered - start), Slack()) << "the answer waited for the detach";
        ExpectWithinBound(ended - answered, "the process's end after its answer");
      }
    } else {
      FastCGIPool pool(kProgram, {.workers = 1});
      const auto start = Clock::now();
      CGIRun first = RunFastCGI(pool, Vars("POST", "/main", kRight, {}), Fill(kRight), {.timeout = ChildLimit()});
      const auto answered = Clock::now();
      EXPECT_EQ(first.out, expected);
      // The next request, a right login through the relay (new connections
      // are forwarded), waits only for the bound of the first one's call.
      CGIRun next = RunFastCGI(pool, Vars("POST", "/main", kRight, {}), Fill(kRight), {.timeout = ChildLimit()});
      const auto served = Clock::now();
      EXPECT_FALSE(next.timedOut) << "the worker did not serve the next request";
      EXPECT_EQ(next.out, mainPage) << "the next request";
      if (c.moment == Moment::kDialectQuestion) {
        ExpectWithinBound(answered - start, "the message page");
        EXPECT_LT(Seconds(served - answered), Slack()) << "the next request waited";
      } else {
        EXPECT_LT(Seconds(answered - start), Slack()) << "the answer waited for the detach";
        ExpectWithinBound(served - answered, "the next request's answer");
      }
      EXPECT_EQ(pool.StartedWorkers().size(), 1u) << pool.Log();
      EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
      EXPECT_EQ(pool.Log().find("Exception"), std::string::npos) << pool.Log();
    }

    EXPECT_TRUE(relay.Silenced()) << "the relay never went silent";
    // The program gave its connection up: its end is closed.
    const auto deadline = Clock::now() + 5s;
    while (!relay.SilencedClosedByClient() && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(relay.SilencedClosedByClient()) << "the program's end of the silent connection is still open";
  }
  // The relay's end closes the server's side too.
  EXPECT_EQ(AttachmentsSettled(), fAttachmentsBefore) << "attachments left open";
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return TestName(info.param.name); }

INSTANTIATE_TEST_SUITE_P(Server, ServerGoesSilent, ::testing::ValuesIn(kCases), CaseName);

}  // namespace
}  // namespace nemvo::testing
