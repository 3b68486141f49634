#pragma once
// Runs `nemvoweb --fastcgi unix:SOCKET` as an operator would: a pool with the
// given workers and environment, its log (standard error) kept in a file. The
// requests go to it through cgi-fcgi, the FastCGI client of the FastCGI
// library's tools, which passes its environment as the request's parameters
// and its standard input as the request's body: so the CGI cases run through
// it unchanged. Nothing is left running: the destructor kills what remains.
//
// With NEMVO_VALGRIND set the pool runs under valgrind's memcheck; a worker
// with a memory error or a definitely lost block exits with ValgrindErrorExit,
// which the pool logs.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

namespace nemvo::testing {

inline const std::string kCGIFastCGIClient = "/usr/bin/cgi-fcgi";

// Where the CGI program writes nothing (a path no action serves) and leaves
// the answer to the web server, a FastCGI worker answers for itself.
inline const std::string kNothingWrittenAnswer =
    "Status: 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 67\r\n\r\n"
    "<html><title>Not Found 404</title>\r\n<h1>Not Found 404</h1></html>\r\n";
// The FastCGI worker's answer where the CGI program's is `cgiOut`.
inline std::string FastCGIAnswerFor(const std::string& cgiOut) {
  return cgiOut.empty() ? kNothingWrittenAnswer : cgiOut;
}

struct PoolOptions {
  int workers = 1;
  int64_t maxRequests = 0;
  int shutdownSeconds = 30;
  int ioTimeoutSeconds = 60;
  CGIVars env = {};  // the pool's environment: nothing else is set
  // The address: empty for a unix socket in the pool's directory.
  std::string address = {};
  std::vector<std::string> extraArgs = {};  // after the others
  // The pool's own log (--log NAME in the pool's directory): what Log()
  // reads then. Empty: its standard error.
  std::string logFile = {};
};

class FastCGIPool {
 public:
  FastCGIPool(const std::string& program, const PoolOptions& options) : fOptions(options) {
    fAddress = options.address.empty() ? "unix:" + fDir.PathOf("pool.sock") : options.address;
    std::vector<std::string> args;
    if (UnderValgrind())
      args = {"valgrind", "-q", "--error-exitcode=" + std::to_string(ValgrindErrorExit), "--leak-check=full",
              "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite"};
    // A pool on demand (--workers-max among the extra arguments) has no
    // fixed number of workers.
    const bool onDemand =
        std::find(options.extraArgs.begin(), options.extraArgs.end(), "--workers-max") != options.extraArgs.end();
    if (onDemand) fOptions.workers = 0;
    args.insert(args.end(), {program, "--fastcgi", fAddress});
    if (!onDemand) args.insert(args.end(), {"--workers", std::to_string(options.workers)});
    args.insert(args.end(), {"--max-requests", std::to_string(options.maxRequests), "--shutdown-timeout",
                             std::to_string(options.shutdownSeconds), "--io-timeout",
                             std::to_string(options.ioTimeoutSeconds)});
    if (!options.logFile.empty()) args.insert(args.end(), {"--log", fDir.PathOf(options.logFile)});
    args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
    fPid = Spawn(args, options.env, fDir.PathOf("pool.log"));
    if (!WaitUntilAccepting()) throw std::runtime_error("the pool does not accept connections:\n" + Log());
  }

  ~FastCGIPool() {
    if (fPid > 0) {
      // The workers first, while the pool is there to reap them (so that
      // their numbers cannot have gone to other processes yet).
      for (pid_t worker : LiveWorkers()) kill(worker, SIGKILL);
      kill(fPid, SIGKILL);
      waitpid(fPid, nullptr, 0);
    }
  }
  FastCGIPool(const FastCGIPool&) = delete;
  FastCGIPool& operator=(const FastCGIPool&) = delete;

  const std::string& Address() const { return fAddress; }
  // What cgi-fcgi's -connect takes.
  std::string ConnectTarget() const { return fAddress.starts_with("unix:") ? fAddress.substr(5) : fAddress; }
  pid_t Pid() const { return fPid; }
  const TempDirectory& Directory() const { return fDir; }

