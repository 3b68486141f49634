// The status a web server will read from an answer's head, whatever pieces
// the head is written in.
#include "cgi/FastCGIAnswerStatus.h"

#include <gtest/gtest.h>

#include <string>

namespace nemvo {
namespace {

TEST(FastCGIAnswerStatus, FromTheHeadsStatusLine) {
  struct Line {
    const char* name;
    std::string answer;
    int status;
  };
  const Line lines[] = {
      {"status line first", "Status: 429 Too Many Requests\r\nRetry-After: 10\r\n\r\nbody", 429},
      {"status line after others", "Content-Type: text/html\r\nStatus: 302 Found\r\n\r\n", 302},
      {"any case, no blank, bare newlines", "status:503\nX: y\n\n", 503},
      {"no status line", "Content-Type: text/html\r\n\r\nStatus: 500 in the body\r\n", 200},
      {"no answer at all", "", 0},
      {"a body without a head", "\r\n", 200},
      {"not three digits", "Status: 2000 No\r\n\r\n", 200},
      {"a header only named like it", "X-Status: 404\r\n\r\n", 200},
      {"beyond a head's size", std::string(9000, 'h') + "\r\nStatus: 404 Not Found\r\n\r\n", 200},
  };
  for (const Line& line : lines) {
    TFastCGIAnswerStatus whole;
    whole.Feed(line.answer);
    EXPECT_EQ(whole.Status(), line.status) << line.name;
    TFastCGIAnswerStatus byByte;
    for (char c : line.answer) byByte.Feed(std::string_view(&c, 1));
    EXPECT_EQ(byByte.Status(), line.status) << line.name << ", a byte at a time";
  }
}

}  // namespace
}  // namespace nemvo
