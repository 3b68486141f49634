#pragma once
// A trace reader: registers on the shared trace channel and gives back the
// messages that writers hand over, reassembled from their chunks.
#include <memory>
#include <optional>
#include <string>

#include "db/TraceChannel.h"

namespace nemvo {

struct TTraceMessage {
  std::string text;
  double timeStamp = 0;  // local time, days since 30 December 1899
  int32_t flag = 0;      // TTraceFlag ordinal
};

class TTraceReader {
 public:
  // Opens the channel and registers; raises ceSharedResourceFailed when the
  // channel cannot be opened or has no free reader slot.
  explicit TTraceReader(const std::string& channelName = TTraceChannel::DefaultName());
  // Unregisters.
  ~TTraceReader();
  TTraceReader(const TTraceReader&) = delete;
  TTraceReader& operator=(const TTraceReader&) = delete;

  // The next whole message, or nothing when none completed before `deadline`.
  // A channel lost under the reader (TTraceChannel::Lost) is opened and
  // registered on anew.
  std::optional<TTraceMessage> ReadMessage(TTraceChannel::Clock::time_point deadline);

  TTraceChannel& Channel() { return *fChannel; }

 private:
  std::string fChannelName;
  std::unique_ptr<TTraceChannel> fChannel;
  std::optional<TTraceMessage> fPartial;  // chunks of a message still arriving
  std::optional<TTraceChunk> fHeld;       // first chunk of the next message
};

}  // namespace nemvo
