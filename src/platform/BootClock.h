#pragma once
// A clock that every process of the machine reads alike and that no one can
// set: whole seconds since the machine started (suspension included).
#include <cstdint>

namespace nemvo::platform {

int64_t SecondsSinceBoot();

}  // namespace nemvo::platform
