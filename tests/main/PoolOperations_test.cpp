// What an operator does to a running pool, and what the pool does on its own
// between requests: signals (the pool's and, as a service manager sends them,
// every worker's), its logs opened anew after rotation, workers started on
// demand and let go when idle, its status and ping paths. Requests that need
// no database: the pool's own paths and a request held half-sent.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "main/FastCGIClient.h"
#include "main/FastCGIPool.h"
#include "support/ProgramConfig.h"

namespace nemvo::testing {
namespace {

using namespace std::chrono_literals;

const std::string kProgram = NEMVO_WEB_PROGRAM;
const std::vector<std::string> kPaths = {"--ping-path", "/ping", "--status-path", "/status"};

CGIVars Get(const std::string& path, const std::string& query = "") {
  return {{"REQUEST_METHOD", "GET"}, {"SCRIPT_NAME", path}, {"QUERY_STRING", query}, {"REMOTE_ADDR", "192.0.2.7"}};
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Pinged(const FastCGIPool& pool) {
  const CGIRun run = RunFastCGI(pool, Get("/ping"), "", {.timeout = 10s});
  return run.out.ends_with("\r\n\r\npong\n") && run.out.starts_with("Status: 200 OK\r\n");
}

// Waits until `done` holds, for at most `limit` (stretched under valgrind).
template <typename Condition>
bool WaitFor(Condition done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit * (UnderValgrind() ? ValgrindSlowdown : 1);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// One number of the status page's JSON, by its key.
int64_t StatusNumber(const std::string& json, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(json, m, std::regex("\"" + key + "\": *(-?[0-9]+)"))) return -1;
  return std::stoll(m[1]);
}

// A request whose head has come and whose body never ends: its worker is
// busy with it until the request's bounds end it.
struct HeldRequest {
  explicit HeldRequest(const FastCGIPool& pool) : client(pool.ConnectTarget()) {
    CGIVars vars = {{"REQUEST_METHOD", "POST"}, {"SCRIPT_NAME", "/held"}, {"CONTENT_LENGTH", "100"}};
    EXPECT_TRUE(client.Begin(vars) && client.Body("u=")) << "the pool closed the connection";
  }
  FastCGIClient client;
};

class PoolOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    NEMVO_REQUIRE_WRITABLE_CONFIG();
    ProgramConfig::WriteSection("DBSuporte=\n");
  }
};

TEST_F(PoolOperations, SignalsEndReloadOrAreIgnoredAndEachIsLogged) {
  enum class Effect { Ends, Reloads, ReopensLogs, Ignored };
  struct Line {
    int signal;
    const char* name;
    Effect effect;
  };
  const Line lines[] = {
      {SIGTERM, "SIGTERM", Effect::Ends},     {SIGINT, "SIGINT", Effect::Ends},
      {SIGQUIT, "SIGQUIT", Effect::Ends},     {SIGHUP, "SIGHUP", Effect::Reloads},
      {SIGUSR2, "SIGUSR2", Effect::Reloads},  {SIGUSR1, "SIGUSR1", Effect::ReopensLogs},
      {SIGALRM, "SIGALRM", Effect::Ignored},  {SIGPWR, "SIGPWR", Effect::Ignored},
      {SIGVTALRM, "SIGVTALRM", Effect::Ignored},
  };
  for (const Line& line : lines) {
    SCOPED_TRACE(line.name);
    FastCGIPool pool(kProgram, {.workers = 2, .extraArgs = kPaths});
    ASSERT_TRUE(Pinged(pool)) << pool.Log();
    // A service manager's kill reaches every process of the service: the
    // workers get the signal too.
    const std::vector<pid_t> workers = pool.LiveWorkers();
    kill(pool.Pid(), line.signal);
    for (pid_t worker : workers) kill(worker, line.signal);
    const std::string logged = std::string(line.name) + " from process ";
    EXPECT_TRUE(WaitFor([&] { return pool.Log().find(logged) != std::string::npos; })) << pool.Log();
    if (line.effect == Effect::Ends) {
      EXPECT_EQ(pool.WaitForExit(std::chrono::steady_clock::now(), 10s), 0) << pool.Log();
      EXPECT_FALSE(std::regex_search(pool.Log(), std::regex("killed by|exited with status [1-9]"))) << pool.Log();
      continue;
    }
    EXPECT_TRUE(Pinged(pool)) << pool.Log();
    if (line.effect == Effect::Reloads) {
      // Two fresh workers in place of the two that finished.
      EXPECT_TRUE(pool.WaitForStartedWorkers(4)) << pool.Log();
      EXPECT_TRUE(WaitFor([&] { return pool.LiveWorkers().size() == 2; })) << pool.Log();
    } else {
      EXPECT_EQ(pool.LiveWorkers(), workers) << pool.Log();
    }
    EXPECT_FALSE(std::regex_search(pool.Log(), std::regex("killed by|exited with status [1-9]|: replaced"))) << pool.Log();
    EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
  }
}

TEST_F(PoolOperations, LogsAreOpenedAnewAfterRotation) {
  TempDirectory logs;
  std::vector<std::string> args = kPaths;
  args.insert(args.end(), {"--access-log", logs.PathOf("access.log")});
  FastCGIPool pool(kProgram, {.workers = 2, .extraArgs = args, .logFile = "own.log"});
  ASSERT_TRUE(Pinged(pool)) << pool.Log();
  const std::string own = pool.Directory().PathOf("own.log");
  std::filesystem::rename(own, own + ".1");
  std::filesystem::rename(logs.PathOf("access.log"), logs.PathOf("access.log.1"));
  kill(pool.Pid(), SIGUSR1);
  ASSERT_TRUE(WaitFor([&] { return pool.Log().find("SIGUSR1 from process") != std::string::npos; }))
      << "no line in the reopened log; the old one:\n" << ReadFile(own + ".1");
  ASSERT_TRUE(Pinged(pool)) << pool.Log();
  // A request's line is written once its answer has gone out.
  EXPECT_TRUE(WaitFor([&] { return !ReadFile(logs.PathOf("access.log")).empty(); })) << "no line after the rotation";
  const std::regex line(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z nemvoweb: access client=192\.0\.2\.7 method=GET path=/ping status=200 login=- duration=\d+\.\d{3}\n$)");
  // Each request's line in the file that was in place when it was answered.
  EXPECT_TRUE(std::regex_match(ReadFile(logs.PathOf("access.log.1")), line)) << ReadFile(logs.PathOf("access.log.1"));
  EXPECT_TRUE(std::regex_match(ReadFile(logs.PathOf("access.log")), line)) << ReadFile(logs.PathOf("access.log"));
  EXPECT_NE(ReadFile(own + ".1").find("listening on"), std::string::npos);
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
  EXPECT_NE(pool.Log().find("ended"), std::string::npos) << "the pool's last lines went elsewhere";
}

TEST_F(PoolOperations, WorkersStartOnDemandUpToTheMostAndGoWhenIdle) {
  std::vector<std::string> args = kPaths;
  args.insert(args.end(), {"--workers-min", "0", "--workers-max", "2", "--idle-timeout", "1"});
  FastCGIPool pool(kProgram, {.extraArgs = args});
  EXPECT_TRUE(pool.StartedWorkers().empty()) << pool.Log();
  {
    HeldRequest first(pool);
    ASSERT_TRUE(pool.WaitForStartedWorkers(1)) << pool.Log();
    HeldRequest second(pool);
    ASSERT_TRUE(pool.WaitForStartedWorkers(2)) << pool.Log();
    HeldRequest third(pool);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(pool.StartedWorkers().size(), 2u) << "more workers than --workers-max:\n" << pool.Log();
  }
  // The held requests went with their connections; the workers are free.
  EXPECT_TRUE(Pinged(pool)) << pool.Log();
  EXPECT_TRUE(WaitFor([&] { return pool.LiveWorkers().empty(); })) << pool.Log();
  const std::string log = pool.Log();
  const std::regex idle("idle for");
  EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), idle), std::sregex_iterator()), 2) << log;
  // From no worker at all, the next request starts one.
  EXPECT_TRUE(Pinged(pool)) << pool.Log();
  EXPECT_EQ(pool.StartedWorkers().size(), 3u) << pool.Log();
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
  EXPECT_FALSE(std::regex_search(pool.Log(), std::regex("killed by|exited with status [1-9]|: replaced"))) << pool.Log();
}

