// The program as the web server sees it. Each case is one line: the
// environment (nothing else is set), standard input, and the exact bytes
// expected on standard output and standard error with the exit code.
//
// The configuration names no database, so every request that reaches the
// login action fails at the connect without any server: what these cases
// look at is the way from the web server's request to the answer.
#include <gtest/gtest.h>

#include <string>

#include "support/ChildProcess.h"
#include "support/ProgramConfig.h"
#include "support/ExpectedPages.h"

namespace nemvo::testing {
namespace {

const std::string kProgram = NEMVO_WEB_PROGRAM;

// The answer of the login action to any request that gets as far as the connect.
const std::string kNoDatabase = Failed("Faltando nome do Banco de Dados");

// The client library cannot be loaded: the module, and with it the database
// component, cannot be created, whatever the path.
const CGIVars kNoClient{{"LD_LIBRARY_PATH", NEMVO_UNLOADABLE_CLIENT_DIR}};
const std::string kLibraryMissing =
    "Biblioteca gds32.dll do InterBase n\xE3o encontrada no caminho. Favor instalar InterBase para usar esta "
    "funcionalidade";
const std::string kNoClientPage = ServerErrorPage(kLibraryMissing, "EIBClientError", kLibraryMissing);

const std::string kBigBody = "u=" + std::string(1 << 20, 'a') + "&p=b";
const std::string kLongValue(100000, 'x');

struct Case {
  const char* name;
  CGIVars vars;
  std::string input;
  std::string out;
  std::string err;
  int exitCode;
  CGIOptions options = {};
};

const CGIOptions kHoldInput{.holdStdinOpen = true};
const CGIOptions kNoInput{.closeStdin = true};

const Case kCases[] = {
    {"login post", Request("POST", "/main", "u=admin&p=secret"), "u=admin&p=secret", kNoDatabase, "", 0},
    {"path info in capitals", Request("POST", "/MAIN", "u=admin&p=secret"), "u=admin&p=secret", kNoDatabase, "", 0},
    {"get of the root", Request("GET", "/"), "", "", "", 0},
    {"get of another path", Request("GET", "/other", "", {{"QUERY_STRING", "u=a&p=b"}}), "", "", "", 0},
    {"post to another path", Request("POST", "/other", "u=a&p=b"), "u=a&p=b", "", "", 0},
    {"path below main", Request("POST", "/main/x", "u=a&p=b"), "u=a&p=b", "", "", 0},
    {"path with a trailing slash", Request("POST", "/main/", "u=a&p=b"), "u=a&p=b", "", "", 0},
    {"path beginning with main", Request("POST", "/mainx", "u=a&p=b"), "u=a&p=b", "", "", 0},
    {"empty path info", Request("GET", ""), "", "", "", 0},
    {"delete", Request("DELETE", "/main"), "", kNoDatabase, "", 0},
    {"empty environment", {}, "", "", "", 0},
    {"no protocol version: the body alone", {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", "/main"}}, "",
     MessagePage("Faltando nome do Banco de Dados"), "", 0},
    {"body of a megabyte", Request("POST", "/main", kBigBody), kBigBody, kNoDatabase, "", 0},
    {"claimed length far beyond the body", Request("POST", "/main", "u=a", {{"CONTENT_LENGTH", "2147483647"}}), "u=a", kNoDatabase, "", 0},
    {"claimed length beyond int", Request("POST", "/main", "u=a", {{"CONTENT_LENGTH", "99999999999999999999"}}), "u=a", kNoDatabase, "", 0},
    {"client-sent length header", Request("POST", "/main", "u=a", {{"HTTP_CONTENT_LENGTH", "2147483647"}}), "u=a", kNoDatabase, "", 0},
    {"no length: input never read", Request("POST", "/main", "", {}), "u=a&p=b", kNoDatabase, "", 0, kHoldInput},
    {"zero length: input never read", Request("POST", "/main", "", {{"CONTENT_LENGTH", "0"}}), "u=a", kNoDatabase, "", 0, kHoldInput},
    {"negative length: input never read", Request("POST", "/main", "", {{"CONTENT_LENGTH", "-5"}}), "u=a", kNoDatabase, "", 0, kHoldInput},
    {"bad length: input never read", Request("POST", "/main", "", {{"CONTENT_LENGTH", "abc"}}), "u=a", kNoDatabase, "", 0, kHoldInput},
    {"exact length with input left open", Request("POST", "/main", "u=a&p=b"), "u=a&p=b", kNoDatabase, "", 0, kHoldInput},
    {"standard input closed", Request("POST", "/main", "u=a&p=b"), "", kNoDatabase, "", 0, kNoInput},
    {"binary body", Request("POST", "/main", std::string("\0\xFF%zz&\r\n", 8)), std::string("\0\xFF%zz&\r\n", 8), kNoDatabase, "", 0},
    {"malformed escape", Request("POST", "/main", "u=%zz&p=x"), "u=%zz&p=x",
     Failed("Invalid URL encoded character (%zz) at position 3"), "", 0},
    {"long and 8-bit variables", Request("GET", "/" + kLongValue, "", {{"HTTP_COOKIE", kLongValue}, {"HTTP_USER_AGENT", "\xE9\x01\x7F"}}), "", "", "", 0},
    {"client library missing: server error page", Request("POST", "/main", "u=a&p=b", kNoClient), "u=a&p=b", kNoClientPage, "", 0},
    {"client library missing, another path: server error page", Request("GET", "/other", "", kNoClient), "", kNoClientPage, "", 0},
    {"standard output closed: report on standard error, exit 1", Request("GET", "/main"), "",
     "", "Exception EOSError in module nemvoweb at 0000000000000000.\r\nSystem Error.  Code: 9.\r\nBad file descriptor.\r\n", 1,
     {.closeStdout = true}},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

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

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, CGIProgram, ::testing::ValuesIn(kCases), CaseName);

}  // namespace
}  // namespace nemvo::testing
