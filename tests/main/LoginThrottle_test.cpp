// The login throttle and the login log end to end, against the Firebird
// fixture's server: CGI processes and a FastCGI pool answering logins for
// the same clients share one record of refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "main/FastCGIPool.h"
#include "main/ServerCases.h"
#include "support/ChildProcess.h"

namespace nemvo::testing {
namespace {

const std::string kProgram = NEMVO_WEB_PROGRAM;

const std::string kThrottledText =
    "Muitas tentativas de acesso inv\xE1lidas a partir deste endere\xE7o. Tente novamente em 10 segundos.";

class ServerThrottle : public ServerLoginFixture {
 protected:
  void SetUp() override {
    ServerLoginFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fState = fDir.PathOf("logins.state");
    Configure("");
  }

  // The defaults (3 refusals, then 10 s) and a record of this test's own.
  void Configure(const std::string& lines) {
    fDir.Write("main.html", kTemplate);
    ProgramConfig::WriteSection(Fill(kGood) + "LoginStateFile=" + fState + "\n" + lines);
  }

  CGIVars From(const std::string& client, const std::string& body) const {
    return Vars("POST", "/main", body, {{"REMOTE_ADDR", client}});
  }
  CGIRun Login(const std::string& client, const std::string& body) const {
    return RunCGI(kProgram, From(client, body), Fill(body));
  }
  CGIRun Wrong(const std::string& client) const { return Login(client, "u={user}&p=wrong"); }
  CGIRun Right(const std::string& client) const { return Login(client, kRight); }

  std::string Line(const char* outcome, const std::string& client) const {
    return LoginLine(outcome, FirebirdServer::User(), "/main", client);
  }

