#include "admin/LoginAttempt.h"

#include <algorithm>

#include "admin/Configuration.h"
#include "admin/IniFile.h"
#include "admin/LoginLog.h"
#include "admin/LoginThrottle.h"
#include "base/RequestProgress.h"
#include "cgi/WebRequest.h"

namespace nemvo {

TLoginThrottleSettings ReadLoginThrottleSettings(TIniFile& config) {
  auto read = [&](const char* key, int64_t fallback, int64_t least, int64_t most) {
    return WholeNumberSetting(config.ReadString(ConfigSection, key, ""), fallback, least, most);
  };
  constexpr int64_t kWeek = 7 * 86400;
  TLoginThrottleSettings settings;
  settings.failures = read(LoginFailuresKey, DefaultLoginFailures, 0, 1000);
  settings.backoff = read(LoginBackoffKey, DefaultLoginBackoff, 1, kWeek);
  settings.backoffMax = std::max(settings.backoff, read(LoginBackoffMaxKey, DefaultLoginBackoffMax, 1, kWeek));
  settings.window = read(LoginFailureWindowKey, DefaultLoginFailureWindow, 1, kWeek);
  settings.serverGuard = config.ReadString(ConfigSection, LoginServerGuardKey, "") != "0";
  return settings;
}

TLoginAttempt::TLoginAttempt(TWebRequest& request, TIniFile& config) : fRequest(request) {
  fLog = config.ReadString(ConfigSection, LoginLogKey, "") != "0";
  // A login whose client has no address the throttle can tell apart (no
  // REMOTE_ADDR, a unix socket's) is not throttled: counted together, every
  // such client would wait for the one that guesses.
  fClient = ClientKey(request.GetStringField(rfRemoteAddr));
  if (!fClient) return;
  const TLoginThrottleSettings settings = ReadLoginThrottleSettings(config);
  if (settings.failures <= 0) return;
  std::string path = config.ReadString(ConfigSection, LoginStateFileKey, "");
  if (path.empty()) path = TLoginThrottle::DefaultPath();
  fThrottle = std::make_unique<TLoginThrottle>(std::move(path), settings,
                                               [this](const std::string& line) { fRequest.WriteLog(line); });
}

TLoginAttempt::~TLoginAttempt() {
  // Runs while an exception may be on its way out of the action: nothing
  // here may throw past it.
  try {
    if (fAdmitted) fThrottle->Settle(*fClient, fUser, fOutcome);
    if (fLog)
      fRequest.WriteLog(LoginLogLine(fOutcome, fRequest.GetStringField(rfRemoteAddr), fUser, fRequest.PathInfo()));
    if (IRequestProgress* progress = RequestProgress()) progress->Login(int(fOutcome), fDatabaseTime);
  } catch (...) {
  }
}

void TLoginAttempt::DatabaseAsked() {
  ReportRequestPhase(TRequestPhase::Connecting);
  fAsked = std::chrono::steady_clock::now();
}

void TLoginAttempt::DatabaseAnswered() {
  if (fAsked == std::chrono::steady_clock::time_point{} || fDatabaseTime.count() > 0) return;
  fDatabaseTime = std::max(std::chrono::steady_clock::now() - fAsked, std::chrono::nanoseconds(1));
  ReportRequestPhase(TRequestPhase::BuildingPage);
}

TLoginAdmission TLoginAttempt::Admit() {
  if (!fThrottle) return {};
  const TLoginAdmission admission = fThrottle->Admit(*fClient, fUser);
  if (admission.wait > 0)
    fOutcome = admission.forOthers ? TLoginOutcome::Deferred : TLoginOutcome::Throttled;
  else
    fAdmitted = true;
  return admission;
}

}  // namespace nemvo
