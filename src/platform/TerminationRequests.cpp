#include "platform/TerminationRequests.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>

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

namespace {
std::atomic<bool (*)()> gMayEnd{nullptr};
std::atomic<bool> gAsked{false};
static_assert(std::atomic<bool (*)()>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void EndIfMay(int) {
  gAsked.store(true);
  EndIfAskedAndMay();
}
}  // namespace

void EndIfAskedAndMay() {
  bool (*mayEnd)() = gMayEnd.load();
  if (mayEnd && gAsked.load() && mayEnd()) _exit(0);
}

void EndAtOnceOnTerminationRequest(bool (*mayEnd)()) {
  gMayEnd.store(mayEnd);
  struct sigaction end = {};
  end.sa_handler = EndIfMay;
  sigemptyset(&end.sa_mask);
  end.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &end, nullptr);
  // Only this thread takes it: the others (the client library's) keep it
  // blocked, so the handler never runs in the middle of theirs.
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
