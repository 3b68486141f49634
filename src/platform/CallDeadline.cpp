#include "platform/CallDeadline.h"

#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace nemvo::platform {

// The thread's armed deadlines, innermost first. The timer's signal is aimed
// at the thread that armed it, so its handler runs on that thread and finds
// them here; nothing else reads them.
struct DeadlineSignal {
  static thread_local TCallDeadline* tInnermost;
  static thread_local unsigned tLastToken;

  static void Fired(int, siginfo_t* info, void*) {
    // The interrupted code may be between a call and its look at errno.
    const int savedErrno = errno;
    // A signal queued just before its timer was deleted may arrive after
    // another deadline was armed: the token tells whose it is. One sent by
    // anything but a timer of ours carries no token of ours and does nothing.
    if (info->si_code == SI_TIMER)
      for (TCallDeadline* d = tInnermost; d; d = d->fOuter)
        if (d->fToken == unsigned(info->si_value.sival_int)) {
          d->fConnection.ShutDown();
          break;
        }
    errno = savedErrno;
  }
};

thread_local TCallDeadline* DeadlineSignal::tInnermost = nullptr;
thread_local unsigned DeadlineSignal::tLastToken = 0;

namespace {

// A real-time signal of the deadline's own. The Firebird client library
// takes SIGALRM for itself around its sends (setitimer, a handler of its
// own with SA_RESTART, pause): a deadline on SIGALRM that fired then would
// reach the library's handler, and the shutdown of the connection would be
// lost. Neither the client library, libtommath nor libcrypto use real-time
// signals; glibc keeps the two below SIGRTMIN for itself, and valgrind takes
// the top of the range. The first few above SIGRTMIN are what other code
// tends to take first, so the search starts a little higher and takes the
// first one nobody has a disposition for.
constexpr int kFirstOffset = 3;
constexpr int kLastOffset = 10;

int chosenSignal = 0;  // 0: none free, deadlines arm nothing

// Installed once, without SA_RESTART, so that the call it lands in is not
// restarted; never replaced, and no handler of anyone else's is touched.
int InstalledSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int offset = kFirstOffset; offset <= kLastOffset && SIGRTMIN + offset <= SIGRTMAX; ++offset) {
      const int candidate = SIGRTMIN + offset;
      struct sigaction current;
      if (sigaction(candidate, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction action;
      std::memset(&action, 0, sizeof action);
      action.sa_sigaction = DeadlineSignal::Fired;
      sigemptyset(&action.sa_mask);
      action.sa_flags = SA_SIGINFO;
      if (sigaction(candidate, &action, nullptr) != 0) continue;
      chosenSignal = candidate;
      return;
    }
  });
  return chosenSignal;
}

}  // namespace

TCallDeadline::TCallDeadline(std::chrono::milliseconds after, TSocketIdentity connection)
    : fConnection(connection) {
  if (after.count() <= 0) return;
  const int signal = InstalledSignal();
  if (signal == 0) return;
  if (++DeadlineSignal::tLastToken == 0) ++DeadlineSignal::tLastToken;  // 0 is no deadline's
  fToken = DeadlineSignal::tLastToken;
  sigevent event;
  std::memset(&event, 0, sizeof event);
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = signal;
  event.sigev_value.sival_int = int(fToken);
  // This glibc offers the thread's id field under this name only.
  event._sigev_un._tid = static_cast<pid_t>(syscall(SYS_gettid));
  timer_t timer;
  if (timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) return;
  // Known to the handler before the timer can fire.
  fOuter = DeadlineSignal::tInnermost;
  DeadlineSignal::tInnermost = this;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  itimerspec when;
  std::memset(&when, 0, sizeof when);
  when.it_value.tv_sec = after.count() / 1000;
  when.it_value.tv_nsec = (after.count() % 1000) * 1000000L;
  if (timer_settime(timer, 0, &when, nullptr) != 0) {
    timer_delete(timer);
    DeadlineSignal::tInnermost = fOuter;
    return;
  }
  fTimer = timer;
  fArmed = true;
}

TCallDeadline::~TCallDeadline() {
  if (!fArmed) return;
  timer_delete(static_cast<timer_t>(fTimer));
  std::atomic_signal_fence(std::memory_order_seq_cst);
  // Deadlines end in the reverse order of their start on one thread (they
  // live on its stack); unlink this one wherever it stands all the same.
  TCallDeadline** link = &DeadlineSignal::tInnermost;
  while (*link && *link != this) link = &(*link)->fOuter;
  if (*link) *link = fOuter;
}

int TCallDeadline::Signal() { return InstalledSignal(); }

bool TCallDeadline::Passed() const {
  if (!fArmed) return false;
  itimerspec left;
  if (timer_gettime(static_cast<timer_t>(fTimer), &left) != 0) return false;
  return left.it_value.tv_sec == 0 && left.it_value.tv_nsec == 0;
}

}  // namespace nemvo::platform
