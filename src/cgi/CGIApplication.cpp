#include "cgi/CGIApplication.h"

#include <exception>

#include "base/Exception.h"
#include "cgi/ConsoleMode.h"
#include "cgi/ServerError.h"
#include "cgi/WebRequest.h"
#include "cgi/WebResponse.h"
#include "platform/StandardStreams.h"

namespace nemvo {

TCGIApplication::TCGIApplication(TComponent* owner) : TWebApplication(owner) {}

TCGIApplication::~TCGIApplication() = default;

TCGIFactory& TCGIApplication::Factory() {
  if (!fFactory) fFactory = std::make_unique<TCGIFactory>(*this);
  return *fFactory;
}

void TCGIApplication::Run() {
  TWebApplication::Run();
  if (ConsoleMode) {
    if (int error = platform::PrepareStandardStreams()) throw EOSError::FromLastError(error);
  }
  RunRequest(TProcessRequestSource::Instance());
}

void TCGIApplication::RunRequest(TRequestSource& source) {
  try {
    std::unique_ptr<TWebRequest> request = Factory().CreateRequest(source);
    // Declared after the request, so freed before it, also on an exception.
    std::unique_ptr<TWebResponse> response = Factory().CreateResponse(*request);
    HandleRequest(*request, *response);
  } catch (...) {
    WriteServerError(CurrentExceptionInfo(), source, fOutputFileName);
  }
}

void TCGIApplication::HandleCGIException(TComponent* sender) {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  bool handled = false;
  try {
    std::rethrow_exception(current);
  } catch (const Exception& e) {
    if (auto* reporter = dynamic_cast<IWebExceptionReporter*>(sender)) reporter->ReportException(e, handled);
  } catch (...) {
  }
  if (!handled) std::rethrow_exception(current);
}

}  // namespace nemvo
