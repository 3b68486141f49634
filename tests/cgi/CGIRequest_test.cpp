#include "cgi/CGIRequest.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's allocator hooks (gcc ships no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));
#endif

#include "cgi/CGIEnvironment.h"
#include "cgi/HTTPDate.h"

namespace nemvo {
namespace {

using testing::CGIEnvironment;
using Vars = CGIEnvironment::Vars;

TEST(CGIRequest, MethodTypeComparesTheWholeNameWithoutCase) {
  const std::pair<std::string, TMethodType> cases[] = {
      {"GET", mtGet},   {"get", mtGet},     {"PUT", mtPut},       {"post", mtPost}, {"PoSt", mtPost},
      {"HEAD", mtHead}, {"POSTX", mtAny},   {"DELETE", mtAny},    {"", mtAny},      {" GET", mtAny},
      {"G\xC9T", mtAny}, {"OPTIONS", mtAny},
  };
  for (const auto& [method, type] : cases) {
    CGIEnvironment env({{"REQUEST_METHOD", method}}, "");
    TCGIRequest request;
    EXPECT_EQ(request.MethodType(), type) << method;
  }
  CGIEnvironment env({}, "");
  EXPECT_EQ(TCGIRequest().MethodType(), mtAny);
}

struct BodyCase {
  Vars vars;
  std::string input;
  std::string content;
  off_t consumed;
};

TEST(CGIRequest, ReadsTheBodyUpToTheClaimedLength) {
  const std::string eleven = "u=abc&p=xyz";
  const BodyCase cases[] = {
      {{{"CONTENT_LENGTH", "11"}}, eleven, eleven, 11},
      {{{"CONTENT_LENGTH", "11"}}, eleven + "MORE", eleven, 11},
      {{{"CONTENT_LENGTH", "11"}}, "u=abc", "u=abc", 5},
      {{{"CONTENT_LENGTH", "0"}}, eleven, "", 0},
      {{{"CONTENT_LENGTH", "-5"}}, eleven, "", 0},
      {{{"CONTENT_LENGTH", "abc"}}, eleven, "", 0},
      {{{"CONTENT_LENGTH", "99999999999"}}, eleven, "", 0},
      {{}, eleven, "", 0},
      {{{"CONTENT_LENGTH", " 5 "}}, eleven, "u=abc", 5},
      {{{"CONTENT_LENGTH", "+5"}}, eleven, "u=abc", 5},
      // A client-sent Content-Length header reaches us as HTTP_CONTENT_LENGTH and wins.
      {{{"CONTENT_LENGTH", "11"}, {"HTTP_CONTENT_LENGTH", "3"}}, eleven, "u=a", 3},
      // Bytes beyond 127 and NUL are body bytes like any other.
      {{{"CONTENT_LENGTH", "4"}}, std::string("\0\xE9\r\n", 4), std::string("\0\xE9\r\n", 4), 4},
  };
  for (const auto& c : cases) {
    CGIEnvironment env(c.vars, c.input);
    TCGIRequest request;
    EXPECT_EQ(request.Content(), c.content) << c.input;
    EXPECT_EQ(request.GetStringField(rfContent), c.content);
    EXPECT_EQ(env.InputConsumed(), c.consumed) << c.input;
  }
}

TEST(CGIRequest, LargeBodyArrivesWhole) {
  std::string body(300000, 'x');
  for (size_t i = 0; i < body.size(); i += 7) body[i] = char(i % 251);
  CGIEnvironment env({{"CONTENT_LENGTH", std::to_string(body.size())}}, body);
  TCGIRequest request;
  EXPECT_EQ(request.Content(), body);
}

// Around the size of one read block, where the text stops growing by
// blocks and is reserved at the claimed size; bodies that end early too.
TEST(CGIRequest, BodiesAroundTheReadBlockArriveWhole) {
  struct Case {
    size_t sent;
    int64_t claimed;
  };
  const Case cases[] = {
      {65535, 65535}, {65536, 65536}, {65537, 65537}, {131072, 131072}, {200001, 200001},
      {65536, 65537}, {65537, 1000000}, {100, 65536}, {70000, 2147483647},
  };
  for (const Case& c : cases) {
    std::string body(c.sent, 'x');
    for (size_t i = 0; i < body.size(); i += 13) body[i] = char(i % 253);
    CGIEnvironment env({{"CONTENT_LENGTH", std::to_string(c.claimed)}}, body);
    TCGIRequest request;
    EXPECT_EQ(request.Content(), body) << c.sent << " of " << c.claimed;
  }
}

// The form fields are split over the stored body, not a copy of it.
TEST(CGIRequest, ContentTextIsTheStoredBody) {
  CGIEnvironment env({{"CONTENT_LENGTH", "7"}}, "u=a&p=b");
  TCGIRequest request;
  const std::string& text = request.ContentText();
  EXPECT_EQ(text, "u=a&p=b");
  EXPECT_EQ(&request.ContentText(), &text);
  EXPECT_EQ(request.ContentFieldList().Lines(), (std::vector<std::string>{"u=a", "p=b"}));
}

TEST(CGIRequest, ReadErrorEndsTheBody) {
  auto env = CGIEnvironment::WithBrokenInput({{"CONTENT_LENGTH", "100"}});
  TCGIRequest request;
  EXPECT_EQ(request.Content(), "");
  EXPECT_EQ(request.ContentFieldList().Count(), 0);
  char c;
  EXPECT_EQ(request.ReadBody(&c, 1), -1);
}

#if defined(__SANITIZE_ADDRESS__)
// The largest single allocation asked of the sanitizer's allocator while
// gLargest recording is on.
std::atomic<bool> gRecording{false};
std::atomic<size_t> gLargest{0};
void RecordAllocation(const volatile void*, size_t size) {
  if (!gRecording) return;
  size_t seen = gLargest;
  while (size > seen && !gLargest.compare_exchange_weak(seen, size)) {
  }
}
void IgnoreFree(const volatile void*) {}
#endif

#if !defined(__SANITIZE_ADDRESS__)
// Builds the request from the environment set up by the caller in a child
// process whose address space (512 MB) is far smaller than a 2 GB claim; the
// body must arrive whole and split into two fields.
void ExpectReadInSmallAddressSpace(const std::string& body) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    rlimit limit{512ull << 20, 512ull << 20};
    setrlimit(RLIMIT_AS, &limit);
    try {
      TCGIRequest request;
      _exit(request.Content() == body && request.ContentFieldList().Count() == 2 ? 0 : 2);
    } catch (...) {
      _exit(3);
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

// A claimed length of 2 GB for a tiny body must not cost 2 GB.
TEST(CGIRequest, ClaimedLengthDoesNotReserveMemory) {
  CGIEnvironment env({{"CONTENT_LENGTH", "2147483647"}, {"REQUEST_METHOD", "POST"}}, "u=a&p=b");
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer reserves terabytes of address space for itself, so the
  // address-space limit below cannot be used; its allocator tells instead
  // how large the largest allocation was.
  static const bool installed = __sanitizer_install_malloc_and_free_hooks(RecordAllocation, IgnoreFree) != 0;
  ASSERT_TRUE(installed);
  gLargest = 0;
  gRecording = true;
  {
    TCGIRequest request;
    EXPECT_EQ(request.Content(), "u=a&p=b");
    EXPECT_EQ(request.ContentFieldList().Count(), 2);
  }
  gRecording = false;
  EXPECT_LT(gLargest.load(), size_t(1) << 20);
#else
  // Built in a child process whose address space is far smaller than 2 GB.
  ExpectReadInSmallAddressSpace("u=a&p=b");
#endif
}

#if !defined(__SANITIZE_ADDRESS__)
// A body larger than one read block makes the claim reserved; where the
// address space cannot hold the claim, the body is read all the same.
TEST(CGIRequest, ClaimThatCannotBeReservedStillReadsTheBody) {
  const std::string body = "u=a&p=" + std::string(200000, 'b');
  CGIEnvironment env({{"CONTENT_LENGTH", "2147483647"}, {"REQUEST_METHOD", "POST"}}, body);
  ExpectReadInSmallAddressSpace(body);
}
#endif

TEST(CGIRequest, EveryFieldReadsItsVariable) {
  Vars vars;
  for (int i = 0; i < rfFieldCount; ++i)
    if (i != rfContent) vars.emplace_back(TCGIRequest::FieldVariable(i), "value" + std::to_string(i));
  CGIEnvironment env(vars, "");
  TCGIRequest request;
  for (int i = 0; i < rfFieldCount; ++i) {
    if (i == rfContent) continue;
    EXPECT_EQ(request.GetStringField(i), "value" + std::to_string(i)) << i;
  }
  EXPECT_EQ(std::string(TCGIRequest::FieldVariable(rfMethod)), "REQUEST_METHOD");
  EXPECT_EQ(std::string(TCGIRequest::FieldVariable(rfAuthorization)), "HTTP_AUTHORIZATION");
  EXPECT_EQ(request.GetStringField(-1), "");
  EXPECT_EQ(request.GetStringField(rfFieldCount), "");
  EXPECT_EQ(request.GetIntegerField(rfFieldCount), -1);
  EXPECT_EQ(request.GetDateField(rfFieldCount), -1);
}

struct FieldByNameCase {
  Vars vars;
  std::string name, value;
};

TEST(CGIRequest, FieldByNameFallsBackBetweenPlainAndHTTPNames) {
  const FieldByNameCase cases[] = {
      {{{"HTTP_PATH_INFO", "/x"}}, "PATH_INFO", "/x"},
      {{{"PATH_INFO", "/a"}, {"HTTP_PATH_INFO", "/x"}}, "PATH_INFO", "/a"},
      {{{"PATH_INFO", ""}, {"HTTP_PATH_INFO", "/x"}}, "PATH_INFO", "/x"},
      {{{"HOST", "h"}}, "HTTP_HOST", "h"},
      {{{"HTTP_HOST", "a"}, {"HOST", "h"}}, "HTTP_HOST", "a"},
      {{{"CONTENT_TYPE", "text/plain"}}, "HTTP_CONTENT_TYPE", "text/plain"},
      {{{"HTTP_X_FORWARDED_FOR", "1.2.3.4"}}, "HTTP_X_FORWARDED_FOR", "1.2.3.4"},
      {{{"X_FORWARDED_FOR", "1.2.3.4"}}, "HTTP_X_FORWARDED_FOR", "1.2.3.4"},
      {{{"http_host", "lower"}}, "HTTP_HOST", ""},
      {{{"HTTP_X-A", "dash"}}, "HTTP_X_A", ""},
      {{{"A", "1"}}, "A=B", ""},
      {{}, "", ""},
      {{{"LONG", std::string(100000, 'v')}}, "LONG", std::string(100000, 'v')},
  };
  for (const auto& c : cases) {
    CGIEnvironment env(c.vars, "");
    TCGIRequest request;
    EXPECT_EQ(request.GetFieldByName(c.name), c.value) << c.name;
  }
}

TEST(CGIRequest, IntegerFieldIsMinusOneWhenItDoesNotConvert) {
  const std::pair<std::string, int32_t> cases[] = {
      {"42", 42},      {"-7", -7},          {"", -1},          {"abc", -1},  {"12a", -1},
      {"0x10", -1},    {"2147483647", 2147483647}, {"2147483648", -1}, {"-2147483648", INT32_MIN},
      {"+-1", -1},     {"+", -1},           {" ", -1},
  };
  for (const auto& [text, value] : cases) {
    CGIEnvironment env({{"SERVER_PORT", text}}, "");
    TCGIRequest request;
    EXPECT_EQ(request.GetIntegerField(rfServerPort), value) << text;
  }
}

TEST(CGIRequest, DateFieldReadsHTTPDates) {
  const std::pair<std::string, double> cases[] = {
      {"", -1},
      // Day 34644 counted from 30 December 1899; 08:49:37 is 31777 seconds.
      {"Sun, 06 Nov 1994 08:49:37 GMT", 34644 + 31777.0 / 86400},
      {"Sunday, 06-Nov-94 08:49:37 GMT", 34644 + 31777.0 / 86400},
      {"Sun Nov  6 08:49:37 1994", 34644 + 31777.0 / 86400},
      {"Thu, 01 Jan 1970 00:00:00 GMT", 25569},
      {"Sat, 01 Jan 2000 12:00:00 GMT", 36526.5},
      {"yesterday", -1},
      {"Sun, 31 Feb 1994 08:49:37 GMT", -1},
  };
  for (const auto& [text, value] : cases) {
    CGIEnvironment env({{"HTTP_IF_MODIFIED_SINCE", text}}, "");
    TCGIRequest request;
    EXPECT_DOUBLE_EQ(request.GetDateField(rfIfModifiedSince), value) << text;
  }
}

TEST(CGIRequest, QueryStringIsNotAFormField) {
  CGIEnvironment env({{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "u=a&p=b"}}, "");
  TCGIRequest request;
  EXPECT_EQ(request.Query(), "u=a&p=b");
  EXPECT_EQ(request.ContentFieldList().Count(), 0);
}

TEST(CGIRequest, FormFieldsComeFromTheBody) {
  const std::string body = "u=admin&p=s%3Dcr+t";
  CGIEnvironment env({{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", std::to_string(body.size())}}, body);
  TCGIRequest request;
  EXPECT_EQ(request.ContentFieldList().Lines(), (std::vector<std::string>{"u=admin", "p=s=cr t"}));
}

struct TranslateCase {
  std::string translated, pathInfo, uri, result;
};

TEST(CGIRequest, TranslateURIReplacesThePathInfoEnding) {
  const TranslateCase cases[] = {
      {"/var/www/main", "/main", "/img/a.png", "/var/www/img/a.png"},
      {"/var/www/main", "/MAIN", "/img/a.png", "/img/a.png"},
      {"", "/main", "/img/a.png", "/img/a.png"},
      {"/var/www", "", "/x", "/var/www/x"},
      {"/a", "/longer/than/it", "/x", "/x"},
  };
  for (const auto& c : cases) {
    CGIEnvironment env({{"PATH_TRANSLATED", c.translated}, {"PATH_INFO", c.pathInfo}}, "");
    TCGIRequest request;
    EXPECT_EQ(request.TranslateURI(c.uri), c.result) << c.translated << " " << c.pathInfo;
  }
}

TEST(CGIRequest, WritesGoStraightToStandardOutput) {
  CGIEnvironment env({}, "");
  bool emptyResult, textResult, headResult;
  int64_t raw;
  {
    TCGIRequest request;
    emptyResult = request.WriteText("");
    textResult = request.WriteText(std::string("a\r\n\0b", 5));
    raw = request.WriteRaw("xyz", 2);
    headResult = request.WriteHeaders(200, "200 OK", "Content:\r\n\r\n");
  }
  EXPECT_FALSE(emptyResult);
  EXPECT_TRUE(textResult);
  EXPECT_EQ(raw, 2);
  EXPECT_TRUE(headResult);
  EXPECT_EQ(env.Output(), std::string("a\r\n\0b", 5) + "xy" + "Status: 200 OK\r\nContent:\r\n\r\n");
}

// A request source other than the process: variables, body and answer come
// from it and go to it only, whatever the process's environment and standard
// streams hold (a FastCGI worker's environment is its own, not a request's).
class MapSource : public TRequestSource {
 public:
  MapSource(Vars vars, std::string body) : fVars(std::move(vars)), fBody(std::move(body)) {}
  std::string Variable(const std::string& name) override {
    for (const auto& [n, v] : fVars)
      if (n == name) return v;
    return {};
  }
  int64_t ReadInput(char* buffer, int64_t count) override {
    // One byte at a time: the request must gather a body that trickles in.
    if (count <= 0 || fRead >= fBody.size()) return 0;
    buffer[0] = fBody[fRead++];
    return 1;
  }
  int64_t WriteOutput(const char* buffer, int64_t count) override {
    written.append(buffer, size_t(count));
    return count;
  }
  std::string written;

 private:
  Vars fVars;
  std::string fBody;
  size_t fRead = 0;
};

TEST(CGIRequest, ReadsOnlyItsSource) {
  CGIEnvironment env({{"REQUEST_METHOD", "GET"}, {"PATH_INFO", "/process"}, {"CONTENT_LENGTH", "3"},
                      {"HTTP_COOKIE", "process=1"}},
                     "p=1");
  MapSource source({{"REQUEST_METHOD", "POST"}, {"PATH_INFO", "/main"}, {"CONTENT_LENGTH", "7"},
                    {"HTTP_HOST", "example"}},
                   "u=a&p=bEXTRA");
  TCGIRequest request(source);
  EXPECT_EQ(request.MethodType(), mtPost);
  EXPECT_EQ(request.PathInfo(), "/main");
  EXPECT_EQ(request.Content(), "u=a&p=b");
  EXPECT_EQ(request.GetFieldByName("HOST"), "example");
  EXPECT_EQ(request.GetFieldByName("HTTP_COOKIE"), "");
  EXPECT_TRUE(request.WriteText("answer"));
  EXPECT_EQ(source.written, "answer");
  EXPECT_EQ(env.Output(), "");
}

}  // namespace
}  // namespace nemvo
