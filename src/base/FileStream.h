#pragma once
// A stream over a file opened by name, for reading.
#include <string>

#include "base/Stream.h"

namespace nemvo {

class TFileStream : public TStream {
 public:
  // Opens `fileName` for reading, other readers allowed and writers refused
  // while it is open. Raises EFOpenError "Cannot open file \"<absolute
  // name>\". <system message>" when it cannot.
  explicit TFileStream(const std::string& fileName);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  const std::string& FileName() const { return fFileName; }

  // Raises EStreamError with the system's message when the file cannot be read.
  int64_t Read(void* buffer, int64_t count) override;
  // The stream is read-only: nothing is ever written.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 private:
  std::string fFileName;
  int fHandle = -1;
};

}  // namespace nemvo
