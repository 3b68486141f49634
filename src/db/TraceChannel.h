#pragma once
// The machine-wide SQL trace channel: a 1024-byte shared memory carrying one
// chunk of message text at a time, handed from one writing process to the
// registered readers with five control objects.
//
// Layout of the memory (native byte order):
//   0     1000  chunk of message text
//   1000  4     chunk length in bytes
//   1004  8     time stamp: local time in days since 30 December 1899
//   1012  4     TTraceFlag ordinal
//   1016  4     reader count: readers yet to take the current chunk
//   1020  4     monitor count: registered readers
//
// The control objects (each ControlSize bytes, zero-filled when new):
//   Mutex                the lock over the memory (platform::TSharedLock)
//   WriteFinishedEvent   the lock a writer holds for a whole message, so
//                        that messages of different processes never
//                        interleave ("set" while no writer holds it)
//   WriteEvent           word 0: the number of the chunk on offer; readers
//                        wait for it to change
//   ReadEvent            word 0: a count that readers advance after taking a
//                        chunk; the writer waits for it to change
//   ReadFinishedEvent    the reader slots: a reader holds a byte lock on byte
//                        i of this object's file for as long as it runs, and
//                        word SlotWordsOffset + 4i holds the number of the
//                        last chunk it took
//
// Hand-over: a writer fills the memory under the lock, sets the reader count
// to the number of live readers and advances the chunk number; every reader
// takes the chunk under the lock, counts itself off and records the chunk
// number in its slot. The writer waits until every reader that was live when
// it offered the chunk has taken it or is gone. A chunk shorter than 1000
// bytes ends a message (so a message of exactly 1000·n bytes is followed by
// an empty chunk).
//
// Whether a reader lives is the kernel's word (its slot's byte lock), never
// the counts in the memory: a reader killed while registered holds nobody
// up, and the next reader or writer puts the monitor count right. Every wait
// is bounded: a message that the readers do not take in time is dropped.
// Everything read from the memory is checked before use, so that a process
// of another account that scribbles over it can make messages be lost or
// garbled, nothing more.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "db/TraceAccess.h"
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

  static constexpr size_t ControlSize = 512;
  static constexpr unsigned MaxReaders = 64;
  static constexpr size_t SlotWordsOffset = 64;

  // "IB.SQL.MONITOR", or the value of NEMVO_TRACE_CHANNEL, which lets tests
  // and side-by-side installations keep channels of their own.
  static std::string DefaultName();
  static platform::SharedChannelNames ObjectNames(const std::string& baseName);

  // The access this process opens channels with when it names none: the
  // build's, unless the program set another (nemvo-trace's --group).
  static TTraceAccess DefaultAccess();
  static void SetDefaultAccess(const TTraceAccess& access);

  // Creates or opens the channel's objects with `access` (its group and
  // mode; `enabled` is the caller's affair). Never waits: objects that
  // another process holds a lease on fail at once. Raises
  // ceSharedResourceFailed with a message that says what is wrong and what
  // to do (DescribeOpenFailure) when one of them cannot be used.
  static std::unique_ptr<TTraceChannel> Open(const std::string& baseName = DefaultName());
  static std::unique_ptr<TTraceChannel> Open(const std::string& baseName, const TTraceAccess& access);

  // "no access to the trace channel NAME (objects of group G, mode 0660):
  // ask to be added to that group", and the like for each failure.
  static std::string DescribeOpenFailure(const std::string& baseName, const TTraceAccess& access,
                                         const platform::SharedOpenFailure& failure);
  ~TTraceChannel();

  // The counts as the memory holds them (see the layout).
  int32_t MonitorCount() const;
  int32_t ReaderCount() const;
  // The registered readers that are alive, as the kernel knows them.
  int32_t LiveReaderCount() const;
  // Whether one of the objects was shortened under this process: the
  // channel then does nothing more here, and its user opens it anew.
  bool Lost() const;

  // Writer side: hands the message over chunk by chunk. Waits for the
  // channel at most `channelWait` and for the readers of each chunk until
  // `deadline`; false when the message (or its rest) was dropped.
  bool WriteMessage(const std::string& text, TTraceFlag flag, double timeStamp, Clock::duration channelWait,
                    Clock::time_point deadline);

  // Reader side. Registering takes a reader slot and counts this reader
  // among the monitors; only chunks offered after that reach it. False when
  // every slot is taken.
  bool RegisterReader();
  void UnregisterReader();
  // The next chunk, or nothing when none arrived before `deadline` or a
  // signal interrupted the wait.
  std::optional<TTraceChunk> ReadChunk(Clock::time_point deadline);

  // Recounts the registered readers from their slots and clears the reader
  // count: the repair that every writer and reader also makes as it goes.
  // The number of readers found.
  int32_t RecountReaders();

 private:
  class TLock;
  explicit TTraceChannel(std::unique_ptr<platform::TSharedChannel> channel);
  int32_t LoadCount(size_t offset) const;
  void StoreCount(size_t offset, int32_t value);
  // The slots whose readers live, one bit each.
  uint64_t LiveReaders() const;
  // Sets the monitor count to the live readers and the reader count to 0;
  // under the lock. The number of live readers.
  int32_t RepairCounts();
  bool PublishChunk(const char* text, size_t length, TTraceFlag flag, double timeStamp, Clock::time_point deadline);

  std::unique_ptr<platform::TSharedChannel> fChannel;
  platform::TSharedLock fLock;
  platform::TSharedLock fMessageLock;
  std::optional<unsigned> fSlot;  // while registered
  uint32_t fLastChunk = 0;        // the number of the last chunk taken or skipped
};

}  // namespace nemvo
