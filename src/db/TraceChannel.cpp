#include "db/TraceChannel.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "db/ErrorReporting.h"
#include "platform/Accounts.h"
#include "platform/Environment.h"
#include "platform/SystemError.h"

namespace nemvo {

namespace {

using platform::SharedLockResult;

// A writer never waits longer than this for the lock (and never past its
// message's deadline): a peer that holds it longer is broken or hostile.
constexpr auto WriterLockWait = std::chrono::seconds(1);
// A reader's registration and its leaving wait less: a reader asked to end
// must end promptly, and the writers put the counts right anyway.
constexpr auto RegisterLockWait = std::chrono::milliseconds(250);
constexpr auto UnregisterLockWait = std::chrono::milliseconds(50);
// How often a writer waiting for its readers looks whether they still live.
constexpr auto ReaderRecheck = std::chrono::milliseconds(10);

// The words of the control objects (see the header).
constexpr size_t ChunkNumberOffset = 0;  // WriteEvent
constexpr size_t TakenCountOffset = 0;   // ReadEvent

size_t SlotWord(unsigned slot) { return TTraceChannel::SlotWordsOffset + 4 * size_t(slot); }

std::mutex gDefaultAccessLock;
std::optional<TTraceAccess> gDefaultAccess;

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
  return text;
}

[[noreturn]] void RaiseOpenFailure(const std::string& text) {
  RaiseClientErrorText(ClientErrorKind::ceSharedResourceFailed, text);
}

}  // namespace

// The channel's lock; when its last holder died holding it, the counts it
// may have left half-changed are put right first.
class TTraceChannel::TLock {
 public:
  TLock(TTraceChannel& channel, Clock::time_point deadline) : fChannel(channel) {
    const SharedLockResult result = channel.fLock.Lock(deadline);
    fLocked = result != SharedLockResult::kTimedOut;
    if (result == SharedLockResult::kOwnerDied) channel.RepairCounts();
  }
  ~TLock() {
    if (fLocked) fChannel.fLock.Unlock();
  }
  TLock(const TLock&) = delete;
  TLock& operator=(const TLock&) = delete;
  explicit operator bool() const { return fLocked; }

 private:
  TTraceChannel& fChannel;
  bool fLocked;
};

std::string TTraceChannel::DefaultName() {
  std::string name = platform::EnvironmentVariable("NEMVO_TRACE_CHANNEL");
  return name.empty() ? "IB.SQL.MONITOR" : name;
}

platform::SharedChannelNames TTraceChannel::ObjectNames(const std::string& baseName) {
  return {baseName + ".SharedMem4_1",         baseName + ".Mutex4_1",     baseName + ".WriteEvent4_1",
          baseName + ".WriteFinishedEvent4_1", baseName + ".ReadEvent4_1", baseName + ".ReadFinishedEvent4_1"};
}

TTraceAccess TTraceChannel::DefaultAccess() {
  std::lock_guard guard(gDefaultAccessLock);
  return gDefaultAccess ? *gDefaultAccess : BuildTraceAccess();
}

void TTraceChannel::SetDefaultAccess(const TTraceAccess& access) {
  std::lock_guard guard(gDefaultAccessLock);
  gDefaultAccess = access;
}

std::string TTraceChannel::DescribeOpenFailure(const std::string& baseName, const TTraceAccess& access,
                                               const platform::SharedOpenFailure& failure) {
  using Kind = platform::SharedOpenFailure::Kind;
  const std::string channel = "the trace channel " + baseName;
  const std::string path = std::string(platform::SharedObjectDirectory) + "/" + failure.object;
  const std::string removal = " (rm " + std::string(platform::SharedObjectDirectory) + "/" + baseName + ".*)";
  const std::string found = failure.found ? path + ": owner " + platform::UserName(failure.owner) + ", group " +
                                                platform::GroupName(failure.group) + ", mode " + ModeText(failure.mode)
                                          : path;
  switch (failure.kind) {
    case Kind::kNoAccess:
      // Made for a group this account is not in: the usual case, and the
      // remedy is the administrator's.
      if (failure.found && (failure.mode & 0777) == 0660)
        return "no access to " + channel + " (objects of group " + platform::GroupName(failure.group) +
               ", mode 0660): ask to be added to that group";
      return "no access to " + channel + " (" + found + "): its owner has taken it away; an administrator can remove "
             "its objects" + removal;
    case Kind::kLeased:
      return channel + " is held by another process (a lease on " + found +
             "): messages are dropped until the kernel breaks the lease or an administrator removes the objects" +
             removal;
    case Kind::kWrongAccess:
      return channel + " is not used: " + found + ", where " + DescribeTraceAccess(access) +
             " is configured; an administrator can remove its objects" + removal;
    case Kind::kNotMember:
      return "cannot create " + channel + " for group " + access.group + ": this account is not a member of it";
    case Kind::kSystem:
      break;
  }
  return channel + " cannot be opened: " + failure.object + ": " + platform::SystemErrorText(failure.error);
}

