// nemvo-trace: watches the SQL trace channel. Registers as a trace reader,
// prints every message with its time stamp and category as it arrives, and
// unregisters when it ends (Ctrl-C, SIGTERM, SIGHUP).
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "admin/Configuration.h"
#include "base/Exception.h"
#include "db/TraceAccess.h"
#include "db/TraceDisplay.h"
#include "db/TraceReader.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

// Every wait below is short and returns on a signal, so the first request
// ends the program within moments; a second one ends it at once, whatever it
// is doing (the kernel releases its reader slot either way).
void RequestStop(int signal) {
  if (stopRequested) _exit(128 + signal);
  stopRequested = 1;
}

void Usage(FILE* out) {
  std::fputs(
      "Usage: nemvo-trace [--channel NAME] [--group NAME] [--raw] [--reset]\n"
      "Prints the database errors and other trace messages of every program on\n"
      "this machine as they happen, until interrupted.\n"
      "  --channel NAME  the channel's name (default: NEMVO_TRACE_CHANNEL or IB.SQL.MONITOR)\n"
      "  --group NAME    the group whose members alone use the channel, should this reader\n"
      "                  create it (default: SQLTraceGroup of the configuration file when\n"
      "                  readable, else the build's; \"\" for every account)\n"
      "  --raw           write message texts as they are (ISO-8859-1) instead of UTF-8\n"
      "  --reset         recount the channel's readers and exit (readers and writers also\n"
      "                  do this by themselves as they go)\n",
      out);
}

// "2024-05-01 12:34:56.789" from days since 30 December 1899, local time.
std::string TimeStampText(double days) {
  if (!std::isfinite(days) || days < 0 || days > 2958465) return "(no time)";  // up to 31 December 9999
  const double seconds = (days - 25569.0) * 86400.0;
  auto whole = static_cast<long long>(std::floor(seconds));
  int millis = static_cast<int>(std::lround((seconds - double(whole)) * 1000.0));
  if (millis == 1000) {
    ++whole;
    millis = 0;
  }
  time_t t = static_cast<time_t>(whole);
  tm parts;
  gmtime_r(&t, &parts);  // the stamp already is local time
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, millis);
  return text;
}

// A line after a message that did not arrive whole.
const char* EndNote(nemvo::TTraceMessage::End end) {
  switch (end) {
    case nemvo::TTraceMessage::End::kCut:
      return "[message cut: longer than 64 KiB]\n";
    case nemvo::TTraceMessage::End::kUnfinished:
      return "[message unfinished: its writer stopped before its end]\n";
    case nemvo::TTraceMessage::End::kWhole:
      break;
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  std::string channelName = nemvo::TTraceChannel::DefaultName();
  bool raw = false;
  bool reset = false;
  nemvo::TTraceAccess access = nemvo::TraceAccessFromFile(nemvo::ConfigFilePath, nemvo::ConfigSection,
                                                          nemvo::SQLTraceKey, nemvo::SQLTraceGroupKey);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--channel" && i + 1 < argc) {
      channelName = argv[++i];
    } else if (arg == "--group" && i + 1 < argc) {
      access = nemvo::TraceAccessFrom("", std::string_view(argv[++i]));
    } else if (arg == "--raw") {
      raw = true;
    } else if (arg == "--reset") {
      reset = true;
    } else if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else {
      Usage(stderr);
      return 2;
    }
  }

  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = RequestStop;  // no SA_RESTART: waits return and the loop ends
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // Whoever comes first makes the channel's objects: this reader makes them
  // as the writers would, and uses none that are otherwise.
  if (!access.enabled)
    std::fprintf(stderr, "nemvo-trace: note: %s sets %s=0: nemvoweb traces nothing\n", nemvo::ConfigFilePath,
                 nemvo::SQLTraceKey);
  access.enabled = true;
  nemvo::TTraceChannel::SetDefaultAccess(access);

  try {
    if (reset) {
      const int32_t readers = nemvo::TTraceChannel::Open(channelName)->RecountReaders();
      std::fprintf(stderr, "nemvo-trace: %s has %d registered reader(s)\n", channelName.c_str(), int(readers));
      return 0;
    }
    nemvo::TTraceReader reader(channelName);
    std::fprintf(stderr, "nemvo-trace: watching %s (Ctrl-C ends)\n", channelName.c_str());
    while (!stopRequested) {
      // Short waits, so that a signal ends the loop promptly.
      auto message = reader.ReadMessage(nemvo::TTraceChannel::Clock::now() + std::chrono::milliseconds(100));
      if (!message) continue;
      std::string text = nemvo::DisplayTraceText(message->text, raw);
      while (!text.empty() && text.front() == '\n') text.erase(0, 1);
      if (std::printf("%s %s:\n%s\n%s", TimeStampText(message->timeStamp).c_str(),
                      nemvo::TraceFlagName(message->flag), text.c_str(), EndNote(message->end)) < 0 ||
          std::fflush(stdout) != 0)
        break;  // nobody reads our output any more
    }
  } catch (const nemvo::Exception& e) {
    std::fprintf(stderr, "nemvo-trace: %s\n", nemvo::DisplayTraceText(e.Message(), raw).c_str());
    return 1;
  }
  return 0;
}
