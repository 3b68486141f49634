#pragma once
// A pool of worker processes. The supervising process starts them, replaces
// one that ends (at once when it ended normally, after a pause when it died
// right after its start, so that a worker that cannot run does not make the
// pool spin), and watches what they do through the pool's board: a request
// held past the request time-out ends its worker, one past the slow
// threshold is logged once. With fewer workers kept than allowed it starts
// them on demand (a connection waits and no worker is idle) and lets idle
// ones go.
//
// Signals to the supervising process (each one received is logged):
//   TERM, INT, QUIT  end the pool: workers finish the requests in hand and
//                    those already queued, for at most the shutdown time;
//   HUP, USR2        reload: the program is started anew in the same
//                    process (so that a new program installed meanwhile, or
//                    a new pool setting, takes over) and starts fresh
//                    workers, while the old ones finish what they have in
//                    hand; logs are reopened;
//   USR1             logs are reopened (after rotation);
//   any other that would end a process (ALRM, PIPE, ...) is ignored.
// A worker ends on TERM, INT and QUIT as the pool does, and ignores HUP,
// USR1, USR2 (a service manager sends a signal to every process of the
// service).
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace nemvo::platform {

class TPoolBoard;

struct WorkerPoolOptions {
  // Workers kept at all times, and the most there may be; equal: a static
  // pool, all started at once.
  int minWorkers = 1;
  int maxWorkers = 1;
  // In a pool that grows on demand, a worker idle this long goes while more
  // than minWorkers are running.
  std::chrono::milliseconds idleTimeout{10000};
  // How long workers may take to finish once asked to end; then they are killed.
  std::chrono::milliseconds shutdownTimeout{30000};
  // A worker holding one request longer is killed and replaced; zero: no bound.
  std::chrono::milliseconds requestTimeout{0};
  // A request running longer is logged once; zero: no slow log.
  std::chrono::milliseconds slowThreshold{0};
  // Names the program in the log.
  std::string name = "nemvoweb";
  // The pool's own log file, reopened on HUP and USR1; empty: standard error
  // as it was given.
  std::string logPath;
  // Where the workers say what they do; not owned, at least maxWorkers places.
  TPoolBoard* board = nullptr;
  // The socket the workers take connections from: watched for connections
  // that wait while no worker is idle.
  int listenSocket = -1;
  // The name of a request phase as the workers number them, for the slow log.
  std::function<std::string(uint8_t)> phaseName;
  // The program and arguments a reload starts in this process (exec); empty,
  // or when that fails: the workers are replaced by this program.
  std::vector<std::string> restartCommand;
  // Called with true just before that exec, to keep what the successor takes
  // over (false: it cannot, and there is no exec); with false after an exec
  // that failed.
  std::function<bool(bool)> handOver;
  // Workers of this program's predecessor in the process, finishing their
  // requests (TakeDrainingWorkers): reaped and logged, never replaced.
  std::vector<int> draining;
};

// The workers a predecessor in this process left finishing their requests
// when it started this program anew; the variable that named them is removed.
std::vector<int> TakeDrainingWorkers();

// Runs `worker` in child processes until asked to end; in each, what `worker`
// returns is the process's exit status, and its argument is the worker's
// place on the board. A worker ends too when the supervising process goes.
// Call it before anything starts a thread or loads a library that holds state
// across fork. Returns the supervising process's exit status.
int RunWorkerPool(const WorkerPoolOptions& options, const std::function<int(int place)>& worker);

}  // namespace nemvo::platform
