#pragma once
// Log files a long-running process appends to and opens anew when asked,
// after an administrator's rotation has moved them away.
#include <string>
#include <string_view>

namespace nemvo::platform {

// Opens `path` for appending (created with mode 0640) and puts it in place of
// standard error, so that everything the process and the processes it
// starts later write there goes to the file. False, with the reason in
// `error`, when the file cannot be opened; standard error is then as it was.
bool PointStandardErrorAt(const std::string& path, std::string& error);

// A file lines are appended to, each in one write, so that the lines of
// several processes appending to the same file never mix.
class TAppendFile {
 public:
  TAppendFile() = default;
  ~TAppendFile();
  TAppendFile(const TAppendFile&) = delete;
  TAppendFile& operator=(const TAppendFile&) = delete;

  // `path` "-": standard error. False, with the reason in `error`, when the
  // file cannot be opened; an open file stays open then.
  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return fFd >= 0; }
  void Write(std::string_view line) const;

 private:
  int fFd = -1;
  bool fOwned = false;
};

}  // namespace nemvo::platform