std::unique_ptr<TTraceChannel> TTraceChannel::Open(const std::string& baseName) {
  return Open(baseName, DefaultAccess());
}

std::unique_ptr<TTraceChannel> TTraceChannel::Open(const std::string& baseName, const TTraceAccess& access) {
  platform::SharedAccess shared;
  if (!access.group.empty()) {
    shared.group = platform::GroupId(access.group);
    if (!shared.group)
      RaiseOpenFailure("the trace channel " + baseName + " is not used: its group " + access.group +
                       " does not exist");
  }
  platform::SharedOpenFailure failure;
  auto objects = platform::OpenSharedChannel(ObjectNames(baseName), MemorySize, ControlSize, shared, &failure);
  if (!objects) RaiseOpenFailure(DescribeOpenFailure(baseName, access, failure));
  std::unique_ptr<TTraceChannel> channel(new TTraceChannel(std::move(objects)));
  // A new memory is all zeros. Negative counts (which only a broken or
  // hostile peer writes) become 0 without waiting for the lock: a count
  // that is changed meanwhile is a sane one.
  for (size_t offset : {MonitorCountOffset, ReaderCountOffset}) {
    const uint32_t count = channel->fChannel->memory->Load(offset);
    if (static_cast<int32_t>(count) < 0) channel->fChannel->memory->CompareExchange(offset, count, 0);
  }
  return channel;
}

TTraceChannel::TTraceChannel(std::unique_ptr<platform::TSharedChannel> channel)
    : fChannel(std::move(channel)), fLock(*fChannel->mutex), fMessageLock(*fChannel->writeFinishedEvent) {}

TTraceChannel::~TTraceChannel() { UnregisterReader(); }

int32_t TTraceChannel::LoadCount(size_t offset) const {
  return static_cast<int32_t>(fChannel->memory->Load(offset));
}

void TTraceChannel::StoreCount(size_t offset, int32_t value) {
  fChannel->memory->Store(offset, static_cast<uint32_t>(value));
}

int32_t TTraceChannel::MonitorCount() const { return LoadCount(MonitorCountOffset); }
int32_t TTraceChannel::ReaderCount() const { return LoadCount(ReaderCountOffset); }

uint64_t TTraceChannel::LiveReaders() const {
  uint64_t live = 0;
  for (unsigned slot = 0; slot < MaxReaders; ++slot)
    if (fSlot == slot || fChannel->readFinishedEvent->ByteLockedElsewhere(slot)) live |= uint64_t(1) << slot;
  return live;
}

bool TTraceChannel::Lost() const {
  const platform::TSharedChannel& c = *fChannel;
  for (const auto* object : {&c.memory, &c.mutex, &c.writeEvent, &c.writeFinishedEvent, &c.readEvent,
                             &c.readFinishedEvent})
    if ((*object)->Lost()) return true;
  return false;
}

int32_t TTraceChannel::LiveReaderCount() const { return static_cast<int32_t>(std::popcount(LiveReaders())); }

int32_t TTraceChannel::RepairCounts() {
  const int32_t readers = LiveReaderCount();
  StoreCount(MonitorCountOffset, readers);
  StoreCount(ReaderCountOffset, 0);
  return readers;
}

bool TTraceChannel::WriteMessage(const std::string& text, TTraceFlag flag, double timeStamp,
                                 Clock::duration channelWait, Clock::time_point deadline) {
  // A writer that died holding the channel has let go of it with its death;
  // one that holds it longer than this is stuck, and the message is dropped
  // rather than mixed into the stuck one's.
  if (fMessageLock.Lock(std::min(Clock::now() + channelWait, deadline)) == SharedLockResult::kTimedOut) return false;
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
  fMessageLock.Unlock();
  return delivered;
}

