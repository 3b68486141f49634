#pragma once
// What is known of the exception being handled, and the report written on
// standard error when nothing else can answer it.
#include <string>

namespace nemvo {

struct TExceptionInfo {
  std::string ClassName;  // "EWebException"; the C++ type for foreign objects
  std::string Message;    // empty for an object that is not an Exception
};

// Call only inside a catch block.
TExceptionInfo CurrentExceptionInfo();

// "Exception <class> in module <program> at <address>.\r\n<message>.\r\n",
// the final "." added only to a message that lacks one.
std::string ExceptionReportText(const TExceptionInfo& info);

// Flushes standard output, then writes the report on standard error,
// followed by CR LF.
void ShowException(const TExceptionInfo& info);

}  // namespace nemvo
