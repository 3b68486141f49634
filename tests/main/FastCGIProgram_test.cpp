// nemvoweb as a FastCGI server. Every black-box case of the CGI program is
// sent to a pool, one request after another to the same worker, and must be
// answered with the same bytes: whatever one request left behind would show
// in the next. Then what a pool must survive: a worker killed in the middle
// of a request, a request to end with requests in flight, a client that
// hangs up, a socket left over by a server that has gone.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "main/FastCGIClient.h"
#include "main/FastCGIPool.h"
#include "main/ProgramCases.h"
#include "support/ProgramConfig.h"

namespace nemvo::testing {
namespace {

using namespace std::chrono_literals;

const std::string kProgram = NEMVO_WEB_PROGRAM;

bool NeedsNoClient(const Case& c) {
  return std::any_of(c.vars.begin(), c.vars.end(), [](const auto& v) { return v.first == "LD_LIBRARY_PATH"; });
}

// The CGI cases that are about the request, not about the process: a
// FastCGI request has no standard output to be closed, and the client
// library is the pool's, not the request's (those cases run against a pool
// started without it). A closed standard input is, for a FastCGI request, a
// body stream that ends at once (cgi-fcgi itself cannot run without one).
std::vector<Case> RequestCases(bool noClient) {
  std::vector<Case> cases;
  for (const Case& c : kCases) {
    if (c.options.closeStdout || NeedsNoClient(c) != noClient) continue;
    cases.push_back(c);
    if (c.options.closeStdin) {
      cases.back().options.closeStdin = false;
      cases.back().input.clear();
    }
  }
  return cases;
}

void ExpectCaseAnswered(const FastCGIPool& pool, const Case& c) {
  CGIRun run = RunFastCGI(pool, c.vars, c.input, c.options);
  EXPECT_FALSE(run.timedOut) << c.name;
  EXPECT_EQ(run.exitCode, 0) << c.name << "\n" << run.err;
  EXPECT_EQ(run.out, FastCGIAnswerFor(c.out)) << c.name;
  EXPECT_EQ(run.err, c.err) << c.name;
}

// No exception report, no worker lost: only the pool's own lines.
void ExpectQuietLog(const FastCGIPool& pool, size_t workersStarted) {
  const std::string log = pool.Log();
  EXPECT_EQ(pool.StartedWorkers().size(), workersStarted) << log;
  EXPECT_EQ(log.find("Exception"), std::string::npos) << log;
  EXPECT_EQ(log.find("exited"), std::string::npos) << log;
  EXPECT_EQ(log.find("killed"), std::string::npos) << log;
}

// Asks the pool to end: it ends at once, and every worker with status 0
// (under valgrind: without memory errors or lost blocks).
void ExpectCleanEnd(FastCGIPool& pool) {
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
  const std::string log = pool.Log();
  EXPECT_FALSE(std::regex_search(log, std::regex("exited with status [1-9]|killed"))) << log;
}

class FastCGIProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    NEMVO_REQUIRE_WRITABLE_CONFIG();
    ProgramConfig::WriteSection("DBSuporte=\n");
  }
};

TEST_F(FastCGIProgram, EveryCaseOneAfterAnotherOnOneWorker) {
  FastCGIPool pool(kProgram, {.workers = 1});
  std::vector<Case> cases = RequestCases(false);
  for (const Case& c : cases) ExpectCaseAnswered(pool, c);
  std::reverse(cases.begin(), cases.end());
  for (const Case& c : cases) ExpectCaseAnswered(pool, c);
  ExpectQuietLog(pool, 1);
  ExpectCleanEnd(pool);
}

TEST_F(FastCGIProgram, WithoutClientLibraryEveryRequestGetsTheServerErrorPage) {
  FastCGIPool pool(kProgram, {.workers = 1, .env = kNoClient});
  for (int round = 0; round < 2; ++round)
    for (const Case& c : RequestCases(true)) ExpectCaseAnswered(pool, c);
  ExpectQuietLog(pool, 1);
  ExpectCleanEnd(pool);
}

