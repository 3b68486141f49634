// The SQL trace channel across processes: nemvo-trace as the reader, the
// probe as a program that raises database errors. Each test uses a channel
// of its own, so that nothing else on the machine writes into it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>

#include <atomic>
#include <cstring>
#include <regex>
#include <thread>

#include "support/ChildProcess.h"
#include "support/ForkedProcess.h"
#include "db/IBErrors.h"
#include "db/OwnTraceChannel.h"
#include "db/TraceChannel.h"
#include "db/TraceReader.h"
#include "db/WriterThread.h"
#include "platform/SharedChannel.h"

namespace nemvo {
namespace {

using namespace std::chrono_literals;
using Clock = TTraceChannel::Clock;

class TraceChannelTest : public testing::OwnTraceChannelTest {
 protected:
  testing::TChildProcess::Environment Env() const { return {{"NEMVO_TRACE_CHANNEL", fName}}; }

  // Starts nemvo-trace and waits until it has registered.
  std::unique_ptr<testing::TChildProcess> StartReader() {
    const int32_t before = fChannel->MonitorCount();
    auto reader = std::make_unique<testing::TChildProcess>(NEMVO_TRACE_TOOL, std::vector<std::string>{"--channel", fName});
    const auto deadline = Clock::now() + 10s;
    while (fChannel->MonitorCount() == before && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(fChannel->MonitorCount(), before + 1);
    return reader;
  }

  std::string Probe(const std::vector<std::string>& steps) { return testing::RunChild(NEMVO_BINDING_PROBE, steps, Env()); }

  // The channel's 1024 bytes, as any other program maps them.
  platform::TSharedMemory& Memory() {
    if (!fMemory) {
      bool created = true;
      fMemory = platform::TSharedMemory::CreateOrOpen(TTraceChannel::ObjectNames(fName).memory, 1024, created);
      EXPECT_FALSE(created);
    }
    return *fMemory;
  }
  std::unique_ptr<platform::TSharedMemory> Control(const std::string& name) {
    bool created = true;
    auto object = platform::TSharedMemory::CreateOrOpen(name, TTraceChannel::ControlSize, created);
    EXPECT_FALSE(created);
    return object;
  }

  std::unique_ptr<platform::TSharedMemory> fMemory;
};

TEST_F(TraceChannelTest, ReaderInAnotherProcessSeesTracedErrorsUntilItIsInterrupted) {
  auto reader = StartReader();
  EXPECT_EQ(Probe({"raise-client:17", "trace-connection:", "trace-connection:ce", "raise-client:11"}),
            "EIBClientError 17 0 Faltando nome do Banco de Dados\ntraced\ntraced\n"
            "EIBClientError 11 0 Constante DPB (isc_dpb_probe) n\xE3o \xE9 suportada\n");
  ASSERT_TRUE(reader->WaitForOutput("suportada", 10s)) << reader->Output();
  reader->Signal(SIGINT);
  const int status = reader->Finish();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(fChannel->MonitorCount(), 0);

  // Each message: time stamp and category, then the text, which names the
  // program. A connection without trace flags is never traced; one with
  // them gets its connect, error and disconnect.
  std::string out = reader->Output();
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(out.substr(start, end - start));
  ASSERT_EQ(lines.size(), 15u) << out;
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Error:", "[Error] Faltando nome do Banco de Dados"},
      {"Connect:", "DB1: [Connect]"},
      {"Error:", "[Error] error of trace-connection:ce"},
      {"Connect:", "DB1: [Disconnect]"},
      {"Error:", "[Error] Constante DPB (isc_dpb_probe) n\xC3\xA3o \xC3\xA9 suportada"},  // shown as UTF-8
  };
  for (size_t i = 0; i < expected.size() && 3 * i + 2 < lines.size(); ++i) {
    EXPECT_EQ(lines[3 * i].size(), 23 + 1 + expected[i].first.size()) << lines[3 * i];
    EXPECT_EQ(lines[3 * i].substr(24), expected[i].first);
    EXPECT_EQ(lines[3 * i + 1], "[Application: db_binding_probe]");
    EXPECT_EQ(lines[3 * i + 2], expected[i].second);
  }
}

TEST_F(TraceChannelTest, WriterQueueStaysBoundedAndTheNextMessageTellsOfTheDropped) {
  // A reader of another account registers and never reads: each message
  // waits its whole second for it, and errors come much faster than that.
  testing::TForkedProcess silent(
      [&](const testing::TForkedProcess::Ready& ready) {
        auto mine = TTraceChannel::Open(fName);
        if (!mine->RegisterReader()) _exit(1);
        ready();
        pause();
      },
      testing::TForkedProcess::AsNobody);
  ASSERT_TRUE(silent.IsReady());
  std::vector<std::string> reports;
  TWriterThread writer(fName, TTraceChannel::DefaultAccess(), "Test",
                       [&](const std::string& text) { reports.push_back(text); });
  constexpr int kBurst = 1000;
  const std::string text(1000, 'e');
  // The burst may all be queued before the writer first looks at the
  // channel: the message that then tells of the dropped ones goes to the
  // silent reader alone, which dies with it unread.
  for (int i = 0; i < kBurst; ++i) writer.WriteSQLData(text + std::to_string(i), TTraceFlag::tfError);
  EXPECT_LE(writer.PeakQueued(), TWriterThread::MaxQueued);
  EXPECT_LE(writer.Queued(), TWriterThread::MaxQueued);
  // Once the silent one is gone, a reader that reads gets the next message
  // that goes through, which says how many went before it unseen.
  TTraceReader reader(fName);
  silent.Kill();
  writer.WriteSQLData("last", TTraceFlag::tfError);
  std::optional<TTraceMessage> message;
  uint64_t dropped = 0;
  int received = 0;
  const std::regex note(R"(\[(\d+) earlier messages dropped\]\r\n)");
  for (;;) {
    message = reader.ReadMessage(Clock::now() + 10s);
    ASSERT_TRUE(message) << "the last message never came";
    std::smatch match;
    if (std::regex_search(message->text, match, note)) dropped += std::stoull(match[1]);
    ++received;
    if (message->text.ends_with("\r\nlast")) break;
  }
  EXPECT_TRUE(message->text.starts_with("\r\n[Application: Test]\r\n")) << message->text;
  // Every message of the burst was either received or counted; most of
  // them were dropped from the full queue.
  EXPECT_GE(dropped + uint64_t(received), uint64_t(kBurst) + 1);
  EXPECT_GE(dropped, uint64_t(kBurst) - TWriterThread::MaxQueued - 2);
  EXPECT_LE(dropped, uint64_t(kBurst));
  EXPECT_TRUE(reports.empty());
}

TEST_F(TraceChannelTest, WriterOpensALostChannelAnewAfterABackOff) {
  // Another account shortens an object under the writer: the channel is
  // lost to it (and not fatal); a later message, past the back-off, opens
  // the channel anew and reaches the reader.
  TTraceReader reader(fName);
  TWriterThread writer(fName, TTraceChannel::DefaultAccess(), "Test", nullptr);
  writer.WriteSQLData("first", TTraceFlag::tfError);
  auto first = reader.ReadMessage(Clock::now() + 10s);
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->text.ends_with("first"));
  const int fd = shm_open(("/" + TTraceChannel::ObjectNames(fName).memory).c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 0), 0);
  close(fd);
  writer.WriteSQLData("into the lost channel", TTraceFlag::tfError);
  const auto lost = Clock::now();
  // The reader finds the channel lost too, and opens it anew.
  std::optional<TTraceMessage> next;
  while (!next && Clock::now() - lost < TWriterThread::ReopenInterval + 10s) {
    writer.WriteSQLData("again", TTraceFlag::tfError);
    next = reader.ReadMessage(Clock::now() + 500ms);
  }
  ASSERT_TRUE(next) << "never opened anew";
  EXPECT_TRUE(next->text.ends_with("again")) << next->text;
  EXPECT_GE(Clock::now() - lost, TWriterThread::ReopenInterval - 1s);
}

