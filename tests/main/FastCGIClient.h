#pragma once
// A FastCGI client that does what a web server does, one record at a time,
// and also what no well-behaved one does: stop in the middle of a request,
// hang up, keep the connection for another request, send records of any
// type, role and padding. For the cases cgi-fcgi cannot be made to show.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"

namespace nemvo::testing {

class FastCGIClient {
 public:
  static constexpr uint8_t kBeginRequest = 1, kAbortRequest = 2, kEndRequest = 3, kParams = 4, kStdin = 5,
                          kStdout = 6, kStderr = 7, kData = 8, kGetValues = 9, kGetValuesResult = 10,
                          kUnknownType = 11;
  static constexpr uint16_t kResponder = 1, kAuthorizer = 2, kFilter = 3;
  // End-request protocol statuses.
  static constexpr int kRequestComplete = 0, kCantMultiplex = 1, kUnknownRole = 3;

  // `path`: the unix socket.
  explicit FastCGIClient(const std::string& path) {
    fFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fFd < 0 || connect(fFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("cannot connect to " + path + ": " + std::strerror(errno));
  }
  ~FastCGIClient() { Close(); }
  FastCGIClient(const FastCGIClient&) = delete;
  FastCGIClient& operator=(const FastCGIClient&) = delete;

  void Close() {
    if (fFd >= 0) close(fFd);
    fFd = -1;
  }

  // Begin-request and the parameters (the web server's whole head). Sending
  // fails (false) only once the application has closed the connection.
  bool Begin(const CGIVars& vars, bool keepConnection = false, uint16_t id = 1) {
    return BeginRecord(kResponder, keepConnection, id) && Params(Pairs(vars), id);
  }

  // The begin-request record alone, for `role`.
  bool BeginRecord(uint16_t role, bool keepConnection = false, uint16_t id = 1, uint8_t padding = 0) {
    const char body[8] = {char(role >> 8), char(role), char(keepConnection ? 1 : 0), 0, 0, 0, 0, 0};
    return Record(kBeginRequest, id, std::string(body, 8), padding);
  }

  // The encoded parameters `pairs` (Pairs), in records of at most 65535
  // bytes, and the closing empty record.
  bool Params(const std::string& pairs, uint16_t id = 1, uint8_t padding = 0) {
    bool sent = true;
    for (size_t at = 0; at < pairs.size() && sent; at += 65535) sent = Record(kParams, id, pairs.substr(at, 65535), padding);
    return sent && Record(kParams, id, "", padding);
  }

  // The name-value pairs' encoding.
  static std::string Pairs(const CGIVars& vars) {
    std::string pairs;
    for (const auto& [name, value] : vars) pairs += Length(name.size()) + Length(value.size()) + name + value;
    return pairs;
  }

  // Body bytes; an empty string ends the body.
  bool Body(const std::string& bytes, uint16_t id = 1) {
    if (bytes.empty()) return Record(kStdin, id, "");
    bool sent = true;
    for (size_t at = 0; at < bytes.size() && sent; at += 65535) sent = Record(kStdin, id, bytes.substr(at, 65535));
    return sent;
  }

  // Bytes as they are, whole records or not.
  bool SendBytes(const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      ssize_t n = send(fFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += size_t(n);
    }
    return true;
  }

  struct Answer {
    std::string out, err;
    bool ended = false;   // an end-request record came
    bool closed = false;  // the application closed the connection (before or after the end)
    bool timedOut = false;
    int protocolStatus = -1;  // the end-request record's
    // Records of other request ids (management answers, refusals of other
    // requests) that came before the end: type and id, content.
    std::vector<std::pair<std::pair<uint8_t, uint16_t>, std::string>> others;
  };

  // Reads until the end-request record of `id`, the connection's end or `limit`.
  // `stopAtOther`: returns at the first record of another id too.
  Answer Read(std::chrono::milliseconds limit = std::chrono::milliseconds(30000), uint16_t id = 1,
              bool stopAtOther = false) {
    Answer answer;
    const auto deadline = std::chrono::steady_clock::now() + limit * (UnderValgrind() ? ValgrindSlowdown : 1);
    for (;;) {
      uint8_t head[8];
      if (!ReadExactly(head, 8, deadline, answer)) return answer;
      const uint16_t recordId = uint16_t(head[2] << 8 | head[3]);
      const size_t length = size_t(head[4] << 8 | head[5]) + head[6];
      std::string content(length, '\0');
      if (!ReadExactly(content.data(), length, deadline, answer)) return answer;
      content.resize(size_t(head[4] << 8 | head[5]));
      if (recordId != id) {
        answer.others.push_back({{head[1], recordId}, content});
        if (stopAtOther) return answer;
        continue;
      }
      if (head[1] == kStdout) answer.out += content;
      if (head[1] == kStderr) answer.err += content;
      if (head[1] == kEndRequest) {
        answer.ended = true;
        if (content.size() >= 5) answer.protocolStatus = static_cast<unsigned char>(content[4]);
        return answer;
      }
    }
  }

  // True when the application has closed its end (reads give end of file).
  bool PeerClosed(std::chrono::milliseconds limit) {
    pollfd p{fFd, POLLIN, 0};
    if (poll(&p, 1, int(limit.count())) <= 0) return false;
    char c;
    return recv(fFd, &c, 1, MSG_PEEK) == 0;
  }

  // One record as it is, with `padding` bytes of padding.
  bool Record(uint8_t type, uint16_t id, const std::string& content, uint8_t padding = 0) {
    return SendBytes(RecordBytes(type, id, content, padding));
  }
  static std::string RecordBytes(uint8_t type, uint16_t id, const std::string& content, uint8_t padding = 0) {
    const char head[8] = {1, char(type), char(id >> 8), char(id), char(content.size() >> 8), char(content.size()),
                          char(padding), 0};
    return std::string(head, 8) + content + std::string(padding, '\xA5');
  }

  int Fd() const { return fFd; }

 private:
  static std::string Length(size_t n) {
    if (n < 128) return std::string(1, char(n));
    const char bytes[4] = {char(0x80 | (n >> 24)), char(n >> 16), char(n >> 8), char(n)};
    return std::string(bytes, 4);
  }

  bool ReadExactly(void* buffer, size_t count, std::chrono::steady_clock::time_point deadline, Answer& answer) {
    char* p = static_cast<char*>(buffer);
    for (size_t done = 0; done < count;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd pfd{fFd, POLLIN, 0};
      if (left.count() <= 0 || poll(&pfd, 1, int(left.count())) == 0) {
        answer.timedOut = true;
        return false;
      }
      ssize_t n = recv(fFd, p + done, count - done, 0);
      if (n <= 0) {
        answer.closed = true;
        return false;
      }
      done += size_t(n);
    }
    return true;
  }

  int fFd = -1;
};

}  // namespace nemvo::testing