// A web server may keep the connection for its next request; a worker that
// waits on an idle kept connection still takes a new one. A request that
// leaves its body unread must not leave it for the next one to trip over.
TEST_F(FastCGIProgram, KeptConnection) {
  FastCGIPool pool(kProgram, {.workers = 1});
  const std::string body = "u=a&p=b";
  struct Line {
    const char* name;
    CGIVars vars;
    std::string answer;
  };
  const Line lines[] = {
      {"login", Request("POST", "/main", body), kNoDatabase},
      {"another path: body unread", Request("POST", "/other", body), kNothingWrittenAnswer},
      {"no length: body unread", Request("POST", "/main", "", {}), kNoDatabase},
      {"login again", Request("POST", "/main", body), kNoDatabase},
  };
  FastCGIClient kept(pool.ConnectTarget());
  for (const Line& line : lines) {
    kept.Begin(line.vars, true);
    kept.Body(body);
    kept.Body("");
    FastCGIClient::Answer answer = kept.Read();
    EXPECT_TRUE(answer.ended) << line.name;
    EXPECT_FALSE(answer.closed) << line.name;
    EXPECT_EQ(answer.out, line.answer) << line.name;
  }
  // The kept connection is idle now: another one is served all the same.
  FastCGIClient other(pool.ConnectTarget());
  other.Begin(Request("POST", "/main", body));
  other.Body(body);
  other.Body("");
  FastCGIClient::Answer answer = other.Read(10s);
  EXPECT_TRUE(answer.ended);
  EXPECT_EQ(answer.out, kNoDatabase);
  ExpectQuietLog(pool, 1);
  ExpectCleanEnd(pool);
}

// Started with a listening socket as standard input, the program serves
// FastCGI on it until asked to end: by itself (a web server's bin-path,
// spawn-fcgi), or as a pool of workers sharing it ("--fastcgi stdin", a
// service manager's socket unit).
TEST_F(FastCGIProgram, ListeningSocketAsStandardInput) {
  struct StartForm {
    std::string name;
    std::vector<std::string> args;
    std::string log;
  };
  const std::vector<StartForm> forms = {
      {"one process", {}, "]: login arithmetic: libcrypto (known-answer test passed)\n"},
      {"pool", {"--fastcgi", "stdin", "--workers", "2"}, "listening on stdin, 2 workers"},
  };
  for (const StartForm& form : forms) {
    SCOPED_TRACE(form.name);
    TempDirectory dir;
    const std::string path = dir.PathOf("stdin.sock");
    int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listening, 8), 0);
    std::vector<std::string> args;
    if (UnderValgrind())
      args = {"valgrind", "-q", "--error-exitcode=" + std::to_string(ValgrindErrorExit), "--leak-check=full",
              "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite"};
    args.push_back(kProgram);
    args.insert(args.end(), form.args.begin(), form.args.end());
    const pid_t pid = FastCGIPool::Spawn(args, {}, dir.PathOf("log"), listening);
    close(listening);
    for (const Case& c : RequestCases(false)) {
      CGIRun run = RunFastCGI(path, c.vars, c.input, c.options);
      EXPECT_EQ(run.out, FastCGIAnswerFor(c.out)) << c.name;
    }
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::ifstream log(dir.PathOf("log"));
    const std::string logText(std::istreambuf_iterator<char>(log), {});
    if (form.log.empty())
      EXPECT_EQ(logText, "");
    else
      EXPECT_NE(logText.find(form.log), std::string::npos) << logText;
    // The socket belongs to whoever handed it over: the program leaves its file.
    EXPECT_TRUE(std::filesystem::exists(path));
  }
}

// A web server's CGI can turn the words of a query string into arguments: a
// visitor must not be able to start a server that way.
TEST_F(FastCGIProgram, ArgumentsUnderCGIAreIgnored) {
  TempDirectory dir;
  const std::string socketPath = dir.PathOf("visitor.sock");
  TChildProcess program(kProgram, {"--fastcgi", "unix:" + socketPath}, Request("POST", "/main", "u=a&p=b"), "u=a&p=b",
                        CGIOptions{});
  program.Finish();
  const CGIRun& run = program.Result();
  EXPECT_EQ(run.out, kNoDatabase);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(socketPath));
}

// --- What the pool must survive ---------------------------------------

const std::string kBody = "u=a&p=b";

// Sends a request whose body stops after its first byte: the worker is
// then busy with it, waiting for the rest.
void BeginHalfRequest(FastCGIClient& client) {
  client.Begin(Request("POST", "/main", kBody));
  client.Body(kBody.substr(0, 1));
}

