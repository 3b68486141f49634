#pragma once
// The black-box cases of the program without a database server: each is one
// request (the environment, nothing else set, and standard input) with the
// exact bytes expected on standard output and standard error and the exit
// code. The CGI tests run each as a process; the FastCGI tests send the same
// requests to a pool and expect the same answers.
//
// The configuration names no database, so every request that reaches the
// login action fails at the connect without any server: what these cases
// look at is the way from the web server's request to the answer.
#include <cctype>
#include <ostream>
#include <string>

#include "support/ChildProcess.h"
#include "support/ExpectedPages.h"

namespace nemvo::testing {

// The answer of the login action to any request that gets as far as the connect.
inline const std::string kNoDatabase = Failed("Faltando nome do Banco de Dados");

// The client library cannot be loaded: the module, and with it the database
// component, cannot be created, whatever the path.
inline const CGIVars kNoClient{{"LD_LIBRARY_PATH", NEMVO_UNLOADABLE_CLIENT_DIR}};
inline const std::string kLibraryMissing =
    "Biblioteca gds32.dll do InterBase n\xE3o encontrada no caminho. Favor instalar InterBase para usar esta "
    "funcionalidade";
inline const std::string kNoClientPage = ServerErrorPage(kLibraryMissing, "EIBClientError", kLibraryMissing);

inline const std::string kBigBody = "u=" + std::string(1 << 20, 'a') + "&p=b";
inline const std::string kLongValue(100000, 'x');

struct Case {
  const char* name;
  CGIVars vars;
  std::string input;
  std::string out;
  std::string err;
  int exitCode;
  CGIOptions options = {};
};

inline const CGIOptions kHoldInput{.holdStdinOpen = true};
inline const CGIOptions kNoInput{.closeStdin = true};

inline const Case kCases[] = {
    {"login post", Request("POST", "/main", "u=admin&p=secret"), "u=admin&p=secret", kNoDatabase, LoginLine("error", "admin"), 0},
    {"path info in capitals", Request("POST", "/MAIN", "u=admin&p=secret"), "u=admin&p=secret", kNoDatabase,
     LoginLine("error", "admin", "/MAIN"), 0},
    {"get of the root", Request("GET", "/"), "", "", "", 0},
    {"get of another path", Request("GET", "/other", "", {{"QUERY_STRING", "u=a&p=b"}}), "", "", "", 0},
    {"post to another path", Request("POST", "/other", "u=a&p=b"), "u=a&p=b", "", "", 0},
    {"path below main", Request("POST", "/main/x", "u=a&p=b"), "u=a&p=b", "", "", 0},
    {"path with a trailing slash", Request("POST", "/main/", "u=a&p=b"), "u=a&p=b", "", "", 0},
    {"path beginning with main", Request("POST", "/mainx", "u=a&p=b"), "u=a&p=b", "", "", 0},
    {"empty path info", Request("GET", ""), "", "", "", 0},
    {"delete", Request("DELETE", "/main"), "", kNoDatabase, LoginLine("error", ""), 0},
    {"empty environment", {}, "", "", "", 0},
    {"no protocol version: the body alone", {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", "/main"}}, "",
     MessagePage("Faltando nome do Banco de Dados"), LoginLine("error", "", "/main", "-"), 0},
    {"body of a megabyte", Request("POST", "/main", kBigBody), kBigBody, kNoDatabase,
     LoginLine("error", std::string(64, 'a')), 0},
    {"claimed length far beyond the body", Request("POST", "/main", "u=a", {{"CONTENT_LENGTH", "2147483647"}}), "u=a", kNoDatabase, LoginLine("error", "a"), 0},
    {"claimed length beyond int", Request("POST", "/main", "u=a", {{"CONTENT_LENGTH", "99999999999999999999"}}), "u=a", kNoDatabase, LoginLine("error", ""), 0},
    {"client-sent length header", Request("POST", "/main", "u=a", {{"HTTP_CONTENT_LENGTH", "2147483647"}}), "u=a", kNoDatabase, LoginLine("error", "a"), 0},
    {"no length: input never read", Request("POST", "/main", "", {}), "u=a&p=b", kNoDatabase, LoginLine("error", ""), 0, kHoldInput},
    {"zero length: input never read", Request("POST", "/main", "", {{"CONTENT_LENGTH", "0"}}), "u=a", kNoDatabase, LoginLine("error", ""), 0, kHoldInput},
    {"negative length: input never read", Request("POST", "/main", "", {{"CONTENT_LENGTH", "-5"}}), "u=a", kNoDatabase, LoginLine("error", ""), 0, kHoldInput},
    {"bad length: input never read", Request("POST", "/main", "", {{"CONTENT_LENGTH", "abc"}}), "u=a", kNoDatabase, LoginLine("error", ""), 0, kHoldInput},
    {"exact length with input left open", Request("POST", "/main", "u=a&p=b"), "u=a&p=b", kNoDatabase, LoginLine("error", "a"), 0,
     kHoldInput},
    {"standard input closed", Request("POST", "/main", "u=a&p=b"), "", kNoDatabase, LoginLine("error", ""), 0, kNoInput},
    {"binary body", Request("POST", "/main", std::string("\0\xFF%zz&\r\n", 8)), std::string("\0\xFF%zz&\r\n", 8), kNoDatabase,
     LoginLine("error", ""), 0},
    {"malformed escape", Request("POST", "/main", "u=%zz&p=x"), "u=%zz&p=x",
     Failed("Invalid URL encoded character (%zz) at position 3"), LoginLine("error", ""), 0},
    {"long and 8-bit variables", Request("GET", "/" + kLongValue, "", {{"HTTP_COOKIE", kLongValue}, {"HTTP_USER_AGENT", "\xE9\x01\x7F"}}), "", "", "", 0},
    {"client library missing: server error page", Request("POST", "/main", "u=a&p=b", kNoClient), "u=a&p=b", kNoClientPage, "", 0},
    {"client library missing, another path: server error page", Request("GET", "/other", "", kNoClient), "", kNoClientPage, "", 0},
    {"standard output closed: report on standard error, exit 1", Request("GET", "/main"), "",
     "", "Exception EOSError in module nemvoweb at 0000000000000000.\r\nSystem Error.  Code: 9.\r\nBad file descriptor.\r\n\r\n", 1,
     {.closeStdout = true}},
};

// Names the case in test listings instead of dumping its bytes.
inline void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// A case's name as a test name.
inline std::string TestName(const char* name) {
  std::string out;
  for (const char* p = name; *p; ++p) out += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return out;
}

}  // namespace nemvo::testing
