#include "base/FileStream.h"

#include "base/Exception.h"
#include "platform/FileAccess.h"
#include "platform/SystemError.h"

namespace nemvo {

TFileStream::TFileStream(const std::string& fileName) : fFileName(fileName) {
  int error = 0;
  fHandle = platform::OpenFileForReading(fileName, error);
  if (fHandle < 0)
    throw EFOpenError(Format("Cannot open file \"%s\". %s", platform::ExpandFileName(fileName),
                             platform::SystemErrorText(error)));
}

TFileStream::~TFileStream() { platform::CloseFile(fHandle); }

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int error = 0;
  int64_t n = platform::ReadFromFile(fHandle, buffer, count, error);
  if (n < 0) throw EStreamError(Format("Stream read error. %s", platform::SystemErrorText(error)));
  return n;
}

int64_t TFileStream::Write(const void*, int64_t) { return 0; }

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int error = 0;
  int64_t at = platform::SeekInFile(fHandle, offset, int(origin), error);
  if (at < 0) throw EStreamError(Format("Stream seek error. %s", platform::SystemErrorText(error)));
  return at;
}

}  // namespace nemvo
