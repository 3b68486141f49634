#include "cgi/FastCGIConnection.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace nemvo {

namespace {

using Clock = std::chrono::steady_clock;

// Output gathers up to this much before it is sent: one large write per
// block of the answer, not one per piece the request cycle writes.
constexpr size_t kSendAt = 64 * 1024;
// Reads taken from one connection before the worker looks at the others.
constexpr int kReadsPerTurn = 8;

std::chrono::milliseconds Grace(const TFastCGILimits& limits) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(limits.ioTimeout);
}

TFastCGITransferPace NewPace(const TFastCGILimits& limits, TFastCGITransferPace::TDirection direction) {
  return TFastCGITransferPace(Grace(limits), limits.minRate, direction);
}

constexpr auto kReceiving = TFastCGITransferPace::TDirection::Receiving;
constexpr auto kSending = TFastCGITransferPace::TDirection::Sending;

}  // namespace

TFastCGIConnection::TFastCGIConnection(int fd, const TFastCGILimits& limits, Clock::time_point accepted)
    : fStream(fd),
      fLimits(limits),
      fAccepted(accepted),
      fIdleSince(accepted),
      fHeadSince(accepted),
      fClosingSince(accepted),
      fParams(limits.maxParamBytes, limits.maxParams),
      fBodyPace(NewPace(limits, kReceiving)),
      fAnswerPace(NewPace(limits, kSending)) {}

TFastCGIConnection::Clock::time_point TFastCGIConnection::Deadline() const {
  const auto never = Clock::time_point::max();
  const bool bounded = fLimits.ioTimeout.count() > 0;
  switch (fState) {
    case TState::Waiting:
      if (fFresh) return bounded ? fAccepted + fLimits.ioTimeout : never;
      return fLimits.keepAliveTimeout.count() > 0 ? fIdleSince + fLimits.keepAliveTimeout : never;
    case TState::Heading:
      return bounded ? (fFresh ? fAccepted : fHeadSince) + fLimits.ioTimeout : never;
    case TState::Ready:
      return never;
    case TState::Closing:
      return fClosingSince + fLimits.linger;
    case TState::Closed:
      break;
  }
  return Clock::time_point::min();
}

void TFastCGIConnection::Close() {
  if (fState == TState::Closed) return;
  // At once: a web server that waits for the close (cgi-fcgi does) must not
  // wait for what the worker does after the answer (a login's detach).
  fStream.Shutdown();
  fState = TState::Closed;
}

void TFastCGIConnection::Lose() { fLost = true; }

void TFastCGIConnection::NoteHead(Clock::time_point now) {
  const bool heading = fId != 0 || fStream.HasBuffered();
  if (heading && fState == TState::Waiting) {
    fState = TState::Heading;
    fHeadSince = now;
  } else if (!heading && fState == TState::Heading) {
    fState = TState::Waiting;
  }
}

void TFastCGIConnection::Advance(Clock::time_point now) {
  if (fState == TState::Closing) return DrainClosing();
  if (fState != TState::Waiting && fState != TState::Heading) return;
  for (int reads = 0;; ++reads) {
    TFastCGIRecordHeader header;
    std::string_view content;
    while (fStream.Front(header, content)) {
      const TTake take = TakeHeadRecord(header, content);
      fStream.DropFront();
      if (take == TTake::Close || fLost) return Close();
      if (take == TTake::Finish) Finish(now);
      if (fState != TState::Waiting && fState != TState::Heading) return;
    }
    NoteHead(now);
    if (reads == kReadsPerTurn) return;
    switch (fStream.Receive()) {
      case TFastCGIRecordStream::TReceived::Bytes:
        break;
      case TFastCGIRecordStream::TReceived::Nothing:
      case TFastCGIRecordStream::TReceived::Full:
        return;
      case TFastCGIRecordStream::TReceived::Ended:
      case TFastCGIRecordStream::TReceived::Failed:
        // Between requests the web server's close is its way to end a kept
        // connection; in the middle of a head it is a request given up.
        return Close();
    }
  }
}

