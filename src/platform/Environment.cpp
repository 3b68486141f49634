#include "platform/Environment.h"

#include <cstdlib>

namespace nemvo::platform {

std::string EnvironmentVariable(const std::string& name) {
  // A name holding NUL or "=" names no variable.
  if (name.find_first_of(std::string("=\0", 2)) != std::string::npos) return {};
  const char* value = std::getenv(name.c_str());
  return value ? std::string(value) : std::string();
}

}  // namespace nemvo::platform
