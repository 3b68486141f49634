// The program. How it is started decides what it is:
//  - "nemvoweb --fastcgi ADDRESS ...": a FastCGI server with a pool of
//    worker processes, listening on ADDRESS itself;
//  - with a listening socket as standard input (how web servers that start
//    FastCGI programs themselves hand one over): a FastCGI server in this
//    process;
//  - otherwise a CGI program, one process per HTTP request: the web server
//    passes the request in the environment and on standard input and relays
//    what is written on standard output.
// Every way runs the same request cycle and writes the same bytes.
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "admin/Configuration.h"
#include "admin/IniFile.h"
#include "admin/WM1.h"
#include "base/Exception.h"
#include "base/RequestProgress.h"
#include "cgi/CGIApplication.h"
#include "cgi/ConsoleMode.h"
#include "cgi/ExceptionReport.h"
#include "cgi/FastCGIApplication.h"
#include "cgi/WorkerReporter.h"
#include "db/WriterThread.h"
#include "main/CommandLine.h"
#include "platform/Environment.h"
#include "platform/ListeningSocket.h"
#include "platform/LogFile.h"
#include "platform/LogLine.h"
#include "platform/ModularPower.h"
#include "platform/PoolBoard.h"
#include "platform/ProcessInfo.h"
#include "platform/RefusedPeerLog.h"
#include "platform/SocketHandOver.h"
#include "platform/StandardStreams.h"
#include "platform/TerminationRequests.h"
#include "platform/WorkerPool.h"

namespace {

using namespace nemvo;

// The program's web module class: the administration module. Registering
// records the class only; the module is made for the request.
void RegisterModuleClasses(TCGIApplication& application) { application.RegisterModuleClass(TWM1::StaticClass()); }

// Whether a request to end after the answer ends the process at once
// (platform/TerminationRequests.h). NEMVO_END_AT_ONCE=0 switches it off: the
// handler takes SIGTERM from the client library, which installs its own. A
// sanitized build finishes as ever, so that its leak check runs.
bool EndAtOnceAfterAnswer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return false;
#else
  return platform::EnvironmentVariable("NEMVO_END_AT_ONCE") != "0";
#endif
}

int RunCGI() {
  int exitCode = 0;
  try {
    Application = std::make_unique<TCGIApplication>();
    Application->Initialize();
    RegisterModuleClasses(*Application);
    Application->Run();
    // What the trace writer has to say about its channel goes out with the
    // answer's standard error.
    AwaitTraceChannelLook();
    // The answer is complete: the web server gets it now, not after the
    // shutdown below (the client library's alone takes tens of milliseconds).
    // Standard input and error end first, so that a web server that waits for
    // all of them (Apache, fcgiwrap) finds them ended when it sees the output
    // end.
    platform::EndStandardInput();
    platform::EndStandardError();
    platform::EndStandardOutput();
    // A web server that asks the process to end now (Apache does after every
    // answer, and waits) has all it will get: the process ends at once,
    // unless a trace message is still on its way to a reader.
    if (EndAtOnceAfterAnswer())
      platform::EndAtOnceOnTerminationRequest([] { return !TraceMessagesInHand(); });
    else
      platform::IgnoreTerminationRequests();
  } catch (...) {
    // Nothing goes to standard output now: the web server gets no response.
    ShowException(CurrentExceptionInfo());
    exitCode = 1;
  }
  // Only now, after the answer, the module goes, and with it the database
  // connection the login left open.
  Application.reset();
  return exitCode;
}

// What a pool's worker reports to the pool, when it runs in one.
struct PoolReport {
  platform::TPoolBoard* board = nullptr;
  int place = 0;
  TWorkerReportSettings settings;
  TFastCGIPeerFilter peers;
};

// A worker pays for many logins: their arithmetic by libcrypto, loaded and
// tested now rather than during the first request (platform/ModularPower.h),
// unless the command line (`commandLine`: "library", "libcrypto" or empty)
// or else the configuration says "library".
void ChooseLoginArithmetic(const std::string& commandLine) {
  platform::LoginArithmeticRequest request;
  request.clientLibrary = build::ClientLibrary;
  if (commandLine == "library") {
    request.switchedOffBy = "--login-arithmetic library";
  } else if (commandLine.empty()) {
    TIniFile config(ConfigFilePath);
    const std::string value = config.ReadString(ConfigSection, LoginArithmeticKey, "");
    if (LoginArithmeticIsLibrary(value))
      request.switchedOffBy = std::string(LoginArithmeticKey) + "=" + value + " in " + ConfigFilePath;
  }
  platform::UseLoginArithmetic(request);
}

// Serves FastCGI requests on `listenSocket` until asked to end (or after
// `maxRequests`, 0: no limit).
int ServeFastCGI(int listenSocket, int64_t maxRequests, const TFastCGILimits& limits, bool ownLoginLog = false,
                 const PoolReport* report = nullptr, const std::string& loginArithmetic = {}) {
  int exitCode = 0;
  std::unique_ptr<TWorkerReporter> reporter;
  try {
    ChooseLoginArithmetic(loginArithmetic);
    const int channel = platform::OpenTerminationChannel();
    if (channel < 0) throw EOSError::FromLastError(errno);
    auto application = std::make_unique<TFastCGIApplication>(listenSocket, channel, maxRequests, limits);
    application->SetOwnErrorLog(ownLoginLog);
    if (report) application->SetPeerFilter(report->peers);
    if (report && report->board) {
      reporter = std::make_unique<TWorkerReporter>(*report->board, report->place, report->settings);
      application->SetHooks(reporter.get());
      SetRequestProgress(reporter.get());
    }
    Application = std::move(application);
    Application->Initialize();
    RegisterModuleClasses(*Application);
    if (reporter) reporter->MarkReady();
    Application->Run();
  } catch (...) {
    ShowException(CurrentExceptionInfo());
    exitCode = 1;
  }
  Application.reset();
  SetRequestProgress(nullptr);
  return exitCode;
}