TEST_F(TraceChannelTest, OpenFailuresSayWhatIsWrongAndWhatToDo) {
  using Kind = platform::SharedOpenFailure::Kind;
  const std::string object = fName + ".Mutex4_1";
  auto failure = [&](Kind kind, mode_t mode, gid_t group, int error = EACCES) {
    platform::SharedOpenFailure f;
    f.kind = kind;
    f.object = object;
    f.error = error;
    f.found = true;
    f.owner = 65534;
    f.group = group;
    f.mode = mode;
    return f;
  };
  const TTraceAccess staff{true, "staff"}, everyone{true, ""};
  const gid_t staffId = getgrnam("staff") ? getgrnam("staff")->gr_gid : 50;
  const std::string remove = "an administrator can remove its objects (rm /dev/shm/" + fName + ".*)";
  struct Case {
    platform::SharedOpenFailure failure;
    TTraceAccess access;
    std::string text;
  };
  const Case cases[] = {
      {failure(Kind::kNoAccess, 0660, staffId), staff,
       "no access to the trace channel " + fName + " (objects of group staff, mode 0660): ask to be added to that group"},
      {failure(Kind::kNoAccess, 0000, 65534), everyone,
       "no access to the trace channel " + fName + " (/dev/shm/" + object +
           ": owner nobody, group nogroup, mode 0000): its owner has taken it away; " + remove},
      {failure(Kind::kWrongAccess, 0666, 65534), staff,
       "the trace channel " + fName + " is not used: /dev/shm/" + object +
           ": owner nobody, group nogroup, mode 0666, where group staff, mode 0660 is configured; " + remove},
      {failure(Kind::kLeased, 0666, 65534, EAGAIN), everyone,
       "the trace channel " + fName + " is held by another process (a lease on /dev/shm/" + object +
           ": owner nobody, group nogroup, mode 0666): messages are dropped until the kernel breaks the lease or an "
           "administrator removes the objects (rm /dev/shm/" + fName + ".*)"},
      {failure(Kind::kNotMember, 0, 0, EPERM), staff,
       "cannot create the trace channel " + fName + " for group staff: this account is not a member of it"},
      {failure(Kind::kSystem, 0, 0, EINVAL), everyone,
       "the trace channel " + fName + " cannot be opened: " + object + ": Invalid argument"},
  };
  for (const Case& c : cases) EXPECT_EQ(TTraceChannel::DescribeOpenFailure(fName, c.access, c.failure), c.text);
  // A group that does not exist: nothing is made at all.
  try {
    TTraceChannel::Open(fName + ".nogroup", {true, "nemvo-no-such-group"});
    ADD_FAILURE() << "opened";
  } catch (const EIBClientError& e) {
    EXPECT_EQ(e.Message(), "the trace channel " + fName + ".nogroup is not used: its group nemvo-no-such-group does not exist");
  }
  EXPECT_NE(access(("/dev/shm/" + fName + ".nogroup.SharedMem4_1").c_str(), F_OK), 0);
}

