#include "platform/WorkerPool.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "platform/LogFile.h"
#include "platform/LogLine.h"
#include "platform/PoolBoard.h"
#include "platform/ReadinessSet.h"
#include "platform/ServiceNotifier.h"
#include "platform/StandardStreams.h"

namespace nemvo::platform {

namespace {

using Clock = std::chrono::steady_clock;

// A worker that dies sooner than this after its start is replaced only
// after the same time again.
constexpr auto kQuickDeath = std::chrono::milliseconds(1000);
// How often the pool looks at its workers when it watches their requests or
// their idleness.
constexpr int kInspectMs = 100;
// How often the pool tells a service manager how it stands (STATUS=), and
// how often it looks whether its first workers are up (READY=1).
constexpr int kStatusMs = 1000;
constexpr int kReadyCheckMs = 20;

// Signals whose default would end the pool, taken through the signal
// channel instead; SIGCHLD for the workers' ends.
constexpr int kTakenSignals[] = {SIGTERM, SIGINT,  SIGQUIT, SIGHUP,  SIGUSR1, SIGUSR2, SIGALRM,
                                 SIGCHLD, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT};
// What a worker ignores of them: the service manager sends its reload and
// rotation signals to every process of the service, and they are the pool's.
// SIGALRM too, which nothing of the worker's own uses (a call's deadline has a
// real-time signal, CallDeadline.h): a stray one ends no worker, and the
// client library's own handler, while it has one, is left in peace.
constexpr int kWorkerIgnores[] = {SIGHUP, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT};

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("killed by signal ") + strsignal(WTERMSIG(status));
  return "ended";
}

std::string Seconds(int64_t nanoseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", double(nanoseconds) / 1e9);
  return text;
}

std::string SignalName(int signal) {
  const char* abbreviation = sigabbrev_np(signal);
  return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
}

// The workers a predecessor left finishing: "PID,PID,...".
constexpr const char* kDrainingVariable = "NEMVO_POOL_DRAINING";

// Why the pool asked a worker to end; a worker asked is not replaced for it.
enum class Asked { No, Stop, Reload, Idle, TimedOut };

struct Worker {
  Clock::time_point started;
  int place = 0;  // -1: a predecessor's, on no board of this program's
  Asked asked = Asked::No;
  uint64_t slowLogged = 0;  // the board sequence of the request last logged as slow
};

class Pool {
 public:
  Pool(const WorkerPoolOptions& options, const std::function<int(int)>& worker)
      : fOptions(options), fWorker(worker), fParent(getpid()),
        // A reload starts the new workers while the old ones finish: room for both.
        fOwners(size_t(options.board ? options.board->Places() : 2 * std::max(options.maxWorkers, 1)), 0) {}