TFastCGIConnection::TTake TFastCGIConnection::TakeHeadRecord(const TFastCGIRecordHeader& header,
                                                             std::string_view content) {
  if (header.version != fastcgi::kVersion) return TTake::Close;
  const bool inFlight = fId != 0 && header.requestId == fId;
  if (header.requestId == fastcgi::kManagementId || (header.type == fastcgi::kBeginRequest && fId != 0)) {
    if (!inFlight) TakeOtherRecord(header, content);
    SendNow();
    return TTake::Go;
  }
  switch (header.type) {
    case fastcgi::kBeginRequest: {
      if (content.size() < fastcgi::kBeginRequestBodySize) return TTake::Close;
      const auto* body = reinterpret_cast<const unsigned char*>(content.data());
      fId = header.requestId;
      fRole = uint16_t(body[0] << 8 | body[1]);
      fKeep = (body[2] & fastcgi::kKeepConnection) != 0;
      fParams.Clear();
      fRefusal = TRefusal::None;
      fBodyEnded = fAborted = fErrorsSent = false;
      fDelivered = 0;
      fBodyPace = NewPace(fLimits, kReceiving);
      fAnswerPace = NewPace(fLimits, kSending);
      // Any other role would take the answer for something else: an
      // authorizer's 200 grants access. The parameters are not waited for.
      if (fRole != fastcgi::kResponder) {
        fRefusal = TRefusal::Role;
        fState = TState::Ready;
      }
      return TTake::Go;
    }
    case fastcgi::kParams:
      if (!inFlight) return TTake::Go;
      if (!content.empty()) {
        fParams.Feed(content);
        return TTake::Go;
      }
      fParams.End();
      switch (fParams.State()) {
        case TFastCGIParams::TState::BeyondBytes: fRefusal = TRefusal::ParamBytes; break;
        case TFastCGIParams::TState::BeyondCount: fRefusal = TRefusal::ParamCount; break;
        case TFastCGIParams::TState::Cut: fRefusal = TRefusal::ParamsCut; break;
        default: break;
      }
      fState = TState::Ready;
      return TTake::Go;
    case fastcgi::kAbortRequest:
      if (!inFlight) return TTake::Go;
      // Given up before its head was whole: it ends here, with nothing run.
      QueueEndRequest(fId, fastcgi::kRequestComplete);
      SendNow();
      return TTake::Finish;
    case fastcgi::kStdin:
    case fastcgi::kData:
      // A body before the parameters' end is no web server's; the rest of
      // a body whose request has been answered is dropped.
      return inFlight ? TTake::Close : TTake::Go;
    default:
      // Record types the application does not take are ignored.
      return TTake::Go;
  }
}

void TFastCGIConnection::TakeOtherRecord(const TFastCGIRecordHeader& header, std::string_view content) {
  if (header.requestId == fastcgi::kManagementId) {
    if (header.type != fastcgi::kGetValues) {
      const char unknown[8] = {char(header.type), 0, 0, 0, 0, 0, 0, 0};
      Queue(fastcgi::kUnknownType, fastcgi::kManagementId, std::string_view(unknown, sizeof unknown));
      return;
    }
    // Only the names asked for, each once.
    TFastCGIParams asked(fastcgi::kMaxContent, fastcgi::kMaxContent);
    asked.Feed(content);
    asked.End();
    const std::string connections = std::to_string(int64_t(std::max(fLimits.workers, 1)) * int64_t(fLimits.maxConnections));
    const std::string requests = std::to_string(std::max(fLimits.workers, 1));
    const std::pair<std::string_view, std::string_view> known[] = {
        {"FCGI_MAX_CONNS", connections}, {"FCGI_MAX_REQS", requests}, {"FCGI_MPXS_CONNS", "0"}};
    bool given[std::size(known)] = {};
    std::string result;
    for (size_t i = 0; i < asked.Count(); ++i)
      for (size_t k = 0; k < std::size(known); ++k)
        if (!given[k] && asked.Pair(i).first == known[k].first) {
          TFastCGIParams::AppendPair(result, known[k].first, known[k].second);
          given[k] = true;
        }
    Queue(fastcgi::kGetValuesResult, fastcgi::kManagementId, result);
    return;
  }
  // One request at a time on a connection: a second one in flight is
  // refused, and its records that follow are ignored.
  if (header.type == fastcgi::kBeginRequest && fId != 0 && header.requestId != fId)
    QueueEndRequest(header.requestId, fastcgi::kCantMultiplexConnection);
}

void TFastCGIConnection::Queue(uint8_t type, uint16_t id, std::string_view content) {
  fStream.AppendRecord(type, id, content);
  if (fStream.Pending() >= kSendAt) Send();
}

void TFastCGIConnection::QueueEndRequest(uint16_t id, uint8_t protocolStatus) {
  // appStatus 0 (four bytes), the protocol status, three reserved bytes.
  const char body[8] = {0, 0, 0, 0, char(protocolStatus), 0, 0, 0};
  Queue(fastcgi::kEndRequest, id, std::string_view(body, sizeof body));
}

bool TFastCGIConnection::Send() {
  if (fLost) return false;
  if (!fStream.Flush(fAnswerPace)) Lose();
  return !fLost;
}

void TFastCGIConnection::SendNow() {
  if (fLost || fStream.Pending() == 0) return;
  TFastCGITransferPace pace = NewPace(fLimits, kSending);
  if (!fStream.Flush(pace)) Lose();
}

