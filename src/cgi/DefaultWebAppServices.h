#pragma once
// Routes a request through the first dispatcher found on the modules of the
// list: a module that is a dispatcher itself, or else the first dispatcher
// placed on it.
#include "cgi/WebAppServices.h"

namespace nemvo {

class IWebRequestHandler;

class TDefaultWebAppServices : public IWebAppServices {
 public:
  void InitContext(TWebModuleList& list, TWebRequest& request, TWebResponse& response) override;
  // Raises EWebException when no module offers a dispatcher.
  bool HandleRequest() override;
  void FinishContext() override {}
  // The dispatcher found by the same search, or null.
  TComponent* ExceptionHandler() override;

 private:
  // Searches once; later calls return what was found.
  IWebRequestHandler* FindRequestHandler();

  IWebRequestHandler* fRequestHandler = nullptr;  // a component of a module in fList
  TComponent* fDispatcher = nullptr;              // the same object, as a component
  bool fSearched = false;
  TWebRequest* fRequest = nullptr;    // not owned; bound by InitContext
  TWebModuleList* fList = nullptr;    // not owned
  TWebResponse* fResponse = nullptr;  // not owned
};

}  // namespace nemvo
