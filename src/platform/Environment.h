#pragma once
// The process environment.
#include <string>

namespace nemvo::platform {

// The value of the environment variable `name`, whole; empty when unset.
std::string EnvironmentVariable(const std::string& name);

}  // namespace nemvo::platform
