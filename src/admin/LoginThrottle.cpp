#include "admin/LoginThrottle.h"

#include <chrono>
#include <random>

#include "platform/BootClock.h"
#include "platform/PrivateStateFile.h"

namespace nemvo {

namespace {

// Longer than any holder keeps the lock when it is working; a holder that
// stops (a process of the account suspended in the middle) costs this much.
constexpr std::chrono::milliseconds kLockWait{50};

// Only needed when the table is made anew; a machine without a source of
// randomness gets a weaker seed rather than no throttle.
uint64_t NewSeed() {
  try {
    std::random_device device;
    return (uint64_t(device()) << 32) ^ device();
  } catch (...) {
    return uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  }
}

}  // namespace

TLoginThrottle::TLoginThrottle(std::string path, const TLoginThrottleSettings& settings, TWarn warn)
    : fPath(std::move(path)), fSettings(settings), fWarn(std::move(warn)) {}

TLoginThrottle::~TLoginThrottle() = default;

std::string TLoginThrottle::DefaultPath() { return platform::PrivateStatePath("nemvoweb-logins"); }

bool TLoginThrottle::WithTable(const std::function<void(TLoginThrottleTable&)>& use) {
  std::string error;
  if (!fFile) fFile = platform::TPrivateStateFile::Open(fPath, TLoginThrottleTable::kSize, error);
  if (fFile && !fFile->Lock(kLockWait)) error = fPath + ": held by another process for longer than it should";
  if (!error.empty()) {
    if (!fWarned && fWarn) fWarn("nemvoweb: login throttle not in use for this login: " + error + "\n");
    fWarned = true;
    return false;
  }
  TLoginThrottleTable table({fFile->Data(), fFile->Size()}, fSettings, &NewSeed);
  use(table);
  fFile->Unlock();
  return true;
}

TLoginAdmission TLoginThrottle::Admit(const TClientKey& client, std::string_view user) {
  TLoginAdmission admission;
  fAdmitted = platform::SecondsSinceBoot();
  WithTable([&](TLoginThrottleTable& table) { admission = table.Admit(client, user, fAdmitted); });
  return admission;
}

void TLoginThrottle::Settle(const TClientKey& client, std::string_view user, TLoginOutcome outcome) {
  WithTable([&](TLoginThrottleTable& table) {
    table.Settle(client, user, outcome, fAdmitted, platform::SecondsSinceBoot());
  });
}

}  // namespace nemvo
