#include "platform/CallDeadline.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/standin/AlarmedWait.h"

namespace nemvo::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A read from a pipe nobody writes to blocks until something ends it.
struct Pipe {
  int fds[2];
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    close(fds[0]);
    close(fds[1]);
  }
};

TEST(CallDeadline, BlockedCallOfThisThreadIsInterruptedOnce) {
  Pipe p;
  const auto start = Clock::now();
  TCallDeadline deadline(200ms);
  char byte;
  errno = 0;
  EXPECT_EQ(read(p.fds[0], &byte, 1), -1);
  EXPECT_EQ(errno, EINTR);
  EXPECT_GE(Clock::now() - start, 150ms);
  EXPECT_TRUE(deadline.Passed());
  // Once: a call made after the deadline passed is not interrupted again
  // (the write end makes it return).
  std::thread writer([&] {
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(write(p.fds[1], "x", 1), 1);
  });
  EXPECT_EQ(read(p.fds[0], &byte, 1), 1);
  writer.join();
}

TEST(CallDeadline, OtherThreadsAreNotInterrupted) {
  Pipe p;
  int result = 0, error = 0;
  std::thread other([&] {
    char byte;
    result = int(read(p.fds[0], &byte, 1));
    error = errno;
  });
  {
    TCallDeadline deadline(100ms);
    std::this_thread::sleep_for(300ms);  // sleeps are cut short, not restarted: wait past it
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(deadline.Passed());
  }
  EXPECT_EQ(write(p.fds[1], "x", 1), 1);
  other.join();
  EXPECT_EQ(result, 1) << "errno " << error;
}

TEST(CallDeadline, NothingHappensWhenItEndsFirstOrIsNotArmed) {
  for (auto after : {0ms, -5ms, 150ms}) {
    {
      TCallDeadline deadline(after);
      EXPECT_FALSE(deadline.Passed()) << after.count();
    }
    // Gone before its time: no signal comes later.
    Pipe p;
    std::thread writer([&] {
      std::this_thread::sleep_for(400ms);
      EXPECT_EQ(write(p.fds[1], "x", 1), 1);
    });
    char byte;
    EXPECT_EQ(read(p.fds[0], &byte, 1), 1) << after.count();
    writer.join();
  }
}

// A connection to a peer that never answers: a listener on the loopback
// address that never accepts (the system completes the connection all the
// same).
struct SilentPeer {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  SilentPeer() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(listen(listener, 8), 0);
  }
  ~SilentPeer() { close(listener); }
  int Connect() const {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    EXPECT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length), 0);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), length), 0);
    return fd;
  }
};

TSocketIdentity IdentityOf(int fd) {
  struct stat st {};
  EXPECT_EQ(fstat(fd, &st), 0);
  return TSocketIdentity{fd, st.st_dev, st.st_ino};
}

// Waits for a reply on `fd` as a library that shrugs off interruptions
// does: the wait is restarted after each one. -2 when `limit` passes first,
// else what the read gives (0: the connection ended).
ssize_t AwaitReply(int fd, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) return -2;
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, int(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return -2;
    char byte;
    return recv(fd, &byte, 1, 0);
  }
}

// Whether the connection `fd` is still whole: nothing read from it has
// ended, and it can still send.
bool Whole(int fd) {
  pollfd p{fd, POLLIN | POLLOUT, 0};
  return poll(&p, 1, 0) == 1 && !(p.revents & (POLLHUP | POLLIN | POLLERR)) && send(fd, "x", 1, MSG_NOSIGNAL) == 1;
}

