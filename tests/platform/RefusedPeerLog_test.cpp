// How often a pool logs the peers it refuses: each address once a minute,
// whichever process refused it, and no more than the lines of a minute in
// all, the ones left out counted on the next line.
#include "platform/RefusedPeerLog.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nemvo::platform {
namespace {

TPeerAllowList::Address AddressNumber(uint32_t n) {
  TPeerAllowList::Address address{};
  address[0] = 0x20;
  address[1] = 0x01;
  address[12] = uint8_t(n >> 24);
  address[13] = uint8_t(n >> 16);
  address[14] = uint8_t(n >> 8);
  address[15] = uint8_t(n);
  return address;
}

TEST(RefusedPeerLog, EachAddressOnceAMinute) {
  TRefusedPeerLog log;
  const auto a = AddressNumber(1), b = AddressNumber(2);
  const int64_t start = 5000;
  EXPECT_TRUE(log.Refused(a, start).log);
  EXPECT_FALSE(log.Refused(a, start).log);
  EXPECT_TRUE(log.Refused(b, start + 1).log);
  EXPECT_FALSE(log.Refused(a, start + 59).log);
  EXPECT_TRUE(log.Refused(a, start + 60).log);
  EXPECT_FALSE(log.Refused(a, start + 61).log);
  EXPECT_FALSE(log.Refused(b, start + 60).log);
}

TEST(RefusedPeerLog, SharedWithTheProcessesForkedAfterIt) {
  TRefusedPeerLog log;
  const auto a = AddressNumber(7);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(log.Refused(a, 100).log ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the first refusal was not logged";
  EXPECT_FALSE(log.Refused(a, 101).log) << "an address the other process logged is logged again";
}

// Many addresses in a minute: the lines of a minute, then nothing until the
// next minute, whose first line tells how many went unlogged.
TEST(RefusedPeerLog, BoundedLinesAMinute) {
  TRefusedPeerLog log;
  const int64_t start = 1000;
  uint64_t logged = 0;
  const uint32_t addresses = 3 * TRefusedPeerLog::kLinesPerMinute;
  for (uint32_t n = 0; n < addresses; ++n) {
    const TRefusedPeerLog::Verdict verdict = log.Refused(AddressNumber(n), start + n % 30);
    EXPECT_EQ(verdict.unlogged, 0u);
    logged += verdict.log;
  }
  EXPECT_EQ(logged, TRefusedPeerLog::kLinesPerMinute);
  const TRefusedPeerLog::Verdict next = log.Refused(AddressNumber(addresses), start + 60);
  EXPECT_TRUE(next.log);
  EXPECT_EQ(next.unlogged, addresses - TRefusedPeerLog::kLinesPerMinute);
  EXPECT_EQ(log.Refused(AddressNumber(addresses + 1), start + 61).unlogged, 0u);
}

}  // namespace
}  // namespace nemvo::platform
