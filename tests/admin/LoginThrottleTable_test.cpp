#include "admin/LoginThrottleTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace nemvo {
namespace {

TClientKey Client(uint8_t last, uint8_t third = 0) {
  TClientKey key{};
  key[10] = key[11] = 0xff;
  key[12] = 192;
  key[13] = 0;
  key[14] = third;
  key[15] = last;
  return key;
}

// A block that stays, as the shared file does, between the tables that
// each process makes over it for one call.
class Block {
 public:
  explicit Block(TLoginThrottleSettings settings = {}) : fSettings(settings), fBytes(TLoginThrottleTable::kSize) {}

  TLoginThrottleTable Table(uint64_t seed = 42) { return TLoginThrottleTable({fBytes.data(), fBytes.size()}, fSettings, seed); }
  int64_t Admit(const TClientKey& client, int64_t now) { return Table().Admit(client, now); }
  void Settle(const TClientKey& client, TLoginOutcome outcome, int64_t now) { Table().Settle(client, outcome, now); }
  // One whole attempt: the wait it was told, or 0 when it reached the
  // database and ended as `outcome`.
  int64_t Attempt(const TClientKey& client, int64_t now, TLoginOutcome outcome = TLoginOutcome::Refused) {
    const int64_t wait = Admit(client, now);
    if (wait == 0) Settle(client, outcome, now);
    return wait;
  }
  std::vector<std::byte>& Bytes() { return fBytes; }

