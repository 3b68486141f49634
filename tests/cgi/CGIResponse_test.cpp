#include "cgi/CGIResponse.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/Exception.h"
#include "cgi/Cookie.h"
#include "cgi/HTTPDate.h"
#include "cgi/StubRequest.h"
#include "cgi/URLEncode.h"

namespace nemvo {
namespace {

using testing::TStubRequest;
using Writes = std::vector<std::string>;

// Sun, 06 Nov 1994 08:49:37 GMT as a day count from 30 December 1899 (a
// negative count's fraction still counts forward from midnight: -1.25 is
// 29 December 1899, 06:00).
constexpr double kNov1994 = 34644 + 31777.0 / 86400;

// A request as a web server makes it: with a protocol version.
struct HTTPRequest : TStubRequest {
  HTTPRequest() { SetField(rfProtocolVersion, "HTTP/1.1"); }
};

struct SendCase {
  const char* name;
  void (*fill)(TCGIResponse&);
  std::string head;  // after the status line's "Status: "
  std::string body;
};

const SendCase kSendCases[] = {
    {"content: one head and one body write", [](TCGIResponse& r) { r.SetContent("abc"); },
     "200 OK\r\nContent-Type: text/html\r\nContent-Length: 3\r\nContent:\r\n\r\n", "abc"},
    {"empty content has no length line", [](TCGIResponse&) {},
     "200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n", ""},
    {"500", [](TCGIResponse& r) { r.SetStatusCode(500); r.SetContent("page"); },
     "500 Internal Server Error\r\nContent-Type: text/html\r\nContent-Length: 4\r\nContent:\r\n\r\n", "page"},
    {"code without reason", [](TCGIResponse& r) { r.SetStatusCode(299); },
     "200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n", ""},
    {"reason set by hand survives the same code",
     [](TCGIResponse& r) { r.SetStatusCode(404); r.SetReasonText("Gone Away"); r.SetStatusCode(404); },
     "404 Gone Away\r\nContent-Type: text/html\r\nContent:\r\n\r\n", ""},
    {"a new code replaces a reason set by hand",
     [](TCGIResponse& r) { r.SetStatusCode(404); r.SetReasonText("Gone Away"); r.SetStatusCode(410); },
     "410 Gone\r\nContent-Type: text/html\r\nContent:\r\n\r\n", ""},
    {"negative code", [](TCGIResponse& r) { r.SetStatusCode(-1); r.SetReasonText("X"); },
     "200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n", ""},
    {"no content type", [](TCGIResponse& r) { r.SetContentType(""); },
     "200 OK\r\nContent:\r\n\r\n", ""},
    {"realm", [](TCGIResponse& r) { r.SetWWWAuthenticate("Basic"); r.SetRealm("x"); },
     "200 OK\r\nWWW-Authenticate: Basic Realm=x\r\nContent-Type: text/html\r\nContent:\r\n\r\n", ""},
    {"authenticate without realm", [](TCGIResponse& r) { r.SetWWWAuthenticate("Basic"); },
     "200 OK\r\nWWW-Authenticate: Basic\r\nContent-Type: text/html\r\nContent:\r\n\r\n", ""},
    {"expires", [](TCGIResponse& r) { r.SetExpires(kNov1994); },
     "200 OK\r\nExpires: Sun, 06 Nov 1994 08:49:37 GMT\r\nContent-Type: text/html\r\nContent:\r\n\r\n", ""},
    {"dates of 0 or less are not written",
     [](TCGIResponse& r) { r.SetExpires(0); r.SetLastModified(-0.5); r.SetDate(36526); },
     "200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n", ""},
    {"every header, in order",
     [](TCGIResponse& r) {
       r.SetContentType("text/plain");
       r.SetContentEncoding("gzip");
       r.SetContentVersion("1");
       r.CustomHeaders().Add("X-A=1");
       r.CustomHeaders().Add("X-B=2=3");
       r.SetWWWAuthenticate("Basic");
       r.SetTitle("T");
       r.SetLastModified(36925 + 14706.0 / 86400);
       r.SetExpires(kNov1994);
       r.SetDerivedFrom("d");
       TCookie& c = r.Cookies().Add();
       c.Name = "a b";
       c.Value = "1";
       c.Path = "/";
       r.SetAllow("GET");
       r.SetLocation("/l");
       r.SetContent("xy");
     },
     "200 OK\r\nLocation: /l\r\nAllow: GET\r\nSet-Cookie: a+b=1; path=/\r\nDerived-From: d\r\n"
     "Expires: Sun, 06 Nov 1994 08:49:37 GMT\r\nLast-Modified: Sat, 03 Feb 2001 04:05:06 GMT\r\nTitle: T\r\n"
     "WWW-Authenticate: Basic\r\nX-A: 1\r\nX-B: 2=3\r\nContent-Version: 1\r\nContent-Encoding: gzip\r\n"
     "Content-Type: text/plain\r\nContent-Length: 2\r\nContent:\r\n\r\n",
     "xy"},
    {"a custom header named twice gives its first value twice",
     [](TCGIResponse& r) { r.CustomHeaders().Add("X=1"); r.CustomHeaders().Add("x=2"); },
     "200 OK\r\nX: 1\r\nx: 1\r\nContent-Type: text/html\r\nContent:\r\n\r\n", ""},
    {"content length set by hand", [](TCGIResponse& r) { r.SetContent("abc"); r.SetContentLength(10); },
     "200 OK\r\nContent-Type: text/html\r\nContent-Length: 10\r\nContent:\r\n\r\n", "abc"},
};

TEST(CGIResponse, SendWritesTheHeadAsTheFieldsSay) {
  for (const auto& c : kSendCases) {
    HTTPRequest request;
    TCGIResponse response(request);
    c.fill(response);
    response.SendResponse();
    Writes expected{"Status: " + c.head};
    if (!c.body.empty()) expected.push_back(c.body);
    EXPECT_EQ(request.fWrites, expected) << c.name;
    EXPECT_TRUE(response.Sent()) << c.name;
  }
}

// Every text that goes into the head keeps to its own line: CR, LF and the
// other control bytes become blanks, so no value adds a header or ends the
// head early. Bytes above 127 stay.
TEST(CGIResponse, ControlBytesInHeadValuesBecomeBlanks) {
  const std::string evil = "a\r\nX-Evil: 1\r\n\r\n<b>\t\x01\x7F\xE9";
  const std::string safe = "a  X-Evil: 1    <b>   \xE9";
  struct Case {
    const char* name;
    std::function<void(TCGIResponse&)> fill;
    std::string line;
  };
  const Case cases[] = {
      {"Location", [&](TCGIResponse& r) { r.SetLocation(evil); }, "Location: " + safe},
      {"Allow", [&](TCGIResponse& r) { r.SetAllow(evil); }, "Allow: " + safe},
      {"Derived-From", [&](TCGIResponse& r) { r.SetDerivedFrom(evil); }, "Derived-From: " + safe},
      {"Title", [&](TCGIResponse& r) { r.SetTitle(evil); }, "Title: " + safe},
      {"WWW-Authenticate", [&](TCGIResponse& r) { r.SetWWWAuthenticate(evil); }, "WWW-Authenticate: " + safe},
      {"Realm", [&](TCGIResponse& r) { r.SetWWWAuthenticate("Basic"); r.SetRealm(evil); },
       "WWW-Authenticate: Basic Realm=" + safe},
      {"Content-Version", [&](TCGIResponse& r) { r.SetContentVersion(evil); }, "Content-Version: " + safe},
      {"Content-Encoding", [&](TCGIResponse& r) { r.SetContentEncoding(evil); }, "Content-Encoding: " + safe},
      {"Content-Type", [&](TCGIResponse& r) { r.SetContentType(evil); }, "Content-Type: " + safe},
      {"custom header value", [&](TCGIResponse& r) { r.CustomHeaders().Add("X-A=" + evil); }, "X-A: " + safe},
      {"custom header name", [&](TCGIResponse& r) { r.CustomHeaders().Add("X\rY\nZ=1"); }, "X Y Z: 1"},
      {"cookie path and domain",
       [&](TCGIResponse& r) {
         TCookie& c = r.Cookies().Add();
         c.Name = "n";
         c.Value = "v";
         c.Domain = "d\r\nX: 1";
         c.Path = "/\n";
       },
       "Set-Cookie: n=v; domain=d  X: 1; path=/ "},
  };
  for (const auto& c : cases) {
    HTTPRequest request;
    TCGIResponse response(request);
    c.fill(response);
    response.SendResponse();
    ASSERT_EQ(request.fWrites.size(), 1u) << c.name;
    const std::string& head = request.fWrites[0];
    EXPECT_NE(head.find("\r\n" + c.line + "\r\n"), std::string::npos) << c.name << ": " << head;
    // The only line breaks are the ones that end lines, and one empty line ends the head.
    EXPECT_EQ(head.find("\r\n\r\n"), head.size() - 4) << c.name;
    for (size_t i = 0; i < head.size(); ++i) {
      const unsigned char b = static_cast<unsigned char>(head[i]);
      if (b == '\r') EXPECT_EQ(head[i + 1], '\n') << c.name;
      else if (b == '\n') EXPECT_EQ(head[i - 1], '\r') << c.name;
      else EXPECT_FALSE(b < 0x20 || b == 0x7F) << c.name << " at " << i;
    }
  }
}

TEST(CGIResponse, ReasonTextStaysOnTheStatusLine) {
  HTTPRequest request;
  TCGIResponse response(request);
  response.SetStatusCode(404);
  response.SetReasonText("Gone\r\nX-Evil: 1");
  response.SendResponse();
  EXPECT_EQ(request.fWrites, (Writes{"Status: 404 Gone  X-Evil: 1\r\nContent-Type: text/html\r\nContent:\r\n\r\n"}));
}

TEST(CGIResponse, WithoutProtocolVersionOnlyTheBodyIsWritten) {
  TStubRequest request;
  TCGIResponse response(request);
  response.SetStatusCode(500);
  response.SetContent("body");
  response.SendResponse();
  EXPECT_EQ(request.fWrites, (Writes{"body"}));
  EXPECT_TRUE(response.Sent());
}

TEST(CGIResponse, FieldsAndDefaults) {
  TStubRequest request;
  TCGIResponse response(request);
  EXPECT_EQ(response.StatusCode(), 200);
  EXPECT_EQ(response.ReasonText(), "OK");
  EXPECT_EQ(response.ContentType(), "text/html");
  EXPECT_EQ(response.ContentLength(), 0);
  EXPECT_EQ(response.Expires(), -1);
  EXPECT_EQ(response.LastModified(), -1);
  EXPECT_EQ(response.Date(), -1);
  EXPECT_FALSE(response.Sent());
  EXPECT_EQ(response.GetStringField(12), "");
  response.SetStringField(12, "ignored");
  response.SetStringField(-1, "ignored");
  EXPECT_EQ(response.GetStringField(12), "");
  EXPECT_EQ(response.GetDateField(3), -1);
  response.SetDateField(3, 5);
  EXPECT_EQ(response.GetDateField(3), -1);
  response.SetIntegerField(1, 7);
  EXPECT_EQ(response.GetIntegerField(1), -1);
  response.SetLogMessage("x");
  EXPECT_EQ(response.GetLogMessage(), "");
  response.SetStatusCode(299);
  EXPECT_EQ(response.ReasonText(), "");
  response.SetStatusCode(412);
  EXPECT_EQ(response.ReasonText(), "Unless True");
}

TEST(CGIResponse, ReasonPhrases) {
  const std::pair<int, std::string> cases[] = {
      {100, "Continue"}, {203, "Non-Authoritative Information"}, {302, "Moved Temporarily"},
      {406, "None Acceptable"}, {408, "Request Timeout"}, {504, "Gateway Timeout"},
      {307, ""}, {413, ""}, {417, ""}, {0, ""}, {505, ""}, {199, ""},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(TCGIResponse::ReasonPhrase(code), text) << code;
}

TEST(CGIResponse, SendRedirect) {
  HTTPRequest request;
  TCGIResponse response(request);
  response.SetContentType("text/plain");
  response.SendRedirect("/x");
  const std::string page =
      "<html><title>Document Moved 302</title>\r\n<body><h1>Object Moved</h1><hr>\r\n"
      "This Object may be found <a HREF=\"/x\">here.</a><br>\r\n<br></body></html>\r\n";
  EXPECT_EQ(request.fWrites, (Writes{"Status: 302 Moved Temporarily\r\nLocation: /x\r\nContent-Type: text/html\r\n"
                                     "Content-Length: " + std::to_string(page.size()) + "\r\nContent:\r\n\r\n",
                                     page}));
}

// The page shows the address as text of the link, escaped; the Location
// header carries it as it is, control bytes blanked.
TEST(CGIResponse, SendRedirectEscapesTheAddressInItsPage) {
  HTTPRequest request;
  TCGIResponse response(request);
  response.SendRedirect("/a?b=1&c=\"><script>x</script>\r\n");
  const std::string page =
      "<html><title>Document Moved 302</title>\r\n<body><h1>Object Moved</h1><hr>\r\n"
      "This Object may be found <a HREF=\"/a?b=1&amp;c=&quot;&gt;&lt;script&gt;x&lt;/script&gt;\r\n\">here.</a>"
      "<br>\r\n<br></body></html>\r\n";
  EXPECT_EQ(request.fWrites,
            (Writes{"Status: 302 Moved Temporarily\r\nLocation: /a?b=1&c=\"><script>x</script>  \r\n"
                    "Content-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) + "\r\nContent:\r\n\r\n",
                    page}));
  EXPECT_EQ(response.Location(), "/a?b=1&c=\"><script>x</script>\r\n");
}

// A stream that counts its reads and tells when it is freed.
class TCountingStream : public TStringStream {
 public:
  TCountingStream(std::string data, bool& freed) : TStringStream(std::move(data)), fFreed(freed) {}
  ~TCountingStream() override { fFreed = true; }

 private:
  bool& fFreed;
};

TEST(CGIResponse, ContentStreamIsSentInBlocksFromItsPositionAndFreed) {
  HTTPRequest request;
  bool freed = false;
  std::string data(20000, 'a');
  data[0] = 'S';
  {
    TCGIResponse response(request);
    response.SetContent("ignored");
    auto stream = std::make_unique<TCountingStream>(data, freed);
    stream->SetPosition(1);
    response.SetContentStream(std::move(stream));
    EXPECT_EQ(response.ContentLength(), 20000);
    response.SendResponse();
    EXPECT_TRUE(freed);
    EXPECT_EQ(response.ContentStream(), nullptr);
    EXPECT_EQ(response.Content(), "ignored");
    EXPECT_EQ(response.ContentLength(), 7);
  }
  ASSERT_EQ(request.fWrites.size(), 4u);
  EXPECT_EQ(request.fWrites[0], "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 20000\r\nContent:\r\n\r\n");
  EXPECT_EQ(request.fWrites[1].size(), 8192u);
  EXPECT_EQ(request.fWrites[2].size(), 8192u);
  EXPECT_EQ(request.fWrites[3].size(), 20000u - 1 - 2 * 8192);
  EXPECT_EQ(request.Output().substr(request.fWrites[0].size()), data.substr(1));
}

TEST(CGIResponse, ContentStreamIsFreedWhenReplacedAndWithTheResponse) {
  TStubRequest request;
  bool first = false, second = false;
  {
    TCGIResponse response(request);
    response.SetContentStream(std::make_unique<TCountingStream>("12", first));
    response.SetContent("abcd");
    EXPECT_EQ(response.ContentLength(), 2);  // the stream sets the length while it is there
    response.SetContentStream(std::make_unique<TCountingStream>("123", second));
    EXPECT_TRUE(first);
    EXPECT_EQ(response.ContentLength(), 3);
    response.SetContentStream(nullptr);
    EXPECT_TRUE(second);
    EXPECT_EQ(response.ContentLength(), 4);
    response.SetContentStream(std::make_unique<TCountingStream>("1", second = false));
  }
  EXPECT_TRUE(second);
}

// A stream whose reading fails.
class TFailingStream : public TStringStream {
 public:
  int64_t Read(void*, int64_t) override { throw EStreamError("Stream read error"); }
};

TEST(CGIResponse, ExceptionWhileSendingLeavesSentFalse) {
  HTTPRequest request;
  TCGIResponse response(request);
  response.SetContentStream(std::make_unique<TFailingStream>());
  EXPECT_THROW(response.SendResponse(), EStreamError);
  EXPECT_FALSE(response.Sent());
}

TEST(URLEncode, EncodesAllButTheSafeCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"a b=c", "a+b%3Dc"},
      {"AZaz09!$'()*-.@_", "AZaz09!$'()*-.@_"},
      {"\xE9", "%E9"},
      {std::string("\0\r\n\x7F\xFF", 5), "%00%0D%0A%7F%FF"},
      {"%+&/?#~", "%25%2B%26%2F%3F%23%7E"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(URLEncode(in), out) << in;
}

TEST(Cookie, HeaderValue) {
  struct {
    TCookie cookie;
    std::string text;
  } cases[] = {
      {{"a b", "1", "/", "", -1, false}, "a+b=1; path=/"},
      {{"n", "v", "", "", -1, false}, "n=v"},
      {{"n", "", "", "", -1, false}, "n="},
      {{"n", "v=1", "/p", "ex.org", kNov1994, true},
       "n=v%3D1; domain=ex.org; path=/p; expires=Sun, 06 Nov 1994 08:49:37 GMT; secure"},
      {{"n", "v", "", "", 0, false}, "n=v; expires=Sat, 30 Dec 1899 00:00:00 GMT"},
      {{"n", "v", "", "", -0.5, false}, "n=v; expires=Sat, 30 Dec 1899 12:00:00 GMT"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.cookie.HeaderValue(), c.text);
  TCookie copy;
  copy.Assign(cases[3].cookie);
  EXPECT_EQ(copy.HeaderValue(), cases[3].text);
}

TEST(HTTPDate, TextOfDateTimes) {
  const std::pair<double, std::string> cases[] = {
      {kNov1994, "Sun, 06 Nov 1994 08:49:37 GMT"},
      {36585 + 86399.0 / 86400, "Tue, 29 Feb 2000 23:59:59 GMT"},
      {-693593, "Mon, 01 Jan 0001 00:00:00 GMT"},
      {2958465 + 86399.0 / 86400, "Fri, 31 Dec 9999 23:59:59 GMT"},
      {-1.25, "Fri, 29 Dec 1899 06:00:00 GMT"},
      {36526.9999999999, "Sun, 02 Jan 2000 00:00:00 GMT"},  // rounds to the next midnight
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(HTTPDateText(value), text) << value;
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1994, 11, 6, 8, 49, 37), kNov1994);
  EXPECT_DOUBLE_EQ(EncodeDateTime(9999, 12, 31), 2958465);
  EXPECT_THROW(HTTPDateText(1e300), EConvertError);
  EXPECT_THROW(HTTPDateText(std::numeric_limits<double>::quiet_NaN()), EConvertError);
  EXPECT_THROW(HTTPDateText(std::numeric_limits<double>::infinity()), EConvertError);
}

}  // namespace
}  // namespace nemvo
