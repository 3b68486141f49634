#pragma once
// Runs a program as a child process, the one way all tests do: the given
// environment, the given bytes on standard input (or none), standard output
// and standard error kept, and a time limit after which the child is killed,
// so that no test hangs. Every child carries a marker in its environment
// (ChildMarkerVariable) that whatever it starts inherits, so that processes
// left behind can be found afterwards (LeftBehind), also those that are no
// children of the test.
//
// RunCGI runs a program as a web server runs a CGI program: an environment
// that holds only the given variables. With NEMVO_VALGRIND set (not empty) in
// the tests' environment, the program runs under valgrind's memcheck: any
// memory error, or a block definitely lost at the end, makes it exit with
// ValgrindErrorExit and puts the report on its standard error, so the test's
// expectations fail and show it; time limits are then ValgrindSlowdown times
// longer. RunChild runs a helper program with the tests' own environment.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace nemvo::testing {

using EnvironmentVars = std::vector<std::pair<std::string, std::string>>;
using CGIVars = EnvironmentVars;

struct ChildOptions {
  // Standard input or output closed instead of a pipe.
  bool closeStdin = false;
  bool closeStdout = false;
  // Standard input stays open (never reaches its end) until the program exits.
  bool holdStdinOpen = false;
  // SIGTERM as soon as the whole answer has arrived (the Content-Length
  // bytes after the head, or else the end of standard output), as lighttpd
  // does to a CGI process that is still running then.
  bool terminateAfterOutput = false;
  // When standard output ends, stop the process for a moment and record what
  // it still holds open (ChildRun::descriptorsOnPipesAtEndOfOutput).
  bool inspectAtEndOfOutput = false;
  std::chrono::milliseconds timeout{30000};
};
using CGIOptions = ChildOptions;

struct ChildRun {
  std::string out, err;
  int exitCode = -1;      // -1 when the program did not exit normally
  int signal = 0;         // the signal that ended it, if any
  bool timedOut = false;  // killed after the time limit
  // With ChildOptions::inspectAtEndOfOutput: whether the process was still
  // running when its standard output ended, and which of its descriptors then
  // still referred to the input, output or error pipe (a web server that
  // waits for all of them waits as long as any of them is open; Apache's
  // mod_cgid gives one socket as input and output).
  bool runningAtEndOfOutput = false;
  std::vector<int> descriptorsOnPipesAtEndOfOutput;
  std::vector<pid_t> leftBehind;  // processes it started that still ran after it ended
};
using CGIRun = ChildRun;

inline constexpr int ValgrindErrorExit = 97;
inline constexpr int ValgrindSlowdown = 4;
inline constexpr const char* ChildMarkerVariable = "NEMVO_TEST_CHILD";

inline bool UnderValgrind() {
  const char* value = std::getenv("NEMVO_VALGRIND");
  return value && *value;
}

// True when `out` holds a head announcing a Content-Length and that many
// bytes after it.
inline bool AnswerComplete(const std::string& out) {
  const size_t headEnd = out.find("\r\n\r\n");
  const size_t at = out.find("Content-Length: ");
  if (headEnd == std::string::npos || at == std::string::npos || at > headEnd) return false;
  const size_t length = std::strtoull(out.c_str() + at + 16, nullptr, 10);
  return out.size() >= headEnd + 4 + length;
}

