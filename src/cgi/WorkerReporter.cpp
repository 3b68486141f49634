#include "cgi/WorkerReporter.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "base/LogField.h"
#include "base/UTCTime.h"
#include "cgi/PoolStatusPage.h"
#include "cgi/RequestSource.h"
#include "platform/ListenQueue.h"
#include "platform/LogLine.h"
#include "platform/PoolBoard.h"

namespace nemvo {

namespace {

constexpr size_t kPathLimit = 256, kClientLimit = 64, kMethodLimit = 16;

std::string UTCTimeNow() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return UTCTimeText(now.tv_sec, int(now.tv_nsec / 1000000));
}

int AnswerBucket(std::chrono::nanoseconds time) {
  const double seconds = std::chrono::duration<double>(time).count();
  const auto& bounds = TPoolSnapshot::kAnswerBuckets;
  return int(std::lower_bound(bounds.begin(), bounds.end(), seconds) - bounds.begin());
}

void Answer(TRequestSource& source, std::string_view head, std::string_view body, bool withBody) {
  std::string answer(head);
  answer += "Cache-Control: no-store\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  if (withBody) answer += body;
  source.WriteOutput(answer.data(), int64_t(answer.size()));
}

}  // namespace

static_assert(TPoolSnapshot::kAnswerBuckets.size() + 1 == platform::TPoolTotals::kAnswerBuckets);
static_assert(TPoolSnapshot::kLoginOutcomes.size() == platform::TPoolTotals::kLoginOutcomes);

const char* RequestPhaseName(uint8_t phase) {
  static constexpr const char* kNames[kRequestPhaseCount] = {
      "idle", "reading-head", "reading-body", "connecting", "waiting-for-database", "building-page", "writing"};
  return phase < kRequestPhaseCount ? kNames[phase] : "unknown";
}

TWorkerReporter::TWorkerReporter(platform::TPoolBoard& board, int place, TWorkerReportSettings settings)
    : fBoard(board), fPlace(board.Place(place)), fSettings(std::move(settings)) {
  fLogGeneration = fBoard.Totals().logGeneration.load(std::memory_order_relaxed);
  if (!fSettings.accessLog.empty()) {
    std::string error;
    if (!fAccessLog.Open(fSettings.accessLog, error)) platform::LogLine("nemvoweb", "cannot open the access log: " + error);
  }
}

void TWorkerReporter::MarkReady() {
  fPlace.idleSince.store(platform::MonotonicNanoseconds(), std::memory_order_relaxed);
  fPlace.pid.store(int32_t(getpid()), std::memory_order_release);
}

void TWorkerReporter::FollowLogRotation() {
  const uint64_t generation = fBoard.Totals().logGeneration.load(std::memory_order_relaxed);
  if (generation == fLogGeneration) return;
  fLogGeneration = generation;
  std::string error;
  if (!fSettings.poolLog.empty() && !platform::PointStandardErrorAt(fSettings.poolLog, error))
    platform::LogLine("nemvoweb", "cannot reopen the log: " + error);
  if (!fSettings.accessLog.empty() && !fAccessLog.Open(fSettings.accessLog, error))
    platform::LogLine("nemvoweb", "cannot reopen the access log: " + error);
}

bool TWorkerReporter::RequestBegun(TRequestSource& source) {
  FollowLogRotation();
  fInRequest = true;
  fStart = platform::MonotonicNanoseconds();
  fLoginOutcome = -1;
  fMethod = source.Variable("REQUEST_METHOD");
  fPath = source.Variable("SCRIPT_NAME") + source.Variable("PATH_INFO");
  fClient = source.Variable("REMOTE_ADDR");
  const std::string shown = LogField(fPath, kPathLimit);
  platform::TPoolBoard::BeginRequest(fPlace, shown.data(), shown.size());
  const bool ping = !fSettings.pingPath.empty() && fPath == fSettings.pingPath;
  const bool status = !fSettings.statusPath.empty() && fPath == fSettings.statusPath;
  if (!ping && !status) return false;
  Phase(TRequestPhase::BuildingPage);
  const bool head = fMethod == "HEAD";
  if (fMethod != "GET" && !head) {
    Answer(source, "Status: 405 Method Not Allowed\r\nAllow: GET, HEAD\r\nContent-Type: text/plain; charset=utf-8\r\n",
           "405 Method Not Allowed\n", true);
  } else if (ping) {
    Answer(source, "Status: 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n", "pong\n", !head);
  } else {
    AnswerStatus(source, source.Variable("QUERY_STRING"), source.Variable("HTTP_ACCEPT"), head);
  }
  return true;
}

void TWorkerReporter::AnswerStatus(TRequestSource& source, const std::string& query, const std::string& accept,
                                   bool head) const {
  const TStatusPage page =
      RenderPoolStatus(Snapshot(), ChooseStatusFormat(query, accept), WantsFullStatus(query));
  Answer(source, "Status: 200 OK\r\nContent-Type: " + page.contentType + "\r\n", page.body, !head);
}

