#pragma once
// Reading of profile (INI) files: sections in square brackets, name=value
// lines below them. The file is read anew on every call; nothing is cached.
#include <cstddef>
#include <string>
#include <string_view>

namespace nemvo::platform {

// The size of the caller's result buffer; one byte of it is kept for the
// terminator, so a value is cut to at most 2047 bytes.
inline constexpr size_t ProfileBufferSize = 2048;

// The value of `key` in `section` of the file `fileName`, or `defaultValue`
// when the file cannot be read, the section is missing or the key is missing
// from it. A key present with an empty value gives the empty text.
//
// Section and key names match ignoring letter case (regional folding); blanks
// (tab, CR, LF, space) around names and values are not part of them, and the
// names asked for are trimmed the same way. A line whose first non-blank
// character is ";" is a comment; only the first "=" of a line splits it, and a
// line without "=" holds no key. The first matching section and the first
// matching key in it win. A value enclosed in a pair of equal quotation marks
// (" or ') loses them. CR LF, LF and CR all end lines. The result holds at
// most bufferSize - 1 bytes.
std::string ReadProfileString(std::string_view section, std::string_view key, std::string_view defaultValue,
                              const std::string& fileName, size_t bufferSize = ProfileBufferSize);

// Asks the platform to drop any cached copy of the file. This reader keeps no
// copy, so there is nothing to drop; the call is the seam for platforms whose
// profile functions do cache.
void FlushProfileFile(const std::string& fileName);

}  // namespace nemvo::platform
