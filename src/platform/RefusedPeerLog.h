#pragma once
// Which refused peers a FastCGI pool has logged lately, so that a peer
// knocking again and again, or many peers at once, cannot flood the pool's
// log: each address is logged once a minute, whichever worker refused it,
// and the pool logs at most kLinesPerMinute such lines a minute in all,
// counting the refusals it leaves out. Fixed size whatever the number of
// addresses: the record is a table of fingerprints, and an address whose
// place another took meanwhile is logged again a little early.
//
// Made before the workers are forked: they share it through a mapping of
// its own (or, should the system refuse one, each keeps its own).
#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/PeerAllowList.h"

namespace nemvo::platform {

class TRefusedPeerLog {
 public:
  static constexpr int64_t kIntervalSeconds = 60;
  static constexpr size_t kPlaces = 1024;
  static constexpr uint64_t kLinesPerMinute = 100;

  TRefusedPeerLog();
  ~TRefusedPeerLog();
  TRefusedPeerLog(const TRefusedPeerLog&) = delete;
  TRefusedPeerLog& operator=(const TRefusedPeerLog&) = delete;

  struct Verdict {
    bool log = false;
    // Refusals left out of the log before this one (over the lines of a
    // minute), to be told with this line.
    uint64_t unlogged = 0;
  };
  // A connection from `address` refused at `now` (platform/BootClock.h's
  // seconds).
  Verdict Refused(const TPeerAllowList::Address& address, int64_t now);

 private:
  struct Shared;
  Shared* fShared = nullptr;
  bool fMapped = false;
  std::unique_ptr<Shared> fOwn;  // when no mapping could be had
  uint64_t fKey;                 // of the fingerprints, chosen anew each start
};

}  // namespace nemvo::platform
