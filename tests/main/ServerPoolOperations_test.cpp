// The pool's watch over logins against the real database server: a database
// that goes silent in the middle of a login, with the login's own time-out
// off, holds its worker until the pool's request time-out ends it (logged,
// with the request's path and phase, once as slow before); the next login is
// answered; the status page counts logins and the database's answer times.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "main/FastCGIPool.h"
#include "main/ProgramCases.h"
#include "main/ServerCases.h"
#include "support/SilentRelay.h"

namespace nemvo::testing {
namespace {

using namespace std::chrono_literals;

const std::string kProgram = NEMVO_WEB_PROGRAM;

int64_t StatusNumber(const std::string& json, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(json, m, std::regex("\"" + key + "\": *(-?[0-9]+)"))) return -1;
  return std::stoll(m[1]);
}

class ServerPoolOperations : public ServerLoginFixture {};

TEST_F(ServerPoolOperations, ASilentDatabaseIsCutOffByTheRequestTimeout) {
  SilentRelay relay(std::stoi(FirebirdServer::Port()));
  fDir.Write("main.html", kTemplate);
  ProgramConfig::WriteSection("DBSuporte=127.0.0.1/" + std::to_string(relay.Port()) + ":" +
                              FirebirdServer::DatabasePath() + "\nMainHTML=" + fDir.Path().string() +
                              "/main.html\nLoginTimeout=0\n");
  FastCGIPool pool(kProgram, {.workers = 1,
                              .extraArgs = {"--request-timeout", "3", "--slow-log-threshold", "1", "--status-path",
                                            "/status"}});
  // A whole login through the relay tells how many turns it takes; the next
  // connection goes silent before the dialect question, after the attach.
  const CGIRun counted = RunFastCGI(pool, Vars("POST", "/main", kRight, {}), Fill(kRight));
  ASSERT_EQ(counted.out, Response(kMainPage));
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (relay.TurnsOfLastEnded() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  ASSERT_GE(relay.TurnsOfLastEnded(), 4) << "the relay saw no whole login";
  relay.SilenceAtClientTurn(relay.TurnsOfLastEnded() - 2);

  const auto start = std::chrono::steady_clock::now();
  const CGIRun held = RunFastCGI(pool, Vars("POST", "/main", kRight, {}), Fill(kRight), {.timeout = 30s});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(relay.Silenced()) << "the relay never went silent";
  EXPECT_FALSE(held.timedOut) << "the held request was never ended";
  EXPECT_EQ(held.out, "") << "an answer came for the held request";
  EXPECT_GE(took, 3s);
  EXPECT_LT(took, 8s * (UnderValgrind() ? ValgrindSlowdown : 1));
  ASSERT_TRUE(pool.WaitForStartedWorkers(2)) << pool.Log();
  const std::string log = pool.Log();
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(slow request: worker \d+ path=\S*/main phase=waiting-for-database running=1\.\d{3} s)")))
      << log;
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(held path=\S*/main phase=waiting-for-database for 3\.\d{3} s, past the request time-out: ended)")))
      << log;

  // The next login is answered by the new worker; the database answered two
  // logins, the held one never.
  const CGIRun next = RunFastCGI(pool, Vars("POST", "/main", kRight, {}), Fill(kRight));
  EXPECT_EQ(next.out, Response(kMainPage));
  const CGIRun status = RunFastCGI(pool, {{"REQUEST_METHOD", "GET"}, {"SCRIPT_NAME", "/status"}, {"QUERY_STRING", "format=json"}}, "");
  EXPECT_EQ(StatusNumber(status.out, "accepted"), 2) << status.out;
  EXPECT_EQ(StatusNumber(status.out, "count"), 2) << status.out;
  EXPECT_EQ(StatusNumber(status.out, "requests"), 3) << status.out;
  EXPECT_EQ(StatusNumber(status.out, "requests_timed_out"), 1) << status.out;
  EXPECT_EQ(StatusNumber(status.out, "workers_replaced"), 1) << status.out;
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
}

}  // namespace
}  // namespace nemvo::testing
