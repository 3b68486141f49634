#pragma once
// Records over one connection to the web server, both ways, through buffers
// of its own on a non-blocking socket. In: bytes are read as they come and a
// record is handed over once it has come whole (the buffer grows to hold the
// largest record, 64 KiB, and goes back to its usual size when trimmed); what
// follows it stays buffered, so a request sent right behind another is not
// lost. Out: stream content is gathered into records of up to 65535 bytes
// and sent in large writes, waiting for the peer within a transfer pace.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cgi/FastCGIRecord.h"
#include "cgi/FastCGITransferPace.h"

namespace nemvo {

class TFastCGIRecordStream {
 public:
  // Takes `fd`, a non-blocking connected socket, and closes it when it goes.
  explicit TFastCGIRecordStream(int fd) : fFd(fd) {}
  ~TFastCGIRecordStream();
  TFastCGIRecordStream(const TFastCGIRecordStream&) = delete;
  TFastCGIRecordStream& operator=(const TFastCGIRecordStream&) = delete;

  int Fd() const { return fFd; }

  // --- In
  enum class TReceived {
    Bytes,    // some came
    Nothing,  // none waiting now
    Full,     // no room: the whole records buffered must be taken first
    Ended,    // the peer has closed its side
    Failed,   // the connection broke
  };
  // One read of what the socket holds, without waiting; `count` gets the
  // number of bytes read.
  TReceived Receive(size_t* count = nullptr);
  // The record at the front of the buffer, when it has come whole; the
  // content stays valid until the next DropFront or Receive.
  bool Front(TFastCGIRecordHeader& header, std::string_view& content) const;
  void DropFront();
  // Bytes of a record not yet taken, whole or not.
  bool HasBuffered() const { return fEnd > fStart; }
  // Forgets everything buffered.
  void DropBuffered();
  // Once large records have passed and nothing is buffered, the buffer goes
  // back to its usual size (not after each record: a stream of large ones
  // would allocate it anew for every one).
  void Trim();
  // Waits until the socket has bytes, has ended or failed (true), or
  // `timeoutMs` have passed (false; -1: no bound).
  bool WaitReadable(int timeoutMs) const;

  // --- Out
  // Appends `content` to the stream `type` of request `id`, continuing the
  // last record when it is of the same stream and has room; empty content
  // appends the stream's closing empty record.
  void AppendStream(uint8_t type, uint16_t id, std::string_view content);
  // Appends one record as it is (at most 65535 bytes of content).
  void AppendRecord(uint8_t type, uint16_t id, std::string_view content);
  size_t Pending() const { return fOut.size(); }
  // Sends what is pending, waiting for the peer to read within `pace`.
  // False when the peer broke the connection or the pace ran out: what was
  // not sent is dropped.
  bool Flush(TFastCGITransferPace& pace);
  // The peer reads the end of the stream; reading goes on.
  void ShutdownOutput();
  // The peer sees the connection closed now, though the descriptor stays
  // until the stream goes (it is still watched where it was added).
  void Shutdown();

 private:
  // The size the input buffer has when no larger record passes through it.
  static constexpr size_t kUsualInput = 16 * 1024;

  void AppendHeader(uint8_t type, uint16_t id, size_t length);

  int fFd;
  std::vector<unsigned char> fIn;
  size_t fStart = 0, fEnd = 0;  // the bytes not yet taken
  std::string fOut;
  // The last record appended by AppendStream, while more may go into it.
  static constexpr size_t kNone = size_t(-1);
  size_t fOpenAt = kNone;
  uint8_t fOpenType = 0;
  uint16_t fOpenId = 0;
};

}  // namespace nemvo
