#include "cgi/ServerError.h"

#include "base/Exception.h"
#include "base/HTMLEscape.h"
#include "base/Format.h"
#include "cgi/ConsoleMode.h"
#include "cgi/HeaderSafeText.h"
#include "platform/OutputFile.h"

namespace nemvo {

// An operating-system message ends in a line break, which would end the head.
std::string ServerErrorHead(const std::string& message, size_t bodyLength) {
  return Format("Status: 500 %s\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n", HeaderSafeText(message),
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
