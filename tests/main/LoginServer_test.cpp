// The login end to end: nemvoweb run as a CGI process against the Firebird
// fixture's server, every line of main/ServerCases.h. After every request the
// server holds no more attachments than before it and no program process is
// left.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "main/ProgramCases.h"
#include "main/ServerCases.h"
#include "support/ChildProcess.h"

namespace nemvo::testing {
namespace {

const std::string kProgram = NEMVO_WEB_PROGRAM;

// Sanitizers and valgrind report at exit on a copy of standard error.
#if defined(__SANITIZE_ADDRESS__)
const bool kInstrumented = true;
#else
const bool kInstrumented = UnderValgrind();
#endif

class ServerLogin : public ServerLoginFixture, public ::testing::WithParamInterface<ServerCase> {
 protected:
  CGIRun Run(const std::string& method, const std::string& path, const std::string& body, const CGIVars& extra,
             const CGIOptions& options = {}) {
    return RunCGI(kProgram, Vars(method, path, body, extra), Fill(body), options);
  }

  // Nothing the program started may outlive it (found by the marker the
  // harness puts in its environment, which whatever it starts inherits).
  static void ExpectNothingLeftRunning(const CGIRun& run) {
    EXPECT_TRUE(run.leftBehind.empty()) << run.leftBehind.size() << " process(es) of the program still running";
    for (pid_t pid : run.leftBehind) kill(pid, SIGKILL);
  }
};

TEST_P(ServerLogin, AnswersByteForByte) {
  const ServerCase& c = GetParam();
  const std::string expected = Prepare(c);
  if (HasFailure()) return;

  CGIRun run = Run(c.method, c.path, c.body, c.extra,
                   {.terminateAfterOutput = c.terminateAfterOutput, .inspectAtEndOfOutput = true});
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.err, ExpectedLogLine(c));

  // Standard input and error end with the output, before the shutdown:
  // Apache and fcgiwrap wait for all of them. Instrumented programs keep a
  // copy of standard error above the standard descriptors for their reports
  // at exit.
  if (run.runningAtEndOfOutput) {
    for (int fd : run.descriptorsOnPipesAtEndOfOutput) {
      EXPECT_GT(fd, 2) << "descriptor " << fd << " still on the web server's pipe after the answer";
      if (!kInstrumented) ADD_FAILURE() << "descriptor " << fd << " still on the web server's pipe after the answer";
    }
  }
  ExpectNothingLeftRunning(run);

  if (c.loginAfter) {
    CGIRun after = Run("POST", "/main", kRight, {});
    EXPECT_EQ(after.out, Response(kMainPage)) << "a right login after this request";
    ExpectNothingLeftRunning(after);
  }

  EXPECT_EQ(AttachmentsSettled(), fAttachmentsBefore) << "attachments left open";
}

std::string CaseName(const ::testing::TestParamInfo<ServerCase>& info) { return TestName(info.param.name); }

INSTANTIATE_TEST_SUITE_P(Server, ServerLogin, ::testing::ValuesIn(kServerCases), CaseName);

// A CGI process computes its login as the client library alone would:
// every call of mp_exptmod reaches the program's own (exported from the
// executable), which hands it on to the library's; libcrypto is never loaded,
// and nothing is said of the arithmetic but each power's report.
TEST_F(ServerLoginFixture, LoginArithmeticIsTheLibrarysInACGIProcess) {
  const std::string expected = Prepare(kServerCases[0]);
  CGIRun run = RunCGI(kProgram, Vars("POST", "/main", kRight, {{"NEMVO_REPORT_MODULAR_POWERS", "1"}}), Fill(kRight));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, expected);
  EXPECT_NE(run.err.find("mp_exptmod: library\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("libcrypto"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("login arithmetic"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace nemvo::testing
