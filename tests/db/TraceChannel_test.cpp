// The SQL trace channel across processes: nemvo-trace as the reader, the
// probe as a program that raises database errors. Each test uses a channel
// of its own, so that nothing else on the machine writes into it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "support/ChildProcess.h"
#include "db/TraceChannel.h"
#include "db/TraceReader.h"
#include "platform/SharedChannel.h"

namespace nemvo {
namespace {

using namespace std::chrono_literals;
using Clock = TTraceChannel::Clock;

class TraceChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fName = std::string("nemvo-test.") + info->name() + "." + std::to_string(getpid());
    fChannel = TTraceChannel::Open(fName);
  }
  void TearDown() override { platform::RemoveSharedChannel(TTraceChannel::ObjectNames(fName)); }

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

  std::string fName;
  std::unique_ptr<TTraceChannel> fChannel;
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

TEST_F(TraceChannelTest, NoWriterThreadWithoutAReader) {
  // Without a reader a traced error starts nothing that could hold up the
  // end of the process.
  EXPECT_EQ(Probe({"raise-client:17", "threads"}), "EIBClientError 17 0 Faltando nome do Banco de Dados\nthreads 1\n");
  auto reader = StartReader();
  EXPECT_EQ(Probe({"raise-client:17", "threads"}), "EIBClientError 17 0 Faltando nome do Banco de Dados\nthreads 2\n");
}

TEST_F(TraceChannelTest, ReaderThatDiedRegisteredDoesNotHoldProgramsUp) {
  {
    auto dead = TTraceChannel::Open(fName);
    ASSERT_TRUE(dead->RegisterReader());
  }  // gone without unregistering, as after kill -9
  ASSERT_EQ(fChannel->MonitorCount(), 1);
  testing::TChildProcess program(NEMVO_BINDING_PROBE, {"raise-client:17", "raise-client:16", "raise-client:15"}, Env());
  // Each undelivered message is dropped after about a second and shutdown
  // waits about a second at most; the guard only catches a hang.
  ASSERT_TRUE(program.WaitForOutput("aberto\n", 10s));
  const auto start = Clock::now();
  program.Finish();
  EXPECT_LT(Clock::now() - start, 10s);

  // The administrator's repair.
  EXPECT_EQ(testing::RunChild(NEMVO_TRACE_TOOL, {"--channel", fName, "--reset"}), "");
  EXPECT_EQ(fChannel->MonitorCount(), 0);
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
  bool created = true;
  auto memory = platform::TSharedMemory::CreateOrOpen(TTraceChannel::ObjectNames(fName).memory, 1024, created);
  ASSERT_TRUE(memory);
  EXPECT_FALSE(created);
  auto int32At = [&](size_t offset) {
    int32_t v;
    std::memcpy(&v, memory->Data() + offset, 4);
    return v;
  };
  TTraceReader reader(fName);
  EXPECT_EQ(int32At(1020), 1);  // monitor count
  std::thread writer([&] {
    auto channel = TTraceChannel::Open(fName);
    channel->WriteMessage("hello", TTraceFlag::tfError, 44000.5, 5s, Clock::now() + 5s);
  });
  auto message = reader.ReadMessage(Clock::now() + 10s);
  writer.join();
  ASSERT_TRUE(message);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(memory->Data()), 5), "hello");
  EXPECT_EQ(int32At(1000), 5);
  double stamp;
  std::memcpy(&stamp, memory->Data() + 1004, 8);
  EXPECT_EQ(stamp, 44000.5);
  EXPECT_EQ(int32At(1012), 3);  // tfError
  EXPECT_EQ(int32At(1016), 0);  // every reader has taken it

  // Counts that some other program left negative are repaired on open.
  std::memset(memory->Data() + 1016, 0xFF, 8);
  TTraceChannel::Open(fName);
  EXPECT_EQ(int32At(1016), 0);
  EXPECT_EQ(int32At(1020), 0);
}

TEST_F(TraceChannelTest, ChannelThatCannotBeCreatedSilencesTracingOnly) {
  auto out = testing::RunChild(NEMVO_BINDING_PROBE, {"raise-client:17", "raise-client:17", "threads"},
                               {{"NEMVO_TRACE_CHANNEL", "no/such/dir"}});
  EXPECT_EQ(out,
            "EIBClientError 17 0 Faltando nome do Banco de Dados\nEIBClientError 17 0 Faltando nome do Banco de "
            "Dados\nthreads 1\n");
}

TEST_F(TraceChannelTest, NoHookAfterShutdown) {
  EXPECT_EQ(Probe({"raise-client:17", "shutdown-trace", "raise-client:17"}),
            "EIBClientError 17 0 Faltando nome do Banco de Dados\nhook gone\n"
            "EIBClientError 17 0 Faltando nome do Banco de Dados\n");
}

}  // namespace
}  // namespace nemvo
