#pragma once
// The trace hook's background writer: takes messages from the process's
// threads and hands them to the readers on the shared channel, so that a
// database error never waits for a trace reader, nor for the channel's
// objects. The channel is opened (and opened anew when another process has
// shortened it under this one) on the writer's own thread only: a request's
// thread does no more than put the message in a bounded queue.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <time.h>

#include "db/TraceAccess.h"
#include "db/TraceChannel.h"
#include "db/TraceFlags.h"

namespace nemvo {

class TWriterThread {
 public:
  // How long a message may wait for the readers (and the channel) before it
  // is dropped, and how long stopping may take at most.
  static constexpr auto MessageTimeout = std::chrono::seconds(1);
  // The queue's bounds: past either, the oldest messages are dropped (and
  // counted). A reader that registers and never reads holds each message
  // for MessageTimeout, and errors may come faster than that.
  static constexpr size_t MaxQueued = 64;
  static constexpr size_t MaxQueuedBytes = 256 * 1024;
  // After a failed open, or a channel lost under this process, the next try
  // comes no sooner than this: messages meanwhile are dropped at once.
  static constexpr auto ReopenInterval = std::chrono::seconds(5);
  // How long AwaitTraceChannelLook waits for the writers' first look at the
  // channel. The look itself never waits, so this bound is for a loaded
  // machine.
  static constexpr auto FirstLookWait = std::chrono::milliseconds(100);

  // Told once per process why the channel cannot be used (a line for the
  // program's standard error).
  using Reporter = std::function<void(const std::string& text)>;

  // Messages go to the channel `channelName`, opened with `access` at the
  // first message, each headed by "[Application: `applicationTitle`]".
  TWriterThread(std::string channelName, TTraceAccess access, std::string applicationTitle, Reporter report);
  ~TWriterThread();
  TWriterThread(const TWriterThread&) = delete;
  TWriterThread& operator=(const TWriterThread&) = delete;

  // Queues the message, stamped with the current time; never waits for
  // anything but the queue's own lock.
  void WriteSQLData(std::string text, TTraceFlag flag);
  // The channel is opened with `access` from the next message on (at once,
  // when it differs from the current one); off closes it.
  void SetAccess(const TTraceAccess& access);
  // Delivers what readers take within MessageTimeout, drops the rest, and
  // ends the thread. Returns at once when nothing is queued.
  void Stop();

  // The messages queued now, and the most that ever were.
  size_t Queued() const;
  size_t PeakQueued() const;

 private:
  struct Message {
    std::string text;
    TTraceFlag flag;
    timespec time;
  };
  void Run();
  // The channel, opened when it is not and may be tried; null otherwise.
  TTraceChannel* Channel(const TTraceAccess& access, TTraceChannel::Clock::time_point now);
  void Deliver(Message& message, TTraceChannel::Clock::time_point deadline);
  // Brings this writer's part of the process's count of messages in hand up
  // to date; under fLock.
  void Recount();
  // Counts this writer among those AwaitTraceChannelLook waits for, or not;
  // under fLock.
  void LookPending(bool pending);

  const std::string fChannelName;
  const std::string fApplicationTitle;
  const Reporter fReport;

  mutable std::mutex fLock;
  std::condition_variable fWake;
  std::deque<Message> fQueue;
  size_t fQueuedBytes = 0;
  size_t fPeakQueued = 0;
  uint64_t fDropped = 0;  // since the last message that went through
  TTraceAccess fAccess;
  bool fAccessChanged = false;
  bool fLooked = false;  // the channel tried once (and any failure reported)
  bool fLookPending = false;
  bool fStopping = false;
  TTraceChannel::Clock::time_point fStopDeadline{};
  bool fDelivering = false;  // a message taken from the queue is being handed over
  long fCounted = 0;         // this writer's part of the process's count

  // The writer thread's own.
  std::unique_ptr<TTraceChannel> fChannel;
  TTraceChannel::Clock::time_point fNextOpen{};
  bool fReported = false;

  std::thread fThread;  // last: started once everything above is in place
};

// Waits (FirstLookWait at most) until every writer that was given a message
// has had its first look at the channel, and so has said why it cannot be
// used, if it cannot. A CGI program calls it after its answer and before it
// ends its standard error: the look runs while the answer is made, not
// before it.
void AwaitTraceChannelLook();

// Whether any writer of this process holds a message (queued, or being
// handed to the readers). Safe in a signal handler: a process asked to end
// after its answer ends at once only when none is.
bool TraceMessagesInHand();

// The current local date and time as days since 30 December 1899.
double LocalDateTimeNow();
// The same for the moment `time` (CLOCK_REALTIME).
double LocalDateTime(const timespec& time);

}  // namespace nemvo
