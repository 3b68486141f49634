// A CGI process asked to end once its answer is out (Apache asks after every
// answer and waits for the end; lighttpd asks as soon as it has the answer)
// ends at once, without waiting for the rest of its shutdown (here a
// database server slow to let the login's attachment go), unless a trace
// message is still on its way to a registered reader: that one is never lost
// to the hurry.
#include <fstream>
#include <sstream>

#include "db/TraceReader.h"
#include "db/trace/TraceTesting.h"
#include "support/TempDirectory.h"

namespace nemvo::testing {
namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class EndAtOnce : public TraceTest {
 protected:
  // A login the stand-in client library accepts, answered with the main
  // page; the attachment, released after the answer, takes 3 seconds to let
  // go. SIGTERM comes as soon as the answer is complete.
  CGIRun AcceptedLogin(const std::string& log, const std::string& endAtOnce) {
    const std::string body = "u=nemvo&p=secret";
    {
      std::ofstream page(fPages.PathOf("main.html"));
      page << "<html><body>Painel</body></html>\n";
    }
    ProgramConfig::WriteSection("DBSuporte=127.0.0.1:/standin.fdb\nMainHTML=" + fPages.PathOf("main.html") + "\n");
    CGIVars env = {{"LD_LIBRARY_PATH", NEMVO_STANDIN_CLIENT_DIR},
                   {"NEMVO_STANDIN_DETACH_DELAY_MS", "3000"},
                   {"NEMVO_STANDIN_LOG", log},
                   {"NEMVO_TRACE_CHANNEL", fName}};
    if (!endAtOnce.empty()) env.emplace_back("NEMVO_END_AT_ONCE", endAtOnce);
    return RunCGI(NEMVO_WEB_PROGRAM, Request("POST", "/main", body, env), body, {.terminateAfterOutput = true});
  }

  TempDirectory fPages;
};

TEST_F(EndAtOnce, AskedToEndAfterItsAnswerTheProcessEndsWithoutItsShutdown) {
  struct Line {
    const char* name;
    std::string setting;
    bool detachFinished;
  };
  const bool sanitized =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
      true;  // finishes as ever, so that the leak check runs
#else
      false;
#endif
  const Line lines[] = {
      {"by default", "", sanitized},
      {"NEMVO_END_AT_ONCE=1", "1", sanitized},
      {"switched off: NEMVO_END_AT_ONCE=0", "0", true},
  };
  TempDirectory dir;
  for (const Line& line : lines) {
    SCOPED_TRACE(line.name);
    const std::string log = dir.PathOf(std::string("standin.") + line.setting + ".log");
    const CGIRun run = AcceptedLogin(log, line.setting);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.signal, 0);
    EXPECT_NE(run.out.find("Painel"), std::string::npos) << run.out;
    const std::string calls = ReadWhole(log);
    EXPECT_EQ(calls.find("detached\n") != std::string::npos, line.detachFinished) << calls;
  }
}

TEST_F(EndAtOnce, AMessageOnItsWayToAReaderIsDeliveredFirst) {
  // A reader that takes its time: the message waits in the writer when the
  // process is asked to end, right after its answer.
  // Longer than a chunk of the channel: the writer hands the rest over only
  // as the reader takes the first.
  TTraceReader reader(fName);
  const std::string body = "u=nemvo&p=secret";
  std::string marker = "slow reader's message ";
  while (marker.size() < 3 * TTraceChannel::ChunkSize) marker += char('a' + marker.size() % 26);
  TChildProcess program(NEMVO_WEB_PROGRAM, {}, Request("POST", "/main", body, ErroringEnvironment(marker)), body,
                        {.terminateAfterOutput = true});
  // The whole answer, and with it the request to end.
  ASSERT_TRUE(program.WaitForOutput("</html>", 10s)) << program.Output();
  std::this_thread::sleep_for(300ms);
  std::optional<TTraceMessage> message;
  for (auto deadline = Clock::now() + 5s; !message && Clock::now() < deadline;)
    message = reader.ReadMessage(Clock::now() + 100ms);
  ASSERT_TRUE(message) << "the message was lost";
  EXPECT_EQ(message->end, TTraceMessage::End::kWhole);
  // (The client library's text of an error is cut at about a kilobyte: still
  // more than a chunk.)
  EXPECT_GT(message->text.size(), TTraceChannel::ChunkSize);
  EXPECT_NE(message->text.find(marker.substr(0, 900)), std::string::npos) << message->text;
  EXPECT_EQ(program.Finish(), 0);
  EXPECT_NE(program.Result().out.find("Voltar"), std::string::npos);
}

}  // namespace
}  // namespace nemvo::testing