// The inode of the pipe behind `fd`.
inline ino_t PipeInode(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// Stops `pid` (unless it has ended), lists its descriptors that refer to one
// of `pipes`, and lets it go on. The stop is observed with WNOWAIT, so the
// exit status stays for the caller's waitpid.
inline void InspectDescriptors(pid_t pid, const std::vector<ino_t>& pipes, ChildRun& run) {
  if (kill(pid, SIGSTOP) != 0) return;
  siginfo_t info{};
  while (waitid(P_PID, id_t(pid), &info, WSTOPPED | WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  if (info.si_code == CLD_STOPPED) {
    run.runningAtEndOfOutput = true;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd/";
    for (int fd = 0; fd < 1024; ++fd) {
      char target[64] = {};
      if (readlink((dir + std::to_string(fd)).c_str(), target, sizeof target - 1) <= 0) continue;
      for (ino_t inode : pipes)
        if (std::string(target) == "pipe:[" + std::to_string(inode) + "]") run.descriptorsOnPipesAtEndOfOutput.push_back(fd);
    }
  }
  kill(pid, SIGCONT);
}

// Waits for the end of child `pid` (none when not above 0); the status as
// waitpid reports it, 0 without a child.
inline int WaitForEnd(pid_t pid) {
  int status = 0;
  if (pid > 0)
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  return status;
}

// The running processes whose environment holds the entry "NAME=value",
// from /proc (a process that has already ended shows no environment).
inline std::vector<pid_t> ProcessesWithEnvironmentEntry(const std::string& entry) {
  std::vector<pid_t> found;
  DIR* proc = opendir("/proc");
  if (!proc) throw std::runtime_error("cannot read /proc");
  while (dirent* e = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    std::ifstream in(std::string("/proc/") + e->d_name + "/environ", std::ios::binary);
    const std::string environment((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t start = 0; start < environment.size();) {
      size_t stop = environment.find('\0', start);
      if (stop == std::string::npos) stop = environment.size();
      if (environment.compare(start, stop - start, entry) == 0) {
        found.push_back(pid_t(pid));
        break;
      }
      start = stop + 1;
    }
  }
  closedir(proc);
  return found;
}

class TChildProcess {
 public:
  using Environment = std::map<std::string, std::string>;

  // The tests' own environment, `extra` added or replacing.
  static EnvironmentVars Inherited(const Environment& extra = {}) {
    EnvironmentVars vars;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const size_t eq = entry.find('=');
      if (eq == std::string::npos || extra.count(entry.substr(0, eq))) continue;
      vars.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
    }
    for (const auto& [name, value] : extra) vars.emplace_back(name, value);
    return vars;
  }

  // `program` with `args` and the tests' environment plus `extra`; nothing
  // on its standard input.
  TChildProcess(const std::string& program, const std::vector<std::string>& args, const Environment& extra = {})
      : TChildProcess(program, args, Inherited(extra), "", ChildOptions{}) {}

  // `argv` (the program first, found by its path or, without a "/", in the
  // tests' PATH) with exactly `env`, `input` on its standard input.
  TChildProcess(const std::string& program, const std::vector<std::string>& args, EnvironmentVars env,
                std::string input, const ChildOptions& options)
      : fInput(std::move(input)), fOptions(options) {
    static std::atomic<int> counter{0};
    fMarker = std::string(ChildMarkerVariable) + "=" + std::to_string(getpid()) + "." + std::to_string(++counter);
    std::erase_if(env, [](const auto& v) { return v.first == ChildMarkerVariable; });
    std::vector<std::string> envStorage;
    for (const auto& [name, value] : env) envStorage.push_back(name + "=" + value);
    envStorage.push_back(fMarker);
    std::vector<char*> envp;
    for (auto& e : envStorage) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStorage{program};
    argStorage.insert(argStorage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStorage) argv.push_back(a.data());
    argv.push_back(nullptr);

    ::signal(SIGPIPE, SIG_IGN);  // the child may stop reading before its input ends
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.closeStdin)
      posix_spawn_file_actions_addclose(&actions, 0);
    else
      posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    if (options.closeStdout)
      posix_spawn_file_actions_addclose(&actions, 1);
    else
      posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const int rc = program.find('/') == std::string::npos
                       ? posix_spawnp(&fPid, program.c_str(), &actions, nullptr, argv.data(), envp.data())
                       : posix_spawn(&fPid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
      close(in[1]);
      close(out[0]);
      close(err[0]);
      fPid = -1;
      throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
    fIn = in[1];
    fOut = out[0];
    fErr = err[0];
    fPipeInodes = {PipeInode(fIn), PipeInode(fOut), PipeInode(fErr)};
    fcntl(fIn, F_SETFL, O_NONBLOCK);
    if (fInput.empty() && !options.holdStdinOpen) CloseInput();
    fDeadline = std::chrono::steady_clock::now() + options.timeout * (UnderValgrind() ? ValgrindSlowdown : 1);
  }
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;
  ~TChildProcess() {
    if (fPid > 0) {
      kill(fPid, SIGKILL);
      Wait();
    }
    CloseInput();
    for (int fd : {fOut, fErr})
      if (fd >= 0) close(fd);
  }

  pid_t Pid() const { return fPid; }
  void Signal(int signal) {
    if (fPid > 0) kill(fPid, signal);
  }
  // "NAME=value": the entry of the environment that marks this child and
  // whatever it starts.
  const std::string& Marker() const { return fMarker; }

  // Moves input and output until `text` has appeared on standard output or
  // `timeout` has passed; whether it did.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    Pump(std::chrono::steady_clock::now() + timeout, [&] { return fRun.out.find(text) != std::string::npos; });
    return fRun.out.find(text) != std::string::npos;
  }

  // Moves input and output until both outputs end (or the time limit kills
  // the child), waits for its end and returns the exit status as waitpid
  // reports it; Result() then holds all of it.
  int Finish() {
    // The limit holds for the end too: a program may close its outputs and
    // then hang.
    if ((!Pump(fDeadline, [] { return false; }) || !EndsBy(fDeadline)) && fPid > 0) {
      kill(fPid, SIGKILL);
      fRun.timedOut = true;
    }
    CloseInput();
    const int status = Wait();
    if (WIFEXITED(status)) fRun.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) fRun.signal = WTERMSIG(status);
    fRun.leftBehind = ProcessesWithEnvironmentEntry(fMarker);
    return status;
  }

  const std::string& Output() const { return fRun.out; }
  const ChildRun& Result() const { return fRun; }

 private:
  void CloseInput() {
    if (fIn >= 0) close(fIn);
    fIn = -1;
  }

  // Returns true when `done` said so or both outputs ended, false at the
  // deadline.
  bool Pump(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& done) {
    while ((fOut >= 0 || fErr >= 0) && !done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fds[3];
      int n = 0;
      if (fOut >= 0) fds[n++] = {fOut, POLLIN, 0};
      if (fErr >= 0) fds[n++] = {fErr, POLLIN, 0};
      if (fIn >= 0 && fWritten < fInput.size()) fds[n++] = {fIn, POLLOUT, 0};
      const int ready = poll(fds, nfds_t(n), int(left.count()));
      if (ready < 0 && errno != EINTR) return false;
      for (int i = 0; i < n && ready > 0; ++i) {
        if (!fds[i].revents) continue;
        if (fds[i].fd == fIn) {
          const ssize_t w = write(fIn, fInput.data() + fWritten, fInput.size() - fWritten);
          if (w > 0) fWritten += size_t(w);
          if (w < 0 && errno != EAGAIN) fWritten = fInput.size();  // the child closed its input
          if (fWritten == fInput.size() && !fOptions.holdStdinOpen) CloseInput();
          continue;
        }
        const bool isOut = fds[i].fd == fOut;
        char buffer[65536];
        const ssize_t r = read(fds[i].fd, buffer, sizeof buffer);
        if (r > 0) {
          (isOut ? fRun.out : fRun.err).append(buffer, size_t(r));
          if (isOut && AnswerComplete(fRun.out)) TerminateAfterOutput();
        } else if (r == 0 || errno != EINTR) {
          if (isOut && fOptions.inspectAtEndOfOutput && fPid > 0) InspectDescriptors(fPid, fPipeInodes, fRun);
          if (isOut) TerminateAfterOutput();
          close(fds[i].fd);
          (isOut ? fOut : fErr) = -1;
        }
      }
    }
    return true;
  }

  void TerminateAfterOutput() {
    if (!fOptions.terminateAfterOutput || fTerminated) return;
    Signal(SIGTERM);
    fTerminated = true;
  }

  // Whether the child has ended by `deadline` (its status stays to be
  // collected).
  bool EndsBy(std::chrono::steady_clock::time_point deadline) const {
    siginfo_t info{};
    while (fPid > 0) {
      info.si_pid = 0;
      if (waitid(P_PID, id_t(fPid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno != EINTR) return true;
      if (info.si_pid == fPid) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      usleep(10000);
    }
    return true;
  }

  int Wait() {
    const int status = WaitForEnd(fPid);
    fPid = -1;
    return status;
  }

  pid_t fPid = -1;
  int fIn = -1, fOut = -1, fErr = -1;
  std::string fInput;
  size_t fWritten = 0;
  ChildOptions fOptions;
  std::chrono::steady_clock::time_point fDeadline;
  bool fTerminated = false;
  std::vector<ino_t> fPipeInodes;
  std::string fMarker;
  ChildRun fRun;
};

// The command that runs `program` as a CGI process: itself, or valgrind
// running it (looked up in the tests' PATH; the program gets only its CGI
// variables all the same).
struct CGICommand {
  std::string run;
  std::vector<std::string> args;
  explicit CGICommand(const std::string& program) : run(program) {
    if (!UnderValgrind()) return;
    run = "valgrind";
    args = {"-q", "--error-exitcode=" + std::to_string(ValgrindErrorExit), "--leak-check=full",
            "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite", program};
  }
};

inline ChildRun RunCGI(const std::string& program, const CGIVars& vars, const std::string& input,
                       const CGIOptions& options = {}) {
  const CGICommand command(program);
  TChildProcess child(command.run, command.args, vars, input, options);
  child.Finish();
  return child.Result();
}

// Runs `program` to its end with the tests' environment plus `extra`; its
// standard output, followed by a note when it did not exit with 0 (a
// sanitizer report, a crash), so that comparing the output catches that too.
inline std::string RunChild(const std::string& program, const std::vector<std::string>& args,
                            const TChildProcess::Environment& extra = {}) {
  TChildProcess child(program, args, extra);
  const int status = child.Finish();
  std::string out = child.Output();
  if (!child.Result().err.empty()) std::fputs(child.Result().err.c_str(), stderr);  // as if it wrote there itself
  if (!WIFEXITED(status)) out += "[killed by signal " + std::to_string(WTERMSIG(status)) + "]\n";
  else if (WEXITSTATUS(status) != 0) out += "[exit status " + std::to_string(WEXITSTATUS(status)) + "]\n";
  return out;
}

}  // namespace nemvo::testing
