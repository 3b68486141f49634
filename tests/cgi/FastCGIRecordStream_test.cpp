// Records over a socket pair: stream content gathered into records of at
// most 65535 bytes whatever the pieces written, records handed over only
// once whole however their bytes arrive, padding skipped, and what follows a
// record kept for later.
#include "cgi/FastCGIRecordStream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace nemvo {
namespace {

struct Record {
  uint8_t type;
  uint16_t id;
  std::string content;
  bool operator==(const Record&) const = default;
};

// A non-blocking socket for the stream (which takes it) and the peer's end.
struct Pair {
  int streamEnd = -1, peer = -1;
  Pair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    streamEnd = fds[0];
    peer = fds[1];
    fcntl(streamEnd, F_SETFL, fcntl(streamEnd, F_GETFL) | O_NONBLOCK);
  }
  ~Pair() {
    if (peer >= 0) close(peer);
  }
};

std::string Bytes(const Record& r, uint8_t padding = 0) {
  unsigned char head[8];
  TFastCGIRecordHeader h;
  h.type = r.type;
  h.requestId = r.id;
  h.contentLength = uint16_t(r.content.size());
  h.paddingLength = padding;
  h.Encode(head);
  return std::string(reinterpret_cast<char*>(head), 8) + r.content + std::string(padding, '\x5A');
}

// Every record the peer can read now.
std::vector<Record> ReadAll(int fd) {
  std::string bytes;
  char buffer[65536];
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) bytes.append(buffer, size_t(n));
  std::vector<Record> records;
  for (size_t at = 0; at + 8 <= bytes.size();) {
    const auto h = TFastCGIRecordHeader::Decode(reinterpret_cast<const unsigned char*>(bytes.data() + at));
    records.push_back({h.type, h.requestId, bytes.substr(at + 8, h.contentLength)});
    at += h.RecordSize();
  }
  return records;
}

TEST(FastCGIRecordStream, StreamContentGathersIntoRecordsOfAtMost65535) {
  Pair pair;
  ASSERT_GE(pair.peer, 0);
  TFastCGIRecordStream stream(pair.streamEnd);
  std::string written;
  for (int i = 0; i < 10; ++i) {
    const std::string piece(10000, char('a' + i));
    stream.AppendStream(fastcgi::kStdout, 1, piece);
    written += piece;
  }
  stream.AppendStream(fastcgi::kStderr, 1, "error line");  // another stream: a record of its own
  stream.AppendStream(fastcgi::kStdout, 1, "tail");
  stream.AppendStream(fastcgi::kStdout, 1, {});  // the stream's end
  TFastCGITransferPace pace(std::chrono::seconds(5), 0, TFastCGITransferPace::TDirection::Sending);
  ASSERT_TRUE(stream.Flush(pace));
  const std::vector<Record> expected = {{fastcgi::kStdout, 1, written.substr(0, 65535)},
                                        {fastcgi::kStdout, 1, written.substr(65535)},
                                        {fastcgi::kStderr, 1, "error line"},
                                        {fastcgi::kStdout, 1, "tail"},
                                        {fastcgi::kStdout, 1, ""}};
  EXPECT_EQ(ReadAll(pair.peer), expected);
}

TEST(FastCGIRecordStream, RecordsComeWholeHoweverTheyArrive) {
  const Record big{fastcgi::kStdin, 1, std::string(65535, 'b')};
  const Record small{fastcgi::kParams, 1, "pq"};
  const Record next{fastcgi::kBeginRequest, 2, std::string(8, '\0')};
  const std::string bytes = Bytes(small, 3) + Bytes(big, 255) + Bytes(next);
  struct Line {
    const char* name;
    size_t piece;
  };
  for (const Line& line : {Line{"all at once", bytes.size()}, Line{"a byte at a time", 1}, Line{"in 4 KiB", 4096}}) {
    Pair pair;
    ASSERT_GE(pair.peer, 0);
    TFastCGIRecordStream stream(pair.streamEnd);
    std::vector<Record> got;
    for (size_t at = 0; at < bytes.size(); at += line.piece) {
      ASSERT_EQ(send(pair.peer, bytes.data() + at, std::min(line.piece, bytes.size() - at), 0),
                ssize_t(std::min(line.piece, bytes.size() - at)));
      while (stream.Receive() == TFastCGIRecordStream::TReceived::Bytes) {
        TFastCGIRecordHeader header;
        std::string_view content;
        // One record taken at a time: what follows waits in the buffer.
        if (stream.Front(header, content)) {
          got.push_back({header.type, header.requestId, std::string(content)});
          stream.DropFront();
        }
      }
    }
    TFastCGIRecordHeader header;
    std::string_view content;
    while (stream.Front(header, content)) {
      got.push_back({header.type, header.requestId, std::string(content)});
      stream.DropFront();
    }
    EXPECT_EQ(got, (std::vector<Record>{small, big, next})) << line.name;
    EXPECT_FALSE(stream.HasBuffered()) << line.name;
  }
}

// What the socket's buffer took earns the peer no time: a peer that reads
// nothing holds a flush for the grace alone.
TEST(FastCGIRecordStream, PeerThatReadsNothingEndsTheFlushWithinTheGrace) {
  Pair pair;
  ASSERT_GE(pair.peer, 0);
  TFastCGIRecordStream stream(pair.streamEnd);
  stream.AppendStream(fastcgi::kStdout, 1, std::string(8 << 20, 'x'));
  TFastCGITransferPace pace(std::chrono::milliseconds(200), 1024, TFastCGITransferPace::TDirection::Sending);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(stream.Flush(pace));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(stream.Pending(), 0u) << "what could not go is dropped";
}

}  // namespace
}  // namespace nemvo