// False when the worker has closed the connection.
bool FinishHalfRequest(FastCGIClient& client) { return client.Body(kBody.substr(1)) && client.Body(""); }

// The sockets a process holds open.
int SocketCount(pid_t pid) {
  int n = 0;
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd/";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    char target[64] = {};
    if (readlink(entry.path().c_str(), target, sizeof target - 1) > 0 && std::string(target).starts_with("socket:")) ++n;
  }
  return n;
}

TEST_F(FastCGIProgram, WorkerKilledInTheMiddleOfARequest) {
  FastCGIPool pool(kProgram, {.workers = 2});
  ASSERT_TRUE(pool.WaitForStartedWorkers(2)) << pool.Log();
  std::vector<pid_t> workers;
  for (auto until = std::chrono::steady_clock::now() + 10s; workers.size() < 2 && std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(20ms))
    workers = pool.LiveWorkers();
  ASSERT_EQ(workers.size(), 2u) << pool.Log();
  const int idle[2] = {SocketCount(workers[0]), SocketCount(workers[1])};
  FastCGIClient first(pool.ConnectTarget()), second(pool.ConnectTarget());
  BeginHalfRequest(first);
  BeginHalfRequest(second);
  // Which worker has which connection is not known: kill one, and the
  // connections it served are the ones closed without an answer. A worker
  // takes further connections while a head is on its way, so on a slow
  // machine one may hold both: their sockets tell.
  int held[2] = {0, 0};
  for (auto until = std::chrono::steady_clock::now() + 10s * (UnderValgrind() ? ValgrindSlowdown : 1);
       held[0] + held[1] < 2 && std::chrono::steady_clock::now() < until;) {
    std::this_thread::sleep_for(20ms);
    for (int w = 0; w < 2; ++w) held[w] = SocketCount(workers[w]) - idle[w];
  }
  ASSERT_EQ(held[0] + held[1], 2) << "the workers did not take both connections";
  const int lostExpected = held[0];
  // (SIGKILL: a sanitized worker would turn a crash signal into an exit.)
  ASSERT_EQ(kill(workers[0], SIGKILL), 0);
  ASSERT_TRUE(pool.WaitForStartedWorkers(3)) << pool.Log();
  const bool firstSent = FinishHalfRequest(first), secondSent = FinishHalfRequest(second);
  FastCGIClient::Answer a = first.Read(10s), b = second.Read(10s);
  EXPECT_EQ(firstSent, a.ended);
  EXPECT_EQ(secondSent, b.ended);
  EXPECT_EQ(int(!a.ended) + int(!b.ended), lostExpected) << "the requests lost are the killed worker's";
  for (const FastCGIClient::Answer* answer : {&a, &b}) {
    if (answer->ended) EXPECT_EQ(answer->out, kNoDatabase);
    else EXPECT_TRUE(answer->closed && answer->out.empty());
  }
  // The replacement and the survivor both serve.
  for (int i = 0; i < 4; ++i) ExpectCaseAnswered(pool, kCases[0]);
  EXPECT_NE(pool.Log().find("killed by signal"), std::string::npos) << pool.Log();
  EXPECT_EQ(pool.LiveWorkers().size(), 2u) << pool.Log();
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
}

TEST_F(FastCGIProgram, EndingWaitsForTheRequestsInFlight) {
  FastCGIPool pool(kProgram, {.workers = 2});
  const std::string socketPath = pool.ConnectTarget();
  FastCGIClient first(socketPath), second(socketPath);
  BeginHalfRequest(first);
  BeginHalfRequest(second);
  std::this_thread::sleep_for(300ms);
  const auto asked = std::chrono::steady_clock::now();
  kill(pool.Pid(), SIGTERM);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(pool.WaitForExit(asked, 0ms), -1) << "ended with requests in flight";
  EXPECT_TRUE(FinishHalfRequest(first));
  EXPECT_TRUE(FinishHalfRequest(second));
  for (FastCGIClient* client : {&first, &second}) {
    FastCGIClient::Answer answer = client->Read(10s);
    EXPECT_TRUE(answer.ended);
    EXPECT_EQ(answer.out, kNoDatabase);
  }
  EXPECT_EQ(pool.WaitForExit(asked, 10s), 0) << pool.Log();
  EXPECT_FALSE(std::filesystem::exists(socketPath)) << "the socket file stays behind";
  EXPECT_EQ(pool.Log().find("killed"), std::string::npos) << pool.Log();
}

