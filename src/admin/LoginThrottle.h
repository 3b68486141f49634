#pragma once
// Refused logins per client, shared by every process of this account that
// answers logins (CGI processes and FastCGI workers alike): after a few
// refusals, a client waits before its next login reaches the database.
//
// The database server guards itself too, but it cannot tell the visitors
// behind a web server apart: it holds failing logins of a name, or of
// everyone, for seconds, and each held login holds the process answering
// it. Held here, per visitor, one visitor's wrong passwords never get that
// far.
//
// The record lives in a file of this account's alone (PrivateStateFile.h).
// When it cannot be used, logins go on unthrottled and each attempt says why
// through `warn`: a throttle that is out of order must never lock anyone out.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "admin/ClientAddress.h"
#include "admin/LoginOutcome.h"
#include "admin/LoginThrottleTable.h"

namespace nemvo {

namespace platform {
class TPrivateStateFile;
}

class TLoginThrottle {
 public:
  using TWarn = std::function<void(const std::string&)>;

  // The record in the file at `path`.
  TLoginThrottle(std::string path, const TLoginThrottleSettings& settings, TWarn warn);
  ~TLoginThrottle();
  TLoginThrottle(const TLoginThrottle&) = delete;
  TLoginThrottle& operator=(const TLoginThrottle&) = delete;

  // Whether a login from `client` with the user name `user` may reach the
  // database now.
  TLoginAdmission Admit(const TClientKey& client, std::string_view user);
  // How that login ended.
  void Settle(const TClientKey& client, std::string_view user, TLoginOutcome outcome);

  // The file when the configuration names none: one per account.
  static std::string DefaultPath();

 private:
  // Runs `use` on the table under the file's lock: whether it could.
  bool WithTable(const std::function<void(TLoginThrottleTable&)>& use);

  std::string fPath;
  TLoginThrottleSettings fSettings;
  TWarn fWarn;
  std::unique_ptr<platform::TPrivateStateFile> fFile;
  bool fWarned = false;
  int64_t fAdmitted = 0;  // when Admit let the login through
};

}  // namespace nemvo
