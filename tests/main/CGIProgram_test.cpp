// The program as the web server sees it: every case of main/ProgramCases.h
// run as a CGI process.
#include <gtest/gtest.h>

#include <string>

#include "main/ProgramCases.h"
#include "support/ChildProcess.h"
#include "support/ProgramConfig.h"

namespace nemvo::testing {
namespace {

const std::string kProgram = NEMVO_WEB_PROGRAM;

class CGIProgram : public ::testing::TestWithParam<Case> {};

TEST_P(CGIProgram, AnswersByteForByte) {
  NEMVO_REQUIRE_WRITABLE_CONFIG();
  ProgramConfig::WriteSection("DBSuporte=\n");
  const Case& c = GetParam();
  CGIOptions options = c.options;
  if (options.holdStdinOpen) options.timeout = std::chrono::milliseconds(20000);
  CGIRun run = RunCGI(kProgram, c.vars, c.input, options);
  EXPECT_FALSE(run.timedOut) << c.name;
  EXPECT_EQ(run.signal, 0) << c.name;
  EXPECT_EQ(run.exitCode, c.exitCode) << c.name;
  EXPECT_EQ(run.out, c.out) << c.name;
  EXPECT_EQ(run.err, c.err) << c.name;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return TestName(info.param.name); }

INSTANTIATE_TEST_SUITE_P(Cases, CGIProgram, ::testing::ValuesIn(kCases), CaseName);

}  // namespace
}  // namespace nemvo::testing