TEST_F(PoolOperations, ARequestPastItsTimeEndsItsWorkerAndASlowOneIsLoggedOnce) {
  std::vector<std::string> args = kPaths;
  args.insert(args.end(), {"--request-timeout", "3", "--slow-log-threshold", "1"});
  FastCGIPool pool(kProgram, {.workers = 1, .extraArgs = args});
  const auto start = std::chrono::steady_clock::now();
  HeldRequest held(pool);
  const FastCGIClient::Answer answer = held.client.Read(20s);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(answer.closed && !answer.ended) << "the held request was not ended by its worker's end";
  EXPECT_GE(took, 3s);
  EXPECT_LT(took, 6s * (UnderValgrind() ? ValgrindSlowdown : 1));
  ASSERT_TRUE(pool.WaitForStartedWorkers(2)) << "the worker was not replaced:\n" << pool.Log();
  const std::string log = pool.Log();
  EXPECT_TRUE(std::regex_search(
      log, std::regex(R"(slow request: worker \d+ path=/held phase=reading-body running=1\.\d{3} s\n)")))
      << log;
  EXPECT_EQ(log.find("slow request"), log.rfind("slow request")) << "logged more than once:\n" << log;
  EXPECT_TRUE(std::regex_search(
      log, std::regex(R"(worker \d+ held path=/held phase=reading-body for 3\.\d{3} s, past the request time-out: ended)")))
      << log;
  // The pool's counts say so, and the next request is answered.
  const CGIRun status = RunFastCGI(pool, Get("/status", "format=json"), "");
  EXPECT_EQ(StatusNumber(status.out, "requests_timed_out"), 1) << status.out;
  EXPECT_EQ(StatusNumber(status.out, "slow_requests"), 1) << status.out;
  EXPECT_EQ(StatusNumber(status.out, "workers_replaced"), 1) << status.out;
  EXPECT_EQ(StatusNumber(status.out, "requests"), 1) << "the ended request counts as served:\n" << status.out;
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
}

