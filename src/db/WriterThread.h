#pragma once
// The trace hook's background writer: takes messages from the process's
// threads and hands them to the readers on the shared channel, so that a
// database error never waits for a trace reader.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "db/TraceChannel.h"
#include "db/TraceFlags.h"

namespace nemvo {

class TWriterThread {
 public:
  // How long a message may wait for the readers (and the channel) before it
  // is dropped, and how long stopping may take at most.
  static constexpr auto MessageTimeout = std::chrono::seconds(1);

  // `channel` outlives the writer.
  explicit TWriterThread(TTraceChannel& channel);
  ~TWriterThread();
  TWriterThread(const TWriterThread&) = delete;
  TWriterThread& operator=(const TWriterThread&) = delete;

  // Queues the message, stamped with the current local time, when a reader
  // is registered; otherwise drops it at once.
  void WriteSQLData(std::string text, TTraceFlag flag);
  // Delivers what readers take within MessageTimeout, drops the rest, and
  // ends the thread. Returns at once when nothing is queued.
  void Stop();

 private:
  struct Message {
    std::string text;
    TTraceFlag flag;
    double timeStamp;
  };
  void Run();

  TTraceChannel& fChannel;
  std::mutex fLock;
  std::condition_variable fWake;
  std::deque<Message> fQueue;
  bool fStopping = false;
  TTraceChannel::Clock::time_point fStopDeadline{};
  std::thread fThread;
};

// The current local date and time as days since 30 December 1899.
double LocalDateTimeNow();

}  // namespace nemvo
