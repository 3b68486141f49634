#pragma once
// The line each login attempt leaves in the web server's error log, for the
// administrator and for tools such as fail2ban:
//
//   nemvoweb: login OUTCOME client=ADDRESS user=NAME path=PATH
//
// OUTCOME is accepted, refused, throttled (the client's own refusals made it
// wait), deferred (the database server's guard would have held its failure:
// others' refusals made it wait) or error; ADDRESS the web server's
// REMOTE_ADDR ("-" when it has none). Every field is escaped so that a line
// is always one line of printable ASCII and a field never holds a blank: a
// byte outside 0x21-0x7E, a quote or a backslash is written "\xHH" (base/LogField.h). The user
// name is cut at 64 bytes, the address at 64 and the path at 256 (before
// escaping). The password is never written.
#include <string>
#include <string_view>

#include "admin/LoginOutcome.h"

namespace nemvo {

inline constexpr size_t LoginLogUserLimit = 64;

// The line, ending in a line feed.
std::string LoginLogLine(TLoginOutcome outcome, std::string_view client, std::string_view user,
                         std::string_view path);

}  // namespace nemvo
