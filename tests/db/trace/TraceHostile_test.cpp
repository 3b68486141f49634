// Processes of another account that hold the channel's locks forever,
// scribble over its objects or shorten them: nemvoweb still answers and ends
// within the bound, and once they are gone the channel works again, with
// nothing done by hand (a reader that ran all along gets the next message).
#include <fcntl.h>
#include <sys/mman.h>

#include "db/trace/TraceTesting.h"

namespace nemvo::testing {
namespace {

using Ready = TForkedProcess::Ready;

std::unique_ptr<platform::TSharedMemory> Object(const std::string& name, size_t size) {
  bool created = false;
  return platform::TSharedMemory::CreateOrOpen(name, size, created);
}

// The channel's six objects, the data memory first.
std::vector<std::pair<const std::string*, size_t>> Objects(const platform::SharedChannelNames& names) {
  return {{&names.memory, TTraceChannel::MemorySize},        {&names.mutex, TTraceChannel::ControlSize},
          {&names.writeEvent, TTraceChannel::ControlSize},   {&names.writeFinishedEvent, TTraceChannel::ControlSize},
          {&names.readEvent, TTraceChannel::ControlSize},    {&names.readFinishedEvent, TTraceChannel::ControlSize}};
}

void HoldLock(const std::string& objectName, const Ready& ready) {
  auto object = Object(objectName, TTraceChannel::ControlSize);
  if (!object) _exit(4);
  platform::TSharedLock lock(*object);
  if (lock.Lock(Clock::now() + 5s) == platform::SharedLockResult::kTimedOut) _exit(5);
  ready();
  for (;;) pause();
}

// Posing as a full house of readers that never read, and saying so in the
// monitor count.
void HoldEverySlot(const std::string& name, const Ready& ready) {
  auto slots = Object(TTraceChannel::ObjectNames(name).readFinishedEvent, TTraceChannel::ControlSize);
  auto memory = Object(TTraceChannel::ObjectNames(name).memory, TTraceChannel::MemorySize);
  if (!slots || !memory) _exit(4);
  for (unsigned slot = 0; slot < TTraceChannel::MaxReaders; ++slot)
    if (!slots->TryLockByte(slot)) _exit(5);
  memory->Store(TTraceChannel::MonitorCountOffset, TTraceChannel::MaxReaders);
  ready();
  for (;;) pause();
}

// Every word of every object, over and over, with values worst for a reader
// of them: all bits set, lengths past the end, small numbers and noise.
void Scribble(const std::string& name, const Ready& ready) {
  const auto names = TTraceChannel::ObjectNames(name);
  std::vector<std::unique_ptr<platform::TSharedMemory>> objects;
  for (const auto& [objectName, size] : Objects(names)) {
    objects.push_back(Object(*objectName, size));
    if (!objects.back()) _exit(4);
  }
  ready();
  uint32_t x = 2463534242u;
  for (;;) {
    for (const auto& object : objects)
      for (size_t offset = 0; offset + 4 <= object->Size(); offset += 4) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const uint32_t values[] = {x, 0xFFFFFFFFu, 0x80000000u, 1001, x & 7};
        object->Store(offset, values[x % 5]);
      }
    usleep(200);
  }
}

// Shortening an object pulls its pages from under every process that has it
// mapped, and touching them then raises a bus error; back to full size every
// other half millisecond, so that the programs keep finding it usable.
void Shrink(const std::string& name, const Ready& ready) {
  const auto names = TTraceChannel::ObjectNames(name);
  std::vector<std::pair<int, off_t>> objects;
  for (const auto& [objectName, size] : Objects(names)) {
    const int fd = shm_open(("/" + *objectName).c_str(), O_RDWR, 0);
    if (fd < 0) _exit(4);
    objects.emplace_back(fd, off_t(size));
  }
  ready();
  for (bool shorten = true;; shorten = !shorten) {
    for (const auto& [fd, size] : objects)
      if (ftruncate(fd, shorten ? 0 : size) != 0) _exit(5);
    usleep(500);
  }
}

struct HostileCase {
  const char* what;
  // Runs in the hostile process with the channel's base name; never returns.
  void (*act)(const std::string& name, const Ready& ready);
  bool readersCanRegister;
  // How long the programs run under it: a program touches the objects a few
  // times only, and a reader looks at them every tenth of a second.
  Clock::duration span;
};

const HostileCase kHostiles[] = {
    {"the channel's lock held",
     [](const std::string& name, const Ready& ready) { HoldLock(TTraceChannel::ObjectNames(name).mutex, ready); },
     true, 0s},
    {"the writers' lock held",
     [](const std::string& name, const Ready& ready) {
       HoldLock(TTraceChannel::ObjectNames(name).writeFinishedEvent, ready);
     },
     true, 0s},
    {"every reader slot held", HoldEverySlot, false, 0s},
    {"scribbled over", Scribble, true, 1500ms},
    {"shortened and grown", Shrink, true, 1500ms},
};

class Hostile : public TraceTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(Hostile, ProgramsStillAnswerAndEndInTime) {
  const HostileCase& c = GetParam();
  std::unique_ptr<TChildProcess> reader;
  if (c.readersCanRegister) reader = StartReader();
  TForkedProcess hostile([&](const Ready& ready) { c.act(fName, ready); }, TForkedProcess::AsNobody);
  ASSERT_TRUE(hostile.IsReady());
  if (!c.readersCanRegister) {
    // No slot left: nemvo-trace says so and ends.
    EXPECT_EQ(RunChild(NEMVO_TRACE_TOOL, {"--channel", fName}), "[exit status 1]\n");
  }
  RequestsAnsweredInTime(c.span);
  hostile.Kill();
  if (!reader) reader = StartReader();
  ReaderReceivesAndEnds(*reader, std::string("after ") + c.what);
}

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.what; }

INSTANTIATE_TEST_SUITE_P(Channel, Hostile, ::testing::ValuesIn(kHostiles),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                           std::string name;
                           for (const char* p = info.param.what; *p; ++p)
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           return name;
                         });

}  // namespace
}  // namespace nemvo::testing
