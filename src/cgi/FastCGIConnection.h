#pragma once
// One web server connection as a FastCGI worker sees it, from its accept to
// its close: requests one after another (several when the web server keeps
// the connection, also when it sends the next right behind the last), one at
// a time. Between requests it is read without waiting, as its bytes come,
// so that a worker can hold several and serve whichever has a whole request
// head; while its request is served, its body is read and its answer written
// within the limits' pace. Management records are answered whenever they
// come, a second request while one is in flight is refused (no multiplexing),
// roles other than responder are refused.
#include <chrono>
#include <cstdint>
#include <string_view>

#include "cgi/FastCGILimits.h"
#include "cgi/FastCGIParams.h"
#include "cgi/FastCGIRecordStream.h"
#include "cgi/FastCGITransferPace.h"

namespace nemvo {

class TFastCGIConnection {
 public:
  using Clock = std::chrono::steady_clock;

  enum class TState {
    Waiting,  // between requests, nothing of the next one yet
    Heading,  // part of the next request's head has come
    Ready,    // a request's head is whole (or refused): to be served
    Closing,  // the last answer has gone: what the peer still sends is dropped
    Closed,   // done with: to be forgotten
  };
  // Why a ready request cannot be served by the request cycle.
  enum class TRefusal {
    None,
    Role,               // not a responder: answered FCGI_UNKNOWN_ROLE
    ParamBytes,         // parameters beyond maxParamBytes: 431
    ParamCount,         // more than maxParams parameters: 431
    ParamsCut,          // the parameters' stream ended inside a pair: 400
  };

  // Takes `fd`, a non-blocking socket just accepted at `accepted`; reads
  // nothing yet. `limits` outlive the connection.
  TFastCGIConnection(int fd, const TFastCGILimits& limits, Clock::time_point accepted);
  TFastCGIConnection(const TFastCGIConnection&) = delete;
  TFastCGIConnection& operator=(const TFastCGIConnection&) = delete;

  int Fd() const { return fStream.Fd(); }
  TState State() const { return fState; }
  // When the connection is given up if it stays as it is: a head not whole
  // within ioTimeout, a kept connection idle for keepAliveTimeout, a linger
  // that has lasted its time. Clock's max: never.
  Clock::time_point Deadline() const;
  // A kept connection with nothing of a next request: it may be closed to
  // make room. The time since it became so: IdleSince.
  bool Idle() const { return fState == TState::Waiting && !fFresh; }
  Clock::time_point IdleSince() const { return fIdleSince; }
  // Lets the connection go at once (idle, past its deadline, the worker ends).
  void Close();

  // Waiting, Heading: reads what has come and takes its whole records,
  // without waiting; management records are answered at once. Closing: reads
  // and drops. Call it when the socket is readable, and after a request when
  // more may be buffered.
  void Advance(Clock::time_point now);

  // --- The request in hand (state Ready)
  uint16_t RequestId() const { return fId; }
  uint16_t Role() const { return fRole; }
  TRefusal Refusal() const { return fRefusal; }
  const TFastCGIParams& Params() const { return fParams; }
  // One read of the body, waiting within the body's pace: the number of
  // bytes read, 0 at its end, -1 when the rest cannot be had (the web server
  // went, stalled or aborted the request).
  int64_t ReadBody(char* buffer, int64_t count);
  // Appends to the answer's output (kStdout) or error (kStderr) stream,
  // sending once enough has gathered. False once the answer cannot reach the
  // web server; what is written then is dropped.
  bool WriteStream(uint8_t type, std::string_view bytes);
  // Reads the rest of the body, dropping it, within the body's pace.
  void SkipBody();
  // Ends the request: the streams' closing records (unless refused with
  // `protocolStatus` other than kRequestComplete, or aborted) and the
  // end-request record, sent, on a kept connection once the rest of the body
  // has been read. True when the web server has the whole answer.
  // Then the connection waits for the next request when the web server keeps
  // it, else closes (lingering while the web server may still be sending).
  bool EndRequest(uint8_t protocolStatus = fastcgi::kRequestComplete);

 private:
  // Takes one record that is not a part of the request in hand's head or
  // body: management records, a second request while one is in flight,
  // records of requests that are not (or no longer) in flight.
  void TakeOtherRecord(const TFastCGIRecordHeader& header, std::string_view content);
  // What taking a record between requests leaves to do.
  enum class TTake {
    Go,      // on with the next record
    Close,   // the web server broke the protocol
    Finish,  // the request in hand has ended (aborted before its head was whole)
  };
  TTake TakeHeadRecord(const TFastCGIRecordHeader& header, std::string_view content);
  // Appends a record of the protocol's own (not the answer's streams),
  // sending when much has gathered.
  void Queue(uint8_t type, uint16_t id, std::string_view content);
  void QueueEndRequest(uint16_t id, uint8_t protocolStatus);
  // Sends what is queued within the answer's pace; false when it failed
  // (the request is then lost).
  bool Send();
  // Sends what is queued when nothing else will (between requests).
  void SendNow();
  // The web server is gone, stalled or broke the protocol: nothing more
  // goes to it.
  void Lose();
  void ForgetRequest();
  // After the last answer: closes at once when the web server has sent all
  // it will, else shuts the sending side and lingers.
  void Finish(Clock::time_point now);
  // Closing: reads and drops what has come; closes once the web server has
  // sent all (the end of the last request's body, or its own close).
  void DrainClosing();
  // Waiting or Heading, after what has come was taken.
  void NoteHead(Clock::time_point now);

  TFastCGIRecordStream fStream;
  const TFastCGILimits& fLimits;
  TState fState = TState::Waiting;
  bool fFresh = true;  // no request yet: the head's time counts from the accept
  Clock::time_point fAccepted;
  Clock::time_point fIdleSince;     // a kept connection's last answer
  Clock::time_point fHeadSince;     // the first byte of the head coming now
  Clock::time_point fClosingSince;  // the last answer on a closing connection
  bool fLost = false;
  // Closing: the request whose body's end says that the web server has sent all.
  uint16_t fLastId = 0;
  bool fPeerDone = false;

  // The request in hand; fId 0: none.
  uint16_t fId = 0;
  uint16_t fRole = 0;
  bool fKeep = false;
  TRefusal fRefusal = TRefusal::None;
  TFastCGIParams fParams;
  bool fBodyEnded = false;
  bool fAborted = false;
  bool fErrorsSent = false;
  size_t fDelivered = 0;  // of the body record at the front of the stream
  TFastCGITransferPace fBodyPace, fAnswerPace;
};

}  // namespace nemvo
