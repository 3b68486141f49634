// Named shared objects: what other processes, alive or dead, can do to them.
#include "platform/SharedChannel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace nemvo::platform {
namespace {

using namespace std::chrono_literals;

class SharedChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string base = std::string("nemvo-test.") + info->name() + "." + std::to_string(getpid());
    fNames = {base + ".Mem", base + ".Mutex", base + ".W", base + ".WF", base + ".R", base + ".RF"};
  }
  void TearDown() override { RemoveSharedChannel(fNames); }
  SharedChannelNames fNames;
};

TEST_F(SharedChannelTest, ObjectsAreOpenToEveryAccountWhateverTheUmask) {
  const mode_t old = umask(077);
  auto channel = OpenSharedChannel(fNames, 1024);
  umask(old);
  ASSERT_TRUE(channel);
  EXPECT_TRUE(channel->memoryCreated);
  for (const std::string* name : {&fNames.memory, &fNames.mutex, &fNames.writeEvent, &fNames.readFinishedEvent}) {
    struct stat st;
    ASSERT_EQ(stat(("/dev/shm/" + *name).c_str(), &st), 0) << *name;
    EXPECT_EQ(st.st_mode & 0777, 0666u) << *name;
  }
  // A second opener shares them: the initial states are the creator's.
  auto again = OpenSharedChannel(fNames, 1024);
  ASSERT_TRUE(again);
  EXPECT_FALSE(again->memoryCreated);
  EXPECT_TRUE(again->writeFinishedEvent->IsSet());
  EXPECT_FALSE(again->writeEvent->IsSet());
  channel->memory->Data()[5] = 42;
  EXPECT_EQ(again->memory->Data()[5], 42);
}

TEST_F(SharedChannelTest, MutexOfAProcessThatDiedHoldingItIsTakenOver) {
  auto channel = OpenSharedChannel(fNames, 1024);
  ASSERT_TRUE(channel);
  pid_t child = fork();
  if (child == 0) {
    auto mine = OpenSharedChannel(fNames, 1024);
    _exit(mine && mine->mutex->Lock(SharedClock::now() + 1s) ? 0 : 1);  // dies holding it
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(channel->mutex->Lock(SharedClock::now() + 5s));
  channel->mutex->Unlock();
}

TEST_F(SharedChannelTest, MutexHeldElsewhereMakesLockGiveUpInTime) {
  auto channel = OpenSharedChannel(fNames, 1024);
  ASSERT_TRUE(channel);
  ASSERT_TRUE(channel->mutex->Lock(SharedClock::now() + 1s));
  std::thread other([&] { EXPECT_FALSE(channel->mutex->Lock(SharedClock::now() + 50ms)); });
  other.join();
  channel->mutex->Unlock();
}

TEST_F(SharedChannelTest, EventsWakeWaitersAndCountEachSet) {
  auto channel = OpenSharedChannel(fNames, 1024);
  ASSERT_TRUE(channel);
  TSharedEvent& event = *channel->readEvent;
  EXPECT_FALSE(event.WaitFor(SharedClock::now() + 10ms));
  const uint64_t before = event.Generation();
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    event.Set();
    event.Set();  // stays set, and the count still moves
  });
  EXPECT_TRUE(event.WaitForGenerationAfter(before, SharedClock::now() + 10s));
  setter.join();
  EXPECT_EQ(event.Generation(), before + 2);
  EXPECT_TRUE(event.WaitFor(SharedClock::now()));
  // Of two takers of a set event, exactly one wins.
  EXPECT_TRUE(event.WaitAndReset(SharedClock::now() + 1s));
  EXPECT_FALSE(event.WaitAndReset(SharedClock::now() + 10ms));
  EXPECT_FALSE(event.IsSet());
}

TEST_F(SharedChannelTest, NameThatCannotBeCreatedFailsWithTheSystemError) {
  fNames.memory = "no/such/dir";
  errno = 0;
  EXPECT_FALSE(OpenSharedChannel(fNames, 1024));
  EXPECT_NE(errno, 0);
}

}  // namespace
}  // namespace nemvo::platform
