#pragma once
// Writing a whole output file in one go.
#include <string>
#include <string_view>

namespace nemvo::platform {

// Opens `fileName` for writing (created when missing, emptied otherwise),
// writes `head` then `body` and closes it. Returns 0 or the system's error code.
int WriteOutputFile(const std::string& fileName, std::string_view head, std::string_view body);

}  // namespace nemvo::platform