TEST_F(TraceChannelTest, ReaderKilledWhileRegisteredHoldsNobodyUp) {
  // Killed as kill -9 or the out-of-memory killer would: registered, and
  // never unregistered.
  {
    auto reader = StartReader();
    reader->Signal(SIGKILL);
    reader->Finish();
  }
  ASSERT_EQ(fChannel->MonitorCount(), 1);
  // The program's messages find no live reader: nothing waits for the dead
  // one (each message would have waited about a second for it), and the
  // count is put right.
  Probe({});  // loaded once before the clock starts
  const auto start = Clock::now();
  EXPECT_EQ(Probe({"raise-client:17", "raise-client:16", "raise-client:15"}),
            "EIBClientError 17 0 Faltando nome do Banco de Dados\n"
            "EIBClientError 16 0 N\xE3o \xE9 poss\xEDvel executar opera\xE7\xE3o -- DB est\xE1 atualmente aberto\n"
            "EIBClientError 15 0 N\xE3o \xE9 poss\xEDvel executar opera\xE7\xE3o -- DB n\xE3o est\xE1 aberto\n");
  EXPECT_LT(Clock::now() - start, 900ms);
  EXPECT_EQ(fChannel->MonitorCount(), 0);

  // The next reader gets the next message.
  auto next = StartReader();
  Probe({"raise-client:17"});
  EXPECT_TRUE(next->WaitForOutput("Faltando", 10s)) << next->Output();
}

TEST_F(TraceChannelTest, ReaderThatDiesWhileAChunkWaitsForItIsNotWaitedForLonger) {
  testing::TForkedProcess silent([&](const testing::TForkedProcess::Ready& ready) {
    auto mine = TTraceChannel::Open(fName);
    if (!mine->RegisterReader()) _exit(1);
    ready();
    pause();  // registered, and never reads
  });
  ASSERT_TRUE(silent.IsReady());
  std::atomic<bool> returned{false};
  bool delivered = false;
  std::thread writer([&] {
    auto channel = TTraceChannel::Open(fName);
    delivered = channel->WriteMessage("for the dead", TTraceFlag::tfMisc, 45000, 30s, Clock::now() + 30s);
    returned = true;
  });
  // On offer, waiting for the one reader.
  const auto until = Clock::now() + 10s;
  while (fChannel->ReaderCount() != 1 && Clock::now() < until) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(fChannel->ReaderCount(), 1);
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(returned);
  silent.Kill();
  const auto killed = Clock::now();
  while (!returned && Clock::now() < killed + 10s) std::this_thread::sleep_for(1ms);
  EXPECT_LT(Clock::now() - killed, 1s);
  writer.join();
  // It reached nobody: not delivered, so that its writer counts it among the
  // dropped ones and the next reader is told.
  EXPECT_FALSE(delivered);
}

