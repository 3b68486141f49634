#include "platform/Accounts.h"

#include <grp.h>
#include <pwd.h>

#include <vector>

namespace nemvo::platform {

namespace {

// The entry that `lookUp` (one of the reentrant getpw*_r/getgr*_r) finds for
// `key`, passed to `take`; `otherwise` when there is none.
template <class Entry, class Key, class LookUp, class Take, class Result>
Result Find(LookUp lookUp, const Key& key, Take take, Result otherwise) {
  std::vector<char> buffer(16384);
  Entry entry;
  Entry* found = nullptr;
  if (lookUp(key, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return otherwise;
  return take(*found);
}

}  // namespace

std::optional<uid_t> UserId(const std::string& name) {
  return Find<passwd>(getpwnam_r, name.c_str(), [](const passwd& e) { return std::optional<uid_t>(e.pw_uid); },
                      std::optional<uid_t>());
}

std::optional<gid_t> GroupId(const std::string& name) {
  return Find<group>(getgrnam_r, name.c_str(), [](const group& e) { return std::optional<gid_t>(e.gr_gid); },
                     std::optional<gid_t>());
}

std::string UserName(uid_t id) {
  return Find<passwd>(getpwuid_r, id, [](const passwd& e) { return std::string(e.pw_name); }, std::to_string(id));
}

std::string GroupName(gid_t id) {
  return Find<group>(getgrgid_r, id, [](const group& e) { return std::string(e.gr_name); }, std::to_string(id));
}

}  // namespace nemvo::platform
