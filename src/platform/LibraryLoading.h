#pragma once
// Shared objects loaded at run time by file name.
#include <string>

namespace nemvo::platform {

// An opaque module handle; null means "not loaded".
using LibraryHandle = void*;

// Loads `fileName` with the system's default search (a bare name honours
// LD_LIBRARY_PATH and the loader cache). Null when it cannot be loaded; the
// reason is then in LastLibraryError().
LibraryHandle LoadLibraryByName(const std::string& fileName);
// The address of the exported symbol `name`, or null when the library lacks
// it. A missing symbol sets the thread's last error code to ENOSYS, so that
// the caller can report it like any failed system call.
void* FindEntryPoint(LibraryHandle library, const char* name);
// Drops one reference to a library loaded by LoadLibraryByName; null is ignored.
void FreeLibrary(LibraryHandle library);
// The loader's description of the last failure on this thread (empty if none).
std::string LastLibraryError();

}  // namespace nemvo::platform
