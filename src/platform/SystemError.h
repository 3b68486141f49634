#pragma once
// The operating system's message text for an error code.
#include <string>

namespace nemvo::platform {

// The text the system gives for `errorCode` (an errno value), without a
// trailing line break.
std::string SystemErrorText(int errorCode);
// The calling thread's last error code (errno).
int LastErrorCode();

}  // namespace nemvo::platform
