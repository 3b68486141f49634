#include "db/WriterThread.h"

#include <time.h>

namespace nemvo {

double LocalDateTimeNow() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  const double seconds = double(now.tv_sec) + double(local.tm_gmtoff) + double(now.tv_nsec) / 1e9;
  constexpr double UnixEpochDays = 25569.0;  // 1 January 1970 counted from 30 December 1899
  return UnixEpochDays + seconds / 86400.0;
}

TWriterThread::TWriterThread(TTraceChannel& channel) : fChannel(channel), fThread([this] { Run(); }) {}

TWriterThread::~TWriterThread() { Stop(); }

void TWriterThread::WriteSQLData(std::string text, TTraceFlag flag) {
  if (fChannel.MonitorCount() == 0) return;
  {
    std::lock_guard guard(fLock);
    if (fStopping) return;
    fQueue.push_back({std::move(text), flag, LocalDateTimeNow()});
  }
  fWake.notify_one();
}

void TWriterThread::Stop() {
  {
    std::lock_guard guard(fLock);
    if (!fStopping) {
      fStopping = true;
      fStopDeadline = TTraceChannel::Clock::now() + MessageTimeout;
    }
  }
  fWake.notify_one();
  if (fThread.joinable()) fThread.join();
}

void TWriterThread::Run() {
  for (;;) {
    Message message;
    TTraceChannel::Clock::time_point deadline;
    {
      std::unique_lock guard(fLock);
      // Sleeps until there is work or the end: no polling, and stopping
      // wakes it at once.
      fWake.wait(guard, [this] { return fStopping || !fQueue.empty(); });
      if (fQueue.empty()) return;
      const auto now = TTraceChannel::Clock::now();
      if (fStopping && now >= fStopDeadline) {
        fQueue.clear();
        return;
      }
      message = std::move(fQueue.front());
      fQueue.pop_front();
      deadline = now + MessageTimeout;
      if (fStopping) deadline = std::min(deadline, fStopDeadline);
    }
    if (fChannel.MonitorCount() == 0) continue;  // the readers left meanwhile
    fChannel.WriteMessage(message.text, message.flag, message.timeStamp, MessageTimeout, deadline);
  }
}

}  // namespace nemvo
