#include "cgi/ServerError.h"

#include "base/Exception.h"
#include "base/HTMLEscape.h"
#include "base/Format.h"
#include "cgi/ConsoleMode.h"
#include "platform/OutputFile.h"

namespace nemvo {

namespace {

// An operating-system message ends in a line break; a CR or LF inside the
// status line would end the CGI head early.
std::string StatusLineText(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return out;
}

}  // namespace

std::string ServerErrorHead(const std::string& message, size_t bodyLength) {
  return Format("Status: 500 %s\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n", StatusLineText(message),
                bodyLength);
}

std::string ServerErrorBody(const std::string& className, const std::string& message) {
  return Format(
      "<html><title>Internal Server Error 500</title>\r\n"
      "<h1>Internal Server Error 500</h1><hr>\r\n"
      "Exception: %s<br>\r\n"
      "Message: %s<br></html>\r\n",
      HTMLEscape(className), HTMLEscape(message));
}

void WriteServerError(const TExceptionInfo& exception, TRequestSource& output, const std::string& outputFileName) {
  const std::string body = ServerErrorBody(exception.ClassName, exception.Message);
  const std::string head = ServerErrorHead(exception.Message, body.size());
  if (ConsoleMode) {
    output.WriteOutput(head.data(), int64_t(head.size()));
    output.WriteOutput(body.data(), int64_t(body.size()));
    return;
  }
  if (int error = platform::WriteOutputFile(outputFileName, head, body)) throw EOSError::FromLastError(error);
}

}  // namespace nemvo
