#include "cgi/CGIFactory.h"

#include "cgi/ApplicationExceptionHandler.h"
#include "cgi/CGIApplication.h"
#include "cgi/CGIRequest.h"
#include "cgi/CGIResponse.h"
#include "cgi/ConsoleMode.h"
#include "cgi/WebException.h"

namespace nemvo {

TCGIFactory::TCGIFactory(TCGIApplication& application) : fApplication(application) {
  ApplicationExceptionHandler = [app = &fApplication](TComponent* sender) { app->HandleCGIException(sender); };
}

std::unique_ptr<TWebRequest> TCGIFactory::CreateRequest(TRequestSource& source) {
  if (!ConsoleMode) throw EWebException("File-based CGI requests are not supported");
  return std::make_unique<TCGIRequest>(source);
}

std::unique_ptr<TWebResponse> TCGIFactory::CreateResponse(TWebRequest& request) {
  return std::make_unique<TCGIResponse>(request);
}

}  // namespace nemvo
