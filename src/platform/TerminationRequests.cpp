#include "platform/TerminationRequests.h"

#include <signal.h>

namespace nemvo::platform {

void IgnoreTerminationRequests() {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGTERM, &ignore, nullptr);
}

}  // namespace nemvo::platform
