#pragma once
// The machine's users and groups, by name and by number (reentrant lookups:
// the trace writer looks them up on a thread of its own).
#include <sys/types.h>

#include <optional>
#include <string>

namespace nemvo::platform {

std::optional<uid_t> UserId(const std::string& name);
std::optional<gid_t> GroupId(const std::string& name);
// The name, or the number as text when there is none.
std::string UserName(uid_t id);
std::string GroupName(gid_t id);

}  // namespace nemvo::platform
