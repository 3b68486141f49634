#include "cgi/FastCGIOwnAnswer.h"

#include "base/Format.h"

namespace nemvo {

std::string FastCGIOwnAnswer(int status, const char* reason) {
  const std::string body =
      Format("<html><title>%s %d</title>\r\n<h1>%s %d</h1></html>\r\n", reason, status, reason, status);
  return Format("Status: %d %s\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n", status, reason,
                body.size()) +
         body;
}

}  // namespace nemvo
