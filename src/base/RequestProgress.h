#pragma once
// How far the request being answered has come, for a host that watches its
// requests from outside (a FastCGI pool: its status page, slow log and login
// counters). Code deep in the request cycle reports here without knowing who
// listens; with nobody listening (a CGI process) a report costs one test.
#include <chrono>
#include <cstdint>

namespace nemvo {

enum class TRequestPhase : uint8_t {
  Idle,                // between requests
  ReadingHead,         // the web server's parameters
  ReadingBody,         // the request's body
  Connecting,          // waiting for the database server to take (or refuse) a login
  WaitingForDatabase,  // any other call into the database server
  BuildingPage,        // producing the answer
  Writing,             // handing the answer to the web server
};
inline constexpr int kRequestPhaseCount = 7;

class IRequestProgress {
 public:
  virtual ~IRequestProgress() = default;
  virtual void Phase(TRequestPhase phase) = 0;
  // A login ended; `outcome` is a TLoginOutcome's value, `databaseTime` how
  // long the database server took to answer the attach (zero when it was
  // not asked).
  virtual void Login(int outcome, std::chrono::nanoseconds databaseTime) = 0;
};

// The listener, or nullptr; not owned. Set once, before requests are served.
void SetRequestProgress(IRequestProgress* progress);
IRequestProgress* RequestProgress();

inline void ReportRequestPhase(TRequestPhase phase) {
  if (IRequestProgress* progress = RequestProgress()) progress->Phase(phase);
}

}  // namespace nemvo
