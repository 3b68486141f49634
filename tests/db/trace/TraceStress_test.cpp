// Readers killed with SIGKILL at random moments (starting, registering,
// waiting, taking a chunk, printing) while bursts of erroring requests run,
// round after round. After each round: every nemvoweb ended within the
// bound, the next erroring request takes no longer than one with no reader
// at all, and a fresh reader starts, receives the next message and ends on
// SIGINT. It runs 100 rounds, or as many as fit in about 40 seconds on a
// slow (or sanitized) build, 10 at the least; NEMVO_TRACE_STRESS_ROUNDS sets
// the number of rounds.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "db/trace/TraceTesting.h"

namespace nemvo::testing {
namespace {

constexpr int kMostRounds = 100, kLeastRounds = 10;
constexpr auto kBudget = 40s;
constexpr int kBurst = 4;
// What "no added delay" allows above a request with no reader counted: a
// reader that is waited for costs about a second per message, and a loaded
// machine running sanitized programs varies by some hundreds of milliseconds.
constexpr auto kNoDelay = 700ms;

// The rounds asked for in the environment, or 0.
int RoundsAskedFor() {
  const char* value = std::getenv("NEMVO_TRACE_STRESS_ROUNDS");
  return value ? std::max(std::atoi(value), 0) : 0;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

TEST_F(TraceTest, ReadersKilledAtRandomMomentsHoldNoProgramUp) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  auto someMs = [&](int most) { return std::chrono::milliseconds(std::uniform_int_distribution<int>(0, most)(random)); };

  Clock::duration baseline{};
  for (int i = 0; i < 3; ++i) {
    TimedRun alone = ErroringRequest();
    ExpectAnswered(alone);
    baseline = std::max(baseline, alone.elapsed);
  }

  const int asked = RoundsAskedFor();
  const auto start = Clock::now();
  auto another = [&](int done) {
    if (asked) return done < asked;
    return done < kLeastRounds || (done < kMostRounds && Clock::now() - start < kBudget);
  };
  int rounds = 0;
  Clock::duration longestExit{}, longestAfterKills{}, longestNone{}, longestReaderEnd{};
  for (; another(rounds) && !HasFailure(); ++rounds) {
    const int round = rounds;
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<std::unique_ptr<TChildProcess>> readers;
    readers.push_back(StartReader());
    readers.push_back(StartReader());

    std::vector<TimedRun> runs(kBurst);
    std::vector<std::thread> burst;
    for (size_t i = 0; i < runs.size(); ++i) burst.emplace_back([&, i] { runs[i] = ErroringRequest(); });
    // One registered reader killed somewhere in the burst, one started in it
    // and killed at once or a little later (maybe before it registered).
    std::this_thread::sleep_for(someMs(60));
    readers[0]->Signal(SIGKILL);
    readers.push_back(StartReader(false));
    std::this_thread::sleep_for(someMs(60));
    readers[2]->Signal(SIGKILL);
    for (auto& t : burst) t.join();
    for (const TimedRun& run : runs) {
      ExpectAnswered(run);
      EXPECT_LT(run.elapsed, kExitBound);
      longestExit = std::max(longestExit, run.elapsed);
    }

    // Every reader now dead, the last one killed while it waited: the
    // channel still counts some of them.
    readers[1]->Signal(SIGKILL);
    readers.clear();  // and reaped
    EXPECT_GT(fChannel->MonitorCount(), 0) << "no dead reader left counted: the round proves nothing";
    TimedRun after = ErroringRequest();
    ExpectAnswered(after);
    // The program looked at the readers instead of waiting for them: it put
    // the count right. Then the same request with no reader counted at all,
    // as a yardstick taken under the same load.
    EXPECT_EQ(fChannel->MonitorCount(), 0);
    TimedRun none = ErroringRequest();
    ExpectAnswered(none);
    EXPECT_LT(after.elapsed, std::max(none.elapsed, baseline) + kNoDelay)
        << "with no reader counted " << Ms(none.elapsed) << " ms";
    longestAfterKills = std::max(longestAfterKills, after.elapsed);
    longestNone = std::max(longestNone, none.elapsed);

    auto fresh = StartReader();
    ExpectAnswered(ErroringRequest());
    EXPECT_TRUE(fresh->WaitForOutput("No such file or directory\n", 10s)) << fresh->Output();
    const auto interrupted = Clock::now();
    fresh->Signal(SIGINT);
    const int status = fresh->Finish();
    longestReaderEnd = std::max(longestReaderEnd, Clock::now() - interrupted);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(Clock::now() - interrupted, 2s);
  }
  std::printf("%d rounds of %d requests: longest run %.0f ms; a request with only dead readers registered at most "
              "%.0f ms, with none counted at most %.0f ms (%.0f ms before the first round); a reader's end after "
              "SIGINT at most %.0f ms\n",
              rounds, kBurst, Ms(longestExit), Ms(longestAfterKills), Ms(longestNone), Ms(baseline),
              Ms(longestReaderEnd));
}

}  // namespace
}  // namespace nemvo::testing