void TWorkerReporter::RequestEnded(int status) {
  if (!fInRequest) return;
  fInRequest = false;
  const int64_t took = platform::MonotonicNanoseconds() - fStart;
  fBoard.Totals().requests.fetch_add(1, std::memory_order_relaxed);
  platform::TPoolBoard::EndRequest(fPlace);
  if (!fAccessLog.IsOpen()) return;
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.3f", double(took) / 1e9);
  std::string line = UTCTimeNow() + " nemvoweb: access client=" + LogFieldOrDash(fClient, kClientLimit) +
                     " method=" + LogFieldOrDash(fMethod, kMethodLimit) + " path=" + LogFieldOrDash(fPath, kPathLimit) +
                     " status=" + std::to_string(status) + " login=" +
                     (fLoginOutcome >= 0 ? TPoolSnapshot::kLoginOutcomes[size_t(fLoginOutcome)] : "-") +
                     " duration=" + duration + "\n";
  fAccessLog.Write(line);
}

void TWorkerReporter::RequestRefused(int status, std::string_view why) {
  fBoard.Totals().requestsRefused.fetch_add(1, std::memory_order_relaxed);
  platform::LogLine("nemvoweb", "request refused" + (status ? " with status " + std::to_string(status) : std::string()) +
                                    ": " + LogField(why, 200));
}

void TWorkerReporter::Phase(TRequestPhase phase) { platform::TPoolBoard::SetPhase(fPlace, uint8_t(phase)); }

void TWorkerReporter::Login(int outcome, std::chrono::nanoseconds databaseTime) {
  auto& totals = fBoard.Totals();
  if (outcome < 0 || outcome >= platform::TPoolTotals::kLoginOutcomes) return;
  fLoginOutcome = outcome;
  totals.logins[outcome].fetch_add(1, std::memory_order_relaxed);
  if (databaseTime.count() <= 0) return;
  totals.answerCounts[AnswerBucket(databaseTime)].fetch_add(1, std::memory_order_relaxed);
  totals.answerNanoseconds.fetch_add(uint64_t(databaseTime.count()), std::memory_order_relaxed);
}

TPoolSnapshot TWorkerReporter::Snapshot() const {
  TPoolSnapshot s;
  const auto& totals = fBoard.Totals();
  auto load = [](const std::atomic<uint64_t>& counter) { return counter.load(std::memory_order_relaxed); };
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  s.startTime = totals.startTime.load(std::memory_order_relaxed);
  s.uptimeSeconds = s.startTime > 0 ? double(now.tv_sec - s.startTime) + now.tv_nsec / 1e9 : 0;
  s.address = fSettings.address;
  s.listenBacklog = fSettings.listenBacklog;
  s.listenQueue = fSettings.listenSocket >= 0 ? platform::ListenQueueLength(fSettings.listenSocket) : -1;
  s.minWorkers = fSettings.minWorkers;
  s.maxWorkers = fSettings.maxWorkers;
  s.workersStarted = load(totals.workersStarted);
  s.workersReplaced = load(totals.workersReplaced);
  s.workersRecycled = load(totals.workersRecycled);
  s.requests = load(totals.requests);
  s.requestsRefused = load(totals.requestsRefused);
  s.requestsTimedOut = load(totals.requestsTimedOut);
  s.slowRequests = load(totals.slowRequests);
  for (size_t i = 0; i < s.logins.size(); ++i) s.logins[i] = load(totals.logins[i]);
  for (size_t i = 0; i < s.answerCounts.size(); ++i) s.answerCounts[i] = load(totals.answerCounts[i]);
  s.answerSecondsSum = double(load(totals.answerNanoseconds)) / 1e9;
  const int64_t monotonic = platform::MonotonicNanoseconds();
  for (int i = 0; i < fBoard.Places(); ++i) {
    const platform::TWorkerPlace& place = fBoard.Place(i);
    TWorkerSnapshot w;
    w.pid = place.pid.load(std::memory_order_acquire);
    if (w.pid == 0) continue;
    w.busy = place.busy.load(std::memory_order_relaxed) != 0;
    w.phase = RequestPhaseName(place.phase.load(std::memory_order_relaxed));
    w.requests = place.served.load(std::memory_order_relaxed);
    const int64_t start = place.requestStart.load(std::memory_order_relaxed);
    if (w.busy && start > 0) {
      w.requestSeconds = double(monotonic - start) / 1e9;
      w.path = platform::TPoolBoard::RequestPath(place);
    }
    // The worker answering this request is busy with it, and counts so.
    ++(w.busy ? s.busyWorkers : s.idleWorkers);
    if (w.busy && w.requestSeconds > s.longestRequestSeconds) {
      s.longestRequestSeconds = w.requestSeconds;
      s.longestRequestPath = w.path;
    }
    s.workers.push_back(std::move(w));
  }
  s.totalWorkers = s.busyWorkers + s.idleWorkers;
  return s;
}

}  // namespace nemvo
