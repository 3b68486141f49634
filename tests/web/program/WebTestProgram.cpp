// A CGI program like nemvoweb that serves the web tests' module, so that the
// dispatch can be checked from outside, as the web server sees it.
// WEB_TEST_MODULE=broken serves the module whose definition cannot be read;
// WEB_TEST_FAIL_CREATE=1 makes the module's OnCreate raise.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cgi/CGIApplication.h"
#include "cgi/ConsoleMode.h"
#include "cgi/ExceptionReport.h"
#include "web/TestWebModule.h"

int main() {
  using namespace nemvo;
  ConsoleMode = true;
  int exitCode = 0;
  try {
    Application = std::make_unique<TCGIApplication>();
    Application->Initialize();
    const char* which = std::getenv("WEB_TEST_MODULE");
    if (which && std::strcmp(which, "broken") == 0)
      Application->RegisterModuleClass(testing::TBrokenWebModule::StaticClass());
    else
      Application->RegisterModuleClass(testing::TTestWebModule::StaticClass());
    testing::TTestWebModule::FailCreation = std::getenv("WEB_TEST_FAIL_CREATE") != nullptr;
    Application->Run();
  } catch (...) {
    ShowException(CurrentExceptionInfo());
    exitCode = 1;
  }
  Application.reset();
  return exitCode;
}
