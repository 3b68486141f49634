#include "admin/IniFile.h"

#include "platform/ProfileFile.h"

namespace nemvo {

TIniFile::~TIniFile() { platform::FlushProfileFile(FileName()); }

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& defaultValue) {
  return platform::ReadProfileString(section, ident, defaultValue, FileName(), ReadBufferSize);
}

}  // namespace nemvo