  int Run() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kTakenSignals) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    fSignals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fSignals < 0 || !fWaits.Add(fSignals)) {
      Log(std::string("cannot watch signals: ") + std::strerror(errno), LogPriority::kError);
      return 1;
    }
    if (fOptions.board) {
      timespec now;
      clock_gettime(CLOCK_REALTIME, &now);
      fOptions.board->Totals().startTime.store(now.tv_sec, std::memory_order_relaxed);
    }
    for (int pid : fOptions.draining) {
      // Only this process's own children: never a process the list names
      // by mistake (or whose number came round to another).
      siginfo_t info = {};
      if (pid > 0 && waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
        fWorkers[pid] = Worker{.started = Clock::now(), .place = -1, .asked = Asked::Reload};
    }
    for (int i = 0; i < fOptions.minWorkers; ++i) Start();
    while (!fStopping) {
      Wait();
      Inspect();
      StartDue();
      Notify();
    }
    fNotifier.Send("STOPPING=1\nSTATUS=" + StatusText() + ", ending");
    Stop();
    close(fSignals);
    Log("ended", LogPriority::kNotice);
    return 0;
  }

 private:
  void Log(const std::string& text, LogPriority priority = LogPriority::kInfo) const {
    LogLine(fOptions.name, text, priority);
  }

  // "4 workers (1 busy), 1234 requests served".
  std::string StatusText() const {
    int busy = 0;
    for (const auto& [pid, w] : fWorkers)
      if (TWorkerPlace* place = PlaceOf(w); place && place->busy.load(std::memory_order_relaxed)) ++busy;
    const TPoolTotals* totals = Totals();
    const uint64_t served = totals ? totals->requests.load(std::memory_order_relaxed) : 0;
    return std::to_string(fWorkers.size()) + (fWorkers.size() == 1 ? " worker (" : " workers (") +
           std::to_string(busy) + " busy), " + std::to_string(served) + (served == 1 ? " request" : " requests") +
           " served";
  }

  // Whether the workers the pool keeps have all come up (a worker puts its
  // pid on its place once it can take connections).
  bool WorkersUp() const {
    if (!fOptions.board) return true;
    int up = 0;
    for (const auto& [pid, w] : fWorkers)
      if (w.asked == Asked::No && PlaceOf(w)->pid.load(std::memory_order_relaxed) == pid) ++up;
    return up >= fOptions.minWorkers;
  }

  // READY=1 once the first workers are up, then how the pool stands, at
  // most once every kStatusMs and only when it changed.
  void Notify() {
    if (!fNotifier.Active()) return;
    const auto now = Clock::now();
    if (!fReadySent) {
      if (!WorkersUp()) return;
      fReadySent = true;
      fLastStatus = StatusText();
      fLastStatusSent = now;
      fNotifier.Send("READY=1\nSTATUS=" + fLastStatus);
      return;
    }
    if (now - fLastStatusSent < std::chrono::milliseconds(kStatusMs)) return;
    fLastStatusSent = now;
    std::string status = StatusText();
    if (status == fLastStatus) return;
    fLastStatus = std::move(status);
    fNotifier.Send("STATUS=" + fLastStatus);
  }
  bool OnDemand() const { return fOptions.minWorkers < fOptions.maxWorkers; }
  TPoolTotals* Totals() const { return fOptions.board ? &fOptions.board->Totals() : nullptr; }
  TWorkerPlace* PlaceOf(const Worker& w) const {
    return fOptions.board && w.place >= 0 ? &fOptions.board->Place(w.place) : nullptr;
  }

  int FreePlace() const {
    for (size_t i = 0; i < fOwners.size(); ++i)
      if (fOwners[i] == 0) return int(i);
    return -1;
  }

  // Workers running and not asked to end.
  int Serving() const {
    int n = 0;
    for (const auto& [pid, w] : fWorkers) n += w.asked == Asked::No;
    return n;
  }

  void Start() {
    const int place = FreePlace();
    if (place < 0 || Serving() >= fOptions.maxWorkers) {
      // Workers asked to end still hold every place: once one has gone.
      if (place < 0) fRestarts.push_back(Clock::now() + std::chrono::milliseconds(kInspectMs));
      return;
    }
    if (fOptions.board) TPoolBoard::Clear(fOptions.board->Place(place));
    const pid_t pid = fork();
    if (pid < 0) {
      Log(std::string("cannot start a worker: ") + std::strerror(errno), LogPriority::kError);
      fRestarts.push_back(Clock::now() + kQuickDeath);
      return;
    }
    if (pid == 0) RunChild(place);
    fOwners[size_t(place)] = pid;
    fWorkers[pid] = Worker{.started = Clock::now(), .place = place};
    if (auto* totals = Totals()) totals->workersStarted.fetch_add(1, std::memory_order_relaxed);
    Log("worker " + std::to_string(pid) + " started");
  }

  [[noreturn]] void RunChild(int place) {
    close(fSignals);
    // Asked to end as the pool is when the pool goes without asking it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != fParent) std::_Exit(0);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int s : kWorkerIgnores) sigaction(s, &ignore, nullptr);
    // The worker takes requests to end (TERM, INT, QUIT) through its own
    // channel; the rest it gets as any process does.
    sigset_t set;
    sigemptyset(&set);
    for (int s : kTakenSignals)
      if (s != SIGTERM && s != SIGINT && s != SIGQUIT) sigaddset(&set, s);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    std::exit(fWorker(place));
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

  bool Watching() const {
    return fOptions.board && (fOptions.requestTimeout.count() > 0 || fOptions.slowThreshold.count() > 0 || OnDemand());
  }

  // In a pool that grows on demand, a connection that waits while no worker
  // is idle (nor starting) starts one.
  bool ShouldWatchQueue() const {
    if (!OnDemand() || !fOptions.board || fOptions.listenSocket < 0 || Serving() >= fOptions.maxWorkers) return false;
    for (const auto& [pid, w] : fWorkers) {
      if (w.asked != Asked::No) continue;
      const TWorkerPlace& place = fOptions.board->Place(w.place);
      if (place.pid.load(std::memory_order_relaxed) != pid) return false;  // still starting
      if (!place.busy.load(std::memory_order_relaxed)) return false;       // idle: it takes the connection
    }
    return true;
  }

  // Waits for a signal, a connection the workers cannot take, the next
  // restart or the next look at the workers, and handles what came.
  void Wait() {
    auto until = NextRestart();
    if (Watching()) until = std::min(until, Clock::now() + std::chrono::milliseconds(kInspectMs));
    if (fNotifier.Active())
      until = std::min(until, Clock::now() + std::chrono::milliseconds(fReadySent ? kStatusMs : kReadyCheckMs));
    int timeout = -1;
    if (until != Clock::time_point::max()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      timeout = int(std::max<long long>(0, std::min<long long>(left + 1, 60000)));
    }
    const bool watchQueue = ShouldWatchQueue();
    if (watchQueue) fWaits.Add(fOptions.listenSocket);
    const std::vector<int> ready = fWaits.Wait(timeout);
    if (watchQueue) fWaits.Remove(fOptions.listenSocket);
    if (watchQueue && std::find(ready.begin(), ready.end(), fOptions.listenSocket) != ready.end()) {
      Log("a connection waits and no worker is idle: one more worker");
      Start();
    }
    TakeSignals();
    Reap();
  }

  void TakeSignals() {
    signalfd_siginfo info;
    while (read(fSignals, &info, sizeof info) == ssize_t(sizeof info)) {
      const int signal = int(info.ssi_signo);
      if (signal == SIGCHLD) continue;
      const std::string from = " from process " + std::to_string(info.ssi_pid);
      switch (signal) {
        case SIGTERM:
        case SIGINT:
        case SIGQUIT:
          Log(SignalName(signal) + from + ": ending", LogPriority::kNotice);
          fStopping = true;
          break;
        case SIGHUP:
        case SIGUSR2:
          // The line goes to the log as reopened.
          ReopenLogs();
          Log(SignalName(signal) + from + ": reloading (logs reopened, workers replaced)", LogPriority::kNotice);
          fNotifier.Send("RELOADING=1\nSTATUS=reloading");
          fReadySent = false;  // READY=1 again once the new workers are up
          Reload();
          break;
        case SIGUSR1:
          ReopenLogs();
          Log(SignalName(signal) + from + ": logs reopened", LogPriority::kNotice);
          break;
        default:
          Log(SignalName(signal) + from + ": ignored", LogPriority::kNotice);
      }
    }
  }

  void ReopenLogs() {
    if (!fOptions.logPath.empty()) {
      std::string error;
      if (!PointStandardErrorAt(fOptions.logPath, error)) Log("cannot reopen the log: " + error, LogPriority::kError);
    }
    // The workers reopen theirs at their next request.
    if (auto* totals = Totals()) totals->logGeneration.fetch_add(1, std::memory_order_relaxed);
  }

  void Reload() {
    int replaced = 0;
    for (auto& [pid, w] : fWorkers) {
      if (w.asked != Asked::No) continue;
      w.asked = Asked::Reload;
      kill(pid, SIGTERM);
      ++replaced;
    }
    if (StartAnew()) return;  // the program started anew starts its own
    // The new ones start at once, next to those finishing their requests.
    for (int i = 0; i < std::max(replaced, fOptions.minWorkers); ++i) fRestarts.push_back(Clock::now());
  }

  // Starts the program anew in this process, which keeps its process id for
  // the service manager, its children (the old workers, now finishing) and
  // the listening socket. Returns only when that failed.
  bool StartAnew() {
    if (fOptions.restartCommand.empty() || !fOptions.handOver || !fOptions.handOver(true)) return false;
    std::string pids;
    for (const auto& [pid, w] : fWorkers) pids += (pids.empty() ? "" : ",") + std::to_string(pid);
    setenv(kDrainingVariable, pids.c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& arg : fOptions.restartCommand) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // The signals stay blocked across it: those that come meanwhile wait for
    // the successor's signal channel.
    execv(argv[0], argv.data());
    const int error = errno;
    unsetenv(kDrainingVariable);
    fOptions.handOver(false);
    Log("cannot start " + fOptions.restartCommand[0] + " anew: " + std::strerror(error) +
            "; the workers are replaced by the program as it was",
        LogPriority::kError);
    return false;
  }

  // The requests in hand: ended past the request time-out, logged past the
  // slow threshold. Idle workers beyond the minimum go.
  void Inspect() {
    if (!fOptions.board || fStopping) return;
    const int64_t now = MonotonicNanoseconds();
    int serving = Serving();
    for (auto& [pid, w] : fWorkers) {
      if (w.place < 0) continue;
      TWorkerPlace& place = fOptions.board->Place(w.place);
      if (place.pid.load(std::memory_order_relaxed) != pid) continue;
      const uint64_t sequence = place.sequence.load(std::memory_order_acquire);
      const int64_t start = place.requestStart.load(std::memory_order_relaxed);
      if (place.busy.load(std::memory_order_relaxed) && start > 0) {
        const int64_t ran = now - start;
        const std::string path = TPoolBoard::RequestPath(place);
        const std::string phase = fOptions.phaseName ? fOptions.phaseName(place.phase.load(std::memory_order_relaxed)) : "";
        if (fOptions.slowThreshold.count() > 0 && ran >= fOptions.slowThreshold.count() * 1000000 &&
            w.slowLogged != sequence) {
          w.slowLogged = sequence;
          Totals()->slowRequests.fetch_add(1, std::memory_order_relaxed);
          Log("slow request: worker " + std::to_string(pid) + " path=" + (path.empty() ? "-" : path) + " phase=" + phase +
              " running=" + Seconds(ran),
              LogPriority::kWarning);
        }
        if (fOptions.requestTimeout.count() > 0 && ran >= fOptions.requestTimeout.count() * 1000000 &&
            w.asked != Asked::TimedOut) {
          Log("worker " + std::to_string(pid) + " held path=" + (path.empty() ? "-" : path) + " phase=" + phase + " for " +
              Seconds(ran) + ", past the request time-out: ended",
              LogPriority::kWarning);
          if (w.asked == Asked::No) --serving;
          w.asked = Asked::TimedOut;
          Totals()->requestsTimedOut.fetch_add(1, std::memory_order_relaxed);
          kill(pid, SIGKILL);
        }
        continue;
      }
      if (OnDemand() && w.asked == Asked::No && serving > fOptions.minWorkers) {
        const int64_t since = place.idleSince.load(std::memory_order_relaxed);
        if (since > 0 && now - since >= int64_t(fOptions.idleTimeout.count()) * 1000000) {
          Log("worker " + std::to_string(pid) + " idle for " + Seconds(now - since) + ": ended");
          w.asked = Asked::Idle;
          --serving;
          kill(pid, SIGTERM);
        }
      }
    }
  }

  void Stop() {
    Log("asked to end: " + std::to_string(fWorkers.size()) +
            (fWorkers.size() == 1 ? " worker finishes its" : " workers finish their") + " requests",
        LogPriority::kNotice);
    for (auto& [pid, w] : fWorkers) {
      if (w.asked == Asked::No) w.asked = Asked::Stop;
      kill(pid, SIGTERM);
    }
    const auto deadline = Clock::now() + fOptions.shutdownTimeout;
    while (!fWorkers.empty() && Clock::now() < deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      fWaits.Wait(int(std::clamp<long long>(left + 1, 0, 60000)));
      TakeSignals();
      Reap();
    }
    for (const auto& [pid, w] : fWorkers) {
      Log("worker " + std::to_string(pid) + " still busy after the shutdown time: killed", LogPriority::kWarning);
      kill(pid, SIGKILL);
    }
    while (!fWorkers.empty()) {
      int status = 0;
      const pid_t pid = waitpid(-1, &status, 0);
      if (pid < 0 && errno != EINTR) break;
      if (pid > 0) fWorkers.erase(pid);
    }
  }

  void Reap() {
    for (;;) {
      int status = 0;
      const pid_t pid = waitpid(-1, &status, WNOHANG);
      if (pid <= 0) return;
      auto it = fWorkers.find(pid);
      if (it == fWorkers.end()) continue;
      const Worker w = it->second;
      fWorkers.erase(it);
      if (w.place >= 0) fOwners[size_t(w.place)] = 0;
      if (TWorkerPlace* place = PlaceOf(w)) {
        // A request it had in hand was given up: it counts as served, and
        // the web server got an error for it.
        if (place->busy.load(std::memory_order_relaxed)) Totals()->requests.fetch_add(1, std::memory_order_relaxed);
        TPoolBoard::Clear(*place);
      }
      const auto lived = Clock::now() - w.started;
      const bool normal = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      const std::string who = "worker " + std::to_string(pid) + " ";
      if (fStopping || w.asked == Asked::Stop) {
        Log(who + ExitText(status));
        continue;
      }
      if (w.asked == Asked::Reload || w.asked == Asked::Idle) {
        Log(who + ExitText(status) + (w.asked == Asked::Idle ? " (idle)" : " (reload)"));
        continue;
      }
      const bool needed = !OnDemand() || Serving() < fOptions.minWorkers;
      if (w.asked == Asked::TimedOut) {
        if (auto* totals = Totals()) totals->workersReplaced.fetch_add(1, std::memory_order_relaxed);
        if (needed) fRestarts.push_back(Clock::now());
        continue;
      }
      if (normal) {
        if (auto* totals = Totals()) totals->workersRecycled.fetch_add(1, std::memory_order_relaxed);
        Log(who + "done with its requests" + (needed ? ": replaced" : ""));
        if (needed) fRestarts.push_back(Clock::now());
        continue;
      }
      if (auto* totals = Totals()) totals->workersReplaced.fetch_add(1, std::memory_order_relaxed);
      if (lived < kQuickDeath) {
        Log(who + ExitText(status) + " right after its start: replaced in " + std::to_string(kQuickDeath.count()) +
                " ms",
            LogPriority::kError);
        fRestarts.push_back(Clock::now() + kQuickDeath);
      } else {
        Log(who + ExitText(status) + (needed ? ": replaced" : ""), LogPriority::kWarning);
        if (needed) fRestarts.push_back(Clock::now());
      }
    }
  }

  const WorkerPoolOptions& fOptions;
  const std::function<int(int)>& fWorker;
  const pid_t fParent;
  int fSignals = -1;
  ReadinessSet fWaits;
  bool fStopping = false;
  std::map<pid_t, Worker> fWorkers;
  std::vector<pid_t> fOwners;                // by board place: the worker there, 0 when free
  std::vector<Clock::time_point> fRestarts;  // workers to start, by when
  TServiceNotifier fNotifier;
  bool fReadySent = false;
  std::string fLastStatus;
  Clock::time_point fLastStatusSent{};
};

}  // namespace

std::vector<int> TakeDrainingWorkers() {
  std::vector<int> pids;
  const char* value = getenv(kDrainingVariable);
  for (const char* at = value; at && *at;) {
    char* end = nullptr;
    const long pid = std::strtol(at, &end, 10);
    if (end == at) break;
    if (pid > 0 && pid < INT32_MAX) pids.push_back(int(pid));
    at = *end == ',' ? end + 1 : end;
  }
  unsetenv(kDrainingVariable);
  return pids;
}

int RunWorkerPool(const WorkerPoolOptions& options, const std::function<int(int place)>& worker) {
  return Pool(options, worker).Run();
}

}  // namespace nemvo::platform
