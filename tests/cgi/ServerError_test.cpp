#include "cgi/ServerError.h"

#include <gtest/gtest.h>

#include "cgi/ExceptionReport.h"

namespace nemvo {
namespace {

struct ErrorCase {
  std::string cls, message, status, body;
};

TEST(ServerError, StatusLineStaysOneLineAndTheBodyIsEscaped) {
  const ErrorCase cases[] = {
      {"EOSError", "System Error.  Code: 2.\r\nNo such file or directory", "System Error.  Code: 2.  No such file or directory",
       "Exception: EOSError<br>\r\nMessage: System Error.  Code: 2.\r\nNo such file or directory<br></html>\r\n"},
      {"E", "a\tb\x01\x7F\nc", "a b   c", "Exception: E<br>\r\nMessage: a\tb\x01\x7F\nc<br></html>\r\n"},
      {"E<x>", "<script>alert(\"x&y\")</script>", "<script>alert(\"x&y\")</script>",
       "Exception: E&lt;x&gt;<br>\r\nMessage: &lt;script&gt;alert(&quot;x&amp;y&quot;)&lt;/script&gt;<br></html>\r\n"},
      {"E", "100% %s %d \xE9", "100% %s %d \xE9", "Exception: E<br>\r\nMessage: 100% %s %d \xE9<br></html>\r\n"},
      {"E", "", "", "Exception: E<br>\r\nMessage: <br></html>\r\n"},
  };
  for (const auto& c : cases) {
    const std::string body = ServerErrorBody(c.cls, c.message);
    EXPECT_TRUE(body.ends_with(c.body)) << body;
    EXPECT_TRUE(body.starts_with("<html><title>Internal Server Error 500</title>\r\n<h1>Internal Server Error 500</h1><hr>\r\n"));
    EXPECT_EQ(ServerErrorHead(c.message, body.size()),
              "Status: 500 " + c.status + "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                  "\r\n\r\n");
  }
}

TEST(ExceptionReport, TextEndsTheMessageWithAPeriod) {
  const std::pair<std::string, std::string> cases[] = {
      {"boom", "boom."}, {"done.", "done."}, {"", ""}, {"a.\r\nb", "a.\r\nb."},
  };
  for (const auto& [message, shown] : cases) {
    const std::string text = ExceptionReportText({"EWebException", message});
    EXPECT_TRUE(text.starts_with("Exception EWebException in module ")) << text;
    EXPECT_TRUE(text.ends_with(" at 0000000000000000.\r\n" + shown + "\r\n")) << text;
  }
}

}  // namespace
}  // namespace nemvo
