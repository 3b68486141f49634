// The test module served by a real CGI process (web_test_cgi), as the web
// server sees it: exact bytes on standard output, nothing on standard
// error, exit code 0.
#include <gtest/gtest.h>

#include <string>

#include "support/ChildProcess.h"
#include "support/ExpectedPages.h"

namespace nemvo::testing {
namespace {

const std::string kProgram = NEMVO_WEB_TEST_PROGRAM;

CGIVars Request(const std::string& method, const std::string& pathInfo, CGIVars extra = {}) {
  CGIVars vars{{"GATEWAY_INTERFACE", "CGI/1.1"}, {"REQUEST_METHOD", method},     {"PATH_INFO", pathInfo},
               {"SCRIPT_NAME", "/cgi-bin/web_test_cgi"}, {"SERVER_PROTOCOL", "HTTP/1.1"}};
  vars.insert(vars.end(), extra.begin(), extra.end());
  return vars;
}

std::string Answer(const std::string& status, const std::string& body) {
  return "Status: " + status + "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nContent:\r\n\r\n" + body;
}

// The host's server error page, whose status line carries the message.
std::string ServerError(const std::string& className, const std::string& message) {
  return ServerErrorPage(message, className, message);
}

const std::string kBrokenMessage = "Error reading TBrokenWebModule at line 7: Class TNoSuchComponent not found";

struct Case {
  const char* name;
  CGIVars vars;
  std::string input;
  std::string out;
};

const Case kCases[] = {
    {"post to main", Request("POST", "/main", {{"CONTENT_LENGTH", "7"}}), "u=a&p=b", Answer("200 OK", "main POST|after")},
    {"get to main in capitals", Request("GET", "/MAIN"), "", Answer("200 OK", "main GET|after")},
    {"producer action", Request("GET", "/Producer1"), "", Answer("200 OK", "<p>produced \xE9</p>|after")},
    {"disabled default action answers the rest", Request("GET", "/elsewhere"), "",
     Answer("200 OK", "fallback for /elsewhere|after")},
    {"declined, then the default", Request("PUT", "/decline"), "", Answer("200 OK", "fallback for /decline|after")},
    {"nobody answers: no output", Request("GET", "/none/at/all"), "", ""},
    {"after dispatch takes it back: no output", Request("GET", "/main", {{"QUERY_STRING", "after=decline"}}), "", ""},
    {"before dispatch answers", Request("GET", "/before"), "", Answer("200 OK", "answered before dispatch|after")},
    {"exception: the module's error page, escaped", Request("GET", "/boom/<script>\"x\"</script>"), "",
     Answer("500 Internal Server Error",
            "<html><body><h1>Internal Application Error</h1>\r\n<p>boom &lt;b&gt;&amp;&quot;\r\n"
            "<p><hr width=\"100%\"><i>/boom/&lt;script&gt;&quot;x&quot;&lt;/script&gt;</i></body></html>")},
    {"definition cannot be read: server error page", Request("GET", "/main", {{"WEB_TEST_MODULE", "broken"}}), "",
     ServerError("EClassNotFound", kBrokenMessage)},
    {"OnCreate raises: server error page", Request("GET", "/main", {{"WEB_TEST_FAIL_CREATE", "1"}}), "",
     ServerError("Exception", "creation refused")},
};

class WebTestProgram : public ::testing::TestWithParam<Case> {};

TEST_P(WebTestProgram, AnswersByteForByte) {
  const Case& c = GetParam();
  CGIRun run = RunCGI(kProgram, c.vars, c.input);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.err, "");
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, WebTestProgram, ::testing::ValuesIn(kCases), CaseName);

// A class registered twice under one name is a failure the program reports:
// the server error page, for every request that builds the module.
TEST(WebTestProgram, ClassRegisteredTwiceGivesTheServerErrorPage) {
  for (const char* path : {"/main", "/elsewhere"}) {
    CGIRun run = RunCGI(NEMVO_WEB_TEST_DUPLICATE_PROGRAM, Request("GET", path), "");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << path;
    EXPECT_EQ(run.out, ServerError("EComponentError", "Class TTestWebModule is already registered")) << path;
    EXPECT_EQ(run.err, "") << path;
  }
}

}  // namespace
}  // namespace nemvo::testing