int RunPool(const std::vector<std::string>& args) {
  const std::string name = "nemvoweb";
  std::string error;
  std::optional<FastCGIPoolOptions> options = ParseFastCGIPoolOptions(args, error);
  if (!options) {
    platform::WriteStandardError(name + ": " + error + "\n" + FastCGIUsage());
    return 2;
  }
  // A service manager may start the pool with closed standard streams.
  platform::PrepareStandardStreams();
  if (!options->logFile.empty() && !platform::PointStandardErrorAt(options->logFile, error)) {
    platform::LogLine(name, "cannot open the log: " + error);
    return 1;
  }
  const platform::ListenOptions listen{.allowRemote = !options->allowRemote.Empty(),
                                       .backlog = options->backlog,
                                       .owner = options->socketOwner,
                                       .group = options->socketGroup,
                                       .mode = options->socketMode};
  // Started anew by a reload: the predecessor's socket, with its queue.
  const std::optional<platform::ListeningSocket> handedOver = platform::TakeHandedOverSocket();
  platform::ListeningSocket socket =
      handedOver ? *handedOver : platform::OpenListeningSocket(options->address, listen, error);
  if (socket.fd < 0) {
    platform::LogLine(name, error);
    return 1;
  }
  const bool onDemand = options->workersMax > 0;
  const int workers = options->workers > 0 ? options->workers : platform::ProcessorCount();
  const int minWorkers = onDemand ? options->workersMin : workers;
  const int maxWorkers = onDemand ? options->workersMax : workers;
  platform::LogLine(
      name, std::string(handedOver ? "started anew, " : "") + "listening on " + options->address + ", " +
                (onDemand ? std::to_string(minWorkers) + " to " + std::to_string(maxWorkers) + " workers on demand"
                          : std::to_string(workers) + (workers == 1 ? " worker" : " workers")) +
                (options->maxRequests > 0
                     ? ", each replaced after " + std::to_string(options->maxRequests) + " requests"
                     : "") +
                (options->allowRemote.Empty() ? "" : ", serving only " + options->allowRemote.Text()));
  // Room for a reload's new workers next to the old ones finishing.
  platform::TPoolBoard board(2 * maxWorkers);
  // A reload starts the program at this path anew: the one installed there
  // by then.
  std::vector<std::string> restartCommand;
  if (const std::string program = platform::ExecutablePath(); !program.empty() && !program.ends_with(" (deleted)")) {
    restartCommand.push_back(program);
    restartCommand.insert(restartCommand.end(), args.begin(), args.end());
  }
  const platform::WorkerPoolOptions poolOptions{
      .minWorkers = minWorkers,
      .maxWorkers = maxWorkers,
      .idleTimeout = std::chrono::seconds(options->idleTimeoutSeconds),
      .shutdownTimeout = std::chrono::seconds(options->shutdownSeconds),
      .requestTimeout = std::chrono::seconds(options->requestTimeoutSeconds),
      .slowThreshold = std::chrono::seconds(options->slowLogSeconds),
      .name = name,
      .logPath = options->logFile,
      .board = &board,
      .listenSocket = socket.fd,
      .phaseName = [](uint8_t phase) { return std::string(RequestPhaseName(phase)); },
      .restartCommand = restartCommand,
      .handOver =
          [&socket](bool on) {
            if (on) return platform::HandOverOnExec(socket);
            platform::TakeBackFromExec(socket);
            return true;
          },
      .draining = platform::TakeDrainingWorkers()};
  // Shared by the workers, so made before they are.
  platform::TRefusedPeerLog refusals;
  PoolReport report;
  report.board = &board;
  if (!options->allowRemote.Empty()) report.peers = {.allowed = &options->allowRemote, .refusals = &refusals};
  report.settings = {.statusPath = options->statusPath,
                     .pingPath = options->pingPath,
                     .accessLog = options->accessLog,
                     .poolLog = options->logFile,
                     .address = options->address,
                     .listenSocket = socket.fd,
                     .listenBacklog = options->backlog,
                     .minWorkers = minWorkers,
                     .maxWorkers = maxWorkers};
  TFastCGILimits limits;
  limits.ioTimeout = std::chrono::seconds(options->ioTimeoutSeconds);
  limits.workers = maxWorkers;
  const int64_t maxRequests = options->maxRequests;
  const bool ownLoginLog = options->ownLoginLog;
  const std::string loginArithmetic = options->loginArithmetic;
  const int exitCode = platform::RunWorkerPool(poolOptions, [&](int place) {
    report.place = place;
    return ServeFastCGI(socket.fd, maxRequests, limits, ownLoginLog, &report, loginArithmetic);
  });
  platform::CloseListeningSocket(socket);
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  ConsoleMode = true;
  // The request runs to its end: a web server's request to end the process
  // waits, and is dropped once the answer is complete (the shutdown below then
  // runs as it would have). Set before the client library starts a thread.
  platform::DeferTerminationRequests();
  if (argc > 1) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (WantsFastCGIPool(args, !platform::EnvironmentVariable("GATEWAY_INTERFACE").empty())) return RunPool(args);
  }
  if (platform::IsListeningSocket(0)) return ServeFastCGI(0, 0, TFastCGILimits{});
  return RunCGI();
}
