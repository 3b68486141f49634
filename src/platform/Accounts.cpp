#include "platform/Accounts.h"

#include <grp.h>
#include <pwd.h>

#include <vector>

namespace nemvo::platform {

namespace {
constexpr size_t kBufferSize = 16384;
}  // namespace

std::optional<uid_t> UserId(const std::string& name) {
  std::vector<char> buffer(kBufferSize);
  passwd entry;
  passwd* found = nullptr;
  if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return std::nullopt;
  return found->pw_uid;
}

std::optional<gid_t> GroupId(const std::string& name) {
  std::vector<char> buffer(kBufferSize);
  group entry;
  group* found = nullptr;
  if (getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return std::nullopt;
  return found->gr_gid;
}

std::string UserName(uid_t id) {
  std::vector<char> buffer(kBufferSize);
  passwd entry;
  passwd* found = nullptr;
  if (getpwuid_r(id, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return std::to_string(id);
  return found->pw_name;
}

std::string GroupName(gid_t id) {
  std::vector<char> buffer(kBufferSize);
  group entry;
  group* found = nullptr;
  if (getgrgid_r(id, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return std::to_string(id);
  return found->gr_name;
}

}  // namespace nemvo::platform
