#include "platform/CallDeadline.h"

#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace nemvo::platform {

namespace {

// Not used by the program otherwise. Installed once, without SA_RESTART, so
// that the call it lands in is not restarted.
constexpr int kSignal = SIGALRM;

void Fired(int) {}

void InstallHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = Fired;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(kSignal, &action, nullptr);
  });
}

}  // namespace

TCallDeadline::TCallDeadline(std::chrono::milliseconds after) {
  if (after.count() <= 0) return;
  InstallHandler();
  sigevent event;
  std::memset(&event, 0, sizeof event);
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = kSignal;
  // This glibc offers the thread's id field under this name only.
  event._sigev_un._tid = static_cast<pid_t>(syscall(SYS_gettid));
  timer_t timer;
  if (timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) return;
  itimerspec when;
  std::memset(&when, 0, sizeof when);
  when.it_value.tv_sec = after.count() / 1000;
  when.it_value.tv_nsec = (after.count() % 1000) * 1000000L;
  if (timer_settime(timer, 0, &when, nullptr) != 0) {
    timer_delete(timer);
    return;
  }
  fTimer = timer;
  fArmed = true;
}

TCallDeadline::~TCallDeadline() {
  if (fArmed) timer_delete(static_cast<timer_t>(fTimer));
}

bool TCallDeadline::Passed() const {
  if (!fArmed) return false;
  itimerspec left;
  if (timer_gettime(static_cast<timer_t>(fTimer), &left) != 0) return false;
  return left.it_value.tv_sec == 0 && left.it_value.tv_nsec == 0;
}

}  // namespace nemvo::platform