bool TTraceChannel::PublishChunk(const char* text, size_t length, TTraceFlag flag, double timeStamp,
                                 Clock::time_point deadline) {
  platform::TSharedChannel& c = *fChannel;
  uint64_t waitingFor = 0;
  uint32_t chunk = 0;
  {
    TLock lock(*this, std::min(Clock::now() + WriterLockWait, deadline));
    if (!lock) return false;
    waitingFor = LiveReaders();
    const auto readers = static_cast<int32_t>(std::popcount(waitingFor));
    StoreCount(MonitorCountOffset, readers);
    if (readers == 0) {  // the last reader has gone
      StoreCount(ReaderCountOffset, 0);
      return false;
    }
    platform::TSharedMemory& memory = *c.memory;
    memory.CopyIn(0, text, length);
    memory.Store(LengthOffset, static_cast<uint32_t>(length));
    uint32_t stamp[2];
    std::memcpy(stamp, &timeStamp, sizeof stamp);
    memory.Store(TimeStampOffset, stamp[0]);
    memory.Store(TimeStampOffset + 4, stamp[1]);
    memory.Store(FlagOffset, static_cast<uint32_t>(flag));
    StoreCount(ReaderCountOffset, readers);
    chunk = c.writeEvent->Add(ChunkNumberOffset, 1);
  }
  c.writeEvent->WakeAll(ChunkNumberOffset);
  // A reader that dies is waited for no longer; but a chunk that only dead
  // readers were offered reached nobody, and is not delivered: its message
  // (and the count of dropped ones it told of) is counted as dropped.
  bool takenByOne = false;
  for (;;) {
    const uint32_t taken = c.readEvent->Load(TakenCountOffset);
    for (unsigned slot = 0; slot < MaxReaders; ++slot) {
      const uint64_t bit = uint64_t(1) << slot;
      if (!(waitingFor & bit)) continue;
      if (c.readFinishedEvent->Load(SlotWord(slot)) == chunk) {
        takenByOne = true;
        waitingFor &= ~bit;
      } else if (!c.readFinishedEvent->ByteLockedElsewhere(slot)) {
        waitingFor &= ~bit;
      }
    }
    if (waitingFor == 0) return takenByOne;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    c.readEvent->WaitWhile(TakenCountOffset, taken, std::min(deadline, now + ReaderRecheck));
  }
}

bool TTraceChannel::RegisterReader() {
  if (fSlot) return true;
  platform::TSharedChannel& c = *fChannel;
  for (unsigned slot = 0; slot < MaxReaders && !fSlot; ++slot)
    if (c.readFinishedEvent->TryLockByte(slot)) fSlot = slot;
  if (!fSlot) return false;
  // Chunks on offer before now are not this reader's.
  fLastChunk = c.writeEvent->Load(ChunkNumberOffset);
  c.readFinishedEvent->Store(SlotWord(*fSlot), fLastChunk);
  // Counted at once, so that writers offer their next message (they find
  // this reader by its slot); then the count is made exact under the lock,
  // or else by the next writer.
  c.memory->Add(MonitorCountOffset, 1);
  TLock lock(*this, Clock::now() + RegisterLockWait);
  if (lock) StoreCount(MonitorCountOffset, LiveReaderCount());
  return true;
}

void TTraceChannel::UnregisterReader() {
  if (!fSlot) return;
  platform::TSharedChannel& c = *fChannel;
  c.readFinishedEvent->UnlockByte(*fSlot);
  fSlot.reset();
  // A writer waiting for this reader looks again at once.
  c.readEvent->Add(TakenCountOffset, 1);
  c.readEvent->WakeAll(TakenCountOffset);
  TLock lock(*this, Clock::now() + UnregisterLockWait);
  if (lock) StoreCount(MonitorCountOffset, LiveReaderCount());
}

std::optional<TTraceChunk> TTraceChannel::ReadChunk(Clock::time_point deadline) {
  platform::TSharedChannel& c = *fChannel;
  // A registered reader that finds nobody counted knows the count is wrong
  // (somebody wrote over it): writers would offer nothing. One will do for
  // now; the next writer counts exactly.
  if (fSlot && MonitorCount() <= 0) StoreCount(MonitorCountOffset, 1);
  for (;;) {
    if (c.writeEvent->Load(ChunkNumberOffset) != fLastChunk) {
      TTraceChunk chunk;
      {
        TLock lock(*this, deadline);
        if (!lock) return std::nullopt;
        platform::TSharedMemory& memory = *c.memory;
        fLastChunk = c.writeEvent->Load(ChunkNumberOffset);
        // Any account can write this memory: the length is checked, and
        // each field is read once.
        const size_t length = std::min<size_t>(memory.Load(LengthOffset), ChunkSize);
        chunk.text.resize(length);
        memory.CopyOut(0, chunk.text.data(), length);
        const uint32_t stamp[2] = {memory.Load(TimeStampOffset), memory.Load(TimeStampOffset + 4)};
        std::memcpy(&chunk.timeStamp, stamp, sizeof chunk.timeStamp);
        chunk.flag = static_cast<int32_t>(memory.Load(FlagOffset));
        StoreCount(ReaderCountOffset, std::max(ReaderCount(), 1) - 1);
        if (fSlot) c.readFinishedEvent->Store(SlotWord(*fSlot), fLastChunk);
      }
      c.readEvent->Add(TakenCountOffset, 1);
      c.readEvent->WakeAll(TakenCountOffset);
      return chunk;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    // Woken, or the number moved: look again. Otherwise the deadline has
    // come or a signal asks the caller to look at its own state.
    if (!c.writeEvent->WaitWhile(ChunkNumberOffset, fLastChunk, deadline) &&
        c.writeEvent->Load(ChunkNumberOffset) == fLastChunk)
      return std::nullopt;
  }
}

int32_t TTraceChannel::RecountReaders() {
  TLock lock(*this, Clock::now() + WriterLockWait);
  // Without the lock too: an administrator asked for it.
  return RepairCounts();
}

}  // namespace nemvo
