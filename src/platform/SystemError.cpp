#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

namespace nemvo::platform {

std::string SystemErrorText(int errorCode) {
  char buffer[512];
  // GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = strerror_r(errorCode, buffer, sizeof buffer);
  std::string result = text ? text : "";
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result;
}

int LastErrorCode() { return errno; }

}  // namespace nemvo::platform