TEST_F(FastCGIProgram, EndingIsBounded) {
  FastCGIPool pool(kProgram, {.workers = 1, .shutdownSeconds = 1});
  FastCGIClient stuck(pool.ConnectTarget());
  BeginHalfRequest(stuck);  // and never more
  std::this_thread::sleep_for(300ms);
  std::chrono::milliseconds took{};
  EXPECT_EQ(pool.Stop(10s, &took), 0) << pool.Log();
  EXPECT_LT(took, 5s);
  EXPECT_NE(pool.Log().find("killed"), std::string::npos) << pool.Log();
  EXPECT_TRUE(stuck.Read(5s).closed);
}

// A client that hangs up costs its own request only: the same worker
// serves the next one.
TEST_F(FastCGIProgram, ClientHangsUp) {
  FastCGIPool pool(kProgram, {.workers = 1});
  struct HangUp {
    const char* name;
    bool fullBody;
  };
  for (const HangUp& h : {HangUp{"in the middle of the body", false}, HangUp{"before reading the answer", true}}) {
    {
      FastCGIClient client(pool.ConnectTarget());
      client.Begin(Request("POST", "/main", kBigBody));
      client.Body(h.fullBody ? kBigBody : kBigBody.substr(0, 70000));
      if (h.fullBody) client.Body("");
    }
    std::this_thread::sleep_for(200ms);
    ExpectCaseAnswered(pool, kCases[0]);
    ExpectQuietLog(pool, 1);
  }
  ExpectCleanEnd(pool);
}

// A web server that stalls in the middle of a request holds its worker for
// the pool's I/O bound only: the worker gives the connection up and serves
// the next one. (Without the bound, the last three hold it for good.) One
// that stalls before its head has come holds no worker at all, and is given
// up all the same.
TEST_F(FastCGIProgram, StalledPeerLosesItsRequestOnly) {
  FastCGIPool pool(kProgram, {.workers = 1, .ioTimeoutSeconds = 1});
  struct Stall {
    const char* name;
    void (*send)(FastCGIClient&);
    bool holdsWorker = true;
  };
  const Stall stalls[] = {
      {"connected, nothing sent", [](FastCGIClient&) {}, false},
      {"half a record", [](FastCGIClient& c) {
         c.Begin(Request("POST", "/main", kBody));
         c.SendBytes("\x01\x05");
       }},
      {"the head, no body", [](FastCGIClient& c) { c.Begin(Request("POST", "/main", kBody)); }},
      {"part of the body", BeginHalfRequest},
  };
  for (const Stall& stall : stalls) {
    FastCGIClient stalled(pool.ConnectTarget());
    stall.send(stalled);
    std::this_thread::sleep_for(200ms);  // the worker has taken it
    const auto start = std::chrono::steady_clock::now();
    ExpectCaseAnswered(pool, kCases[0]);
    const auto waited = std::chrono::steady_clock::now() - start;
    if (stall.holdsWorker)
      EXPECT_GE(waited, 700ms) << stall.name << ": the next request did not wait for the stalled one";
    else
      EXPECT_LT(waited, 700ms) << stall.name << ": the next request waited for the stalled one";
    // Given up: closed at once, or, when the head had come, answered with
    // what arrived of the body (as a request whose connection is lost is),
    // then closed.
    const FastCGIClient::Answer given = stalled.Read(10s);
    EXPECT_FALSE(given.timedOut) << stall.name;
    EXPECT_TRUE(given.closed || stalled.PeerClosed(5s)) << stall.name << ": the stalled connection is still open";
  }
  ExpectQuietLog(pool, 1);
  ExpectCleanEnd(pool);
}

TEST_F(FastCGIProgram, WorkersReplacedAfterMaxRequests) {
  FastCGIPool pool(kProgram, {.workers = 1, .maxRequests = 3});
  for (int i = 0; i < 7; ++i) ExpectCaseAnswered(pool, kCases[i % 2]);
  ASSERT_TRUE(pool.WaitForStartedWorkers(3)) << pool.Log();
  const std::string log = pool.Log();
  size_t replaced = 0;
  for (size_t at = log.find("done with its requests"); at != std::string::npos;
       at = log.find("done with its requests", at + 1))
    ++replaced;
  EXPECT_EQ(replaced, 2u) << log;
}

