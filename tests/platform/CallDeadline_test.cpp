#include "platform/CallDeadline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

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

}  // namespace
}  // namespace nemvo::platform
