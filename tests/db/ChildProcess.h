#pragma once
// Runs a helper program as a child process with extra environment variables
// and collects its standard output. The client-library binding is
// process-wide, so every test that needs another library runs in a child.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace nemvo::testing {

class TChildProcess {
 public:
  using Environment = std::map<std::string, std::string>;

  TChildProcess(const std::string& program, const std::vector<std::string>& args, const Environment& extra = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      if (!extra.count(entry.substr(0, entry.find('=')))) env.push_back(entry);
    }
    for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStorage{program};
    argStorage.insert(argStorage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStorage) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    int rc = posix_spawn(&fPid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
    fOut = out[0];
  }
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;
  ~TChildProcess() {
    if (fPid > 0) {
      kill(fPid, SIGKILL);
      Wait();
    }
    if (fOut >= 0) close(fOut);
  }

  pid_t Pid() const { return fPid; }
  void Signal(int signal) { kill(fPid, signal); }

  // Reads output until `text` has appeared or `timeout` has passed; whether it did.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (fOutput.find(text) == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(int(left.count()))) return fOutput.find(text) != std::string::npos;
    }
    return true;
  }

  // Reads the rest of the output and waits for the end; the exit status as
  // waitpid reports it.
  int Finish() {
    while (ReadSome(-1)) {
    }
    return Wait();
  }

  const std::string& Output() const { return fOutput; }

 private:
  bool ReadSome(int timeoutMs) {
    if (fOut < 0) return false;
    pollfd p{fOut, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    ssize_t n = read(fOut, buffer, sizeof buffer);
    if (n <= 0) {
      close(fOut);
      fOut = -1;
      return false;
    }
    fOutput.append(buffer, size_t(n));
    return true;
  }

  int Wait() {
    int status = 0;
    if (fPid > 0) waitpid(fPid, &status, 0);
    fPid = -1;
    return status;
  }

  pid_t fPid = -1;
  int fOut = -1;
  std::string fOutput;
};

// Runs `program` to its end; its standard output, followed by a note when it
// did not exit with 0 (a sanitizer report, a crash), so that comparing the
// output catches that too.
inline std::string RunChild(const std::string& program, const std::vector<std::string>& args,
                            const TChildProcess::Environment& extra = {}) {
  TChildProcess child(program, args, extra);
  const int status = child.Finish();
  std::string out = child.Output();
  if (!WIFEXITED(status)) out += "[killed by signal " + std::to_string(WTERMSIG(status)) + "]\n";
  else if (WEXITSTATUS(status) != 0) out += "[exit status " + std::to_string(WEXITSTATUS(status)) + "]\n";
  return out;
}

}  // namespace nemvo::testing