TEST(CallDeadline, ShutsDownTheNamedConnectionOfAWaitThatRestarts) {
  struct Case {
    const char* name;
    // What the deadline names, given the connection waited on and another one.
    std::function<TSocketIdentity(int waited, int other)> named;
    bool ends;  // whether the wait ends at the deadline
  };
  const Case cases[] = {
      {"the connection waited on", [](int waited, int) { return IdentityOf(waited); }, true},
      {"no connection: interrupted only, the wait goes on", [](int, int) { return TSocketIdentity{}; }, false},
      {"another connection: only that one ends", [](int, int other) { return IdentityOf(other); }, false},
      {"a connection whose number now refers to the one waited on",
       [](int waited, int other) {
         const TSocketIdentity gone = IdentityOf(other);
         EXPECT_EQ(dup2(waited, other), other);
         return gone;
       },
       false},
  };
  SilentPeer peer;
  for (const Case& c : cases) {
    const int waited = peer.Connect(), other = peer.Connect();
    const TSocketIdentity named = c.named(waited, other);
    const auto start = Clock::now();
    ssize_t result;
    {
      TCallDeadline deadline(200ms, named);
      result = AwaitReply(waited, 900ms);
      EXPECT_TRUE(deadline.Passed()) << c.name;
    }
    const auto took = Clock::now() - start;
    if (c.ends) {
      EXPECT_EQ(result, 0) << c.name << ": the wait ends as for a closed connection";
      EXPECT_GE(took, 150ms) << c.name;
      EXPECT_LT(took, 700ms) << c.name;
    } else {
      EXPECT_EQ(result, -2) << c.name;
      EXPECT_TRUE(Whole(waited)) << c.name << ": the connection waited on was ended";
    }
    // The connection named has ended, one it was not aimed at is left whole.
    if (named.StillOpen()) {
      EXPECT_EQ(AwaitReply(named.fd, 100ms), 0) << c.name;
    }
    if (named.inode != IdentityOf(other).inode) {
      EXPECT_TRUE(Whole(other)) << c.name;
    }
    close(waited);
    close(other);
  }
}

// Deadlines inside one another on one thread: each ends its own connection
// only, and one gone before its time ends nothing later.
TEST(CallDeadline, NestedDeadlinesEndTheirOwnConnections) {
  SilentPeer peer;
  const int outerConnection = peer.Connect(), innerConnection = peer.Connect(), earlyConnection = peer.Connect();
  {
    TCallDeadline outer(600ms, IdentityOf(outerConnection));
    { TCallDeadline early(100ms, IdentityOf(earlyConnection)); }
    {
      TCallDeadline inner(200ms, IdentityOf(innerConnection));
      EXPECT_EQ(AwaitReply(innerConnection, 2000ms), 0);
    }
    EXPECT_TRUE(Whole(outerConnection)) << "the outer deadline's connection ended with the inner one";
    EXPECT_EQ(AwaitReply(outerConnection, 2000ms), 0) << "the outer deadline did not end its connection";
  }
  EXPECT_TRUE(Whole(earlyConnection)) << "a deadline gone before its time ended its connection";
  for (int fd : {outerConnection, innerConnection, earlyConnection}) close(fd);
}

// The client library's send path takes SIGALRM for itself while it waits
// (platform/standin/AlarmedWait.h): a deadline firing then still ends the
// wait, and the library's handler stays SIGALRM's throughout and after as it
// left it. In a worker SIGALRM is otherwise ignored.
TEST(CallDeadline, EndsAWaitThatTheClientLibraryTimesWithSIGALRM) {
  struct sigaction ignore {}, before{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ASSERT_EQ(sigaction(SIGALRM, &ignore, &before), 0);
  SilentPeer peer;
  const int fd = peer.Connect();
  const auto start = Clock::now();
  testing::AlarmedWait::Outcome outcome;
  {
    TCallDeadline deadline(300ms, IdentityOf(fd));
    outcome = testing::AlarmedWait::Run(fd, 3000ms, 40ms);
    EXPECT_TRUE(deadline.Passed());
  }
  const auto took = Clock::now() - start;
  EXPECT_EQ(outcome.result, 0) << "the wait was not ended as for a closed connection";
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 2000ms);
  EXPECT_GE(outcome.alarms, 2) << "the library's alarms did not come while it waited";
  EXPECT_TRUE(outcome.handlerKept) << "the deadline replaced the library's SIGALRM handler";
  struct sigaction after {};
  ASSERT_EQ(sigaction(SIGALRM, &before, &after), 0);
  EXPECT_EQ(after.sa_handler, SIG_IGN) << "SIGALRM's disposition changed";
  EXPECT_GE(TCallDeadline::Signal(), SIGRTMIN);
  EXPECT_LT(TCallDeadline::Signal(), SIGRTMAX);
  close(fd);
}

}  // namespace
}  // namespace nemvo::platform
