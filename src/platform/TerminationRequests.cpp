#include "platform/TerminationRequests.h"

#include <pthread.h>
#include <signal.h>

namespace nemvo::platform {

namespace {

void SetBlocked(int how) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(how, &set, nullptr);
}

}  // namespace

void DeferTerminationRequests() { SetBlocked(SIG_BLOCK); }

void IgnoreTerminationRequests() {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  // Ignoring a signal drops it when it is pending, so unblocking after this
  // delivers nothing.
  sigaction(SIGTERM, &ignore, nullptr);
  SetBlocked(SIG_UNBLOCK);
}

}  // namespace nemvo::platform
