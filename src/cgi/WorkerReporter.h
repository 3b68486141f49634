#pragma once
// A pool worker's side of the pool's board: it puts each request on the
// worker's place (for the status page, the slow log and the request
// time-out), adds to the pool's counters (requests, login outcomes, the
// database's answer times), writes the access log, and answers the pool's
// status and ping paths itself.
//
// The access log has one line per request, fields escaped as the login log's
// are (base/LogField.h), never a password:
//
//   TIME nemvoweb: access client=ADDRESS method=METHOD path=PATH status=STATUS login=OUTCOME duration=SECONDS
//
// TIME in UTC (ISO 8601, milliseconds); OUTCOME that of the request's login,
// "-" for a request that was no login; STATUS 0 when no answer reached the
// web server (it went first, or the request wrote nothing and the web server
// answered with an error of its own).
#include <chrono>
#include <cstdint>
#include <string>

#include "base/RequestProgress.h"
#include "cgi/PoolSnapshot.h"
#include "cgi/WorkerHooks.h"
#include "platform/LogFile.h"

namespace nemvo {

namespace platform {
class TPoolBoard;
struct TWorkerPlace;
}  // namespace platform

struct TWorkerReportSettings {
  std::string statusPath, pingPath;  // empty: not served
  std::string accessLog;             // FILE, "-" (standard error) or empty: none
  std::string poolLog;               // the pool's log file, reopened after rotation; empty: none
  std::string address;               // what the pool listens on, for the status page
  int listenSocket = -1;
  int listenBacklog = 0;
  int minWorkers = 0, maxWorkers = 0;
};

class TWorkerReporter final : public IWorkerHooks, public IRequestProgress {
 public:
  // `board` outlives the reporter; `place` is this worker's on it.
  TWorkerReporter(platform::TPoolBoard& board, int place, TWorkerReportSettings settings);
  TWorkerReporter(const TWorkerReporter&) = delete;
  TWorkerReporter& operator=(const TWorkerReporter&) = delete;

  // The worker is ready to take connections: the pool counts it from now.
  void MarkReady();

  bool RequestBegun(TRequestSource& source) override;
  void RequestEnded(int status) override;
  void RequestRefused(int status, std::string_view why) override;
  void Phase(TRequestPhase phase) override;
  void Login(int outcome, std::chrono::nanoseconds databaseTime) override;

  // The pool as the board shows it now.
  TPoolSnapshot Snapshot() const;

 private:
  void FollowLogRotation();
  void AnswerStatus(TRequestSource& source, const std::string& query, const std::string& accept, bool head) const;

  platform::TPoolBoard& fBoard;
  platform::TWorkerPlace& fPlace;
  TWorkerReportSettings fSettings;
  platform::TAppendFile fAccessLog;
  uint64_t fLogGeneration = 0;
  // The request in hand.
  bool fInRequest = false;
  int64_t fStart = 0;
  std::string fMethod, fPath, fClient;
  int fLoginOutcome = -1;
};

// A phase's name as the status page and the slow log show it.
const char* RequestPhaseName(uint8_t phase);

}  // namespace nemvo