int64_t TFastCGIConnection::ReadBody(char* buffer, int64_t count) {
  if (count <= 0 || fBodyEnded) return 0;
  if (fLost || fAborted) return -1;
  for (;;) {
    TFastCGIRecordHeader header;
    std::string_view content;
    while (fStream.Front(header, content)) {
      if (header.version != fastcgi::kVersion) {
        Lose();
        return -1;
      }
      if (header.requestId == fId && header.type == fastcgi::kStdin) {
        if (content.empty()) {
          fStream.DropFront();
          fBodyEnded = true;
          return 0;
        }
        const size_t n = std::min(size_t(count), content.size() - fDelivered);
        std::memcpy(buffer, content.data() + fDelivered, n);
        fDelivered += n;
        if (fDelivered == content.size()) {
          fStream.DropFront();
          fDelivered = 0;
        }
        return int64_t(n);
      }
      if (header.requestId == fId && header.type == fastcgi::kAbortRequest) {
        fStream.DropFront();
        fAborted = true;
        return -1;
      }
      TakeOtherRecord(header, content);
      fStream.DropFront();
      if (fLost) return -1;
    }
    size_t got = 0;
    switch (fStream.Receive(&got)) {
      case TFastCGIRecordStream::TReceived::Bytes:
        fBodyPace.Moved(int64_t(got));
        break;
      case TFastCGIRecordStream::TReceived::Nothing: {
        const int timeout = fBodyPace.PollTimeout();
        if (timeout == 0) {
          Lose();  // stalled: the body's allowance is spent
          return -1;
        }
        const auto before = Clock::now();
        fStream.WaitReadable(timeout);
        fBodyPace.Waited(Clock::now() - before);
        break;
      }
      case TFastCGIRecordStream::TReceived::Full:
      case TFastCGIRecordStream::TReceived::Ended:
      case TFastCGIRecordStream::TReceived::Failed:
        Lose();
        return -1;
    }
  }
}

bool TFastCGIConnection::WriteStream(uint8_t type, std::string_view bytes) {
  if (fLost || fAborted) return false;
  // An empty record would end the stream.
  if (bytes.empty()) return true;
  fStream.AppendStream(type, fId, bytes);
  if (type == fastcgi::kStderr) fErrorsSent = true;
  return fStream.Pending() < kSendAt || Send();
}

void TFastCGIConnection::SkipBody() {
  char buffer[16 * 1024];
  while (ReadBody(buffer, sizeof buffer) > 0) {
  }
}

bool TFastCGIConnection::EndRequest(uint8_t protocolStatus) {
  // On a kept connection the request ends once its body is in, whether it
  // was read or not: the web server's next request follows it, and until
  // then the request and what it holds (its login's connection) are in hand.
  if (fKeep && protocolStatus == fastcgi::kRequestComplete) SkipBody();
  if (!fLost) {
    if (protocolStatus == fastcgi::kRequestComplete && !fAborted) {
      fStream.AppendStream(fastcgi::kStdout, fId, {});
      if (fErrorsSent) fStream.AppendStream(fastcgi::kStderr, fId, {});
    }
    QueueEndRequest(fId, protocolStatus);
    Send();
  }
  const bool delivered = !fLost && !fAborted;
  const auto now = Clock::now();
  Finish(now);
  // The next request may have come already, right behind this one.
  Advance(now);
  return delivered;
}

void TFastCGIConnection::ForgetRequest() {
  fLastId = fId;
  fId = 0;
  fRole = 0;
  fRefusal = TRefusal::None;
  fParams.Clear();
  fDelivered = 0;
  fStream.Trim();
}

void TFastCGIConnection::Finish(Clock::time_point now) {
  const bool keep = fKeep && !fLost;
  fPeerDone = fBodyEnded;
  ForgetRequest();
  if (fLost) return Close();
  if (keep) {
    fState = TState::Waiting;
    fFresh = false;
    fIdleSince = now;
    return;
  }
  fState = TState::Closing;
  fClosingSince = now;
  DrainClosing();
  if (fState == TState::Closing) fStream.ShutdownOutput();
}

void TFastCGIConnection::DrainClosing() {
  for (int reads = 0;; ++reads) {
    TFastCGIRecordHeader header;
    std::string_view content;
    while (fStream.Front(header, content)) {
      if (header.type == fastcgi::kStdin && header.requestId == fLastId && content.empty()) fPeerDone = true;
      fStream.DropFront();
    }
    // Whatever comes after the end of the body is no concern of this
    // connection's any more.
    if (fPeerDone) {
      fStream.DropBuffered();
      return Close();
    }
    if (reads == kReadsPerTurn) return;
    switch (fStream.Receive()) {
      case TFastCGIRecordStream::TReceived::Bytes:
        break;
      case TFastCGIRecordStream::TReceived::Nothing:
        return;
      case TFastCGIRecordStream::TReceived::Full:
        fStream.DropBuffered();
        break;
      case TFastCGIRecordStream::TReceived::Ended:
      case TFastCGIRecordStream::TReceived::Failed:
        return Close();
    }
  }
}

}  // namespace nemvo
