#pragma once
// The unit a web server and a FastCGI application exchange: a record, an
// 8-byte header (version, type, request id, content length, padding length)
// followed by its content and padding. The codes below are the protocol's.
#include <cstddef>
#include <cstdint>

namespace nemvo {

namespace fastcgi {

inline constexpr uint8_t kVersion = 1;
inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kMaxContent = 65535;
inline constexpr size_t kMaxPadding = 255;
inline constexpr size_t kMaxRecord = kHeaderSize + kMaxContent + kMaxPadding;

// Record types. Requests and streams carry the request's id; management
// records (the values asked of the application, the answer for a type it
// does not know) carry id 0.
inline constexpr uint8_t kBeginRequest = 1;
inline constexpr uint8_t kAbortRequest = 2;
inline constexpr uint8_t kEndRequest = 3;
inline constexpr uint8_t kParams = 4;
inline constexpr uint8_t kStdin = 5;
inline constexpr uint8_t kStdout = 6;
inline constexpr uint8_t kStderr = 7;
inline constexpr uint8_t kData = 8;
inline constexpr uint8_t kGetValues = 9;
inline constexpr uint8_t kGetValuesResult = 10;
inline constexpr uint8_t kUnknownType = 11;
inline constexpr uint16_t kManagementId = 0;

// What a begin-request record asks the application to be.
inline constexpr uint16_t kResponder = 1;
inline constexpr uint16_t kAuthorizer = 2;
inline constexpr uint16_t kFilter = 3;
// Its flag: the web server keeps the connection for further requests.
inline constexpr uint8_t kKeepConnection = 1;
inline constexpr size_t kBeginRequestBodySize = 8;

// How an end-request record says a request ended.
inline constexpr uint8_t kRequestComplete = 0;
inline constexpr uint8_t kCantMultiplexConnection = 1;
inline constexpr uint8_t kOverloaded = 2;
inline constexpr uint8_t kUnknownRole = 3;

}  // namespace fastcgi

struct TFastCGIRecordHeader {
  uint8_t version = fastcgi::kVersion;
  uint8_t type = 0;
  uint16_t requestId = 0;
  uint16_t contentLength = 0;
  uint8_t paddingLength = 0;

  // From the first kHeaderSize bytes at `p`.
  static TFastCGIRecordHeader Decode(const unsigned char* p) {
    TFastCGIRecordHeader header;
    header.version = p[0];
    header.type = p[1];
    header.requestId = uint16_t(p[2] << 8 | p[3]);
    header.contentLength = uint16_t(p[4] << 8 | p[5]);
    header.paddingLength = p[6];
    return header;
  }

  // Into kHeaderSize bytes at `p` (the reserved byte zero).
  void Encode(unsigned char* p) const {
    p[0] = version;
    p[1] = type;
    p[2] = uint8_t(requestId >> 8);
    p[3] = uint8_t(requestId);
    p[4] = uint8_t(contentLength >> 8);
    p[5] = uint8_t(contentLength);
    p[6] = paddingLength;
    p[7] = 0;
  }

  // The whole record's size: header, content and padding.
  size_t RecordSize() const { return fastcgi::kHeaderSize + contentLength + paddingLength; }
};

}  // namespace nemvo
