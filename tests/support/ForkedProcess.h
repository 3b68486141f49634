#pragma once
// A forked copy of the test process that stands for another program (with
// AsNobody, when the tests run as root, another account too): it runs a
// function that says through its argument when it is in place, and never
// outlives the test. For peers that must do exactly one thing at exactly
// one moment, such as dying while holding a lock.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <stdexcept>

#include "support/ChildProcess.h"

namespace nemvo::testing {

class TForkedProcess {
 public:
  using Ready = std::function<void()>;
  enum Account { SameAccount, AsNobody };

  // Forks and waits until `act` has called its Ready or ended. When `act`
  // returns, the process exits with 0; a failure in it should _exit with
  // another code.
  explicit TForkedProcess(const std::function<void(const Ready&)>& act, Account account = SameAccount) {
    int ready[2];
    if (pipe(ready) != 0) throw std::runtime_error("pipe");
    fPid = fork();
    if (fPid < 0) throw std::runtime_error("fork");
    if (fPid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      close(ready[0]);
      if (account == AsNobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(120);
      act([&] {
        if (write(ready[1], "x", 1) != 1) _exit(121);
      });
      _exit(0);
    }
    close(ready[1]);  // so that the read ends if the child dies before it is ready
    char byte;
    ssize_t n;
    while ((n = read(ready[0], &byte, 1)) < 0 && errno == EINTR) {
    }
    fReady = n == 1;
    close(ready[0]);
  }
  ~TForkedProcess() { Kill(); }
  TForkedProcess(const TForkedProcess&) = delete;
  TForkedProcess& operator=(const TForkedProcess&) = delete;

  // Whether it said it was in place.
  bool IsReady() const { return fReady; }
  pid_t Pid() const { return fPid; }

  // Kills it (SIGKILL) and reaps it: its files, and the locks on them, are
  // closed when this returns.
  void Kill() {
    if (fPid > 0) kill(fPid, SIGKILL);
    Wait();
  }
  // Waits for its end; the status as waitpid reports it.
  int Wait() {
    const int status = WaitForEnd(fPid);
    fPid = -1;
    return status;
  }

 private:
  pid_t fPid = -1;
  bool fReady = false;
};

}  // namespace nemvo::testing