  std::string fState;
};

// The message page that says to wait `seconds`, with the status and the
// header that say it too.
std::string ThrottledAnswer(int seconds) {
  std::string text = kThrottledText;
  const std::string from = "10 segundos";
  text.replace(text.find(from), from.size(), seconds == 1 ? "1 segundo" : std::to_string(seconds) + " segundos");
  std::string answer = Failed(text);
  const std::string status = "Status: 200 OK\r\n";
  return answer.replace(0, status.size(),
                        "Status: 429 Too Many Requests\r\nRetry-After: " + std::to_string(seconds) + "\r\n");
}

// The wait an answer tells (its Retry-After), or -1.
int Told(const CGIRun& run) {
  const std::string header = "\r\nRetry-After: ";
  const size_t at = run.out.find(header);
  return at == std::string::npos ? -1 : std::atoi(run.out.c_str() + at + header.size());
}

// Told to wait `seconds` at most (less the time the clock has moved on
// since the refusal: seconds for a sanitized program, or one run under
// valgrind, a few runs later), in the throttle's words and header.
#define EXPECT_THROTTLED(run, seconds)                                     \
  do {                                                                     \
    const CGIRun& told_ = (run);                                           \
    const int wait_ = Told(told_);                                         \
    EXPECT_GE(wait_, 1) << told_.out.substr(0, 80) << told_.err;           \
    EXPECT_LE(wait_, (seconds));                                           \
    EXPECT_EQ(told_.out, ThrottledAnswer(wait_));                          \
  } while (false)

TEST_F(ServerThrottle, AGuesserWaitsAndNobodyElseDoes) {
  const std::string guesser = "198.51.100.7", other = "203.0.113.5";
  for (int i = 0; i < 3; ++i) {
    CGIRun run = Wrong(guesser);
    EXPECT_EQ(run.out, kRejectedAnswer) << "refusal " << i + 1;
    EXPECT_EQ(run.err, Line("refused", guesser));
  }
  // The fourth login of the guesser does not reach the database, even with
  // the right password, and says how long to wait.
  for (const std::string& body : {std::string("u={user}&p=wrong"), kRight}) {
    CGIRun run = Login(guesser, body);
    SCOPED_TRACE(body);
    EXPECT_THROTTLED(run, 10);
    EXPECT_EQ(run.err, Line("throttled", guesser)) << body;
  }
  // Another visitor logs in, and is refused as ever.
  EXPECT_EQ(Right(other).out, Response(kMainPage));
  EXPECT_EQ(Wrong(other).out, kRejectedAnswer);
  // The same visitor through IPv6's two spellings of an IPv4 address.
  EXPECT_THROTTLED(Right("::ffff:" + guesser), 10);
  EXPECT_EQ(AttachmentsSettled(), fAttachmentsBefore);
}

TEST_F(ServerThrottle, AClientRefusedLatelyWaitsWhileTheServerWouldHoldItsFailure) {
  // Three visitors fail with one name (of this test's own, whose count on
  // the server starts at nothing): the server would hold the name's next
  // failure for 8 s, and with it the process answering it.
  const std::string body = "u=ghost" + std::to_string(getpid()) + "&p=wrong";
  for (const char* client : {"198.51.100.21", "198.51.100.22", "198.51.100.23"})
    ASSERT_EQ(Login(client, body).out, kRejectedAnswer) << client;
  // One of them, refused once only, is told to wait a few seconds; a
  // visitor with a clean record goes on (it may be the administrator).
  CGIRun deferred = Login("198.51.100.21", body);
  EXPECT_EQ(deferred.out.substr(0, deferred.out.find("\r\n")), "Status: 503 Service Unavailable");
  EXPECT_NE(deferred.out.find("O servidor recebe muitas tentativas de acesso inv\xE1lidas neste momento. Tente novamente em "),
            std::string::npos)
      << deferred.out;
  EXPECT_EQ(deferred.err, LoginLine("deferred", "ghost" + std::to_string(getpid()), "/main", "198.51.100.21"));
  EXPECT_EQ(Right("198.51.100.24").out, Response(kMainPage));
  // Another name is not held.
  EXPECT_EQ(Right("198.51.100.21").out, Response(kMainPage));
}

TEST_F(ServerThrottle, AcceptedLoginsAreNeverCounted) {
  const std::string client = "198.51.100.8";
  for (int i = 0; i < 10; ++i) ASSERT_EQ(Right(client).out, Response(kMainPage)) << "login " << i + 1;
  EXPECT_EQ(Wrong(client).out, kRejectedAnswer);
}

TEST_F(ServerThrottle, SwitchedOffAndTunedInTheConfiguration) {
  struct Row {
    const char* name;
    std::string lines;
    int refusalsLetThrough;
    int wait;
  };
  const Row rows[] = {
      {"off", "LoginFailures=0\n", 6, 0},
      {"one refusal, then 30 s", "LoginFailures=1\nLoginBackoff=30\n", 1, 30},
      {"a value out of range is the default", "LoginFailures=-4\nLoginBackoff=0\n", 3, 10},
  };
  for (const Row& row : rows) {
    std::filesystem::remove(fState);
    Configure(row.lines);
    const std::string client = "198.51.100.9";
    for (int i = 0; i < row.refusalsLetThrough; ++i) EXPECT_EQ(Wrong(client).out, kRejectedAnswer) << row.name;
    if (row.wait == 0) continue;
    CGIRun run = Wrong(client);
    SCOPED_TRACE(row.name);
    EXPECT_THROTTLED(run, row.wait);
    EXPECT_EQ(run.err, Line("throttled", client)) << row.name;
  }
}

TEST_F(ServerThrottle, CGIProcessesAndPoolWorkersShareTheRecord) {
  FastCGIPool pool(kProgram, {.workers = 2});
  const std::string guesser = "198.51.100.10";
  EXPECT_EQ(Wrong(guesser).out, kRejectedAnswer);
  // The pool's answers: its log lines go to the web server (FCGI_STDERR).
  for (int i = 0; i < 2; ++i) {
    CGIRun run = RunFastCGI(pool, From(guesser, "u={user}&p=wrong"), Fill("u={user}&p=wrong"));
    EXPECT_EQ(run.out, kRejectedAnswer);
    EXPECT_EQ(run.err, Line("refused", guesser));
  }
  EXPECT_THROTTLED(Right(guesser), 10);
  CGIRun run = RunFastCGI(pool, From(guesser, kRight), Fill(kRight));
  EXPECT_THROTTLED(run, 10);
  EXPECT_EQ(pool.Stop(std::chrono::seconds(10)), 0) << pool.Log();
  EXPECT_EQ(pool.Log().find("nemvoweb: login "), std::string::npos) << pool.Log();
}

TEST_F(ServerThrottle, APoolCanKeepTheLoginLogInItsOwnLog) {
  FastCGIPool pool(kProgram, {.workers = 1, .extraArgs = {"--login-log", "stderr"}});
  CGIRun run = RunFastCGI(pool, From("198.51.100.11", kRight), Fill(kRight));
  EXPECT_EQ(run.out, Response(kMainPage));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(pool.Stop(std::chrono::seconds(10)), 0);
  EXPECT_NE(pool.Log().find(Line("accepted", "198.51.100.11")), std::string::npos) << pool.Log();
}

TEST_F(ServerThrottle, ARecordThatCannotBeUsedLocksNobodyOut) {
  // Another account's file, a link: logins go on unthrottled, and say why.
  std::filesystem::create_symlink(fDir.PathOf("elsewhere"), fState);
  const std::string client = "198.51.100.12";
  for (int i = 0; i < 5; ++i) {
    CGIRun run = Wrong(client);
    EXPECT_EQ(run.out, kRejectedAnswer) << "refusal " << i + 1;
    EXPECT_EQ(run.err, "nemvoweb: login throttle not in use for this login: " + fState + ": is a symbolic link\n" +
                           Line("refused", client));
  }
  EXPECT_EQ(Right(client).out, Response(kMainPage));
}

TEST_F(ServerThrottle, ClientsWithoutAnAddressAreNotThrottled) {
  // Counted together, every such client would wait for the one guessing.
  for (int i = 0; i < 5; ++i) {
    CGIRun run = RunCGI(kProgram, Vars("POST", "/main", "u={user}&p=wrong", {{"REMOTE_ADDR", ""}}),
                        Fill("u={user}&p=wrong"));
    EXPECT_EQ(run.out, kRejectedAnswer);
    EXPECT_EQ(run.err, LoginLine("refused", FirebirdServer::User(), "/main", "-"));
  }
  EXPECT_FALSE(std::filesystem::exists(fState));
}

}  // namespace
}  // namespace nemvo::testing
