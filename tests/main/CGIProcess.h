#pragma once
// Runs the nemvoweb executable as a web server runs a CGI program: with an
// environment that holds only the given variables, the given bytes on
// standard input, and everything on standard output and standard error kept.
// A program that outlives the time limit is killed, so no test hangs.
//
// With NEMVO_VALGRIND set (not empty) in the tests' environment, the program
// runs under valgrind's memcheck: any memory error, or a block definitely
// lost at the end, makes it exit with ValgrindErrorExit and puts the report
// on its standard error, so the test's expectations fail and show it. Time
// limits are then ValgrindSlowdown times longer.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace nemvo::testing {

struct CGIRun {
  std::string out, err;
  int exitCode = -1;      // -1 when the program did not exit normally
  int signal = 0;         // the signal that ended it, if any
  bool timedOut = false;  // killed after the time limit
  // With CGIOptions::inspectAtEndOfOutput: whether the process was still
  // running when its standard output ended, and which of its descriptors then
  // still referred to the output or error pipe (a web server that waits for
  // both streams waits as long as any of them is open).
  bool runningAtEndOfOutput = false;
  std::vector<int> descriptorsOnPipesAtEndOfOutput;
};

struct CGIOptions {
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
  // it still holds open (CGIRun::descriptorsOnPipesAtEndOfOutput).
  bool inspectAtEndOfOutput = false;
  std::chrono::milliseconds timeout{30000};
};

using CGIVars = std::vector<std::pair<std::string, std::string>>;

inline constexpr int ValgrindErrorExit = 97;
inline constexpr int ValgrindSlowdown = 4;

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
inline void InspectDescriptors(pid_t pid, const std::vector<ino_t>& pipes, CGIRun& run) {
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

inline CGIRun RunCGI(const std::string& program, const CGIVars& vars, const std::string& input,
                     const CGIOptions& options = {}) {
  ::signal(SIGPIPE, SIG_IGN);  // the program may stop reading before the input ends

  std::vector<std::string> env;
  for (const auto& [name, value] : vars) env.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args;
  if (UnderValgrind())
    args = {"valgrind", "-q", "--error-exitcode=" + std::to_string(ValgrindErrorExit), "--leak-check=full",
            "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite"};
  args.push_back(program);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

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
  pid_t pid = -1;
  // valgrind is looked up in the tests' PATH; the program gets only `vars`.
  int rc = UnderValgrind() ? posix_spawnp(&pid, "valgrind", &actions, nullptr, argv.data(), envp.data())
                           : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  }

  int inFd = in[1];
  fcntl(inFd, F_SETFL, O_NONBLOCK);
  size_t written = 0;
  if (input.empty() && !options.holdStdinOpen) {
    close(inFd);
    inFd = -1;
  }
  CGIRun run;
  int outFd = out[0], errFd = err[0];
  const std::vector<ino_t> pipeInodes = {PipeInode(outFd), PipeInode(errFd)};
  bool terminated = false;
  const auto deadline = std::chrono::steady_clock::now() + options.timeout * (UnderValgrind() ? ValgrindSlowdown : 1);
  while (outFd >= 0 || errFd >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      run.timedOut = true;
      break;
    }
    pollfd fds[3];
    int n = 0;
    if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
    const bool writing = inFd >= 0 && written < input.size();
    if (writing) fds[n++] = {inFd, POLLOUT, 0};
    int ready = poll(fds, nfds_t(n), int(left.count()));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < n && ready > 0; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == inFd) {
        ssize_t w = write(inFd, input.data() + written, input.size() - written);
        if (w > 0) written += size_t(w);
        if (w < 0 && errno != EAGAIN) written = input.size();  // the program closed its input
        if (written == input.size() && !options.holdStdinOpen) {
          close(inFd);
          inFd = -1;
        }
        continue;
      }
      char buffer[65536];
      ssize_t r = read(fds[i].fd, buffer, sizeof buffer);
      std::string& sink = fds[i].fd == outFd ? run.out : run.err;
      if (r > 0) {
        sink.append(buffer, size_t(r));
        if (fds[i].fd == outFd && options.terminateAfterOutput && !terminated && AnswerComplete(run.out)) {
          kill(pid, SIGTERM);
          terminated = true;
        }
      } else if (r == 0 || errno != EINTR) {
        if (fds[i].fd == outFd && options.inspectAtEndOfOutput)
          InspectDescriptors(pid, pipeInodes, run);
        if (fds[i].fd == outFd && options.terminateAfterOutput && !terminated) {
          kill(pid, SIGTERM);
          terminated = true;
        }
        close(fds[i].fd);
        (fds[i].fd == outFd ? outFd : errFd) = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
  if (outFd >= 0) close(outFd);
  if (errFd >= 0) close(errFd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

}  // namespace nemvo::testing
