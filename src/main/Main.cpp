// The CGI program: one process per HTTP request. The web server passes the
// request in the environment and on standard input and relays what is
// written on standard output.
#include <memory>

#include "cgi/CGIApplication.h"
#include "cgi/ConsoleMode.h"
#include "cgi/ExceptionReport.h"

namespace {

// The program's web module classes. Until the administration module exists
// none is registered, and every request is answered "No data modules
// registered".
void RegisterModuleClasses(nemvo::TCGIApplication& /*application*/) {}

}  // namespace

int main() {
  using namespace nemvo;
  ConsoleMode = true;
  int exitCode = 0;
  try {
    Application = std::make_unique<TCGIApplication>();
    Application->Initialize();
    RegisterModuleClasses(*Application);
    Application->Run();
  } catch (...) {
    // Nothing goes to standard output now: the web server gets no response.
    ShowException(CurrentExceptionInfo());
    exitCode = 1;
  }
  Application.reset();
  return exitCode;
}
