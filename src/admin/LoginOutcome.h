#pragma once
// How a login attempt ended, as the login log and the throttle tell it.
#include <string_view>

namespace nemvo {

enum class TLoginOutcome {
  Accepted,   // the database took the credentials
  Refused,    // the database rejected the credentials
  Throttled,  // answered without asking the database: too many refusals from the address
  Deferred,   // answered without asking the database: it would hold a failure now, and the address failed lately
  Error,      // anything else: the database unreachable, the template missing...
};

constexpr std::string_view LoginOutcomeName(TLoginOutcome outcome) {
  switch (outcome) {
    case TLoginOutcome::Accepted: return "accepted";
    case TLoginOutcome::Refused: return "refused";
    case TLoginOutcome::Throttled: return "throttled";
    case TLoginOutcome::Deferred: return "deferred";
    case TLoginOutcome::Error: return "error";
  }
  return "error";
}

}  // namespace nemvo
