#pragma once
// Where the program finds its configuration and what it reads there.
#include <cstdint>
#include <string>
#include <string_view>

#include "BuildConfig.h"
#include "base/WholeNumber.h"

namespace nemvo {

// The one configuration file, at a fixed path chosen when the program is built.
inline constexpr const char* ConfigFilePath = build::ConfigPath;

// The section that holds both keys the program reads.
inline constexpr const char* ConfigSection = "Nemvo.FrameWork";
// The support database users log into ("server:path"); read on every request.
inline constexpr const char* DBSuporteKey = "DBSuporte";
// The template of the main page; read once the database has accepted a login.
inline constexpr const char* MainHTMLKey = "MainHTML";

// Whole seconds a login may wait for the database server before the visitor
// gets the message page: read on every request, before connecting. 0 leaves
// the wait to the client library (three minutes for a server that accepts
// and never answers); a value that is not a whole number from 0 to
// MaxLoginTimeout gives the default.
inline constexpr const char* LoginTimeoutKey = "LoginTimeout";
inline constexpr int DefaultLoginTimeout = 15;
inline constexpr int MaxLoginTimeout = 3600;

// A whole number from `min` to `max` written as `text` (which the file's
// reader has trimmed); `fallback` for anything else, an empty text included.
inline int64_t WholeNumberSetting(std::string_view text, int64_t fallback, int64_t min, int64_t max) {
  return ParseWholeNumber(text, min, max).value_or(fallback);
}

// The bound a LoginTimeout value gives.
inline int LoginTimeoutSeconds(std::string_view text) {
  return int(WholeNumberSetting(text, DefaultLoginTimeout, 0, MaxLoginTimeout));
}

// The login throttle (admin/LoginThrottle.h), read before each login:
// refusals from one client address that reach the database before it must
// wait (0: no throttle), the first wait and its ceiling (each further
// refusal doubles it), and how long after its last refusal a client's
// refusals are forgotten; seconds. The defaults keep one visitor below the
// Firebird server's own guard, which cannot tell the visitors behind the web
// server apart.
inline constexpr const char* LoginFailuresKey = "LoginFailures";
inline constexpr const char* LoginBackoffKey = "LoginBackoff";
inline constexpr const char* LoginBackoffMaxKey = "LoginBackoffMax";
inline constexpr const char* LoginFailureWindowKey = "LoginFailureWindow";
inline constexpr int64_t DefaultLoginFailures = 3;
inline constexpr int64_t DefaultLoginBackoff = 10;
inline constexpr int64_t DefaultLoginBackoffMax = 600;
inline constexpr int64_t DefaultLoginFailureWindow = 900;
// 0 lets clients with refusals try while the database server's own guard
// would hold a failing login (admin/LoginThrottleTable.h); on by default.
inline constexpr const char* LoginServerGuardKey = "LoginServerGuard";
// Where the throttle keeps its record; by default a file of the account's
// own in /dev/shm (admin/LoginThrottle.h).
inline constexpr const char* LoginStateFileKey = "LoginStateFile";
// 0 turns off the line each login attempt writes to the web server's error
// log (admin/LoginLog.h); anything else leaves it on.
inline constexpr const char* LoginLogKey = "LoginLog";

// The SQL trace channel (db/TraceAccess.h), read on every request before
// the login: "0" switches tracing off (no channel object is then made);
// SQLTraceGroup names the group whose members alone may read and write the
// channel (its objects then 0660, of that group). An empty SQLTraceGroup
// opens it to every account; without the key the build's default holds
// (NEMVO_TRACE_GROUP, none unless the build named one).
inline constexpr const char* SQLTraceKey = "SQLTrace";
inline constexpr const char* SQLTraceGroupKey = "SQLTraceGroup";
// What ReadString gives for a key that is not there (a value never has a
// line break).
inline constexpr const char* AbsentValue = "\n";

// The arithmetic of a FastCGI worker's logins (platform/ModularPower.h),
// read when a worker starts: "library" (or anything but "libcrypto" or
// nothing) leaves it all to the client library's own; libcrypto otherwise,
// when its known-answer test passes. The command line's --login-arithmetic,
// when given, goes first.
inline constexpr const char* LoginArithmeticKey = "LoginArithmetic";
inline bool LoginArithmeticIsLibrary(std::string_view value) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  constexpr std::string_view wanted = "libcrypto";
  if (value.empty()) return false;
  if (value.size() != wanted.size()) return true;
  for (size_t i = 0; i < value.size(); ++i)
    if (lower(value[i]) != wanted[i]) return true;
  return false;
}

// The support database when the file names none: the LAN database server
// chosen at build time, and the database's path on that server.
inline std::string DefaultDBSuporte() { return std::string(build::DBServer) + ":D:\\Nemvo\\Dados\\NEMVOSUPORTE.FDB"; }

}  // namespace nemvo
