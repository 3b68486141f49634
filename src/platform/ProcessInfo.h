#pragma once
// Facts about the running program.
#include <string>

namespace nemvo::platform {

// The file name, without directory, of the running executable; empty when
// the system does not tell.
std::string ExecutableFileName();

// The running program's file, with its directory; empty when unknown.
std::string ExecutablePath();

// The processors online; at least 1.
int ProcessorCount();

}  // namespace nemvo::platform
