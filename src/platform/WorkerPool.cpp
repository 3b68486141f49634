#include "platform/WorkerPool.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "platform/StandardStreams.h"
#include "platform/ReadinessSet.h"

namespace nemvo::platform {

namespace {

using Clock = std::chrono::steady_clock;

// A worker that dies sooner than this after its start is replaced only
// after the same time again.
constexpr auto kQuickDeath = std::chrono::milliseconds(1000);

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("killed by signal ") + strsignal(WTERMSIG(status));
  return "ended";
}

class Pool {
 public:
  Pool(const WorkerPoolOptions& options, const std::function<int()>& worker)
      : fOptions(options), fWorker(worker), fParent(getpid()) {}

  int Run() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGTERM, SIGINT, SIGCHLD}) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    fSignals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fSignals < 0 || !fWaits.Add(fSignals)) {
      Log(std::string("cannot watch signals: ") + std::strerror(errno));
      return 1;
    }
    for (int i = 0; i < fOptions.workers; ++i) Start();
    while (!fStopping) {
      Wait(NextRestart());
      StartDue();
    }
    Log("asked to end: " + std::to_string(fWorkers.size()) + (fWorkers.size() == 1 ? " worker finishes its" : " workers finish their") + " requests");
    for (const auto& [pid, started] : fWorkers) kill(pid, SIGTERM);
    const auto deadline = Clock::now() + fOptions.shutdownTimeout;
    while (!fWorkers.empty() && Clock::now() < deadline) Wait(deadline);
    for (const auto& [pid, started] : fWorkers) {
      Log("worker " + std::to_string(pid) + " still busy after the shutdown time: killed");
      kill(pid, SIGKILL);
    }
    while (!fWorkers.empty()) {
      int status = 0;
      pid_t pid = waitpid(-1, &status, 0);
      if (pid < 0 && errno != EINTR) break;
      if (pid > 0) fWorkers.erase(pid);
    }
    close(fSignals);
    Log("ended");
    return 0;
  }

 private:
  void Log(const std::string& text) const { LogLine(fOptions.name, text); }

  void Start() {
    const pid_t pid = fork();
    if (pid < 0) {
      Log(std::string("cannot start a worker: ") + std::strerror(errno));
      fRestarts.push_back(Clock::now() + kQuickDeath);
      return;
    }
    if (pid == 0) RunChild();
    fWorkers[pid] = Clock::now();
    Log("worker " + std::to_string(pid) + " started");
  }

  [[noreturn]] void RunChild() {
    close(fSignals);
    // Asked to end as the pool is when the pool goes without asking it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != fParent) std::exit(0);
    // The worker takes requests to end through its own channel; child
    // processes' ends are nothing to it.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    std::exit(fWorker());
  }

  Clock::time_point NextRestart() const {
    Clock::time_point next = Clock::time_point::max();
    for (auto t : fRestarts) next = std::min(next, t);
    return next;
  }

  void StartDue() {
    const auto now = Clock::now();
    std::vector<Clock::time_point> later;
    int due = 0;
    for (auto t : fRestarts) (t <= now ? ++due : (later.push_back(t), 0));
    fRestarts = std::move(later);
    while (due-- > 0 && !fStopping) Start();
  }

  // Waits for a signal until `until`, and handles what came.
  void Wait(Clock::time_point until) {
    int timeout = -1;
    if (until != Clock::time_point::max()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      timeout = int(std::max<long long>(0, std::min<long long>(left + 1, 60000)));
    }
    if (fWaits.Wait(timeout).empty()) return;
    signalfd_siginfo info;
    while (read(fSignals, &info, sizeof info) == ssize_t(sizeof info)) {
      if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) fStopping = true;
    }
    Reap();
  }

  void Reap() {
    for (;;) {
      int status = 0;
      const pid_t pid = waitpid(-1, &status, WNOHANG);
      if (pid <= 0) return;
      auto it = fWorkers.find(pid);
      if (it == fWorkers.end()) continue;
      const auto lived = Clock::now() - it->second;
      fWorkers.erase(it);
      const bool normal = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      if (fStopping) {
        Log("worker " + std::to_string(pid) + " " + ExitText(status));
        continue;
      }
      if (normal) {
        Log("worker " + std::to_string(pid) + " done with its requests: replaced");
        fRestarts.push_back(Clock::now());
      } else if (lived < kQuickDeath) {
        Log("worker " + std::to_string(pid) + " " + ExitText(status) + " right after its start: replaced in " +
            std::to_string(kQuickDeath.count()) + " ms");
        fRestarts.push_back(Clock::now() + kQuickDeath);
      } else {
        Log("worker " + std::to_string(pid) + " " + ExitText(status) + ": replaced");
        fRestarts.push_back(Clock::now());
      }
    }
  }

  const WorkerPoolOptions& fOptions;
  const std::function<int()>& fWorker;
  const pid_t fParent;
  int fSignals = -1;
  ReadinessSet fWaits;
  bool fStopping = false;
  std::map<pid_t, Clock::time_point> fWorkers;  // by pid: when started
  std::vector<Clock::time_point> fRestarts;     // workers to start, by when
};

}  // namespace

void LogLine(const std::string& name, const std::string& text) {
  WriteStandardError(name + "[" + std::to_string(getpid()) + "]: " + text + "\n");
}

int RunWorkerPool(const WorkerPoolOptions& options, const std::function<int()>& worker) {
  return Pool(options, worker).Run();
}

}  // namespace nemvo::platform
