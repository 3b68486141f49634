#pragma once
// What the trace tests share: a channel of the test's own, erroring requests
// to the real nemvoweb, and nemvo-trace readers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "db/TraceChannel.h"
#include "platform/SharedChannel.h"
#include "support/ChildProcess.h"
#include "support/ExpectedPages.h"
#include "support/ForkedProcess.h"
#include "support/ProgramConfig.h"

namespace nemvo::testing {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long a program may take from its start to its end while trace
// messages cannot be delivered: the writer gives up within about a second;
// the rest is room for a loaded (or sanitized) machine.
inline constexpr auto kExitBound = 3s;

// What the stand-in client library answers to the attach, as the server
// answers for a database file that is not there.
inline const std::string kAttachMessages =
    "I/O error during \"open\" operation for file \"/nonexistent/nemvo-trace.fdb\"|Error while trying to open "
    "file|No such file or directory";
inline const std::string kShownMessage =
    "I/O error during \"open\" operation for file \"/nonexistent/nemvo-trace.fdb\"\r\nError while trying to open "
    "file\r\nNo such file or directory";

struct TimedRun {
  CGIRun run;
  Clock::duration elapsed{};
};

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NEMVO_REQUIRE_WRITABLE_CONFIG();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fName = std::string("nemvo-test.") + info->name() + "." + std::to_string(getpid());
    std::replace(fName.begin(), fName.end(), '/', '_');  // parameterised names
    fChannel = TTraceChannel::Open(fName);
    ProgramConfig::WriteSection("DBSuporte=127.0.0.1:/nonexistent/nemvo-trace.fdb\nMainHTML=/nonexistent/main.html\n");
  }
  void TearDown() override {
    fChannel.reset();
    platform::RemoveSharedChannel(TTraceChannel::ObjectNames(fName));
  }

  // What makes nemvoweb's attach fail with `attachMessages` ("|" between
  // messages), on this test's channel: the CGI program's environment, or a
  // FastCGI pool's.
  CGIVars ErroringEnvironment(const std::string& attachMessages = kAttachMessages) const {
    return {{"LD_LIBRARY_PATH", NEMVO_STANDIN_CLIENT_DIR},
            {"NEMVO_STANDIN_ATTACH_MESSAGES", attachMessages},
            {"NEMVO_STANDIN_ATTACH_CODE", "335544344"},
            {"NEMVO_TRACE_CHANNEL", fName}};
  }

  // One erroring request, timed from the program's start to its end (which
  // `timeout` cuts short); the attach fails with `attachMessages`.
  TimedRun ErroringRequest(const std::string& attachMessages = kAttachMessages,
                           std::chrono::milliseconds timeout = std::chrono::milliseconds(30000)) {
    const std::string body = "u=nemvo&p=secret";
    CGIVars vars = Request("POST", "/main", body, ErroringEnvironment(attachMessages));
    const auto start = Clock::now();
    TimedRun timed{RunCGI(NEMVO_WEB_PROGRAM, vars, body, {.timeout = timeout}), {}};
    timed.elapsed = Clock::now() - start;
    return timed;
  }

  // The answer is the message page, and the program ended by itself.
  static void ExpectAnswered(const TimedRun& timed, const std::string& shown = kShownMessage) {
    EXPECT_FALSE(timed.run.timedOut);
    EXPECT_EQ(timed.run.exitCode, 0);
    EXPECT_EQ(timed.run.out, Failed(shown));
    EXPECT_EQ(timed.run.err, LoginLine("error", "nemvo"));
    EXPECT_TRUE(timed.run.leftBehind.empty());
  }

  // Erroring requests one after another for `span`, five at least: each
  // answered, and ended within the bound.
  void RequestsAnsweredInTime(Clock::duration span) {
    const auto start = Clock::now();
    for (int i = 0; i < 5 || Clock::now() - start < span; ++i) {
      TimedRun run = ErroringRequest();
      ExpectAnswered(run);
      EXPECT_LT(run.elapsed, kExitBound);
    }
  }

  // Requests whose database error is `marker` until `reader` prints it (five
  // at most, a second apart); then the reader ends on SIGINT.
  void ReaderReceivesAndEnds(TChildProcess& reader, const std::string& marker) {
    bool received = false;
    for (int i = 0; i < 5 && !received; ++i) {
      ExpectAnswered(ErroringRequest(marker), marker);
      received = reader.WaitForOutput(marker + "\n", 1s);
    }
    EXPECT_TRUE(received) << reader.Output();
    reader.Signal(SIGINT);
    const int status = reader.Finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }

  // Starts nemvo-trace; with `waitRegistered`, waits until it has a reader
  // slot (which no other reader may take or leave meanwhile) and writers
  // see a reader counted.
  std::unique_ptr<TChildProcess> StartReader(bool waitRegistered = true) {
    const int32_t before = fChannel->LiveReaderCount();
    auto reader = std::make_unique<TChildProcess>(NEMVO_TRACE_TOOL, std::vector<std::string>{"--channel", fName});
    if (waitRegistered) {
      auto registered = [&] { return fChannel->LiveReaderCount() == before + 1 && fChannel->MonitorCount() > 0; };
      const auto deadline = Clock::now() + 10s;
      while (!registered() && Clock::now() < deadline) std::this_thread::sleep_for(2ms);
      EXPECT_TRUE(registered()) << "nemvo-trace did not register";
    }
    return reader;
  }

  std::string fName;
  std::unique_ptr<TTraceChannel> fChannel;
};

}  // namespace nemvo::testing
