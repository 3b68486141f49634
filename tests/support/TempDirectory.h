#pragma once
// A fresh directory under the system's temporary directory, removed with all
// it holds when the object goes. For tests that need real files.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace nemvo::testing {

class TempDirectory {
 public:
  TempDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nemvo-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    fPath = pattern;
  }
  ~TempDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(fPath, ec);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::filesystem::path& Path() const { return fPath; }
  std::string PathOf(std::string_view name) const { return (fPath / name).string(); }

  // Writes `bytes` exactly (binary) to the file `name`; returns its full path.
  std::string Write(std::string_view name, std::string_view bytes) const {
    std::string full = PathOf(name);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + full);
    return full;
  }

 private:
  std::filesystem::path fPath;
};

}  // namespace nemvo::testing
