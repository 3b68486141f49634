#include "web/CustomWebDispatcher.h"

#include "base/Exception.h"
#include "base/HTMLEscape.h"
#include "base/Format.h"
#include "cgi/WebException.h"
#include "cgi/WebRequest.h"
#include "cgi/WebResponse.h"
#include "web/CustomContentProducer.h"
#include "web/WebModule.h"

namespace nemvo {

TComponent* TCustomWebDispatcher::AcceptOwner(TComponent* owner) {
  if (owner) {
    bool clash = dynamic_cast<TCustomWebDispatcher*>(owner) != nullptr;
    for (int i = 0; i < owner->ComponentCount() && !clash; ++i)
      clash = dynamic_cast<TCustomWebDispatcher*>(owner->Components(i)) != nullptr;
    if (clash) throw EWebException("Only one WebDispatcher per form/data module");
  }
  return owner;
}

TCustomWebDispatcher::TCustomWebDispatcher(TComponent* owner)
    : TDataModule(AcceptOwner(owner)), fActions(std::make_unique<TWebActionItems>(this)) {}

TCustomWebDispatcher::~TCustomWebDispatcher() {
  DoDestroy();
  MarkDestroying();
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* producer = dynamic_cast<TCustomContentProducer*>(Components(i)))
      if (producer->HostModule() == this) producer->SetHostModule(nullptr);
  // The placed components go while the actions can still drop references to them.
  DestroyComponents();
}

bool TCustomWebDispatcher::ReadsDefinition() const {
  return ClassType().Type != typeid(TCustomWebDispatcher) && ClassType().Type != typeid(TWebModule);
}

void TCustomWebDispatcher::Notification(TComponent* component, TOperation operation) {
  TDataModule::Notification(component, operation);
  auto* producer = dynamic_cast<TCustomContentProducer*>(component);
  if (operation == opInsert) {
    if (producer && component->Owner() == this) producer->SetHostModule(this);
    return;
  }
  // A producer that only moves to another owner is still there to produce;
  // the actions let go of it when it is destroyed, which they are told of
  // whoever owns it then (SetProducer asked to be told).
  if (fActions && component->IsDestroying()) fActions->ComponentFreed(component);
  if (producer && producer->HostModule() == this && component->Owner() == this) producer->SetHostModule(nullptr);
}

bool TCustomWebDispatcher::RouteRequest(TWebRequest& request, TWebResponse& response) {
  fCurrentRequest = &request;
  fCurrentResponse = &response;
  if (response.Sent()) return true;

  bool result = false;
  if (fBeforeDispatch) {
    THTTPMethodEvent handler = fBeforeDispatch;
    bool handled = false;
    handler(this, request, response, handled);
    result = handled || response.Sent();
  }
  TWebActionItem* defaultAction = nullptr;
  for (int i = 0; !result && i < fActions->Count(); ++i) {
    TWebActionItem* action = &fActions->Items(i);
    result = action->TryAction(request, response, false);
    // The handler may have deleted actions, this one among them: find it
    // again before reading it, and go on with the action that now follows.
    const int index = fActions->IndexOf(action);
    if (index < 0) {
      --i;
      continue;
    }
    i = index;
    if (action->Default()) defaultAction = action;
  }
  // A handler may have deleted the action meanwhile.
  if (!result && defaultAction && fActions->IndexOf(defaultAction) >= 0)
    result = defaultAction->TryAction(request, response, true);
  if (result && !response.Sent() && fAfterDispatch) {
    THTTPMethodEvent handler = fAfterDispatch;
    bool handled = true;
    handler(this, request, response, handled);
    result = handled;
  }
  return result;
}

std::string TCustomWebDispatcher::ErrorPage(const std::string& message, const std::string& pathInfo) {
  return Format(
      "<html><body><h1>Internal Application Error</h1>\r\n"
      "<p>%0:s\r\n"
      "<p><hr width=\"100%%\"><i>%1:s</i></body></html>",
      HTMLEscape(message), HTMLEscape(pathInfo));
}

void TCustomWebDispatcher::ReportException(const Exception& E, bool& handled) {
  handled = false;
  if (fOnException) {
    handled = true;
    if (fCurrentResponse) fCurrentResponse->SetStatusCode(500);
    TWebExceptionEvent handler = fOnException;
    handler(this, E, handled);
    if (handled && fCurrentResponse) fCurrentResponse->SendResponse();
  }
  if (!handled && fCurrentResponse) {
    fCurrentResponse->SetContent(ErrorPage(E.Message(), fCurrentRequest ? fCurrentRequest->PathInfo() : std::string()));
    if (!fCurrentResponse->Sent()) {
      fCurrentResponse->SetStatusCode(500);
      fCurrentResponse->SendResponse();
    }
    handled = true;
  }
}

}  // namespace nemvo
