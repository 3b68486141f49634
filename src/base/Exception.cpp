#include "base/Exception.h"

#include "platform/SystemError.h"

namespace nemvo {

EOSError EOSError::FromLastError(int errorCode) {
  if (errorCode == 0) return EOSError("A call to an OS function failed", 0);
  return EOSError(Format("System Error.  Code: %d.\r\n%s", errorCode, platform::SystemErrorText(errorCode)), errorCode);
}

}  // namespace nemvo