// --- Where the pool listens --------------------------------------------

// Runs the pool on `address` as given; true when it listens. The exit code
// and the log of a pool that did not start are kept.
struct StartResult {
  bool listening = false;
  int exitCode = -1;
  std::string log;
};

StartResult TryStart(const std::string& address) {
  TempDirectory dir;
  const pid_t pid = FastCGIPool::Spawn({kProgram, "--fastcgi", address, "--workers", "1"}, {}, dir.PathOf("log"));
  StartResult result;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  for (;;) {
    std::ifstream in(dir.PathOf("log"));
    result.log.assign(std::istreambuf_iterator<char>(in), {});
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return result;
    }
    if (result.log.find("worker") != std::string::npos || std::chrono::steady_clock::now() > deadline) {
      result.listening = result.log.find("listening on") != std::string::npos;
      kill(pid, SIGTERM);
      waitpid(pid, &status, 0);
      result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return result;
    }
    std::this_thread::sleep_for(20ms);
  }
}

// A bound unix socket nobody listens on any more: what a server killed
// without cleaning up leaves.
void MakeStaleSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

TEST(FastCGIPoolSocket, WhatIsAtThePathDecides) {
  enum class At { kNothing, kStaleSocket, kLiveSocket, kFile };
  struct Line {
    const char* name;
    At at;
    bool starts;
    const char* message;
  };
  const Line lines[] = {
      {"nothing there", At::kNothing, true, ""},
      {"a stale socket is replaced", At::kStaleSocket, true, ""},
      {"a live server's socket stays", At::kLiveSocket, false, "another server is listening on it"},
      {"a file stays", At::kFile, false, "exists and is not a socket"},
  };
  for (const Line& line : lines) {
    TempDirectory dir;
    const std::string path = dir.PathOf("s.sock");
    std::unique_ptr<FastCGIPool> live;
    if (line.at == At::kStaleSocket) MakeStaleSocket(path);
    if (line.at == At::kFile) dir.Write("s.sock", "precious");
    if (line.at == At::kLiveSocket) live = std::make_unique<FastCGIPool>(kProgram, PoolOptions{.address = "unix:" + path});
    StartResult result = TryStart("unix:" + path);
    EXPECT_EQ(result.listening, line.starts) << line.name << "\n" << result.log;
    EXPECT_EQ(result.exitCode, line.starts ? 0 : 1) << line.name << "\n" << result.log;
    EXPECT_NE(result.log.find(line.message), std::string::npos) << line.name << "\n" << result.log;
    if (line.at == At::kFile) {
      std::ifstream in(path);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious") << line.name;
    }
    if (live) {
      EXPECT_TRUE(std::filesystem::exists(path)) << line.name;
      ExpectCaseAnswered(*live, kCases[0]);
    }
  }
}

TEST(FastCGIPoolSocket, UnixSocketModeIs0660) {
  FastCGIPool pool(kProgram, {});
  struct stat st;
  ASSERT_EQ(stat(pool.ConnectTarget().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
}

// A free TCP port on the loopback interface, for a moment.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

TEST(FastCGIPoolSocket, TCPOnLoopbackOnly) {
  const std::string port = std::to_string(FreePort());
  struct Line {
    std::string address;
    bool starts;
    const char* message;
  };
  const Line lines[] = {
      {"127.0.0.1:" + port, true, ""},
      {"localhost:" + port, true, ""},
      {"0.0.0.0:" + port, false, "not a loopback address"},
      {":" + port, false, "no host"},
      {"127.0.0.1:", false, "not unix:PATH or HOST:PORT"},
      {"127.0.0.1", false, "not unix:PATH or HOST:PORT"},
  };
  for (const Line& line : lines) {
    StartResult result = TryStart(line.address);
    EXPECT_EQ(result.listening, line.starts) << line.address << "\n" << result.log;
    EXPECT_NE(result.log.find(line.message), std::string::npos) << line.address << "\n" << result.log;
  }
}

TEST(FastCGIPoolSocket, TCPRequestsAnswered) {
  FastCGIPool pool(kProgram, {.address = "127.0.0.1:" + std::to_string(FreePort())});
  ExpectCaseAnswered(pool, kCases[0]);
}

}  // namespace
}  // namespace nemvo::testing
