#pragma once
// The login end to end against the Firebird fixture's server, one table line
// per request. Each line gives the configuration the program reads, the
// request, and the answer expected, byte for byte. The CGI tests run each
// line as a process; the FastCGI tests send them to a pool.
//
// In the table, {user} and {password} stand for the fixture's test user,
// {user2} for a user whose password holds "=" (made for the lines that need
// it), {db} for the test database, {port} for the server's port and {dir} for
// the line's own directory, which holds the main-page template main.html.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>

#include "support/ChildProcess.h"
#include "support/ExpectedPages.h"
#include "support/FirebirdServer.h"
#include "support/ProgramConfig.h"
#include "support/TempDirectory.h"

namespace nemvo::testing {

// The main-page template and what the page producer makes of it: every
// transparent tag removed, everything else copied byte for byte.
inline const std::string kTemplate =
    "<html><head><title>Painel</title></head>\r\n"
    "<body><#Greeting who=\"x y\" style=short>Bem-vindo \xE0 administra\xE7\xE3o.<#LINK href=/>\r\n"
    "<p>100% <#ContentSummary limit=5></p>\n"
    "\n"
    "</body></html>\r\n";
inline const std::string kMainPage =
    "<html><head><title>Painel</title></head>\r\n"
    "<body>Bem-vindo \xE0 administra\xE7\xE3o.\r\n"
    "<p>100% </p>\n"
    "\n"
    "</body></html>\r\n";

inline const std::string kUser2Password = "Eq=1=2";

enum class Answer {
  kMain,      // the template's expansion
  kEmpty,     // handled, with an empty body
  kRejected,  // the message page with "Usuario/Senha invalidos"
  kMessage,   // the message page with the line's message
  kNothing,   // no output at all
};

struct ServerCase {
  const char* name;
  std::string config;  // lines of the [Nemvo.FrameWork] section
  std::string method;
  std::string path;
  std::string body;
  CGIVars extra;  // further variables, for example QUERY_STRING
  Answer answer;
  std::string message = {};   // for kMessage
  bool needsUser2 = false;
  bool loginAfter = false;    // a right login must still work afterwards
  bool terminateAfterOutput = false;  // SIGTERM once the answer is complete
};

inline const std::string kGood = "DBSuporte={db}\nMainHTML={dir}/main.html\n";
inline const std::string kRight = "u={user}&p={password}";
inline const std::string kLongUser(40, 'u');
inline const std::string kLongPassword(300, 'p');
inline const std::string kLongValueText = "Valor longo demais para a constante DPB (%s)";

inline std::string LongValue(const std::string& item) {
  std::string text = kLongValueText;
  return text.replace(text.find("%s"), 2, item);
}

inline const ServerCase kServerCases[] = {
    {"right credentials", kGood, "POST", "/main", kRight, {}, Answer::kMain},
    {"field names in capitals", kGood, "POST", "/main", "U={user}&P={password}", {}, Answer::kMain},
    {"first of repeated fields", kGood, "POST", "/main", kRight + "&p=wrong&u=nobody", {}, Answer::kMain},
    {"wrong password", kGood, "POST", "/main", "u={user}&p=not-the-password", {}, Answer::kRejected},
    {"unknown user", kGood, "POST", "/main", "u=nemvo_nobody_main&p={password}", {}, Answer::kRejected},
    {"no u and p", kGood, "POST", "/main", "x=1&y=2", {}, Answer::kRejected},
    {"no body", kGood, "POST", "/main", "", {}, Answer::kRejected},
    {"credentials only in the query string", kGood, "GET", "/main", "", {{"QUERY_STRING", kRight}},
     Answer::kRejected},
    {"credentials in the query string, a body without them", kGood, "POST", "/main", "x=1",
     {{"QUERY_STRING", kRight}}, Answer::kRejected},
    {"the environment's ISC_USER and ISC_PASSWORD are not used", kGood, "POST", "/main", "",
     {{"ISC_USER", "{user}"}, {"ISC_PASSWORD", "{password}"}}, Answer::kRejected},
    {"password holding equals signs", kGood, "POST", "/main", "u={user2}&p=" + kUser2Password, {}, Answer::kMain,
     {}, true},
    {"password holding encoded equals signs", kGood, "POST", "/main", "u={user2}&p=Eq%3D1%3D2", {}, Answer::kMain,
     {}, true},
    {"only part of a password holding equals signs", kGood, "POST", "/main", "u={user2}&p=Eq", {},
     Answer::kRejected, {}, true},
    {"MainHTML missing", "DBSuporte={db}\n", "POST", "/main", kRight, {}, Answer::kEmpty},
    {"MainHTML empty", "DBSuporte={db}\nMainHTML=\n", "POST", "/main", kRight, {}, Answer::kEmpty},
    {"MainHTML naming a missing file", "DBSuporte={db}\nMainHTML={dir}/missing.html\n", "POST", "/main", kRight,
     {}, Answer::kMessage, "Cannot open file \"{dir}/missing.html\". No such file or directory"},
    {"MainHTML naming a missing file, wrong password", "DBSuporte={db}\nMainHTML={dir}/missing.html\n", "POST",
     "/main", "u={user}&p=wrong", {}, Answer::kRejected},
    {"wrong DBSuporte", "DBSuporte=127.0.0.1/{port}:/nonexistent/nemvo-main-test.fdb\nMainHTML={dir}/main.html\n",
     "POST", "/main", kRight, {}, Answer::kMessage,
     "I/O error during \"open\" operation for file \"/nonexistent/nemvo-main-test.fdb\"\r\n"
     "Error while trying to open file\r\nNo such file or directory"},
    {"unreachable database", "DBSuporte=127.0.0.1/1:/nemvo-main-test.fdb\nMainHTML={dir}/main.html\n", "POST",
     "/main", kRight, {}, Answer::kMessage,
     "Unable to complete network request to host \"127.0.0.1\".\r\nFailed to establish a connection"},
    {"300-byte password", kGood, "POST", "/main", "u={user}&p=" + kLongPassword, {}, Answer::kMessage,
     LongValue("password"), false, true},
    {"40-byte user name", kGood, "POST", "/main", "u=" + kLongUser + "&p={password}", {}, Answer::kMessage,
     LongValue("user_name"), false, true},
    {"300-byte password, unreachable database: refused before any attach",
     "DBSuporte=127.0.0.1/1:/nemvo-main-test.fdb\n", "POST", "/main", "u={user}&p=" + kLongPassword, {},
     Answer::kMessage, LongValue("password")},
    {"another path", kGood, "POST", "/other", kRight, {}, Answer::kNothing},
    {"a path below main", kGood, "POST", "/main/x", kRight, {}, Answer::kNothing},
    {"GET with the form body", kGood, "GET", "/main", kRight, {}, Answer::kMain},
    {"PUT", kGood, "PUT", "/main", kRight, {}, Answer::kMain},
    {"DELETE", kGood, "DELETE", "/main", kRight, {}, Answer::kMain},
    {"HEAD", kGood, "HEAD", "/main", kRight, {}, Answer::kMain},
    {"an unknown method", kGood, "PROPFIND", "/main", kRight, {}, Answer::kMain},
    {"path in another letter case", kGood, "POST", "/Main", kRight, {}, Answer::kMain},
    // lighttpd ends a CGI process that still runs once it has the whole
    // answer; the program's shutdown must run to its end all the same.
    {"ended by the web server after the answer", kGood, "POST", "/main", kRight, {}, Answer::kMain, {}, false,
     false, true},
    {"ended by the web server after a refusal", kGood, "POST", "/main", "u={user}&p=wrong", {}, Answer::kRejected,
     {}, false, false, true},
};

// Names the case in test listings instead of dumping its bytes.
inline void PrintTo(const ServerCase& c, std::ostream* os) { *os << c.name; }

inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

class ServerLoginFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    NEMVO_REQUIRE_FIREBIRD();
    NEMVO_REQUIRE_WRITABLE_CONFIG();
    fUser2 = FirebirdServer::User() + "_eq";
    fAttachmentsBefore = FirebirdServer::Attachments(FirebirdServer::DatabasePath());
    ASSERT_GE(fAttachmentsBefore, 0) << "cannot count the server's attachments";
  }

  void TearDown() override {
    if (fUser2Made) FirebirdServer::Script("drop-user " + FirebirdServer::Quote(fUser2));
  }

  std::string Fill(const std::string& text) const {
    std::string s = Replace(text, "{user2}", fUser2);
    s = Replace(s, "{user}", FirebirdServer::User());
    s = Replace(s, "{password}", FirebirdServer::Password());
    s = Replace(s, "{db}", FirebirdServer::Database());
    s = Replace(s, "{port}", FirebirdServer::Port());
    return Replace(s, "{dir}", fDir.Path().string());
  }

  // The request of a line, with its placeholders filled.
  CGIVars Vars(const std::string& method, const std::string& path, const std::string& body,
               const CGIVars& extra) const {
    CGIVars vars;
    for (const auto& [name, value] : extra) vars.emplace_back(name, Fill(value));
    return Request(method, path, Fill(body), vars);
  }

  // Makes the line's user (once) and template and writes its configuration;
  // the answer it expects.
  std::string Prepare(const ServerCase& c) {
    if (c.needsUser2 && !fUser2Made) {
      int status = 0;
      FirebirdServer::Script("create-user " + FirebirdServer::Quote(fUser2) + " " +
                                 FirebirdServer::Quote(kUser2Password),
                             &status);
      EXPECT_EQ(status, 0) << "cannot create user " << fUser2;
      fUser2Made = true;
    }
    fDir.Write("main.html", kTemplate);
    ProgramConfig::WriteSection(Fill(c.config));
    switch (c.answer) {
      case Answer::kMain: return Response(kMainPage);
      case Answer::kEmpty: return Response("");
      case Answer::kRejected: return kRejectedAnswer;
      case Answer::kMessage: return Failed(Fill(c.message));
      case Answer::kNothing: break;
    }
    return {};
  }

  // The login log's line for the line's request: none where no login runs.
  std::string ExpectedLogLine(const ServerCase& c) const {
    const char* outcome = c.answer == Answer::kRejected  ? "refused"
                          : c.answer == Answer::kMessage ? "error"
                          : c.answer == Answer::kNothing ? nullptr
                                                         : "accepted";
    if (!outcome) return {};
    // The first field named u (in any case) of the body; none of the lines
    // encodes its user name.
    std::string user;
    const std::string body = Fill(c.body);
    for (size_t at = 0; at <= body.size();) {
      const size_t end = std::min(body.find('&', at), body.size());
      const std::string field = body.substr(at, end - at);
      if (field.size() >= 2 && (field[0] == 'u' || field[0] == 'U') && field[1] == '=') {
        user = field.substr(2);
        break;
      }
      at = end + 1;
    }
    return LoginLine(outcome, user, c.path);
  }

  // The server's count, once it has seen the program's detach.
  int AttachmentsSettled() const {
    int n = -1;
    for (int i = 0; i < 50; ++i) {
      n = FirebirdServer::Attachments(FirebirdServer::DatabasePath());
      if (n >= 0 && n <= fAttachmentsBefore) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return n;
  }

  TempDirectory fDir;
  std::string fUser2;
  bool fUser2Made = false;
  int fAttachmentsBefore = -1;
};

}  // namespace nemvo::testing
