#include "platform/TerminationRequests.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace nemvo::platform {

namespace {

void SetBlocked(int how) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(how, &set, nullptr);
}

sigset_t EndRequests() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGQUIT);
  return set;
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

int OpenTerminationChannel() {
  const sigset_t set = EndRequests();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

bool TakeTerminationRequest(int channel) {
  signalfd_siginfo info;
  bool requested = false;
  while (read(channel, &info, sizeof info) == ssize_t(sizeof info)) requested = true;
  return requested;
}

}  // namespace nemvo::platform