// Counts the pings answered and not answered while it runs.
class PingLoad {
 public:
  explicit PingLoad(const FastCGIPool& pool) : fThread([this, &pool] {
    while (!fStop) (Pinged(pool) ? fAnswered : fFailed).fetch_add(1);
  }) {}
  ~PingLoad() { Finish(); }
  void Finish() {
    fStop = true;
    if (fThread.joinable()) fThread.join();
  }
  int Answered() const { return fAnswered; }
  int Failed() const { return fFailed; }

 private:
  std::atomic<bool> fStop{false};
  std::atomic<int> fAnswered{0}, fFailed{0};
  std::thread fThread;
};

int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(PoolOperations, AReloadStartsTheProgramInstalledMeanwhileAndDropsNoRequest) {
  // The program from a place of the test's own, so that it can be replaced
  // as a package upgrade does (a new file renamed over the old one).
  TempDirectory place;
  const std::string program = place.PathOf("nemvoweb");
  std::filesystem::copy_file(kProgram, program);
  // The new files are written before any request is made: a file still open
  // for writing in a client started meanwhile (which inherits the
  // descriptor) could not be started ("Text file busy").
  for (int reload = 1; reload <= 2; ++reload) std::filesystem::copy_file(kProgram, program + std::to_string(reload));
  FastCGIPool pool(program, {.workers = 2, .extraArgs = kPaths});
  ASSERT_TRUE(Pinged(pool)) << pool.Log();
  PingLoad load(pool);
  for (int reload = 1; reload <= 2; ++reload) {
    std::filesystem::rename(program + std::to_string(reload), program);
    const int answered = load.Answered();
    kill(pool.Pid(), SIGHUP);
    EXPECT_TRUE(WaitFor([&] { return Occurrences(pool.Log(), "started anew, listening on") == reload; })) << pool.Log();
    EXPECT_TRUE(WaitFor([&] { return load.Answered() > answered + 20; })) << pool.Log();
  }
  EXPECT_TRUE(WaitFor([&] { return Occurrences(pool.Log(), "(reload)") == 4; })) << pool.Log();
  load.Finish();
  EXPECT_EQ(load.Failed(), 0) << load.Answered() << " answered\n" << pool.Log();
  // The same process, running the file now in place (not the one removed).
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pool.Pid()) + "/exe").string(), program);
  EXPECT_TRUE(WaitFor([&] { return pool.LiveWorkers().size() == 2; })) << pool.Log();
  EXPECT_FALSE(std::regex_search(pool.Log(), std::regex("killed by|exited with status [1-9]|: replaced"))) << pool.Log();
  EXPECT_EQ(pool.Stop(10s), 0) << pool.Log();
  EXPECT_FALSE(std::filesystem::exists(pool.ConnectTarget())) << "the socket file stayed behind";
}

