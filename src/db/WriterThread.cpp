#include "db/WriterThread.h"

#include <atomic>

#include "base/Exception.h"
#include "platform/TerminationRequests.h"

namespace nemvo {

double LocalDateTime(const timespec& time) {
  tm local;
  localtime_r(&time.tv_sec, &local);
  const double seconds = double(time.tv_sec) + double(local.tm_gmtoff) + double(time.tv_nsec) / 1e9;
  constexpr double UnixEpochDays = 25569.0;  // 1 January 1970 counted from 30 December 1899
  return UnixEpochDays + seconds / 86400.0;
}

double LocalDateTimeNow() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return LocalDateTime(now);
}

TWriterThread::TWriterThread(std::string channelName, TTraceAccess access, std::string applicationTitle,
                             Reporter report)
    : fChannelName(std::move(channelName)),
      fApplicationTitle(std::move(applicationTitle)),
      fReport(std::move(report)),
      fAccess(std::move(access)),
      fThread([this] { Run(); }) {}

namespace {
std::atomic<long> gInHand{0};
static_assert(std::atomic<long>::is_always_lock_free);

// Writers that hold a message and have not yet had their first look at the
// channel.
struct PendingLooks {
  std::mutex lock;
  std::condition_variable done;
  long count = 0;
};
// Never destroyed: a process may end (exit's destructors) while a writer
// thread still runs.
PendingLooks& Looks() {
  static PendingLooks* const looks = new PendingLooks;
  return *looks;
}
}  // namespace

void AwaitTraceChannelLook() {
  PendingLooks& looks = Looks();
  std::unique_lock guard(looks.lock);
  looks.done.wait_for(guard, TWriterThread::FirstLookWait, [&looks] { return looks.count == 0; });
}

void TWriterThread::LookPending(bool pending) {
  if (pending == fLookPending) return;
  fLookPending = pending;
  PendingLooks& looks = Looks();
  {
    std::lock_guard guard(looks.lock);
    looks.count += pending ? 1 : -1;
  }
  if (!pending) looks.done.notify_all();
}

bool TraceMessagesInHand() { return gInHand.load(std::memory_order_acquire) > 0; }

void TWriterThread::Recount() {
  const long inHand = long(fQueue.size()) + (fDelivering ? 1 : 0);
  const long all = gInHand.fetch_add(inHand - fCounted, std::memory_order_acq_rel) + (inHand - fCounted);
  fCounted = inHand;
  // A process asked to end after its answer waited for the messages in hand
  // (platform/TerminationRequests.h): the last one is gone.
  if (all == 0) platform::EndIfAskedAndMay();
}

TWriterThread::~TWriterThread() {
  Stop();
  std::lock_guard guard(fLock);
  fQueue.clear();
  fDelivering = false;
  Recount();
  LookPending(false);
}

void TWriterThread::WriteSQLData(std::string text, TTraceFlag flag) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  {
    std::lock_guard guard(fLock);
    if (fStopping || !fAccess.enabled) return;
    fQueuedBytes += text.size();
    fQueue.push_back({std::move(text), flag, now});
    // The oldest go first; the newest stays whatever its size.
    while (fQueue.size() > MaxQueued || (fQueue.size() > 1 && fQueuedBytes > MaxQueuedBytes)) {
      fQueuedBytes -= fQueue.front().text.size();
      fQueue.pop_front();
      ++fDropped;
    }
    fPeakQueued = std::max(fPeakQueued, fQueue.size());
    Recount();
    if (!fLooked) LookPending(true);
  }
  fWake.notify_one();
}

void TWriterThread::SetAccess(const TTraceAccess& access) {
  {
    std::lock_guard guard(fLock);
    if (access == fAccess) return;
    fAccess = access;
    fAccessChanged = true;
  }
  fWake.notify_one();
}

size_t TWriterThread::Queued() const {
  std::lock_guard guard(fLock);
  return fQueue.size();
}

size_t TWriterThread::PeakQueued() const {
  std::lock_guard guard(fLock);
  return fPeakQueued;
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

TTraceChannel* TWriterThread::Channel(const TTraceAccess& access, TTraceChannel::Clock::time_point now) {
  if (fChannel && fChannel->Lost()) {
    // Shortened under this process by somebody: its memory is gone here.
    // Opened anew (sized again) at a later message, not at every one.
    fChannel.reset();
    fNextOpen = now + ReopenInterval;
  }
  if (fChannel) return fChannel.get();
  if (!access.enabled || now < fNextOpen) return nullptr;
  try {
    fChannel = TTraceChannel::Open(fChannelName, access);
  } catch (const Exception& e) {
    fNextOpen = now + ReopenInterval;
    // Said once: the next tries will most likely fail the same way, and a
    // busy program would fill its log with it.
    if (!fReported && fReport) fReport(e.Message());
    fReported = true;
  } catch (...) {
    fNextOpen = now + ReopenInterval;  // out of memory, say: tracing waits
  }
  return fChannel.get();
}

void TWriterThread::Deliver(Message& message, TTraceChannel::Clock::time_point deadline) {
  TTraceAccess access;
  bool changed = false;
  uint64_t dropped = 0;
  {
    std::lock_guard guard(fLock);
    access = fAccess;
    changed = fAccessChanged;
    fAccessChanged = false;
    dropped = fDropped;
  }
  if (changed) fChannel.reset();
  TTraceChannel* channel = Channel(access, TTraceChannel::Clock::now());
  {
    std::lock_guard guard(fLock);
    fLooked = true;
    LookPending(false);
  }
  // Without a channel, or without a reader, the message goes nowhere; nobody
  // misses it.
  if (!channel || channel->MonitorCount() == 0) return;
  std::string text = "\r\n[Application: " + fApplicationTitle + "]\r\n";
  if (dropped) text += "[" + std::to_string(dropped) + " earlier messages dropped]\r\n";
  text += message.text;
  const bool delivered = channel->WriteMessage(text, message.flag, LocalDateTime(message.time), MessageTimeout, deadline);
  std::lock_guard guard(fLock);
  if (delivered)
    fDropped -= dropped;  // the ones it told of; more may have gone meanwhile
  else
    ++fDropped;
}

void TWriterThread::Run() {
  for (;;) {
    Message message;
    TTraceChannel::Clock::time_point deadline;
    {
      std::unique_lock guard(fLock);
      // Sleeps until there is work, a change of access or the end: no
      // polling, and stopping wakes it at once.
      fWake.wait(guard, [this] { return fStopping || fAccessChanged || !fQueue.empty(); });
      if (fQueue.empty()) {
        if (fStopping) return;
        // Access changed with nothing to send: let go of the old channel.
        fAccessChanged = false;
        guard.unlock();
        fChannel.reset();
        continue;
      }
      const auto now = TTraceChannel::Clock::now();
      if (fStopping && now >= fStopDeadline) {
        fQueue.clear();
        fQueuedBytes = 0;
        Recount();
        return;
      }
      message = std::move(fQueue.front());
      fQueue.pop_front();
      fQueuedBytes -= message.text.size();
      fDelivering = true;
      Recount();
      deadline = now + MessageTimeout;
      if (fStopping) deadline = std::min(deadline, fStopDeadline);
    }
    Deliver(message, deadline);
    std::lock_guard guard(fLock);
    fDelivering = false;
    Recount();
  }
}

}  // namespace nemvo
