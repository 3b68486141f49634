// Processes of another account that hold the channel's locks forever or
// scribble over its objects: nemvoweb still answers and ends within the
// bound, and once they are gone the channel works again, with nothing done
// by hand.
#include <fcntl.h>
#include <sys/mman.h>

#include "db/trace/TraceTesting.h"

namespace nemvo::testing {
namespace {

struct HolderCase {
  const char* what;
  // Run in the hostile process with the channel's base name; never returns.
  void (*hold)(const std::string& name, const std::function<void()>& ready);
  bool readersCanRegister;
};

std::unique_ptr<platform::TSharedMemory> Object(const std::string& name, size_t size) {
  bool created = false;
  return platform::TSharedMemory::CreateOrOpen(name, size, created);
}

void HoldLock(const std::string& objectName, const std::function<void()>& ready) {
  auto object = Object(objectName, TTraceChannel::ControlSize);
  if (!object) _exit(4);
  platform::TSharedLock lock(*object);
  if (lock.Lock(Clock::now() + 5s) == platform::SharedLockResult::kTimedOut) _exit(5);
  ready();
  for (;;) pause();
}

const HolderCase kHolders[] = {
    {"the channel's lock",
     [](const std::string& name, const std::function<void()>& ready) {
       HoldLock(TTraceChannel::ObjectNames(name).mutex, ready);
     },
     true},
    {"the writers' lock",
     [](const std::string& name, const std::function<void()>& ready) {
       HoldLock(TTraceChannel::ObjectNames(name).writeFinishedEvent, ready);
     },
     true},
    // Posing as a full house of readers that never read, and saying so in
    // the monitor count.
    {"every reader slot",
     [](const std::string& name, const std::function<void()>& ready) {
       auto slots = Object(TTraceChannel::ObjectNames(name).readFinishedEvent, TTraceChannel::ControlSize);
       auto memory = Object(TTraceChannel::ObjectNames(name).memory, TTraceChannel::MemorySize);
       if (!slots || !memory) _exit(4);
       for (unsigned slot = 0; slot < TTraceChannel::MaxReaders; ++slot)
         if (!slots->TryLockByte(slot)) _exit(5);
       memory->Store(TTraceChannel::MonitorCountOffset, TTraceChannel::MaxReaders);
       ready();
       for (;;) pause();
     },
     false},
};

class HostileHolder : public TraceTest, public ::testing::WithParamInterface<HolderCase> {};

TEST_P(HostileHolder, ProgramsStillAnswerAndEndInTime) {
  const HolderCase& c = GetParam();
  std::unique_ptr<TChildProcess> reader;
  if (c.readersCanRegister) reader = StartReader();
  TForkedProcess hostile([&](const TForkedProcess::Ready& ready) { c.hold(fName, ready); },
                         TForkedProcess::AsNobody);
  ASSERT_TRUE(hostile.IsReady());
  if (!c.readersCanRegister) {
    // No slot left: nemvo-trace says so and ends.
    const std::string out = RunChild(NEMVO_TRACE_TOOL, {"--channel", fName});
    EXPECT_EQ(out, "[exit status 1]\n");
  }
  for (int i = 0; i < 3; ++i) {
    TimedRun run = ErroringRequest();
    ExpectAnswered(run);
    EXPECT_LT(run.elapsed, kExitBound);
  }
  hostile.Kill();
  if (!reader) reader = StartReader();
  ExpectAnswered(ErroringRequest());
  EXPECT_TRUE(reader->WaitForOutput("No such file or directory\n", 10s)) << reader->Output();
}

void PrintTo(const HolderCase& c, std::ostream* os) { *os << c.what; }

INSTANTIATE_TEST_SUITE_P(Hostile, HostileHolder, ::testing::ValuesIn(kHolders),
                         [](const ::testing::TestParamInfo<HolderCase>& info) {
                           std::string name;
                           for (const char* p = info.param.what; *p; ++p)
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           return name;
                         });

TEST_F(TraceTest, ScribblerOverTheChannelCostsNoMoreThanMessages) {
  auto reader = StartReader();
  TForkedProcess scribbler([&](const TForkedProcess::Ready& ready) {
    const auto names = TTraceChannel::ObjectNames(fName);
    std::vector<std::unique_ptr<platform::TSharedMemory>> objects;
    objects.push_back(Object(names.memory, TTraceChannel::MemorySize));
    for (const std::string* control : {&names.mutex, &names.writeEvent, &names.writeFinishedEvent, &names.readEvent,
                                       &names.readFinishedEvent})
      objects.push_back(Object(*control, TTraceChannel::ControlSize));
    for (const auto& object : objects)
      if (!object) _exit(4);
    ready();
    uint32_t x = 2463534242u;
    for (;;) {
      // Every word of every object, with values worst for a reader of them:
      // all bits set, lengths past the end, small numbers and noise.
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
  }, TForkedProcess::AsNobody);
  ASSERT_TRUE(scribbler.IsReady());
  const auto start = Clock::now();
  for (int i = 0; i < 5 || Clock::now() - start < 1500ms; ++i) {
    TimedRun run = ErroringRequest();
    ExpectAnswered(run);
    EXPECT_LT(run.elapsed, kExitBound);
  }
  scribbler.Kill();

  // The reader survived it, gets the messages of the programs after it
  // (whatever the scribbler left in the counts), and still ends on request.
  bool received = false;
  for (int i = 0; i < 5 && !received; ++i) {
    ExpectAnswered(ErroringRequest("after the scribbler"), "after the scribbler");
    received = reader->WaitForOutput("after the scribbler\n", 1s);
  }
  EXPECT_TRUE(received) << reader->Output();
  reader->Signal(SIGINT);
  const int status = reader->Finish();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(TraceTest, ShrinkerOfTheChannelCostsNoMoreThanMessages) {
  // Shortening an object pulls its pages from under every process that has
  // it mapped; touching them then raises a bus error, which must not end
  // the program.
  auto reader = StartReader();
  TForkedProcess shrinker([&](const TForkedProcess::Ready& ready) {
    const auto names = TTraceChannel::ObjectNames(fName);
    std::vector<std::pair<int, off_t>> objects;
    for (const std::string* name : {&names.memory, &names.mutex, &names.writeEvent, &names.writeFinishedEvent,
                                    &names.readEvent, &names.readFinishedEvent}) {
      const int fd = shm_open(("/" + *name).c_str(), O_RDWR, 0);
      if (fd < 0) _exit(4);
      objects.emplace_back(fd, name == &names.memory ? TTraceChannel::MemorySize : TTraceChannel::ControlSize);
    }
    ready();
    for (bool shorten = true;; shorten = !shorten) {
      for (const auto& [fd, size] : objects)
        if (ftruncate(fd, shorten ? 0 : size) != 0) _exit(5);
      usleep(500);
    }
  }, TForkedProcess::AsNobody);
  ASSERT_TRUE(shrinker.IsReady());
  // For a while: each program touches the objects a few times only, and
  // the reader looks at them every tenth of a second.
  const auto start = Clock::now();
  for (int i = 0; i < 5 || Clock::now() - start < 1500ms; ++i) {
    TimedRun run = ErroringRequest();
    ExpectAnswered(run);
    EXPECT_LT(run.elapsed, kExitBound);
  }
  shrinker.Kill();

  // The reader was not ended by it either: it opens the channel anew, and
  // gets the messages of the programs after it.
  bool received = false;
  for (int i = 0; i < 5 && !received; ++i) {
    ExpectAnswered(ErroringRequest("after the shrinker"), "after the shrinker");
    received = reader->WaitForOutput("after the shrinker\n", 1s);
  }
  EXPECT_TRUE(received) << reader->Output();
  reader->Signal(SIGINT);
  const int status = reader->Finish();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace nemvo::testing
