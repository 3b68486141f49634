// The CGI program: one process per HTTP request. The web server passes the
// request in the environment and on standard input and relays what is
// written on standard output.
#include <memory>

#include "admin/WM1.h"
#include "cgi/CGIApplication.h"
#include "cgi/ConsoleMode.h"
#include "cgi/ExceptionReport.h"
#include "platform/StandardStreams.h"
#include "platform/TerminationRequests.h"

namespace {

// The program's web module class: the administration module. Registering
// records the class only; the module is made for the request.
void RegisterModuleClasses(nemvo::TCGIApplication& application) {
  application.RegisterModuleClass(nemvo::TWM1::StaticClass());
}

}  // namespace

int main() {
  using namespace nemvo;
  ConsoleMode = true;
  // The request runs to its end: a web server's request to end the process
  // waits, and is dropped once the answer is complete (the shutdown below then
  // runs as it would have). Set before the client library starts a thread.
  platform::DeferTerminationRequests();
  int exitCode = 0;
  try {
    Application = std::make_unique<TCGIApplication>();
    Application->Initialize();
    RegisterModuleClasses(*Application);
    Application->Run();
    // The answer is complete: the web server gets it now, not after the
    // shutdown below (the client library's alone takes tens of milliseconds).
    // Standard error ends first, so that a web server that waits for both
    // streams finds the error stream ended when it sees the output end.
    platform::IgnoreTerminationRequests();
    platform::EndStandardError();
    platform::EndStandardOutput();
  } catch (...) {
    // Nothing goes to standard output now: the web server gets no response.
    ShowException(CurrentExceptionInfo());
    exitCode = 1;
  }
  Application.reset();
  return exitCode;
}