TEST_F(TraceChannelTest, RecountRepairsTheCounts) {
  // What --reset does; readers and writers do it as they go too.
  auto live = StartReader();
  fChannel->RegisterReader();
  platform::TSharedMemory& memory = Memory();
  memory.Store(TTraceChannel::MonitorCountOffset, 17);
  memory.Store(TTraceChannel::ReaderCountOffset, 5);
  EXPECT_EQ(testing::RunChild(NEMVO_TRACE_TOOL, {"--channel", fName, "--reset"}), "");
  EXPECT_EQ(fChannel->MonitorCount(), 2);
  EXPECT_EQ(fChannel->ReaderCount(), 0);
}

TEST_F(TraceChannelTest, ReaderEndsPromptlyOnEachSignalWhateverItIsDoing) {
  // Waiting for messages, or stuck writing them out to a reader of its
  // output that has stopped reading (its pipe full).
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (bool stuckWriting : {false, true}) {
      SCOPED_TRACE(std::string(strsignal(signal)) + (stuckWriting ? ", stuck writing" : ", waiting"));
      auto reader = StartReader();
      if (stuckWriting) {
        auto writer = TTraceChannel::Open(fName);
        const std::string big(4000, 'm');
        int delivered = 0;
        while (delivered < 200 && writer->WriteMessage(big, TTraceFlag::tfMisc, 45000, 1s, Clock::now() + 300ms))
          ++delivered;
        ASSERT_LT(delivered, 200) << "the reader never got stuck";
      }
      const auto start = Clock::now();
      reader->Signal(signal);
      // Ended without anybody reading its output meanwhile.
      auto ended = [&] {
        siginfo_t info = {};
        return waitid(P_PID, id_t(reader->Pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == reader->Pid();
      };
      while (!ended() && Clock::now() - start < 2s) std::this_thread::sleep_for(2ms);
      EXPECT_TRUE(ended()) << "still running 2 s after the signal";
      const int status = reader->Finish();
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      EXPECT_EQ(fChannel->LiveReaderCount(), 0);
    }
  }
}

TEST_F(TraceChannelTest, MessagesOfAnyLengthArriveWhole) {
  TTraceReader reader(fName);
  std::vector<std::string> texts;
  for (size_t length : {0, 1, 999, 1000, 1001, 2000, 4321}) {
    std::string text(length, 'x');
    for (size_t i = 0; i < length; ++i) text[i] = char('a' + i % 26);
    texts.push_back(text);
  }
  std::thread writer([&] {
    auto channel = TTraceChannel::Open(fName);
    double stamp = 45000;
    for (const auto& text : texts)
      EXPECT_TRUE(channel->WriteMessage(text, TTraceFlag::tfMisc, stamp++, 5s, Clock::now() + 5s));
  });
  double stamp = 45000;
  for (const auto& text : texts) {
    auto message = reader.ReadMessage(Clock::now() + 10s);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->text, text);
    EXPECT_EQ(message->timeStamp, stamp++);
    EXPECT_EQ(message->flag, int32_t(TTraceFlag::tfMisc));
  }
  writer.join();
}

TEST_F(TraceChannelTest, MemoryLayoutIsTheSharedOne) {
  platform::TSharedMemory& memory = Memory();
  auto int32At = [&](size_t offset) { return static_cast<int32_t>(memory.Load(offset)); };
  TTraceReader reader(fName);
  EXPECT_EQ(int32At(1020), 1);  // monitor count
  std::thread writer([&] {
    auto channel = TTraceChannel::Open(fName);
    channel->WriteMessage("hello", TTraceFlag::tfError, 44000.5, 5s, Clock::now() + 5s);
  });
  auto message = reader.ReadMessage(Clock::now() + 10s);
  writer.join();
  ASSERT_TRUE(message);
  char text[5];
  memory.CopyOut(0, text, 5);
  EXPECT_EQ(std::string(text, 5), "hello");
  EXPECT_EQ(int32At(1000), 5);
  double stamp;
  memory.CopyOut(1004, &stamp, 8);
  EXPECT_EQ(stamp, 44000.5);
  EXPECT_EQ(int32At(1012), 3);  // tfError
  EXPECT_EQ(int32At(1016), 0);  // every reader has taken it

  // Counts that some other program left negative are repaired on open.
  memory.Store(1016, 0xFFFFFFFF);
  memory.Store(1020, 0x80000000);
  TTraceChannel::Open(fName);
  EXPECT_EQ(int32At(1016), 0);
  EXPECT_EQ(int32At(1020), 0);
}

