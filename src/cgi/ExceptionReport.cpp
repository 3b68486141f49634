#include "cgi/ExceptionReport.h"

#include "base/Exception.h"
#include "platform/ExceptionTypeName.h"
#include "platform/ProcessInfo.h"
#include "platform/StandardStreams.h"

namespace nemvo {

TExceptionInfo CurrentExceptionInfo() {
  try {
    throw;
  } catch (const Exception& e) {
    return {e.ClassName(), e.Message()};
  } catch (...) {
    return {platform::CurrentExceptionTypeName(), {}};
  }
}

std::string ExceptionReportText(const TExceptionInfo& info) {
  const std::string& message = info.Message;
  const char* period = !message.empty() && message.back() != '.' ? "." : "";
  // The code address means nothing for a program without a fixed load
  // address and an exception that does not record where it was raised.
  return Format("Exception %s in module %s at %s.\r\n%s%s\r\n", info.ClassName, platform::ExecutableFileName(),
                "0000000000000000", message, period);
}

void ShowException(const TExceptionInfo& info) {
  platform::FlushStandardOutput();
  // The report ends with its own CR LF; one more follows it, as from the
  // handler of last resort of the platform this program comes from.
  platform::WriteStandardError(ExceptionReportText(info) + "\r\n");
}

}  // namespace nemvo
