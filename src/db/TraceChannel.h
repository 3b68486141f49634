#pragma once
// The machine-wide SQL trace channel: a 1024-byte shared memory carrying one
// chunk of message text at a time, a mutex guarding it and four events for
// the hand-over between one writing process and the registered readers.
//
// Layout of the memory (native byte order):
//   0     1000  chunk of message text
//   1000  4     chunk length in bytes
//   1004  8     time stamp: local time in days since 30 December 1899
//   1012  4     TTraceFlag ordinal
//   1016  4     reader count: readers yet to take the current chunk
//   1020  4     monitor count: registered readers
//
// Hand-over: a writer takes WriteFinished (set while the channel is free) for
// the whole message, so that messages of different processes never
// interleave. For each chunk it fills the memory under the mutex, sets the
// reader count to the monitor count and sets Write; every reader takes the
// chunk under the mutex, counts itself off, sets Read, and the last one sets
// ReadFinished. A chunk shorter than 1000 bytes ends a message (so a message
// of exactly 1000·n bytes is followed by an empty chunk). Every wait is
// bounded: a message that the readers do not take in time is dropped.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "db/TraceFlags.h"
#include "platform/SharedChannel.h"

namespace nemvo {

struct TTraceChunk {
  std::string text;
  double timeStamp = 0;
  int32_t flag = 0;
};

class TTraceChannel {
 public:
  using Clock = platform::SharedClock;
  static constexpr size_t MemorySize = 1024;
  static constexpr size_t ChunkSize = 1000;
  static constexpr size_t LengthOffset = 1000;
  static constexpr size_t TimeStampOffset = 1004;
  static constexpr size_t FlagOffset = 1012;
  static constexpr size_t ReaderCountOffset = 1016;
  static constexpr size_t MonitorCountOffset = 1020;

  // "IB.SQL.MONITOR", or the value of NEMVO_TRACE_CHANNEL, which lets tests
  // and side-by-side installations keep channels of their own.
  static std::string DefaultName();
  static platform::SharedChannelNames ObjectNames(const std::string& baseName);

  // Creates or opens the channel's objects; raises ceSharedResourceFailed
  // with the system's error code when one of them fails.
  static std::unique_ptr<TTraceChannel> Open(const std::string& baseName = DefaultName());

  int32_t MonitorCount() const;
  int32_t ReaderCount() const;

  // Writer side: hands the message over chunk by chunk. Waits for the
  // channel at most `channelWait` and for the readers of each chunk until
  // `deadline`; false when the message (or its rest) was dropped.
  bool WriteMessage(const std::string& text, TTraceFlag flag, double timeStamp, Clock::duration channelWait,
                    Clock::time_point deadline);

  // Reader side. Registering counts this process among the monitors; only
  // chunks written after that reach it.
  bool RegisterReader();
  void UnregisterReader();
  // The next chunk, or nothing when none arrived before `deadline`.
  std::optional<TTraceChunk> ReadChunk(Clock::time_point deadline);

  // Sets both counts to 0: the repair for readers that died registered.
  void ResetCounts();

 private:
  explicit TTraceChannel(std::unique_ptr<platform::TSharedChannel> channel);
  int32_t LoadCount(size_t offset) const;
  void StoreCount(size_t offset, int32_t value);
  bool PublishChunk(const char* text, size_t length, TTraceFlag flag, double timeStamp, Clock::time_point deadline);

  std::unique_ptr<platform::TSharedChannel> fChannel;
  bool fRegistered = false;
  uint64_t fLastGeneration = 0;
};

}  // namespace nemvo