TEST_F(TraceChannelTest, ReaderTrustsNoLengthFoundInTheMemory) {
  // Another account offers a "chunk" with a length of its choosing: the
  // reader takes at most the 1000 bytes of the text field.
  platform::TSharedMemory& memory = Memory();
  auto chunkNumber = Control(TTraceChannel::ObjectNames(fName).writeEvent);
  ASSERT_TRUE(chunkNumber);
  ASSERT_TRUE(fChannel->RegisterReader());
  const std::string text(1000, 'g');
  memory.CopyIn(0, text.data(), text.size());
  struct Case {
    uint32_t length;
    size_t taken;
  };
  for (const Case& c : {Case{7, 7}, Case{1000, 1000}, Case{1001, 1000}, Case{0x7FFFFFFF, 1000},
                        Case{0xFFFFFFFF, 1000}, Case{0, 0}}) {
    SCOPED_TRACE(c.length);
    memory.Store(TTraceChannel::LengthOffset, c.length);
    chunkNumber->Add(0, 1);
    chunkNumber->WakeAll(0);
    auto chunk = fChannel->ReadChunk(Clock::now() + 5s);
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->text, text.substr(0, c.taken));
  }
}

TEST_F(TraceChannelTest, LockHeldForeverOnlyDropsMessages) {
  // A process of another account takes the lock and never lets go: the
  // writer gives up at its deadline, the reader at its own, and once the
  // holder is gone (killed) the channel works again with no repair by hand.
  TTraceReader reader(fName);
  testing::TForkedProcess holder(
      [&](const testing::TForkedProcess::Ready& ready) {
        bool created = false;
        auto mutex = platform::TSharedMemory::CreateOrOpen(TTraceChannel::ObjectNames(fName).mutex,
                                                           TTraceChannel::ControlSize, created);
        platform::TSharedLock lock(*mutex);
        if (lock.Lock(Clock::now() + 5s) == platform::SharedLockResult::kTimedOut) _exit(1);
        ready();
        pause();
      },
      testing::TForkedProcess::AsNobody);
  ASSERT_TRUE(holder.IsReady());
  auto writer = TTraceChannel::Open(fName);
  auto start = Clock::now();
  EXPECT_FALSE(writer->WriteMessage("lost", TTraceFlag::tfMisc, 45000, 5s, start + 200ms));
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_FALSE(reader.ReadMessage(Clock::now() + 50ms));
  holder.Kill();
  std::thread next([&] { EXPECT_TRUE(writer->WriteMessage("after", TTraceFlag::tfMisc, 45001, 5s, Clock::now() + 5s)); });
  auto message = reader.ReadMessage(Clock::now() + 10s);
  next.join();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->text, "after");
}

TEST_F(TraceChannelTest, ChannelThatCannotBeOpenedSilencesTracingAndSaysSoOnce) {
  testing::TChildProcess probe(NEMVO_BINDING_PROBE, {"raise-client:17", "raise-client:17", "raise-client:17"},
                               {{"NEMVO_TRACE_CHANNEL", "no/such/dir"}});
  const int status = probe.Finish();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(probe.Output(), "EIBClientError 17 0 Faltando nome do Banco de Dados\n"
                            "EIBClientError 17 0 Faltando nome do Banco de Dados\n"
                            "EIBClientError 17 0 Faltando nome do Banco de Dados\n");
  EXPECT_EQ(probe.Result().err,
            "db_binding_probe: the trace channel no/such/dir cannot be opened: no/such/dir.SharedMem4_1: Invalid "
            "argument\n");
}

TEST_F(TraceChannelTest, NoHookAfterShutdown) {
  EXPECT_EQ(Probe({"raise-client:17", "shutdown-trace", "raise-client:17"}),
            "EIBClientError 17 0 Faltando nome do Banco de Dados\nhook gone\n"
            "EIBClientError 17 0 Faltando nome do Banco de Dados\n");
}

}  // namespace
}  // namespace nemvo
