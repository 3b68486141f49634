#pragma once
// What the Firebird client library does around a send that cannot go out at
// once: it takes SIGALRM with a handler of its own (SA_RESTART), starts an
// interval timer, and waits, starting the wait again after every
// interruption; at the end it stops the timer and puts the previous handler
// back. A deadline armed across such a wait must still end it.
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <chrono>

namespace nemvo::testing {

class AlarmedWait {
 public:
  struct Outcome {
    ssize_t result = -2;       // what the wait gave: 0 the connection ended, -1 its own limit passed
    int alarms = 0;            // SIGALRMs its handler took
    bool handlerKept = false;  // its handler was still SIGALRM's when the wait ended
  };

  // Waits for a byte on `fd`, with SIGALRM every `every` for `limit`, and
  // then `limit` more without it (a restarted wait starts its time-out
  // anew: the alarms stop so that the test cannot hang).
  static Outcome Run(int fd, std::chrono::milliseconds limit, std::chrono::milliseconds every) {
    Outcome outcome;
    sAlarms.store(0);
    sMaxAlarms = int(limit / every);
    timeval bound{limit.count() / 1000, static_cast<suseconds_t>(limit.count() % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);

    struct sigaction own {}, previous{};
    own.sa_handler = Alarm;
    sigemptyset(&own.sa_mask);
    own.sa_flags = SA_RESTART;
    sigaction(SIGALRM, &own, &previous);
    const timeval interval{every.count() / 1000, static_cast<suseconds_t>(every.count() % 1000 * 1000)};
    itimerval timer{interval, interval}, previousTimer{};
    setitimer(ITIMER_REAL, &timer, &previousTimer);

    char byte;
    do outcome.result = recv(fd, &byte, 1, 0);
    while (outcome.result < 0 && errno == EINTR);

    struct sigaction current {};
    sigaction(SIGALRM, nullptr, &current);
    outcome.handlerKept = current.sa_handler == Alarm;
    setitimer(ITIMER_REAL, &previousTimer, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    outcome.alarms = sAlarms.load();
    return outcome;
  }

 private:
  static void Alarm(int) {
    if (sAlarms.fetch_add(1) + 1 < sMaxAlarms) return;
    const itimerval stop{};
    setitimer(ITIMER_REAL, &stop, nullptr);
  }
  static inline std::atomic<int> sAlarms{0};
  static inline int sMaxAlarms = 0;
};

}  // namespace nemvo::testing
