#include "admin/LoginThrottleTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
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

uint64_t Seed() { return 42; }

// A block that stays, as the shared file does, between the tables that
// each process makes over it for one call.
class Block {
 public:
  explicit Block(TLoginThrottleSettings settings = {}) : fSettings(settings), fBytes(TLoginThrottleTable::kSize) {}

  TLoginThrottleTable Table() { return TLoginThrottleTable({fBytes.data(), fBytes.size()}, fSettings, &Seed); }
  // Under the user name `user` (each test's own unless it says).
  int64_t Admit(const TClientKey& client, int64_t now, const std::string& user = "admin") {
    return Table().Admit(client, user, now).wait;
  }
  TLoginAdmission AdmitWhy(const TClientKey& client, int64_t now, const std::string& user) {
    return Table().Admit(client, user, now);
  }
  void Settle(const TClientKey& client, TLoginOutcome outcome, int64_t now, const std::string& user = "admin",
              int64_t admitted = -1) {
    Table().Settle(client, user, outcome, admitted < 0 ? now : admitted, now);
  }
  // One whole attempt: the wait it was told, or 0 when it reached the
  // database and ended as `outcome`.
  int64_t Attempt(const TClientKey& client, int64_t now, TLoginOutcome outcome = TLoginOutcome::Refused,
                  const std::string& user = "admin") {
    const int64_t wait = Admit(client, now, user);
    if (wait == 0) Settle(client, outcome, now, user);
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
  TLoginThrottleTable strict({bytes.data(), bytes.size()}, {.failures = 3, .backoff = 10, .backoffMax = 60}, &Seed);
  const int64_t wait = strict.Admit(Client(1), "admin", t).wait;
  EXPECT_GT(wait, 0);
  EXPECT_LE(wait, 60);
}

TEST(LoginThrottleTable, ClientsRefusedLatelyWaitWhileTheServerWouldHoldAFailureOfAName) {
  // The server holds a name's 4th failure with gaps under 8 s.
  Block block;
  for (uint8_t c = 1; c <= 3; ++c) ASSERT_EQ(block.Attempt(Client(c), 0, TLoginOutcome::Refused, "admin"), 0);
  // A client refused lately waits for the name's failures to age (letter
  // case is the server's: one name), not for its own.
  const TLoginAdmission admission = block.AdmitWhy(Client(1), 2, "Admin");
  EXPECT_EQ(admission.wait, 7);
  EXPECT_TRUE(admission.forOthers);
  // Another name is not held.
  EXPECT_EQ(block.Attempt(Client(1), 2, TLoginOutcome::Refused, "other"), 0);
  // Nine seconds after the name's last failure the server counts anew.
  EXPECT_EQ(block.Admit(Client(2), 9, "admin"), 0);
  // A client without refusals may be the administrator: on it goes, and when
  // it logs in, the server forgets the name's failures.
  Block held;
  for (uint8_t c = 1; c <= 3; ++c) held.Attempt(Client(c), 0, TLoginOutcome::Refused, "admin");
  EXPECT_EQ(held.Attempt(Client(4), 1, TLoginOutcome::Error, "admin"), 0);
  EXPECT_GT(held.Admit(Client(1), 1, "admin"), 0) << "an error gives back its own count only";
  EXPECT_EQ(held.Attempt(Client(4), 1, TLoginOutcome::Accepted, "ADMIN"), 0);
  EXPECT_EQ(held.Admit(Client(1), 1, "admin"), 0);
}

TEST(LoginThrottleTable, ClientsRefusedLatelyWaitWhileTheServerWouldHoldEveryFailure) {
  // Twelve clients refused under as many names within the server's window.
  Block block;
  for (uint8_t c = 1; c <= 12; ++c)
    ASSERT_EQ(block.Attempt(Client(c), 0, TLoginOutcome::Refused, "name" + std::to_string(c)), 0);
  const TLoginAdmission admission = block.AdmitWhy(Client(1), 3, "fresh");
  EXPECT_EQ(admission.wait, 5);  // until second 0 has left the window
  EXPECT_TRUE(admission.forOthers);
  EXPECT_EQ(block.Attempt(Client(40), 3, TLoginOutcome::Refused, "fresh"), 0) << "a client without refusals";
  EXPECT_EQ(block.Admit(Client(1), 8, "fresh"), 0);
  // Attempts that end otherwise give their count back, when they were let
  // through: with them, the window holds 12 failures again.
  Block other;
  for (uint8_t c = 1; c <= 11; ++c)
    other.Attempt(Client(c), 0, TLoginOutcome::Refused, "name" + std::to_string(c));
  for (uint8_t c = 20; c < 30; ++c) EXPECT_EQ(other.Attempt(Client(c), 0, TLoginOutcome::Accepted, "ok"), 0);
  EXPECT_EQ(other.Admit(Client(1), 1, "fresh"), 0);
  other.Settle(Client(1), TLoginOutcome::Refused, 1, "fresh");
  EXPECT_EQ(other.Admit(Client(2), 1, "fresh2"), 7);
}

TEST(LoginThrottleTable, ServerGuardSwitchedOff) {
  Block block({.serverGuard = false});
  for (uint8_t c = 1; c <= 20; ++c) ASSERT_EQ(block.Attempt(Client(c), 0, TLoginOutcome::Refused, "admin"), 0);
  EXPECT_EQ(block.Attempt(Client(1), 1, TLoginOutcome::Refused, "admin"), 0);
}

}  // namespace
}  // namespace nemvo
