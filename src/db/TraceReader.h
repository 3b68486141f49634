#pragma once
// A trace reader: registers on the shared trace channel and gives back the
// messages that writers hand over, reassembled from their chunks.
//
// Any account may write the channel, so nothing a writer does may make the
// reader hold more than one message of MaxMessageBytes or wait past its
// caller's deadline: a longer message is cut and the rest of it skipped, a
// message whose rest does not come in time is given up, and a stream of
// chunks that never ends a message still lets every call return on time.
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "db/TraceChannel.h"

namespace nemvo {

struct TTraceMessage {
  // How the message came to an end: its last chunk arrived (kWhole), it
  // reached MaxMessageBytes (kCut: the text holds the first MaxMessageBytes),
  // or its writer stopped before its end (kUnfinished: what arrived).
  enum class End { kWhole, kCut, kUnfinished };

  std::string text;
  double timeStamp = 0;  // local time, days since 30 December 1899
  int32_t flag = 0;      // TTraceFlag ordinal
  End end = End::kWhole;
};

class TTraceReader {
 public:
  // Far above any message the program writes (an error with its SQL text).
  static constexpr size_t MaxMessageBytes = 64 * 1024;
  // How long the rest of a message may take once its first chunk has come. A
  // writer gives a message up after about a second; this leaves room.
  static constexpr auto UnfinishedAfter = std::chrono::seconds(3);

  // Opens the channel and registers; raises ceSharedResourceFailed when the
  // channel cannot be opened or has no free reader slot.
  explicit TTraceReader(const std::string& channelName = TTraceChannel::DefaultName());
  // Unregisters.
  ~TTraceReader();
  TTraceReader(const TTraceReader&) = delete;
  TTraceReader& operator=(const TTraceReader&) = delete;

  // The next message, or nothing when none ended before `deadline`. A
  // channel lost under the reader (TTraceChannel::Lost) is opened and
  // registered on anew.
  std::optional<TTraceMessage> ReadMessage(TTraceChannel::Clock::time_point deadline);

  TTraceChannel& Channel() { return *fChannel; }

 private:
  using Clock = TTraceChannel::Clock;
  // Whether `chunk` carries on the message that `stamp` and `flag` name.
  static bool SameMessage(const TTraceChunk& chunk, double stamp, int32_t flag) {
    return chunk.timeStamp == stamp && chunk.flag == flag;
  }
  // Ends the message in hand as `end` and, unless its last chunk came, skips
  // whatever more of it arrives.
  TTraceMessage Finish(TTraceMessage::End end);

  std::string fChannelName;
  std::unique_ptr<TTraceChannel> fChannel;
  std::optional<TTraceMessage> fPartial;  // chunks of a message still arriving
  Clock::time_point fPartialDeadline{};   // by when its rest must have come
  std::optional<TTraceChunk> fHeld;       // first chunk of the next message
  // The stamp and flag of a message cut or given up: more chunks of it are
  // dropped as they come, until its last one or another message.
  struct Skipped {
    double timeStamp;
    int32_t flag;
  };
  std::optional<Skipped> fSkipping;
};

}  // namespace nemvo
