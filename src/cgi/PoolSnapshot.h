#pragma once
// What a FastCGI pool's status page shows: the pool's state at one moment,
// read from what its workers share.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace nemvo {

struct TWorkerSnapshot {
  int pid = 0;
  bool busy = false;
  std::string phase;           // the request's phase ("idle" between requests)
  uint64_t requests = 0;       // served by this worker
  double requestSeconds = 0;   // how long the request in hand has run; 0 when idle
  std::string path;            // the request in hand's path (no query); empty when idle
};

struct TPoolSnapshot {
  // The database's answer times to logins are counted in buckets of these
  // upper bounds, in seconds; the last bucket (+Inf) is implied.
  static constexpr std::array<double, 12> kAnswerBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                            0.5,   1,    2.5,   5,    10,  30};
  // The order of login outcomes in `logins`.
  static constexpr std::array<const char*, 5> kLoginOutcomes = {"accepted", "refused", "throttled", "deferred",
                                                                "error"};

  int64_t startTime = 0;        // when the pool started, seconds since the epoch
  double uptimeSeconds = 0;
  std::string address;          // what it listens on, as given
  int listenBacklog = 0;        // the queue's length as asked of the kernel
  int64_t listenQueue = -1;     // connections waiting to be taken now; -1: unknown
  int busyWorkers = 0, idleWorkers = 0, totalWorkers = 0;
  int minWorkers = 0, maxWorkers = 0;
  uint64_t workersStarted = 0;   // since the pool started, the first ones included
  uint64_t workersReplaced = 0;  // ended otherwise than asked (killed, crashed, timed out)
  uint64_t workersRecycled = 0;  // ended after their share of requests
  uint64_t requests = 0;         // answered or given up, status and ping included
  uint64_t requestsRefused = 0;  // refused by the worker before the request cycle
  uint64_t requestsTimedOut = 0; // ended by the pool after --request-timeout
  uint64_t slowRequests = 0;     // logged as slow
  double longestRequestSeconds = 0;  // of the requests in flight; 0 when none
  std::string longestRequestPath;
  std::array<uint64_t, kLoginOutcomes.size()> logins = {};
  // Per bucket of kAnswerBuckets, then +Inf: logins whose attach took at
  // most that long and more than the bound before (not cumulative).
  std::array<uint64_t, kAnswerBuckets.size() + 1> answerCounts = {};
  double answerSecondsSum = 0;
  std::vector<TWorkerSnapshot> workers;
};

}  // namespace nemvo
