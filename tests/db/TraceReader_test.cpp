// The trace reader against writers that do not keep to the protocol: any
// account may write the channel, so a chunk stream that never ends its
// message, a message whose rest never comes, or text full of terminal
// controls must cost the reader neither its memory nor its deadlines, nor
// reach the administrator's terminal as controls.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

#include "db/OwnTraceChannel.h"
#include "db/TraceChannel.h"
#include "db/TraceDisplay.h"
#include "db/TraceReader.h"
#include "platform/SharedChannel.h"
#include "support/ChildProcess.h"
#include "support/ForkedProcess.h"

namespace nemvo {
namespace {

using namespace std::chrono_literals;
using Clock = TTraceChannel::Clock;
using End = TTraceMessage::End;

TEST(TraceDisplay, TerminalControlsAreShownEscaped) {
  struct Case {
    const char* name;
    std::string text;
    bool raw;
    std::string shown;
  };
  const Case cases[] = {
      {"plain text and CR LF line ends", "a b\r\nc\r\n", false, "a b\nc\n"},
      {"LF and tab kept", "a\tb\nc", false, "a\tb\nc"},
      {"escape sequence", "x\x1b]0;owned\x07y", false, "x\\x1B]0;owned\\x07y"},
      {"lone CR, NUL, DEL", std::string("a\rb\0c\x7f", 6), false, "a\\x0Db\\x00c\\x7F"},
      {"C1 controls (CSI) in UTF-8 mode", "\x9b" "31m\x85", false, "\\x9B31m\\x85"},
      {"C1 controls in raw mode", "\x9b\x80\x9f", true, "\\x9B\\x80\\x9F"},
      {"Latin-1 letters as UTF-8", "Usu\xe1rio \xa0\xff", false, "Usu\xc3\xa1rio \xc2\xa0\xc3\xbf"},
      {"Latin-1 letters raw", "Usu\xe1rio", true, "Usu\xe1rio"},
      {"CR at the end", "a\r", false, "a\\x0D"},
  };
  for (const Case& c : cases) EXPECT_EQ(DisplayTraceText(c.text, c.raw), c.shown) << c.name;
}

// A figure of /proc/PID/status, in KiB; -1 when it cannot be read.
long MemoryKiB(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size());
  return -1;
}

class TraceReaderTest : public testing::OwnTraceChannelTest {
 protected:
  // Offers chunks as a writer that ignores the protocol would: no lock, no
  // waiting for the readers, `length` bytes of `fill` stamped `stamp`, until
  // `stop` (or `count` chunks).
  static void OfferChunks(const std::string& name, double stamp, size_t length, char fill, const std::atomic<bool>& stop,
                          size_t count = SIZE_MAX) {
    bool created = false;
    auto memory = platform::TSharedMemory::CreateOrOpen(TTraceChannel::ObjectNames(name).memory,
                                                        TTraceChannel::MemorySize, created);
    auto chunkNumber = platform::TSharedMemory::CreateOrOpen(TTraceChannel::ObjectNames(name).writeEvent,
                                                             TTraceChannel::ControlSize, created);
    if (!memory || !chunkNumber) return;
    const std::string text(length, fill);
    uint32_t words[2];
    std::memcpy(words, &stamp, sizeof words);
    for (size_t i = 0; i < count && !stop.load(); ++i) {
      memory->CopyIn(0, text.data(), text.size());
      memory->Store(TTraceChannel::LengthOffset, uint32_t(length));
      memory->Store(TTraceChannel::TimeStampOffset, words[0]);
      memory->Store(TTraceChannel::TimeStampOffset + 4, words[1]);
      memory->Store(TTraceChannel::FlagOffset, uint32_t(TTraceFlag::tfMisc));
      chunkNumber->Add(0, 1);
      chunkNumber->WakeAll(0);
      std::this_thread::sleep_for(20us);
    }
  }

};

TEST_F(TraceReaderTest, EndlessMessageIsCutAndEveryCallKeepsItsDeadline) {
  TTraceReader reader(fName);
  std::atomic<bool> stop{false};
  std::thread flood([&] { OfferChunks(fName, 45000, TTraceChannel::ChunkSize, 'f', stop); });
  auto cut = reader.ReadMessage(Clock::now() + 20s);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->end, End::kCut);
  EXPECT_EQ(cut->text.size(), TTraceReader::MaxMessageBytes);
  // The rest of it keeps coming and is skipped: each call still returns at
  // its own deadline, with nothing.
  for (int i = 0; i < 5; ++i) {
    const auto start = Clock::now();
    EXPECT_FALSE(reader.ReadMessage(start + 100ms));
    EXPECT_LT(Clock::now() - start, 2s);
  }
  stop = true;
  flood.join();
  // The next writer that keeps to the protocol is read as ever.
  std::thread writer([&] {
    auto channel = TTraceChannel::Open(fName);
    EXPECT_TRUE(channel->WriteMessage("after the flood", TTraceFlag::tfError, 45001, 5s, Clock::now() + 5s));
  });
  auto next = reader.ReadMessage(Clock::now() + 10s);
  writer.join();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->text, "after the flood");
  EXPECT_EQ(next->end, End::kWhole);
}

