#pragma once
// Byte streams: the abstract stream and one that keeps its bytes in memory.
// File streams live beside the code that opens files (platform layer).
#include <cstdint>
#include <string>
#include <string_view>

namespace nemvo {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to `count` bytes; returns how many arrived (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes up to `count` bytes; returns how many were taken.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t position) { Seek(position, soBeginning); }
  virtual int64_t Size();

  // Writes all of `text`; raises EStreamError "Stream write error" when it cannot.
  void WriteString(std::string_view text);
  // Reads exactly `count` bytes; raises EStreamError "Stream read error" when it cannot.
  void ReadBuffer(void* buffer, int64_t count);
};

// A stream over a byte string it owns.
class TStringStream : public TStream {
 public:
  TStringStream() = default;
  explicit TStringStream(std::string data) : fData(std::move(data)) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return int64_t(fData.size()); }

  const std::string& DataString() const { return fData; }
  std::string TakeDataString() { fPosition = 0; return std::move(fData); }

 private:
  std::string fData;
  int64_t fPosition = 0;
};

using TMemoryStream = TStringStream;

}  // namespace nemvo
