#include "admin/LoginLog.h"

#include "base/LogField.h"

namespace nemvo {

std::string LoginLogLine(TLoginOutcome outcome, std::string_view client, std::string_view user,
                         std::string_view path) {
  std::string line = "nemvoweb: login ";
  line += LoginOutcomeName(outcome);
  line += " client=";
  line += client.empty() ? "-" : LogField(client, 64);
  line += " user=";
  line += LogField(user, LoginLogUserLimit);
  line += " path=";
  line += LogField(path, 256);
  line += '\n';
  return line;
}

}  // namespace nemvo