TEST_F(TraceReaderTest, MessageWhoseRestNeverComesIsGivenUp) {
  TTraceReader reader(fName);
  std::atomic<bool> stop{false};
  OfferChunks(fName, 45000, TTraceChannel::ChunkSize, 'h', stop, 1);
  // Calls shorter than the wait for the rest keep the part in hand...
  EXPECT_FALSE(reader.ReadMessage(Clock::now() + 100ms));
  // ...until the rest is overdue: what came is given, marked unfinished.
  auto unfinished = reader.ReadMessage(Clock::now() + TTraceReader::UnfinishedAfter + 10s);
  ASSERT_TRUE(unfinished);
  EXPECT_EQ(unfinished->end, End::kUnfinished);
  EXPECT_EQ(unfinished->text, std::string(TTraceChannel::ChunkSize, 'h'));
  // Its rest, arriving late after all, is not taken for a message.
  OfferChunks(fName, 45000, 10, 'h', stop, 1);
  EXPECT_FALSE(reader.ReadMessage(Clock::now() + 200ms));
}

// nemvo-trace itself, flooded by a process of another account for ten
// seconds: its memory stays small, and what comes afterwards is shown, its
// controls escaped.
TEST_F(TraceReaderTest, NemvoTraceFloodedByAnotherAccountStaysSmall) {
  testing::TChildProcess tool(NEMVO_TRACE_TOOL, {"--channel", fName});
  const auto registered = Clock::now() + 10s;
  while (fChannel->MonitorCount() == 0 && Clock::now() < registered) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(fChannel->MonitorCount(), 1);
  {
    const std::string name = fName;
    testing::TForkedProcess flood(
        [name](const testing::TForkedProcess::Ready& ready) {
          ready();
          std::atomic<bool> never{false};
          for (double stamp = 45000;; stamp += 1) OfferChunks(name, stamp, TTraceChannel::ChunkSize, 'f', never, 5000);
        },
        testing::TForkedProcess::AsNobody);
    ASSERT_TRUE(flood.IsReady());
    const long before = MemoryKiB(tool.Pid(), "VmRSS:");
    // Drains what it prints (one cut message per stamp) meanwhile.
    tool.WaitForOutput("never printed", 10s);
    const long peak = MemoryKiB(tool.Pid(), "VmHWM:");
    RecordProperty("reader_kib_before", std::to_string(before));
    RecordProperty("reader_peak_kib", std::to_string(peak));
    EXPECT_GT(before, 0);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (A sanitizer keeps freed memory aside, and valgrind's own is large.)
    if (!testing::UnderValgrind()) {
      EXPECT_LT(peak - before, 4 * 1024) << "before " << before << " KiB";
    }
#endif
    EXPECT_NE(tool.Output().find("[message cut: longer than 64 KiB]"), std::string::npos);
  }
  auto channel = TTraceChannel::Open(fName);
  EXPECT_TRUE(channel->WriteMessage("after\x1b[2J the \x9b" "flood", TTraceFlag::tfError, 46000, 5s, Clock::now() + 5s));
  EXPECT_TRUE(tool.WaitForOutput("after\\x1B[2J the \\x9Bflood", 10s)) << tool.Output().substr(tool.Output().size() - 300);
  EXPECT_EQ(tool.Output().find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace nemvo