 private:
  TLoginThrottleSettings fSettings;
  std::vector<std::byte> fBytes;
};

TEST(LoginThrottleTable, RefusalsPastTheLimitWaitADoublingBackoffThatEndsByItself) {
  Block block;  // 3 refusals, 10 s doubling to 600 s, forgotten after 900 s
  const TClientKey guesser = Client(1);
  int64_t t = 1000;
  EXPECT_EQ(block.Attempt(guesser, t), 0);
  EXPECT_EQ(block.Attempt(guesser, t), 0);
  EXPECT_EQ(block.Attempt(guesser, t), 0);
  // The third refusal brought the first wait.
  EXPECT_EQ(block.Attempt(guesser, t), 10);
  EXPECT_EQ(block.Attempt(guesser, t + 9), 1);
  // Waiting out each wait lets one attempt through; each refusal doubles it.
  const int64_t waits[] = {20, 40, 80, 160, 320, 600, 600};
  t += 10;
  for (const int64_t wait : waits) {
    EXPECT_EQ(block.Attempt(guesser, t), 0) << "after a wait, at " << t;
    EXPECT_EQ(block.Admit(guesser, t), wait) << "at " << t;
    t += wait;
  }
  // Remembered for the window after the end of the last wait: one more
  // refusal brings the longest wait at once...
  t += 900;
  EXPECT_EQ(block.Attempt(guesser, t), 0);
  EXPECT_EQ(block.Admit(guesser, t), 600);
  // ...and forgotten once it is over.
  t += 600 + 901;
  EXPECT_EQ(block.Attempt(guesser, t), 0);
  EXPECT_EQ(block.Attempt(guesser, t), 0);
  EXPECT_EQ(block.Attempt(guesser, t), 0);
  EXPECT_EQ(block.Admit(guesser, t), 10);
}

TEST(LoginThrottleTable, OnlyRefusalsCount) {
  struct Row {
    const char* name;
    TLoginOutcome outcome;
    bool waitsAfterward;
  };
  const Row rows[] = {
      {"accepted logins", TLoginOutcome::Accepted, false},
      {"errors (server unreachable, template missing)", TLoginOutcome::Error, false},
      {"refusals", TLoginOutcome::Refused, true},
  };
  for (const Row& row : rows) {
    Block block;
    for (int i = 0; i < 10 && block.Admit(Client(7), 100) == 0; ++i) block.Settle(Client(7), row.outcome, 100);
    EXPECT_EQ(block.Admit(Client(7), 100) > 0, row.waitsAfterward) << row.name;
  }
}

TEST(LoginThrottleTable, AttemptsInFlightCountBeforeTheyEnd) {
  // Four connections of one guesser start at once: the limit holds, since
  // each attempt counts as refused from the moment it is let through.
  Block block;
  EXPECT_EQ(block.Admit(Client(1), 50), 0);
  EXPECT_EQ(block.Admit(Client(1), 50), 0);
  EXPECT_EQ(block.Admit(Client(1), 50), 0);
  EXPECT_EQ(block.Admit(Client(1), 50), 10);
  // Accepted after all: the count and the wait they brought go again.
  block.Settle(Client(1), TLoginOutcome::Accepted, 51);
  block.Settle(Client(1), TLoginOutcome::Accepted, 51);
  EXPECT_EQ(block.Admit(Client(1), 51), 0);
}

TEST(LoginThrottleTable, ARefusalThatTookLongWaitsFromItsEnd) {
  // The database server's own guard may hold a refusal for seconds.
  Block block;
  block.Attempt(Client(1), 0);
  block.Attempt(Client(1), 0);
  EXPECT_EQ(block.Admit(Client(1), 0), 0);
  block.Settle(Client(1), TLoginOutcome::Refused, 8);
  EXPECT_EQ(block.Admit(Client(1), 8), 10);
}

TEST(LoginThrottleTable, ClientsAreKeptApart) {
  Block block;
  for (int i = 0; i < 3; ++i) block.Attempt(Client(1), 0);
  EXPECT_EQ(block.Admit(Client(1), 0), 10);
  EXPECT_EQ(block.Attempt(Client(2), 0, TLoginOutcome::Accepted), 0);
  EXPECT_EQ(block.Attempt(Client(1, 1), 0), 0);
}

TEST(LoginThrottleTable, OffWhenFailuresIsZero) {
  Block block({.failures = 0});
  for (int i = 0; i < 20; ++i) EXPECT_EQ(block.Attempt(Client(1), 0), 0);
  // No record was written: an off switch leaves the others' records alone.
  const std::vector<std::byte>& bytes = block.Bytes();
  EXPECT_TRUE(std::all_of(bytes.begin() + TLoginThrottleTable::kHeaderSize, bytes.end(),
                          [](std::byte b) { return b == std::byte{0}; }));
}

TEST(LoginThrottleTable, ManyClientsCannotGrowItAndPushOutTheForgottenFirst) {
  Block block;
  // One guesser waiting; then far more clients than the table has places,
  // each refused once, long after the guesser's refusals are forgotten.
  for (int i = 0; i < 3; ++i) block.Attempt(Client(1), 0);
  const int64_t later = 2000;
  for (int i = 0; i < 3 * int(TLoginThrottleTable::kSets * TLoginThrottleTable::kWays); ++i)
    block.Attempt(Client(uint8_t(i), uint8_t(1 + i / 256 % 200)), later);
  EXPECT_EQ(block.Bytes().size(), TLoginThrottleTable::kSize);
  // A client still waiting is pushed out last: a burst of others passing by
  // once each does not free the guesser.
  Block busy;
  for (int i = 0; i < 3; ++i) busy.Attempt(Client(1), 0);
  for (int i = 0; i < 200; ++i) busy.Attempt(Client(uint8_t(i), 7), 1);
  EXPECT_GT(busy.Admit(Client(1), 1), 0);
}

TEST(LoginThrottleTable, WhatADeadOrConfusedWriterLeftNeverLocksAnyoneOut) {
  struct Row {
    const char* name;
    void (*spoil)(std::vector<std::byte>&);
  };
  const Row rows[] = {
      {"every byte 0xff", [](std::vector<std::byte>& b) { std::fill(b.begin(), b.end(), std::byte{0xff}); }},
      {"records torn half-way",
       [](std::vector<std::byte>& b) {
         for (size_t i = TLoginThrottleTable::kHeaderSize; i < b.size(); i += 48) b[i + 20] ^= std::byte{0x5a};
       }},
      {"header gone", [](std::vector<std::byte>& b) { std::memset(b.data(), 0, 8); }},
  };
  for (const Row& row : rows) {
    Block block;
    for (int i = 0; i < 3; ++i) block.Attempt(Client(1), 0);
    ASSERT_EQ(block.Admit(Client(1), 0), 10);
    row.spoil(block.Bytes());
    EXPECT_EQ(block.Admit(Client(1), 0), 0) << row.name;
    EXPECT_EQ(block.Admit(Client(2), 0), 0) << row.name;
  }
}

TEST(LoginThrottleTable, AWaitWrittenBeyondTheSettingsIsHeldToThem) {
  // A record from a run with a longer ceiling (or a wrong clock) counts for
  // no more than today's ceiling from now.
  Block lenient({.failures = 3, .backoff = 10, .backoffMax = 100000});
  int64_t t = 0;
  // A guesser that waits out every wait and is refused again.
  for (int i = 0; i < 20; ++i) {
    lenient.Attempt(Client(1), t);
    t += lenient.Admit(Client(1), t);
  }
  lenient.Attempt(Client(1), t);
  ASSERT_GT(lenient.Admit(Client(1), t), 10000);
  std::vector<std::byte> bytes = lenient.Bytes();
  TLoginThrottleTable strict({bytes.data(), bytes.size()}, {.failures = 3, .backoff = 10, .backoffMax = 60}, 42);
  const int64_t wait = strict.Admit(Client(1), t);
  EXPECT_GT(wait, 0);
  EXPECT_LE(wait, 60);
}

}  // namespace
}  // namespace nemvo