  std::string Log() const {
    std::ifstream in(fDir.PathOf(fOptions.logFile.empty() ? "pool.log" : fOptions.logFile), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Every worker the pool has started so far, from its log.
  std::vector<pid_t> StartedWorkers() const { return LoggedPids(R"(worker (\d+) started)"); }
  // The workers started and not yet logged as ended.
  std::vector<pid_t> LiveWorkers() const {
    std::vector<pid_t> live;
    const std::vector<pid_t> ended = LoggedPids(R"(worker (\d+) (exited|killed|done|ended))");
    for (pid_t pid : StartedWorkers())
      if (std::find(ended.begin(), ended.end(), pid) == ended.end()) live.push_back(pid);
    return live;
  }

  // Waits until the log shows `count` workers started (replacements included).
  bool WaitForStartedWorkers(size_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) const {
    const auto deadline = std::chrono::steady_clock::now() + limit * (UnderValgrind() ? ValgrindSlowdown : 1);
    while (StartedWorkers().size() < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  // SIGTERM, then the exit status once the pool has ended (-1 when it is
  // still running after `limit`; then it is killed). `took` gets the time.
  int Stop(std::chrono::milliseconds limit, std::chrono::milliseconds* took = nullptr) {
    const auto start = std::chrono::steady_clock::now();
    kill(fPid, SIGTERM);
    return WaitForExit(start, limit, took);
  }

  int WaitForExit(std::chrono::steady_clock::time_point start, std::chrono::milliseconds limit,
                  std::chrono::milliseconds* took = nullptr) {
    const auto deadline = start + limit * (UnderValgrind() ? ValgrindSlowdown : 1);
    int status = 0;
    for (;;) {
      pid_t r = waitpid(fPid, &status, WNOHANG);
      if (r == fPid) break;
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    fPid = -1;
    if (took) *took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Starts a program with exactly `env`, standard input from /dev/null and
  // standard output and error into `logPath`.
  static pid_t Spawn(const std::vector<std::string>& args, const CGIVars& env, const std::string& logPath,
                     int stdinFd = -1) {
    std::vector<std::string> envText;
    for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argsCopy = args;
    std::vector<char*> argv;
    for (auto& a : argsCopy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0)
      posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    else
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    return pid;
  }

 private:
  std::vector<pid_t> LoggedPids(const char* pattern) const {
    std::vector<pid_t> pids;
    const std::string log = Log();
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(log.begin(), log.end(), re); it != std::sregex_iterator(); ++it)
      pids.push_back(pid_t(std::stol((*it)[1])));
    return pids;
  }

  bool WaitUntilAccepting() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(10) * (UnderValgrind() ? ValgrindSlowdown : 1);
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(fPid, nullptr, WNOHANG) == fPid) {
        fPid = -1;
        return false;
      }
      if (Log().find("listening on") != std::string::npos &&
          WaitForStartedWorkers(size_t(fOptions.workers), std::chrono::milliseconds(0)))
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  TempDirectory fDir;
  PoolOptions fOptions;
  std::string fAddress;
  pid_t fPid = -1;
};

// One request through cgi-fcgi to `target` (a unix socket's path or
// HOST:PORT): `vars` become the request's parameters, `input` its body;
// standard output is the FastCGI answer's output stream.
inline CGIRun RunFastCGI(const std::string& target, const CGIVars& vars, const std::string& input,
                         const CGIOptions& options = {}) {
  TChildProcess client(kCGIFastCGIClient, {"-bind", "-connect", target}, vars, input, options);
  client.Finish();
  return client.Result();
}

inline CGIRun RunFastCGI(const FastCGIPool& pool, const CGIVars& vars, const std::string& input,
                         const CGIOptions& options = {}) {
  return RunFastCGI(pool.ConnectTarget(), vars, input, options);
}

}  // namespace nemvo::testing
