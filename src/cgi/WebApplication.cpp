#include "cgi/WebApplication.h"

#include <exception>

#include "base/Exception.h"
#include "cgi/ApplicationExceptionHandler.h"
#include "cgi/ExceptionReport.h"

namespace nemvo {

TWebApplication::TWebApplication(TComponent* owner) : TWebRequestHandler(owner) {
  ApplicationExceptionHandler = [this](TComponent* sender) { HandleWebException(sender); };
}

TWebApplication::~TWebApplication() { ApplicationExceptionHandler = nullptr; }

void TWebApplication::Initialize() {
  if (StartupHook) StartupHook();
}

void TWebApplication::HandleWebException(TComponent* sender) {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  bool handled = false;
  try {
    std::rethrow_exception(current);
  } catch (const Exception& e) {
    if (auto* reporter = dynamic_cast<IWebExceptionReporter*>(sender)) {
      try {
        reporter->ReportException(e, handled);
      } catch (...) {
        ShowException(CurrentExceptionInfo());
        handled = true;
      }
    }
  } catch (...) {
  }
  if (handled) return;
  try {
    std::rethrow_exception(current);
  } catch (...) {
    ShowException(CurrentExceptionInfo());
  }
}

}  // namespace nemvo
