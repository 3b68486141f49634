#include "db/TraceChannel.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "db/ErrorReporting.h"
#include "platform/Environment.h"
#include "platform/SystemError.h"

namespace nemvo {

namespace {

// Locking the data mutex never waits longer than this; a peer that holds it
// longer is broken and the operation gives up.
constexpr auto MutexWait = std::chrono::seconds(1);

class TChannelLock {
 public:
  TChannelLock(platform::TSharedMutex& mutex, platform::SharedClock::time_point deadline)
      : fMutex(mutex), fLocked(mutex.Lock(deadline)) {}
  ~TChannelLock() {
    if (fLocked) fMutex.Unlock();
  }
  explicit operator bool() const { return fLocked; }

 private:
  platform::TSharedMutex& fMutex;
  bool fLocked;
};

}  // namespace

std::string TTraceChannel::DefaultName() {
  std::string name = platform::EnvironmentVariable("NEMVO_TRACE_CHANNEL");
  return name.empty() ? "IB.SQL.MONITOR" : name;
}

platform::SharedChannelNames TTraceChannel::ObjectNames(const std::string& baseName) {
  return {baseName + ".SharedMem4_1",         baseName + ".Mutex4_1",     baseName + ".WriteEvent4_1",
          baseName + ".WriteFinishedEvent4_1", baseName + ".ReadEvent4_1", baseName + ".ReadFinishedEvent4_1"};
}

std::unique_ptr<TTraceChannel> TTraceChannel::Open(const std::string& baseName) {
  auto shared = platform::OpenSharedChannel(ObjectNames(baseName), MemorySize);
  if (!shared) RaiseClientError(ClientErrorKind::ceSharedResourceFailed, platform::LastErrorCode());
  std::unique_ptr<TTraceChannel> channel(new TTraceChannel(std::move(shared)));
  if (channel->fChannel->memoryCreated) {
    channel->StoreCount(MonitorCountOffset, 0);
    channel->StoreCount(ReaderCountOffset, 0);
    channel->StoreCount(LengthOffset, 0);
  } else {
    TChannelLock lock(*channel->fChannel->mutex, Clock::now() + MutexWait);
    if (lock) {
      if (channel->MonitorCount() < 0) channel->StoreCount(MonitorCountOffset, 0);
      if (channel->ReaderCount() < 0) channel->StoreCount(ReaderCountOffset, 0);
    }
  }
  return channel;
}

TTraceChannel::TTraceChannel(std::unique_ptr<platform::TSharedChannel> channel) : fChannel(std::move(channel)) {}

int32_t TTraceChannel::LoadCount(size_t offset) const {
  auto* word = reinterpret_cast<int32_t*>(fChannel->memory->Data() + offset);
  return std::atomic_ref<int32_t>(*word).load();
}

void TTraceChannel::StoreCount(size_t offset, int32_t value) {
  auto* word = reinterpret_cast<int32_t*>(fChannel->memory->Data() + offset);
  std::atomic_ref<int32_t>(*word).store(value);
}

int32_t TTraceChannel::MonitorCount() const { return LoadCount(MonitorCountOffset); }
int32_t TTraceChannel::ReaderCount() const { return LoadCount(ReaderCountOffset); }

bool TTraceChannel::WriteMessage(const std::string& text, TTraceFlag flag, double timeStamp,
                                 Clock::duration channelWait, Clock::time_point deadline) {
  // Whether or not the channel came free in time, go ahead: a writer that
  // died holding it never gives it back, and waiting for it would drop every
  // message from then on.
  fChannel->writeFinishedEvent->WaitAndReset(std::min(Clock::now() + channelWait, deadline));
  bool delivered = true;
  size_t offset = 0;
  for (;;) {
    const size_t length = std::min(ChunkSize, text.size() - offset);
    if (!PublishChunk(text.data() + offset, length, flag, timeStamp, deadline)) {
      delivered = false;
      break;
    }
    offset += length;
    if (length < ChunkSize) break;
  }
  fChannel->writeFinishedEvent->Set();
  return delivered;
}

bool TTraceChannel::PublishChunk(const char* text, size_t length, TTraceFlag flag, double timeStamp,
                                 Clock::time_point deadline) {
  platform::TSharedChannel& c = *fChannel;
  {
    TChannelLock lock(*c.mutex, std::min(Clock::now() + MutexWait, deadline));
    if (!lock) return false;
    const int32_t monitors = MonitorCount();
    if (monitors <= 0) return false;  // the last reader has gone
    unsigned char* data = c.memory->Data();
    std::memcpy(data, text, length);
    const int32_t length32 = static_cast<int32_t>(length);
    const int32_t flag32 = static_cast<int32_t>(flag);
    std::memcpy(data + LengthOffset, &length32, sizeof length32);
    std::memcpy(data + TimeStampOffset, &timeStamp, sizeof timeStamp);
    std::memcpy(data + FlagOffset, &flag32, sizeof flag32);
    StoreCount(ReaderCountOffset, monitors);
    c.readFinishedEvent->Reset();
    c.readEvent->Reset();
    // Set under the mutex: a reader registering now either counts for this
    // chunk and sees it, or does neither.
    c.writeEvent->Set();
  }
  const bool taken = c.readFinishedEvent->WaitFor(deadline);
  c.writeEvent->Reset();
  return taken;
}

bool TTraceChannel::RegisterReader() {
  if (fRegistered) return true;
  TChannelLock lock(*fChannel->mutex, Clock::now() + MutexWait);
  if (!lock) return false;
  StoreCount(MonitorCountOffset, std::max(MonitorCount(), 0) + 1);
  fLastGeneration = fChannel->writeEvent->Generation();
  fRegistered = true;
  return true;
}

void TTraceChannel::UnregisterReader() {
  if (!fRegistered) return;
  fRegistered = false;
  TChannelLock lock(*fChannel->mutex, Clock::now() + MutexWait);
  if (!lock) return;
  StoreCount(MonitorCountOffset, std::max(MonitorCount() - 1, 0));
  // A chunk on offer that this reader has not taken must not wait for it.
  if (fChannel->writeEvent->IsSet() && fChannel->writeEvent->Generation() != fLastGeneration) {
    const int32_t left = ReaderCount() - 1;
    StoreCount(ReaderCountOffset, std::max(left, 0));
    if (left <= 0) fChannel->readFinishedEvent->Set();
  }
}

std::optional<TTraceChunk> TTraceChannel::ReadChunk(Clock::time_point deadline) {
  platform::TSharedChannel& c = *fChannel;
  while (c.writeEvent->WaitForGenerationAfter(fLastGeneration, deadline)) {
    TChannelLock lock(*c.mutex, std::max(deadline, Clock::now() + MutexWait));
    if (!lock) return std::nullopt;
    const uint64_t generation = c.writeEvent->Generation();
    if (generation == fLastGeneration) continue;
    fLastGeneration = generation;
    const unsigned char* data = c.memory->Data();
    int32_t length = 0;
    TTraceChunk chunk;
    std::memcpy(&length, data + LengthOffset, sizeof length);
    std::memcpy(&chunk.timeStamp, data + TimeStampOffset, sizeof chunk.timeStamp);
    std::memcpy(&chunk.flag, data + FlagOffset, sizeof chunk.flag);
    // Any account can write this memory: never trust the length.
    length = std::clamp<int32_t>(length, 0, static_cast<int32_t>(ChunkSize));
    chunk.text.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    const int32_t left = ReaderCount() - 1;
    StoreCount(ReaderCountOffset, std::max(left, 0));
    c.readEvent->Set();
    if (left <= 0) c.readFinishedEvent->Set();
    return chunk;
  }
  return std::nullopt;
}

void TTraceChannel::ResetCounts() {
  TChannelLock lock(*fChannel->mutex, Clock::now() + MutexWait);
  StoreCount(MonitorCountOffset, 0);
  StoreCount(ReaderCountOffset, 0);
  fChannel->readFinishedEvent->Set();
  fChannel->writeFinishedEvent->Set();
}

}  // namespace nemvo
