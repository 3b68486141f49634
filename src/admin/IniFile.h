#pragma once
// Configuration read from an INI file. Every read goes to the file: nothing
// is cached, so a change made between two reads is seen by the second.
#include <string>

namespace nemvo {

class TCustomIniFile {
 public:
  // Stores the name only; the file need not exist.
  explicit TCustomIniFile(std::string fileName) : fFileName(std::move(fileName)) {}
  virtual ~TCustomIniFile() = default;
  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;

  const std::string& FileName() const { return fFileName; }

  // The value of `ident` in `section`, or `defaultValue` when the file, the
  // section or the key is missing. A key present with an empty value gives
  // the empty text.
  virtual std::string ReadString(const std::string& section, const std::string& ident,
                                 const std::string& defaultValue) = 0;

 private:
  std::string fFileName;
};

// Reads through the platform's profile-file functions; a value is cut to its
// first 2047 bytes.
class TIniFile : public TCustomIniFile {
 public:
  static constexpr size_t ReadBufferSize = 2048;

  using TCustomIniFile::TCustomIniFile;
  // Asks the platform to drop any copy of the file it may keep.
  ~TIniFile() override;

  std::string ReadString(const std::string& section, const std::string& ident,
                         const std::string& defaultValue) override;
};

}  // namespace nemvo
