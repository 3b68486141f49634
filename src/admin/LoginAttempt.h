#pragma once
// One login as the site's door sees it: whether the client may try now (the
// throttle), and, whichever way the login ends, its line in the login log and
// its outcome in the throttle's record. Both happen when the attempt goes,
// an exception leaving the action included, so no attempt goes unrecorded.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "admin/ClientAddress.h"
#include "admin/LoginLog.h"
#include "admin/LoginOutcome.h"
#include "admin/LoginThrottleTable.h"

namespace nemvo {

class TIniFile;
class TLoginThrottle;
class TWebRequest;

class TLoginAttempt {
 public:
  // Reads the throttle's and the log's settings from `config`. `request`
  // outlives the attempt.
  TLoginAttempt(TWebRequest& request, TIniFile& config);
  ~TLoginAttempt();
  TLoginAttempt(const TLoginAttempt&) = delete;
  TLoginAttempt& operator=(const TLoginAttempt&) = delete;

  // Whether the login may reach the database now; when it may not, the
  // attempt counts as throttled (its client's own refusals) or deferred
  // (those of others).
  TLoginAdmission Admit();
  // The user name the client gave, once the body has been decoded (a body
  // that cannot be leaves the attempt without one).
  void SetUser(std::string_view user) { fUser = user.substr(0, LoginLogUserLimit); }
  // How the login ended; error until said otherwise.
  void SetOutcome(TLoginOutcome outcome) { fOutcome = outcome; }
  // The database server is asked now, and has answered (taken or refused
  // the login, or failed); what lies between is its answer time, which a
  // pool watching its requests counts. Only the first answer counts.
  void DatabaseAsked();
  void DatabaseAnswered();

 private:
  TWebRequest& fRequest;
  std::string fUser;  // as much of it as the log keeps
  bool fLog = true;
  std::optional<TClientKey> fClient;
  std::unique_ptr<TLoginThrottle> fThrottle;
  bool fAdmitted = false;
  TLoginOutcome fOutcome = TLoginOutcome::Error;
  std::chrono::steady_clock::time_point fAsked;
  std::chrono::nanoseconds fDatabaseTime{0};
};

// The settings of the login throttle in `config`, defaults for what is
// missing or out of range.
TLoginThrottleSettings ReadLoginThrottleSettings(TIniFile& config);

}  // namespace nemvo
