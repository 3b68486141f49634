#pragma once
// The record of refused logins per client, in a block of memory that every
// process answering logins shares (LoginThrottle.h maps it). The caller holds
// the block's lock around each call.
//
// Each attempt counts as a refusal from the moment it is let through until
// it is settled otherwise: attempts from one client that run at the same
// time cannot all pass under a limit that each of them alone would respect,
// and a process killed in the middle of a login leaves a refusal behind,
// which is forgotten like any other.
//
// Nothing in the block is trusted beyond the lock: a record that fails its
// check (a writer killed half-way) is treated as free, and no record makes a
// client wait longer than the settings allow from now.
//
// The table also follows what the Firebird server counts for its own guard,
// which sees every visitor as the web server's one address: a failing login
// is held 8 s when its user name has failed 3 times with gaps under 8 s, or
// when 16 logins of anyone failed within 8 s (a right password is never
// held). A held login holds a FastCGI worker, so many guessers from many
// addresses would hold them all. While a login would be held if it failed,
// a client that has been refused lately waits instead (for others, not for
// itself); a client with a clean record goes on, since it may well be the
// administrator with the right password.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "admin/ClientAddress.h"
#include "admin/LoginOutcome.h"

namespace nemvo {

struct TLoginThrottleSettings {
  // Refusals from one client that are let through before it must wait; 0
  // turns the throttle off.
  int64_t failures = 3;
  // The first wait, in seconds; each further refusal doubles it, up to
  // backoffMax.
  int64_t backoff = 10;
  int64_t backoffMax = 600;
  // Seconds after the last refusal (and the end of any wait) when a
  // client's refusals are forgotten.
  int64_t window = 900;
  // Whether clients with refusals wait while the database server's guard
  // would hold a failing login.
  bool serverGuard = true;
};

// What Admit answers.
struct TLoginAdmission {
  // 0: the attempt may go on; else the seconds it must wait.
  int64_t wait = 0;
  // The wait is for the refusals of others (the server's guard), not for
  // the client's own.
  bool forOthers = false;
};

class TLoginThrottleTable {
 public:
  static constexpr size_t kSets = 512;
  static constexpr size_t kWays = 8;
  static constexpr size_t kRecordSize = 48;
  static constexpr size_t kHeaderSize = 192;
  static constexpr size_t kSize = kHeaderSize + kSets * kWays * kRecordSize;

  // `block` is kSize bytes or more; a block that does not hold a table yet
  // (all zeros, or anything else) gets a new one, hashed with a seed from
  // `newSeed` (asked only then).
  TLoginThrottleTable(std::span<std::byte> block, const TLoginThrottleSettings& settings, uint64_t (*newSeed)());

  // Whether an attempt from `client` with the user name `user` may go on at
  // `now` (seconds). One that may is counted as a refusal until Settle says
  // otherwise.
  TLoginAdmission Admit(const TClientKey& client, std::string_view user, int64_t now);
  // The end, at `now`, of an attempt that Admit let through at `admitted`.
  void Settle(const TClientKey& client, std::string_view user, TLoginOutcome outcome, int64_t admitted,
              int64_t now);

 private:
  struct Record;

  int64_t Backoff(int64_t failures) const;
  // The record key of a user name (letter case folded as the server does
  // for names it stores), apart from every client's.
  TClientKey NameKey(std::string_view user) const;
  // The seconds until a failing login of the user name recorded in
  // `name` would no longer be held; 0 when it would not be now.
  static int64_t NameHeldFor(const Record& name, int64_t now);
  // Failed logins of anyone within the server's window, and the seconds
  // until they are fewer than its limit.
  int64_t ServerWideHeldFor(int64_t now) const;
  void CountServerWide(int64_t second, int delta);
  // Whether a client's refusals are past remembering at `now`.
  bool Forgotten(const Record& record, int64_t now) const;
  // The record of `client`, read and checked: whether it has one. `slot`
  // receives its place, or the place a new record of it should take.
  bool Find(const TClientKey& client, int64_t now, Record& record, size_t& slot) const;
  bool Read(size_t slot, Record& record) const;
  void Write(size_t slot, const Record& record);
  void Free(size_t slot);

  std::span<std::byte> fBlock;
  TLoginThrottleSettings fSettings;
  uint64_t fSeed = 0;
};

}  // namespace nemvo