// The datagrams a pool sends to the socket named in its NOTIFY_SOCKET.
class NotifySocket {
 public:
  NotifySocket() : fPath(fDir.PathOf("notify")) {
    fFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, fPath.c_str(), sizeof address.sun_path - 1);
    if (fFd < 0 || bind(fFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("cannot bind the notify socket");
  }
  ~NotifySocket() { close(fFd); }
  const std::string& Path() const { return fPath; }
  // The next datagram whose text contains `what`, waiting at most `limit`;
  // the ones before it are kept in Seen().
  std::string Next(const std::string& what, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit * (UnderValgrind() ? ValgrindSlowdown : 1);
    while (std::chrono::steady_clock::now() < deadline) {
      timeval wait = {0, 100000};
      setsockopt(fFd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
      char text[4096];
      const ssize_t n = recv(fFd, text, sizeof text, 0);
      if (n <= 0) continue;
      fSeen.emplace_back(text, size_t(n));
      if (fSeen.back().find(what) != std::string::npos) return fSeen.back();
    }
    return {};
  }
  std::string Seen() const {
    std::string all;
    for (const auto& d : fSeen) all += "[" + d + "] ";
    return all;
  }

 private:
  TempDirectory fDir;
  std::string fPath;
  int fFd = -1;
  std::vector<std::string> fSeen;
};

TEST_F(PoolOperations, AServiceManagerIsToldWhenThePoolIsReadyHowItStandsAndWhenItReloadsOrEnds) {
  NotifySocket manager;
  FastCGIPool pool(kProgram, {.workers = 2, .env = {{"NOTIFY_SOCKET", manager.Path()}}, .extraArgs = kPaths});
  EXPECT_EQ(manager.Next("READY=1"), "READY=1\nSTATUS=2 workers (0 busy), 0 requests served") << manager.Seen();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Pinged(pool)) << pool.Log();
  EXPECT_EQ(manager.Next("3 requests"), "STATUS=2 workers (0 busy), 3 requests served") << manager.Seen();
  kill(pool.Pid(), SIGHUP);
  EXPECT_EQ(manager.Next("RELOADING=1"), "RELOADING=1\nSTATUS=reloading") << manager.Seen();
  // The program started anew says it once its own workers are up.
  EXPECT_NE(manager.Next("READY=1"), "") << manager.Seen() << pool.Log();
  EXPECT_TRUE(Pinged(pool)) << pool.Log();
  kill(pool.Pid(), SIGTERM);
  EXPECT_TRUE(manager.Next("STOPPING=1").starts_with("STOPPING=1\nSTATUS=")) << manager.Seen();
  EXPECT_EQ(pool.WaitForExit(std::chrono::steady_clock::now(), 10s), 0) << pool.Log();
}

}  // namespace
}  // namespace nemvo::testing
