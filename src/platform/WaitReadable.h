#pragma once
// Waiting for the first of several descriptors to have something to read.
#include <span>

namespace nemvo::platform {

// Waits until one of `fds` (negative entries are skipped) can be read, has
// been closed by its peer, or has an error, or until `timeoutMs` have passed
// (negative: no limit). Sets `ready` for each; false when none became ready.
bool WaitReadable(std::span<const int> fds, std::span<bool> ready, int timeoutMs);

}  // namespace nemvo::platform
