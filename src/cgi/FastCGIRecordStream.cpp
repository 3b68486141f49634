#include "cgi/FastCGIRecordStream.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace nemvo {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `events` on `fd`: true when they (or the end, or an error) came.
bool WaitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int n = poll(&p, 1, timeoutMs);
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return true;  // the next read or write says what is wrong
  }
}

}  // namespace

TFastCGIRecordStream::~TFastCGIRecordStream() {
  if (fFd >= 0) close(fFd);
}

TFastCGIRecordStream::TReceived TFastCGIRecordStream::Receive(size_t* count) {
  if (count) *count = 0;
  const size_t have = fEnd - fStart;
  // Room for the record at the front once its header says how big it is.
  size_t need = kUsualInput;
  if (have >= fastcgi::kHeaderSize) need = std::max(need, TFastCGIRecordHeader::Decode(fIn.data() + fStart).RecordSize());
  if (fIn.size() < need) {
    std::vector<unsigned char> larger(need);
    if (have > 0) std::memcpy(larger.data(), fIn.data() + fStart, have);
    fIn.swap(larger);
    fStart = 0;
    fEnd = have;
  } else if (fStart > 0 && (fIn.size() - fStart < need || fEnd == fIn.size())) {
    std::memmove(fIn.data(), fIn.data() + fStart, have);
    fStart = 0;
    fEnd = have;
  }
  if (fEnd == fIn.size()) return TReceived::Full;
  for (;;) {
    const ssize_t n = recv(fFd, fIn.data() + fEnd, fIn.size() - fEnd, 0);
    if (n > 0) {
      fEnd += size_t(n);
      if (count) *count = size_t(n);
      return TReceived::Bytes;
    }
    if (n == 0) return TReceived::Ended;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? TReceived::Nothing : TReceived::Failed;
  }
}

bool TFastCGIRecordStream::Front(TFastCGIRecordHeader& header, std::string_view& content) const {
  if (fEnd - fStart < fastcgi::kHeaderSize) return false;
  header = TFastCGIRecordHeader::Decode(fIn.data() + fStart);
  if (fEnd - fStart < header.RecordSize()) return false;
  content = std::string_view(reinterpret_cast<const char*>(fIn.data() + fStart + fastcgi::kHeaderSize),
                             header.contentLength);
  return true;
}

void TFastCGIRecordStream::DropFront() {
  TFastCGIRecordHeader header;
  std::string_view content;
  if (!Front(header, content)) return;
  fStart += header.RecordSize();
  if (fStart == fEnd) fStart = fEnd = 0;
}

void TFastCGIRecordStream::Trim() {
  if (fStart == fEnd && fIn.size() > kUsualInput) std::vector<unsigned char>(kUsualInput).swap(fIn);
}

void TFastCGIRecordStream::DropBuffered() { fStart = fEnd = 0; }

bool TFastCGIRecordStream::WaitReadable(int timeoutMs) const { return WaitFor(fFd, POLLIN, timeoutMs); }

void TFastCGIRecordStream::AppendHeader(uint8_t type, uint16_t id, size_t length) {
  TFastCGIRecordHeader header;
  header.type = type;
  header.requestId = id;
  header.contentLength = uint16_t(length);
  unsigned char bytes[fastcgi::kHeaderSize];
  header.Encode(bytes);
  fOut.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void TFastCGIRecordStream::AppendStream(uint8_t type, uint16_t id, std::string_view content) {
  if (content.empty()) {
    AppendRecord(type, id, content);
    return;
  }
  while (!content.empty()) {
    if (fOpenAt != kNone && fOpenType == type && fOpenId == id) {
      auto* length = reinterpret_cast<unsigned char*>(fOut.data() + fOpenAt + 4);
      const size_t now = size_t(length[0] << 8 | length[1]);
      const size_t take = std::min(fastcgi::kMaxContent - now, content.size());
      if (take > 0) {
        fOut.append(content.data(), take);
        // fOut may have moved: the length is found anew.
        length = reinterpret_cast<unsigned char*>(fOut.data() + fOpenAt + 4);
        length[0] = uint8_t((now + take) >> 8);
        length[1] = uint8_t(now + take);
        content.remove_prefix(take);
        continue;
      }
    }
    const size_t take = std::min(fastcgi::kMaxContent, content.size());
    fOpenAt = fOut.size();
    fOpenType = type;
    fOpenId = id;
    AppendHeader(type, id, take);
    fOut.append(content.data(), take);
    content.remove_prefix(take);
  }
}

void TFastCGIRecordStream::AppendRecord(uint8_t type, uint16_t id, std::string_view content) {
  fOpenAt = kNone;
  AppendHeader(type, id, content.size());
  fOut.append(content);
}

bool TFastCGIRecordStream::Flush(TFastCGITransferPace& pace) {
  size_t sent = 0;
  bool ok = true;
  while (sent < fOut.size()) {
    const ssize_t n = send(fFd, fOut.data() + sent, fOut.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += size_t(n);
      pace.Moved(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int timeout = pace.PollTimeout();
      if (timeout == 0) {
        ok = false;
        break;
      }
      const auto before = Clock::now();
      WaitFor(fFd, POLLOUT, timeout);
      pace.Waited(Clock::now() - before);
      continue;
    }
    ok = false;
    break;
  }
  fOut.clear();
  fOpenAt = kNone;
  return ok;
}

void TFastCGIRecordStream::ShutdownOutput() { shutdown(fFd, SHUT_WR); }

void TFastCGIRecordStream::Shutdown() {
  shutdown(fFd, SHUT_RDWR);
  fIn.clear();
  fIn.shrink_to_fit();
  fStart = fEnd = 0;
  fOut.clear();
}

}  // namespace nemvo
