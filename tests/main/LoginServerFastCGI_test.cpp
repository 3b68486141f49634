// The login end to end through the FastCGI host: every line of
// main/ServerCases.h sent to one worker, one after another and then again in
// the opposite order, against the Firebird fixture's server. Each answer is
// byte for byte the CGI program's; after each request the server holds no
// more attachments than before (the worker keeps no connection open between
// requests), and the configuration and template of each line are the ones
// used (read anew for every request). The login's connection closes only once
// the worker has finished the request and its answer is delivered.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "main/FastCGIClient.h"
#include "main/FastCGIPool.h"
#include "main/ProgramCases.h"
#include "main/ServerCases.h"

namespace nemvo::testing {
namespace {

using namespace std::chrono_literals;

const std::string kProgram = NEMVO_WEB_PROGRAM;

class ServerFastCGI : public ServerLoginFixture {
 protected:
  // Sends a right login on a kept connection without the record that ends
  // its body: the worker answers it up to the request's end and waits there.
  // The server's count once it shows the login's connection, or the last
  // count after ten seconds.
  int HoldRightLogin(FastCGIClient& client) {
    const bool sent = client.Begin(Vars("POST", "/main", kRight, {}), true) && client.Body(Fill(kRight));
    EXPECT_TRUE(sent) << "the worker closed the connection";
    const int open = fAttachmentsBefore + 1;
    int seen = -1;
    const auto deadline = std::chrono::steady_clock::now() + 10s * (UnderValgrind() ? ValgrindSlowdown : 1);
    while (sent && seen != open && std::chrono::steady_clock::now() < deadline) {
      seen = FirebirdServer::Attachments(FirebirdServer::DatabasePath());
      if (seen != open) std::this_thread::sleep_for(50ms);
    }
    return seen;
  }
};

TEST_F(ServerFastCGI, EveryLineOneAfterAnotherOnOneWorker) {
  FastCGIPool pool(kProgram, {.workers = 1});
  std::vector<const ServerCase*> lines;
  for (const ServerCase& c : kServerCases) lines.push_back(&c);
  for (int round = 0; round < 2; ++round) {
    for (const ServerCase* c : lines) {
      const std::string expected = FastCGIAnswerFor(Prepare(*c));
      CGIRun run = RunFastCGI(pool, Vars(c->method, c->path, c->body, c->extra), Fill(c->body));
      EXPECT_FALSE(run.timedOut) << c->name;
      EXPECT_EQ(run.exitCode, 0) << c->name;
      EXPECT_EQ(run.out, expected) << c->name;
      EXPECT_EQ(run.err, ExpectedLogLine(*c)) << c->name;
      if (c->loginAfter) {
        CGIRun after = RunFastCGI(pool, Vars("POST", "/main", kRight, {}), Fill(kRight));
        EXPECT_EQ(after.out, Response(kMainPage)) << c->name << ": a right login after this request";
      }
      EXPECT_EQ(AttachmentsSettled(), fAttachmentsBefore) << c->name << ": attachments left open";
    }
    std::reverse(lines.begin(), lines.end());
  }
  EXPECT_EQ(pool.StartedWorkers().size(), 1u) << pool.Log();
  EXPECT_EQ(pool.Log().find("Exception"), std::string::npos) << pool.Log();
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
  // Every worker ended with status 0 (under valgrind: no memory error, no lost block).
  EXPECT_FALSE(std::regex_search(pool.Log(), std::regex("exited with status [1-9]|killed"))) << pool.Log();
  EXPECT_EQ(AttachmentsSettled(), fAttachmentsBefore) << "attachments left open by the worker's end";
}

// The web server gets the answer before the login's connection is closed.
// On a kept connection whose record ending the body is held back, the worker
// has read the body, logged in and made the answer, but cannot finish the
// request: the connection must still be open then, and stay open; once the
// request is finished the answer comes, and then the connection closes.
TEST_F(ServerFastCGI, ConnectionClosesOnlyOnceTheRequestIsFinished) {
  const std::string expected = Prepare(kServerCases[0]);
  FastCGIPool pool(kProgram, {.workers = 1});
  FastCGIClient client(pool.ConnectTarget());
  EXPECT_EQ(HoldRightLogin(client), fAttachmentsBefore + 1)
      << "the login's connection was not seen open while its request was unfinished";
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(FirebirdServer::Attachments(FirebirdServer::DatabasePath()), fAttachmentsBefore + 1)
      << "closed before the request was finished";
  EXPECT_TRUE(client.Body(""));
  FastCGIClient::Answer answer = client.Read(10s);
  EXPECT_TRUE(answer.ended);
  EXPECT_EQ(answer.out, expected);
  EXPECT_EQ(AttachmentsSettled(), fAttachmentsBefore) << "closed after the answer";
  client.Close();
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
  EXPECT_EQ(pool.Log().find("Exception"), std::string::npos) << pool.Log();
}

// The server ends the connection between the answer and the connection's
// close: the answer is the one made, the close after it fails quietly, and
// the worker serves the next request as it would have.
TEST_F(ServerFastCGI, ConnectionLostBeforeItsCloseLeavesTheWorkerAsItWas) {
  const std::string expected = Prepare(kServerCases[0]);
  FastCGIPool pool(kProgram, {.workers = 1});
  FastCGIClient client(pool.ConnectTarget());
  ASSERT_EQ(HoldRightLogin(client), fAttachmentsBefore + 1);
  ASSERT_TRUE(FirebirdServer::EndTestUserAttachments());
  EXPECT_TRUE(client.Body(""));
  FastCGIClient::Answer answer = client.Read(10s);
  EXPECT_EQ(answer.out, expected);
  client.Close();
  CGIRun next = RunFastCGI(pool, Vars("POST", "/main", kRight, {}), Fill(kRight));
  EXPECT_EQ(next.out, expected) << "the next request";
  EXPECT_EQ(pool.StartedWorkers().size(), 1u) << pool.Log();
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
  EXPECT_EQ(pool.Log().find("Exception"), std::string::npos) << pool.Log();
  EXPECT_EQ(AttachmentsSettled(), fAttachmentsBefore);
}

// The last request of a worker (--max-requests) and a request followed by
// the pool's end: the connection is closed all the same, after the answer.
TEST_F(ServerFastCGI, WorkersEndingAfterAnAnswerCloseItsConnection) {
  const std::string expected = Prepare(kServerCases[0]);
  for (int64_t maxRequests : {1, 0}) {
    SCOPED_TRACE(maxRequests ? "the worker's last request" : "the pool ended after the request");
    FastCGIPool pool(kProgram, {.workers = 1, .maxRequests = maxRequests});
    CGIRun run = RunFastCGI(pool, Vars("POST", "/main", kRight, {}), Fill(kRight));
    EXPECT_EQ(run.out, expected);
    if (maxRequests) {
      EXPECT_TRUE(pool.WaitForStartedWorkers(2)) << "a replacement for the worker that ended" << pool.Log();
    }
    EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
    EXPECT_FALSE(std::regex_search(pool.Log(), std::regex("exited with status [1-9]|killed"))) << pool.Log();
    EXPECT_EQ(AttachmentsSettled(), fAttachmentsBefore);
  }
}

// Several workers at once, right and wrong logins mixed: each answer is
// its own request's. (Few wrong ones, each of a name of its own: the
// server slows down failing logins that come in numbers.)
TEST_F(ServerFastCGI, ConcurrentRequestsGetTheirOwnAnswers) {
  const std::string expected = Prepare(kServerCases[0]);
  const std::string rejected = kRejectedAnswer;
  FastCGIPool pool(kProgram, {.workers = 3});
  std::vector<std::thread> clients;
  std::vector<std::string> failures(4);
  for (size_t t = 0; t < failures.size(); ++t) {
    clients.emplace_back([&, t] {
      for (int i = 0; i < 6; ++i) {
        const bool right = i % 3 != 1;
        const std::string body =
            right ? kRight : "u=nemvo_nobody_" + std::to_string(t) + "_" + std::to_string(i) + "&p={password}";
        CGIRun run = RunFastCGI(pool, Vars("POST", "/main", body, {}), Fill(body));
        if (run.out != (right ? expected : rejected)) failures[t] += "request " + std::to_string(i) + " wrong\n";
      }
    });
  }
  for (auto& c : clients) c.join();
  for (const std::string& f : failures) EXPECT_EQ(f, "");
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
  EXPECT_EQ(AttachmentsSettled(), fAttachmentsBefore);
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// A worker's logins compute with libcrypto once its known-answer test has
// passed: the client library's calls of mp_exptmod reach the program's own
// (which the executable must export), and that one says on standard error
// which code delivered each result. Each worker says once which arithmetic
// it uses and why. Switched off (command line or configuration), without a
// loadable libcrypto (a file under its name that the loader refuses) or with
// one whose powers are wrong, the logins are the client library's own work
// and succeed all the same.
TEST_F(ServerFastCGI, LoginArithmeticOfAWorker) {
  struct Setting {
    const char* name;
    CGIVars env;
    std::vector<std::string> args;
    std::string config;  // more of the configuration's section
    std::string says;    // the worker's line, after "login arithmetic: "
    bool libcrypto;      // whether libcrypto computes
  };
  const std::string report = "NEMVO_REPORT_MODULAR_POWERS";
  const Setting settings[] = {
      {"libcrypto at hand", {{report, "1"}}, {}, "", "libcrypto (known-answer test passed)", true},
      {"asked for on the command line", {{report, "1"}}, {"--login-arithmetic", "libcrypto"}, "LoginArithmetic=library\n",
       "libcrypto (known-answer test passed)", true},
      {"switched off on the command line", {{report, "1"}}, {"--login-arithmetic", "library"}, "",
       "library (switched off by --login-arithmetic library)", false},
      {"switched off in the configuration", {{report, "1"}}, {}, "LoginArithmetic=library\n",
       "library (switched off by LoginArithmetic=library in " + ProgramConfig::Path() + ")", false},
      {"libcrypto unloadable",
       {{report, "1"}, {"LD_LIBRARY_PATH", NEMVO_UNLOADABLE_CRYPTO_DIR}},
       {},
       "",
       std::string("library (") + NEMVO_UNLOADABLE_CRYPTO_DIR + "/libcrypto.so.3: ",
       false},
      {"libcrypto computing wrong powers",
       {{report, "1"}, {"LD_LIBRARY_PATH", NEMVO_WRONG_CRYPTO_DIR}},
       {},
       "",
       "library (libcrypto's result is not the known one)",
       false},
  };
  for (const Setting& setting : settings) {
    SCOPED_TRACE(setting.name);
    ServerCase c = kServerCases[0];
    c.config += setting.config;
    const std::string expected = Prepare(c);
    FastCGIPool pool(kProgram, {.workers = 1, .env = setting.env, .extraArgs = setting.args});
    for (int i = 0; i < 2; ++i) {
      CGIRun run = RunFastCGI(pool, Vars("POST", "/main", kRight, {}), Fill(kRight));
      EXPECT_EQ(run.out, expected);
    }
    EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
    const std::string log = pool.Log();
    const char* deliveredBy = setting.libcrypto ? "mp_exptmod: libcrypto\n" : "mp_exptmod: library\n";
    const char* notBy = setting.libcrypto ? "mp_exptmod: library\n" : "mp_exptmod: libcrypto\n";
    // Each login computes several powers (four with Firebird 3's client).
    EXPECT_GE(Occurrences(log, deliveredBy), 2u) << log;
    EXPECT_EQ(Occurrences(log, notBy), 0u) << log;
    EXPECT_EQ(Occurrences(log, "]: login arithmetic: " + setting.says), 1u) << log;
    EXPECT_EQ(Occurrences(log, "login arithmetic: "), 1u) << log;
  }
}

}  // namespace
}  // namespace nemvo::testing
