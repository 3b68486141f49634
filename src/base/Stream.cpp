#include "base/Stream.h"

#include <algorithm>
#include <cstring>

#include "base/Exception.h"

namespace nemvo {

int64_t TStream::Size() {
  int64_t here = Seek(0, soCurrent);
  int64_t end = Seek(0, soEnd);
  Seek(here, soBeginning);
  return end;
}

void TStream::WriteString(std::string_view text) {
  if (!text.empty() && Write(text.data(), int64_t(text.size())) != int64_t(text.size()))
    throw EStreamError("Stream write error");
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

int64_t TStringStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || fPosition >= int64_t(fData.size())) return 0;
  int64_t n = std::min<int64_t>(count, int64_t(fData.size()) - fPosition);
  std::memcpy(buffer, fData.data() + fPosition, size_t(n));
  fPosition += n;
  return n;
}

int64_t TStringStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  size_t end = size_t(fPosition + count);
  if (end > fData.size()) fData.resize(end);
  std::memcpy(fData.data() + fPosition, buffer, size_t(count));
  fPosition += count;
  return count;
}

int64_t TStringStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? fPosition : int64_t(fData.size());
  fPosition = std::max<int64_t>(0, base + offset);
  return fPosition;
}

}  // namespace nemvo
