// Named shared objects: what other processes, alive or dead, can do to them.
// Threads stand in for other processes where each has its own open object:
// byte-range locks of different open objects exclude each other as those of
// different processes do.
#include "platform/SharedChannel.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <grp.h>

#include <atomic>
#include <barrier>
#include <cerrno>
#include <fstream>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "support/ForkedProcess.h"

namespace nemvo::platform {
namespace {

using testing::TForkedProcess;

using namespace std::chrono_literals;

constexpr size_t kControlSize = 512;

class SharedChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string base = std::string("nemvo-test.") + info->name() + "." + std::to_string(getpid());
    fNames = {base + ".Mem", base + ".Mutex", base + ".W", base + ".WF", base + ".R", base + ".RF"};
  }
  void TearDown() override { RemoveSharedChannel(fNames); }

  std::unique_ptr<TSharedMemory> OpenMutexObject() {
    bool created = false;
    return TSharedMemory::CreateOrOpen(fNames.mutex, kControlSize, created);
  }

  SharedChannelNames fNames;
};

// Whether thread `tid` of this process sleeps in a futex wait: read from the
// kernel, so that a test knows the waiter blocked instead of guessing.
bool BlockedInFutex(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  in >> number;
  return number == SYS_futex;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds limit = 10s) {
  const auto deadline = SharedClock::now() + limit;
  while (!condition()) {
    if (SharedClock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A group that exists on every Debian system, with no members by default
// (nobody is not one).
gid_t StaffGroup() {
  const group* staff = getgrnam("staff");
  return staff ? staff->gr_gid : 50;
}

TEST_F(SharedChannelTest, ObjectsHaveTheAccessAskedForWhateverTheUmask) {
  struct Case {
    const char* what;
    SharedAccess access;
    mode_t mode;
    gid_t group;
  };
  for (const Case& c : {Case{"every account", {}, 0666, getegid()}, Case{"group staff", {StaffGroup()}, 0660, StaffGroup()}}) {
    SCOPED_TRACE(c.what);
    RemoveSharedChannel(fNames);
    const mode_t old = umask(077);
    auto channel = OpenSharedChannel(fNames, 1024, kControlSize, c.access);
    umask(old);
    ASSERT_TRUE(channel);
    EXPECT_TRUE(channel->memoryCreated);
    for (const std::string* name : {&fNames.memory, &fNames.mutex, &fNames.writeEvent, &fNames.writeFinishedEvent,
                                    &fNames.readEvent, &fNames.readFinishedEvent}) {
      struct stat st;
      ASSERT_EQ(stat(("/dev/shm/" + *name).c_str(), &st), 0) << *name;
      EXPECT_EQ(st.st_mode & 07777, c.mode) << *name;
      EXPECT_EQ(st.st_gid, c.group) << *name;
      EXPECT_EQ(size_t(st.st_size), name == &fNames.memory ? 1024u : kControlSize) << *name;
    }
    // A second opener shares them, and finds what the first one wrote.
    auto again = OpenSharedChannel(fNames, 1024, kControlSize, c.access);
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->memoryCreated);
    channel->memory->Store(1020, 42);
    channel->readEvent->Store(8, 7);
    EXPECT_EQ(again->memory->Load(1020), 42u);
    EXPECT_EQ(again->readEvent->Load(8), 7u);
  }
}

TEST_F(SharedChannelTest, ObjectsWhoseAccessWasChangedAreRefusedAndDescribed) {
  // Their owner (or whoever made them first; here the account daemon)
  // decides their mode and group; an opener that asks for another access
  // uses none of them, and is told what it found. Opened as nobody too, to
  // whom the kernel refuses some.
  constexpr uid_t kDaemon = 1;
  struct Case {
    const char* what;
    mode_t mode;
    bool staff;      // the object's group
    SharedAccess asked;
    SharedOpenFailure::Kind asRoot, asNobody;
  };
  using Kind = SharedOpenFailure::Kind;
  const Case cases[] = {
      {"0644 for every account", 0644, false, {}, Kind::kWrongAccess, Kind::kNoAccess},
      {"0000 for every account", 0000, false, {}, Kind::kWrongAccess, Kind::kNoAccess},
      {"0666 for a group", 0666, true, {StaffGroup()}, Kind::kWrongAccess, Kind::kWrongAccess},
      {"0660 of another group", 0660, false, {StaffGroup()}, Kind::kWrongAccess, Kind::kNoAccess},
      {"0660 of the group, for every account", 0660, true, {}, Kind::kWrongAccess, Kind::kNoAccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveSharedChannel(fNames);
    const int fd = shm_open(("/" + fNames.mutex).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fchown(fd, kDaemon, c.staff ? StaffGroup() : kDaemon), 0);
    ASSERT_EQ(fchmod(fd, c.mode), 0);
    close(fd);
    bool created = true;
    SharedOpenFailure failure;
    EXPECT_FALSE(TSharedMemory::CreateOrOpen(fNames.mutex, kControlSize, created, c.asked, &failure));
    EXPECT_EQ(failure.kind, c.asRoot);
    EXPECT_EQ(failure.object, fNames.mutex);
    EXPECT_TRUE(failure.found);
    EXPECT_EQ(failure.owner, kDaemon);
    EXPECT_EQ(failure.mode, c.mode);
    EXPECT_EQ(failure.group, c.staff ? StaffGroup() : kDaemon);
    TForkedProcess nobody(
        [&](const TForkedProcess::Ready&) {
          bool made = false;
          SharedOpenFailure why;
          if (TSharedMemory::CreateOrOpen(fNames.mutex, kControlSize, made, c.asked, &why)) _exit(1);
          _exit(why.kind == c.asNobody && why.found && why.mode == c.mode ? 0 : 2);
        },
        TForkedProcess::AsNobody);
    const int status = nobody.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
}

TEST_F(SharedChannelTest, ObjectForAGroupOfWhichTheCreatorIsNoMemberIsNeverMade) {
  TForkedProcess nobody(
      [&](const TForkedProcess::Ready&) {
        bool made = false;
        SharedOpenFailure why;
        if (TSharedMemory::CreateOrOpen(fNames.mutex, kControlSize, made, {StaffGroup()}, &why)) _exit(1);
        _exit(why.kind == SharedOpenFailure::Kind::kNotMember ? 0 : 2);
      },
      TForkedProcess::AsNobody);
  const int status = nobody.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  struct stat st;
  EXPECT_NE(stat(("/dev/shm/" + fNames.mutex).c_str(), &st), 0) << "left under its name";
}

TEST_F(SharedChannelTest, ObjectLeasedByItsOwnerFailsAtOnceInsteadOfWaitingForTheLease) {
  // Another account makes the object first and holds a read lease on it,
  // ignoring the kernel's request to let go: an open for writing would wait
  // the whole lease-break time (45 s by default) for it.
  TForkedProcess owner(
      [&](const TForkedProcess::Ready& ready) {
        signal(SIGIO, SIG_IGN);  // the break request, ignored
        const std::string path = "/" + fNames.mutex;
        int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        if (fd < 0 || fchmod(fd, 0666) != 0 || ftruncate(fd, off_t(kControlSize)) != 0) _exit(4);
        close(fd);
        fd = shm_open(path.c_str(), O_RDONLY, 0);
        if (fd < 0 || fcntl(fd, F_SETLEASE, F_RDLCK) != 0) _exit(5);
        ready();
        for (;;) pause();
      },
      TForkedProcess::AsNobody);
  ASSERT_TRUE(owner.IsReady());
  auto opening = std::async(std::launch::async, [&] {
    bool created = false;
    SharedOpenFailure failure;
    const bool opened = TSharedMemory::CreateOrOpen(fNames.mutex, kControlSize, created, {}, &failure) != nullptr;
    return std::pair{opened, failure};
  });
  const bool inTime = opening.wait_for(2s) == std::future_status::ready;
  owner.Kill();  // the lease goes with it, and a waiting open returns
  ASSERT_TRUE(inTime) << "the open waited for the lease";
  const auto [opened, failure] = opening.get();
  EXPECT_FALSE(opened);
  EXPECT_EQ(failure.kind, SharedOpenFailure::Kind::kLeased);
  EXPECT_EQ(failure.owner, 65534u);
  // Once the lease is gone, the object is usable.
  EXPECT_TRUE(OpenMutexObject());
}

TEST_F(SharedChannelTest, ObjectsLeftShortAreSizedByTheNextOpener) {
  // A creator killed between creating an object and sizing it leaves it
  // empty; an older program may have made it smaller. Both are usable at
  // once by whoever comes next, with the bytes already there kept.
  struct Case {
    const char* what;
    size_t sizeLeft;
  };
  for (const Case& c : {Case{"empty", 0}, Case{"short", 100}}) {
    SCOPED_TRACE(c.what);
    RemoveSharedChannel(fNames);
    const int fd = shm_open(("/" + fNames.readEvent).c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fchmod(fd, 0666), 0);
    if (c.sizeLeft) {
      ASSERT_EQ(ftruncate(fd, off_t(c.sizeLeft)), 0);
      const uint32_t word = 5;
      ASSERT_EQ(pwrite(fd, &word, 4, 0), 4);
    }
    close(fd);
    auto channel = OpenSharedChannel(fNames, 1024, kControlSize);
    ASSERT_TRUE(channel);
    struct stat st;
    ASSERT_EQ(stat(("/dev/shm/" + fNames.readEvent).c_str(), &st), 0);
    EXPECT_EQ(size_t(st.st_size), kControlSize);
    EXPECT_EQ(channel->readEvent->Load(0), c.sizeLeft ? 5u : 0u);
    channel->readEvent->Store(kControlSize - 4, 1);  // the whole size is usable
  }
}

TEST_F(SharedChannelTest, NameThatCannotBeCreatedFailsWithTheSystemError) {
  fNames.memory = "no/such/dir";
  errno = 0;
  EXPECT_FALSE(OpenSharedChannel(fNames, 1024, kControlSize));
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(SharedChannelTest, LockKeepsHoldersApart) {
  // Each thread with its own open object, as separate processes would be;
  // the counter's increment is a separate load and store, so a lock that
  // let two in at once would lose increments.
  constexpr int kThreads = 4, kRounds = 300;
  auto counter = OpenMutexObject();
  ASSERT_TRUE(counter);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      auto memory = OpenMutexObject();
      if (!memory) {
        ++failures;
        return;
      }
      TSharedLock lock(*memory);
      for (int i = 0; i < kRounds; ++i) {
        // Nobody dies here: "owner died" would be as wrong as a time-out.
        const SharedLockResult result = lock.Lock(SharedClock::now() + 10s);
        if (result != SharedLockResult::kLocked) ++failures;
        if (result == SharedLockResult::kTimedOut) continue;
        const uint32_t value = memory->Load(16);
        std::this_thread::yield();
        memory->Store(16, value + 1);
        lock.Unlock();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(counter->Load(16), uint32_t(kThreads * kRounds));
}

TEST_F(SharedChannelTest, OfTakersAtTheSameMomentExactlyOneWins) {
  constexpr int kTakers = 4;
  std::vector<std::unique_ptr<TSharedMemory>> memories;
  for (int t = 0; t < kTakers; ++t) {
    memories.push_back(OpenMutexObject());
    ASSERT_TRUE(memories.back());
  }
  std::barrier start(kTakers);
  std::atomic<int> won{0}, lost{0}, done{0};
  std::vector<std::thread> takers;
  for (int t = 0; t < kTakers; ++t)
    takers.emplace_back([&, t] {
      TSharedLock lock(*memories[size_t(t)]);
      start.arrive_and_wait();
      const SharedLockResult result = lock.Lock(SharedClock::now() + 200ms);
      ++(result == SharedLockResult::kTimedOut ? lost : won);
      ++done;
      if (result != SharedLockResult::kTimedOut) {
        // The winner holds on until every other taker has given up.
        WaitUntil([&] { return done == kTakers; });
        lock.Unlock();
      }
    });
  for (auto& t : takers) t.join();
  EXPECT_EQ(won, 1);
  EXPECT_EQ(lost, kTakers - 1);
}

TEST_F(SharedChannelTest, LockHeldElsewhereMakesLockGiveUpAtTheDeadline) {
  auto holderMemory = OpenMutexObject();
  auto waiterMemory = OpenMutexObject();
  ASSERT_TRUE(holderMemory && waiterMemory);
  TSharedLock holder(*holderMemory), waiter(*waiterMemory);
  ASSERT_EQ(holder.Lock(SharedClock::now() + 1s), SharedLockResult::kLocked);
  const auto start = SharedClock::now();
  EXPECT_EQ(waiter.Lock(start + 50ms), SharedLockResult::kTimedOut);
  EXPECT_GE(SharedClock::now() - start, 50ms);
  holder.Unlock();
  EXPECT_EQ(waiter.Lock(SharedClock::now() + 1s), SharedLockResult::kLocked);
  waiter.Unlock();
}

TEST_F(SharedChannelTest, HolderThatDiesHandsTheLockOnAndItsSuccessorIsTold) {
  // Dies holding it at once, and is killed while a waiter waits: either way
  // the waiter gets it, learns that its predecessor died, and the next
  // taker after it finds a clean lock.
  for (bool killedWhileWaitedFor : {false, true}) {
    SCOPED_TRACE(killedWhileWaitedFor ? "killed while waited for" : "exits holding it");
    auto memory = OpenMutexObject();
    ASSERT_TRUE(memory);
    TForkedProcess holder([&](const TForkedProcess::Ready& ready) {
      auto mine = OpenMutexObject();
      TSharedLock lock(*mine);
      if (lock.Lock(SharedClock::now() + 5s) != SharedLockResult::kLocked) _exit(1);
      ready();
      if (killedWhileWaitedFor) pause();
    });
    ASSERT_TRUE(holder.IsReady());
    TSharedLock lock(*memory);
    if (killedWhileWaitedFor) {
      std::atomic<pid_t> waiterTid{0};
      SharedLockResult result = SharedLockResult::kTimedOut;
      std::thread waiter([&] {
        waiterTid = static_cast<pid_t>(syscall(SYS_gettid));
        result = lock.Lock(SharedClock::now() + 30s);
        if (result != SharedLockResult::kTimedOut) lock.Unlock();
      });
      ASSERT_TRUE(WaitUntil([&] { return waiterTid != 0 && BlockedInFutex(waiterTid); }));
      holder.Kill();
      waiter.join();
      EXPECT_EQ(result, SharedLockResult::kOwnerDied);
    } else {
      const int status = holder.Wait();
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      EXPECT_EQ(lock.Lock(SharedClock::now() + 5s), SharedLockResult::kOwnerDied);
      lock.Unlock();
    }
    EXPECT_EQ(lock.Lock(SharedClock::now() + 1s), SharedLockResult::kLocked);
    lock.Unlock();
  }
}

TEST_F(SharedChannelTest, WaiterBlockedOnAWordIsWokenBySignalling) {
  auto memory = OpenMutexObject();
  ASSERT_TRUE(memory);
  // The word moved before the wait: no sleep at all.
  memory->Store(32, 1);
  EXPECT_TRUE(memory->WaitWhile(32, 0, SharedClock::now() + 30s));
  // Nobody signals: the deadline ends the wait.
  const auto start = SharedClock::now();
  EXPECT_FALSE(memory->WaitWhile(32, 1, start + 20ms));
  EXPECT_GE(SharedClock::now() - start, 20ms);

  // A waiter that the kernel shows asleep on the word is woken by the next
  // change and its wake, long before its deadline.
  std::atomic<pid_t> tid{0};
  std::atomic<bool> woken{false}, returned{false};
  std::thread waiter([&] {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    while (memory->Load(32) == 1)
      if (memory->WaitWhile(32, 1, SharedClock::now() + 60s)) woken = true;
    returned = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return tid != 0 && BlockedInFutex(tid); }));
  memory->Store(32, 2);
  memory->WakeAll(32);
  const bool inTime = WaitUntil([&] { return returned.load(); });
  if (!inTime) memory->WakeAll(32);  // let the thread end, then fail
  waiter.join();
  EXPECT_TRUE(inTime);
  EXPECT_TRUE(woken);
}

void NoOp(int) {}

TEST_F(SharedChannelTest, SignalEndsAWaitEarly) {
  // So that a program asked to end by a signal need not sit out its wait.
  struct sigaction action = {}, old = {};
  action.sa_handler = NoOp;  // no SA_RESTART
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &old), 0);
  auto memory = OpenMutexObject();
  ASSERT_TRUE(memory);
  std::atomic<pid_t> tid{0};
  std::atomic<int> result{-1};
  std::thread waiter([&] {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    result = memory->WaitWhile(40, 0, SharedClock::now() + 60s) ? 1 : 0;
  });
  ASSERT_TRUE(WaitUntil([&] { return tid != 0 && BlockedInFutex(tid); }));
  pthread_kill(waiter.native_handle(), SIGUSR1);
  const bool inTime = WaitUntil([&] { return result != -1; });
  if (!inTime) {
    memory->Store(40, 1);
    memory->WakeAll(40);
  }
  waiter.join();
  sigaction(SIGUSR1, &old, nullptr);
  EXPECT_TRUE(inTime);
  EXPECT_EQ(result, 0);
}

TEST_F(SharedChannelTest, ByteLocksBelongToTheirObjectAndEndWithIt) {
  auto first = OpenMutexObject();
  auto second = OpenMutexObject();
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(first->TryLockByte(3));
  EXPECT_FALSE(first->ByteLockedElsewhere(3));  // its own lock
  EXPECT_TRUE(second->ByteLockedElsewhere(3));
  EXPECT_FALSE(second->ByteLockedElsewhere(4));
  EXPECT_FALSE(second->TryLockByte(3));
  EXPECT_TRUE(second->TryLockByte(4));
  first.reset();  // as a process's death closes it
  EXPECT_FALSE(second->ByteLockedElsewhere(3));
  EXPECT_TRUE(second->TryLockByte(3));
}

TEST_F(SharedChannelTest, ObjectShortenedUnderUsIsLostNotFatal) {
  // Any account may shorten the objects; the pages past the new end are
  // gone from every mapping, and touching them raises SIGBUS.
  auto memory = OpenMutexObject();
  ASSERT_TRUE(memory);
  memory->Store(16, 7);
  const int fd = shm_open(("/" + fNames.mutex).c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 0), 0);
  close(fd);
  EXPECT_EQ(memory->Load(16), 0u);
  EXPECT_TRUE(memory->Lost());
  memory->Store(16, 8);
  EXPECT_EQ(memory->Add(16, 1), 1u);
  char bytes[4] = {1, 2, 3, 4};
  memory->CopyOut(0, bytes, sizeof bytes);
  EXPECT_EQ(std::string(bytes, 4), std::string(4, '\0'));
  const auto start = SharedClock::now();
  EXPECT_FALSE(memory->WaitWhile(16, 0, start + 20ms));
  EXPECT_GE(SharedClock::now() - start, 20ms);
  // The lock lives on the file, not in the lost pages: it still works.
  TSharedLock lock(*memory);
  EXPECT_NE(lock.Lock(SharedClock::now() + 1s), SharedLockResult::kTimedOut);
  lock.Unlock();
  // The next opener sizes the object again.
  auto again = OpenMutexObject();
  ASSERT_TRUE(again);
  again->Store(16, 9);
  EXPECT_EQ(again->Load(16), 9u);
}

TEST_F(SharedChannelTest, BusErrorSentBySomebodyLeavesTheGuardInPlace) {
  // A bus error sent (kill, sigqueue, tgkill) carries no fault: the process
  // goes on, and the next object shortened under it is still only lost.
  struct Sender {
    const char* what;
    void (*send)();
  };
  const Sender senders[] = {
      {"kill", [] { kill(getpid(), SIGBUS); }},
      {"sigqueue", [] { sigqueue(getpid(), SIGBUS, sigval{}); }},
      {"tgkill", [] { syscall(SYS_tgkill, getpid(), syscall(SYS_gettid), SIGBUS); }},
  };
  for (const Sender& sender : senders) {
    SCOPED_TRACE(sender.what);
    TForkedProcess child([&](const TForkedProcess::Ready&) {
      alarm(10);
      auto memory = OpenMutexObject();
      if (!memory) _exit(1);
      memory->Store(16, 7);
      for (int i = 0; i < 3; ++i) sender.send();
      const int fd = shm_open(("/" + fNames.mutex).c_str(), O_RDWR, 0);
      if (fd < 0 || ftruncate(fd, 0) != 0) _exit(2);
      if (memory->Load(16) != 0 || !memory->Lost()) _exit(3);
      _exit(0);
    });
    const int status = child.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    RemoveSharedChannel(fNames);
  }
}

TEST_F(SharedChannelTest, BusErrorElsewhereStillEndsTheProcess) {
  // The guard takes only faults inside the shared objects; any other bus
  // error goes where it went before (the default: the process ends).
  TForkedProcess child([&](const TForkedProcess::Ready& ready) {
    alarm(10);  // a handler that swallowed the fault would loop on it
    auto memory = OpenMutexObject();
    char path[] = "/tmp/nemvo-bus-XXXXXX";
    const int fd = mkstemp(path);
    if (!memory || fd < 0 || ftruncate(fd, 4096) != 0) _exit(1);
    unlink(path);
    auto* page = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    if (page == MAP_FAILED || ftruncate(fd, 0) != 0) _exit(1);
    ready();
    page[0] = 1;
    _exit(0);  // survived it: wrong
  });
  ASSERT_TRUE(child.IsReady());
  const int status = child.Wait();
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), SIGBUS);
  }
}

}  // namespace
}  // namespace nemvo::platform
