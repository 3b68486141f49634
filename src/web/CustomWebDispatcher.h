#pragma once
// The web module base: a data module with an ordered list of actions that
// routes each request to the action that answers it, and turns an exception
// that escaped the routing into an error response.
#include <memory>
#include <string>

#include "cgi/IWebRequestHandler.h"
#include "web/DataModule.h"
#include "web/HTTPMethodEvent.h"
#include "web/WebActionItems.h"

namespace nemvo {

class TCustomWebDispatcher : public TDataModule, public IWebRequestHandler, public IWebExceptionReporter {
  NEMVO_DATA_MODULE(TCustomWebDispatcher, TDataModule)

 public:
  // Raises EWebException "Only one WebDispatcher per form/data module" when
  // `owner` is a dispatcher or already owns one.
  explicit TCustomWebDispatcher(TComponent* owner = nullptr);
  ~TCustomWebDispatcher() override;

  // BeforeDispatch, then the actions in order, then the default action,
  // then AfterDispatch. True when the request was handled. Exceptions of
  // handlers and producers leave unchanged.
  bool RouteRequest(TWebRequest& request, TWebResponse& response) override;
  // OnException, or else the built-in error page with status 500.
  void ReportException(const Exception& E, bool& handled) override;

  // The request and response of the last routing (not owned); null before
  // the first. They are kept after it for ReportException.
  TWebRequest* CurrentRequest() const { return fCurrentRequest; }
  TWebResponse* CurrentResponse() const { return fCurrentResponse; }

  TWebActionItems& Actions() { return *fActions; }
  const TWebActionItems& Actions() const { return *fActions; }

  const THTTPMethodEvent& BeforeDispatch() const { return fBeforeDispatch; }
  void SetBeforeDispatch(THTTPMethodEvent handler) { fBeforeDispatch = std::move(handler); }
  const THTTPMethodEvent& AfterDispatch() const { return fAfterDispatch; }
  void SetAfterDispatch(THTTPMethodEvent handler) { fAfterDispatch = std::move(handler); }
  const TWebExceptionEvent& OnException() const { return fOnException; }
  void SetOnException(TWebExceptionEvent handler) { fOnException = std::move(handler); }

  // The built-in error page for a message and a path info, both HTML-escaped.
  static std::string ErrorPage(const std::string& message, const std::string& pathInfo);

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  bool ReadsDefinition() const override;
  const TComponentClass& DefinitionBase() const override { return TCustomWebDispatcher::StaticClass(); }

 private:
  static TComponent* AcceptOwner(TComponent* owner);

  TWebRequest* fCurrentRequest = nullptr;
  TWebResponse* fCurrentResponse = nullptr;
  std::unique_ptr<TWebActionItems> fActions;
  THTTPMethodEvent fBeforeDispatch;
  THTTPMethodEvent fAfterDispatch;
  TWebExceptionEvent fOnException;
};

}  // namespace nemvo
