#include "cgi/DefaultWebAppServices.h"

#include "base/Component.h"
#include "cgi/IWebRequestHandler.h"
#include "cgi/WebException.h"
#include "cgi/WebModuleList.h"

namespace nemvo {

void TDefaultWebAppServices::InitContext(TWebModuleList& list, TWebRequest& request, TWebResponse& response) {
  fList = &list;
  fRequest = &request;
  fResponse = &response;
}

IWebRequestHandler* TDefaultWebAppServices::FindRequestHandler() {
  if (fSearched || !fList) return fRequestHandler;
  fSearched = true;
  for (int i = 0; i < fList->ItemCount() && !fRequestHandler; ++i) {
    TComponent* module = fList->Items(i);
    if (auto* handler = dynamic_cast<IWebRequestHandler*>(module)) {
      fRequestHandler = handler;
      fDispatcher = module;
      break;
    }
    for (int j = 0; j < module->ComponentCount(); ++j) {
      TComponent* component = module->Components(j);
      if (auto* handler = dynamic_cast<IWebRequestHandler*>(component)) {
        fRequestHandler = handler;
        fDispatcher = component;
        break;
      }
    }
  }
  return fRequestHandler;
}

bool TDefaultWebAppServices::HandleRequest() {
  IWebRequestHandler* handler = FindRequestHandler();
  if (!handler) throw EWebException("No dispatcher component found on data module");
  return handler->RouteRequest(*fRequest, *fResponse);
}

TComponent* TDefaultWebAppServices::ExceptionHandler() {
  FindRequestHandler();
  return fDispatcher;
}

}  // namespace nemvo
