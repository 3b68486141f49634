// The program as the web server sees it. Each case is one line: the
// environment (nothing else is set), standard input, and the exact bytes
// expected on standard output and standard error with the exit code.
#include <gtest/gtest.h>

#include <string>

#include "main/CGIProcess.h"

namespace nemvo::testing {
namespace {

const std::string kProgram = NEMVO_WEB_PROGRAM;

// A request as a web server passes it: method, path info, protocol, and the
// body's length and type when there is a body; `extra` adds or overrides.
CGIVars Request(const std::string& method, const std::string& pathInfo, const std::string& body = "",
                const CGIVars& extra = {}) {
  CGIVars vars{{"GATEWAY_INTERFACE", "CGI/1.1"}, {"REQUEST_METHOD", method}, {"PATH_INFO", pathInfo},
               {"SCRIPT_NAME", "/cgi-bin/nemvoweb"}, {"SERVER_PROTOCOL", "HTTP/1.1"}, {"SERVER_PORT", "80"},
               {"REMOTE_ADDR", "127.0.0.1"}};
  if (!body.empty()) {
    vars.emplace_back("CONTENT_LENGTH", std::to_string(body.size()));
    vars.emplace_back("CONTENT_TYPE", "application/x-www-form-urlencoded");
  }
  for (const auto& [name, value] : extra) {
    std::erase_if(vars, [&](const auto& v) { return v.first == name; });
    vars.emplace_back(name, value);
  }
  return vars;
}

// The host's server error page, byte for byte.
std::string ServerErrorPage(const std::string& statusText, const std::string& className, const std::string& message) {
  const std::string body = "<html><title>Internal Server Error 500</title>\r\n"
                           "<h1>Internal Server Error 500</h1><hr>\r\n"
                           "Exception: " + className + "<br>\r\n"
                           "Message: " + message + "<br></html>\r\n";
  return "Status: 500 " + statusText + "\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Until a module class is registered, every request gets this page.
const std::string kNoModules = ServerErrorPage("No data modules registered", "EWebException", "No data modules registered");

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
    {"login post", Request("POST", "/main", "u=admin&p=secret"), "u=admin&p=secret", kNoModules, "", 0},
    {"get of the root", Request("GET", "/"), "", kNoModules, "", 0},
    {"get of another path", Request("GET", "/other", "", {{"QUERY_STRING", "u=a&p=b"}}), "", kNoModules, "", 0},
    {"empty path info", Request("GET", ""), "", kNoModules, "", 0},
    {"delete", Request("DELETE", "/main"), "", kNoModules, "", 0},
    {"empty environment", {}, "", kNoModules, "", 0},
    {"no protocol version still gets the error page", {{"REQUEST_METHOD", "GET"}}, "", kNoModules, "", 0},
    {"body of a megabyte", Request("POST", "/main", kBigBody), kBigBody, kNoModules, "", 0},
    {"claimed length far beyond the body", Request("POST", "/main", "u=a", {{"CONTENT_LENGTH", "2147483647"}}), "u=a", kNoModules, "", 0},
    {"claimed length beyond int", Request("POST", "/main", "u=a", {{"CONTENT_LENGTH", "99999999999999999999"}}), "u=a", kNoModules, "", 0},
    {"client-sent length header", Request("POST", "/main", "u=a", {{"HTTP_CONTENT_LENGTH", "2147483647"}}), "u=a", kNoModules, "", 0},
    {"no length: input never read", Request("POST", "/main", "", {}), "u=a&p=b", kNoModules, "", 0, kHoldInput},
    {"zero length: input never read", Request("POST", "/main", "", {{"CONTENT_LENGTH", "0"}}), "u=a", kNoModules, "", 0, kHoldInput},
    {"negative length: input never read", Request("POST", "/main", "", {{"CONTENT_LENGTH", "-5"}}), "u=a", kNoModules, "", 0, kHoldInput},
    {"bad length: input never read", Request("POST", "/main", "", {{"CONTENT_LENGTH", "abc"}}), "u=a", kNoModules, "", 0, kHoldInput},
    {"exact length with input left open", Request("POST", "/main", "u=a&p=b"), "u=a&p=b", kNoModules, "", 0, kHoldInput},
    {"standard input closed", Request("POST", "/main", "u=a&p=b"), "", kNoModules, "", 0, kNoInput},
    {"binary body", Request("POST", "/main", std::string("\0\xFF%zz&\r\n", 8)), std::string("\0\xFF%zz&\r\n", 8), kNoModules, "", 0},
    {"long and 8-bit variables", Request("GET", "/" + kLongValue, "", {{"HTTP_COOKIE", kLongValue}, {"HTTP_USER_AGENT", "\xE9\x01\x7F"}}), "", kNoModules, "", 0},
    {"standard output closed: report on standard error, exit 1", Request("GET", "/main"), "",
     "", "Exception EOSError in module nemvoweb at 0000000000000000.\r\nSystem Error.  Code: 9.\r\nBad file descriptor.\r\n", 1,
     {.closeStdout = true}},
};

class CGIProgram : public ::testing::TestWithParam<Case> {};

TEST_P(CGIProgram, AnswersByteForByte) {
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
