#pragma once
// The page the CGI host writes when an exception escapes the request cycle
// outside the module's own exception handling.
#include <string>

#include "cgi/ExceptionReport.h"
#include "cgi/RequestSource.h"

namespace nemvo {

// "Status: 500 <message>" with every control byte of the message turned into
// a blank (so the CGI head stays whole), the content type and the length.
std::string ServerErrorHead(const std::string& message, size_t bodyLength);
// The HTML page naming the class and the message, both HTML-escaped.
std::string ServerErrorBody(const std::string& className, const std::string& message);

// Writes head and body to the request's output (in console mode, as two
// writes) or into `outputFileName`.
void WriteServerError(const TExceptionInfo& exception, TRequestSource& output, const std::string& outputFileName);

}  // namespace nemvo
