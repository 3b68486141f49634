#pragma once
// Opening and reading files by name, and making file names absolute.
#include <cstdint>
#include <string>
#include <string_view>

namespace nemvo::platform {

// Opens the file for reading with other readers allowed and writers refused:
// it takes a shared lock, so a process that holds the file locked for writing
// makes the open fail, and one that asks for such a lock waits or fails while
// the file is open here. Directories, FIFOs and devices are refused too.
// Returns a handle, or -1 with `errorCode` set to the system's code.
int OpenFileForReading(const std::string& fileName, int& errorCode);
// Reads up to `count` bytes; returns how many arrived (0 at the end), or -1
// with `errorCode` set.
int64_t ReadFromFile(int handle, void* buffer, int64_t count, int& errorCode);
// Moves the position; `origin` is 0 (start), 1 (current) or 2 (end). Returns
// the new position, or -1 with `errorCode` set.
int64_t SeekInFile(int handle, int64_t offset, int origin, int& errorCode);
void CloseFile(int handle);

// `fileName` made absolute against the current directory, with "." and ".."
// resolved lexically; the name unaltered when there is no current directory.
std::string ExpandFileName(std::string_view fileName);

}  // namespace nemvo::platform
