#include "cgi/WebRequestHandler.h"

#include <algorithm>

#include "base/Exception.h"
#include "cgi/ApplicationExceptionHandler.h"
#include "cgi/DefaultWebAppServices.h"
#include "cgi/WebException.h"
#include "cgi/WebResponse.h"

namespace nemvo {

namespace {

constexpr const char* kTooManyConnections =
    "Maximum number of concurrent connections exceeded.  Please try again later";

// Hands the exception being handled to the application's handler, which
// answers it or raises it again; without a handler it goes on as it is.
void HandOn(TComponent* sender) {
  if (!ApplicationExceptionHandler) throw;
  // A copy: the handler may replace the process-wide one while it runs.
  TApplicationExceptionHandler handler = ApplicationExceptionHandler;
  handler(sender);
}

}  // namespace

TWebRequestHandler::TWebRequestHandler(TComponent* owner)
    : TComponent(owner), fModuleFactories(std::make_unique<TWebModuleFactoryList>()) {}

TWebRequestHandler::~TWebRequestHandler() {
  // The lists' modules go before the factories that made them.
  ReleaseRetiredModules();
  fActiveModuleLists.clear();
  fInactiveModuleLists.clear();
}

void TWebRequestHandler::RegisterModuleClass(const TComponentClass& moduleClass) {
  if (!fModuleClass) {
    fModuleClass = &moduleClass;
  } else if (fModuleClass->Type != moduleClass.Type) {
    throw Exception("Only one data module per application");
  }
}

TWebModuleList& TWebRequestHandler::ActivateModules() {
  // Left over by a host that did not release them after the last answer.
  ReleaseRetiredModules();
  if (fMaxConnections > 0 && fPendingCount >= fMaxConnections) throw EWebException(kTooManyConnections);
  std::lock_guard<std::mutex> guard(fLock);
  struct ResetPending {
    int32_t& count;
    ~ResetPending() { count = 0; }
  } resetPending{fPendingCount};
  fPendingCount = int32_t(fActiveModuleLists.size()) + 1;
  if (fMaxConnections > 0 && int32_t(fActiveModuleLists.size()) >= fMaxConnections)
    throw EWebException(kTooManyConnections);
  if (!fInactiveModuleLists.empty()) {
    std::unique_ptr<TWebModuleList> list = std::move(fInactiveModuleLists.front());
    fInactiveModuleLists.erase(fInactiveModuleLists.begin());
    list->SetOnModuleAdded(nullptr);
    fActiveModuleLists.push_back(std::move(list));
    return *fActiveModuleLists.back();
  }
  if (fModuleFactories->FactoryCount() == 0 && fModuleClass)
    fModuleFactories->AddFactory(std::make_unique<TDefaultWebModuleFactory>(*fModuleClass));
  if (fModuleFactories->FactoryCount() == 0) throw EWebException("No data modules registered");
  fActiveModuleLists.push_back(std::make_unique<TWebModuleList>(*fModuleFactories));
  return *fActiveModuleLists.back();
}

void TWebRequestHandler::DeactivateModules(TWebModuleList& list) {
  std::lock_guard<std::mutex> guard(fLock);
  auto it = std::find_if(fActiveModuleLists.begin(), fActiveModuleLists.end(),
                         [&](const auto& l) { return l.get() == &list; });
  if (it == fActiveModuleLists.end()) return;
  // Room first: nothing below fails half-way with a module in no list.
  fRetiredModules.reserve(fRetiredModules.size() + size_t((*it)->ItemCount()));
  fRetiredModuleLists.reserve(fRetiredModuleLists.size() + 1);
  fInactiveModuleLists.reserve(fInactiveModuleLists.size() + 1);
  std::unique_ptr<TWebModuleList> owned = std::move(*it);
  fActiveModuleLists.erase(it);
  for (int i = 0; i < fModuleFactories->FactoryCount(); ++i) {
    TAbstractWebModuleFactory& factory = fModuleFactories->Factories(i);
    if (factory.CacheMode() != DestroyAfterRequest) continue;
    if (TComponent* module = owned->FindModuleByClass(factory.ComponentClass()))
      fRetiredModules.push_back(owned->TakeModule(module));
  }
  if (fCacheConnections && owned->ItemCount() > 0)
    fInactiveModuleLists.push_back(std::move(owned));
  else
    fRetiredModuleLists.push_back(std::move(owned));
}

void TWebRequestHandler::ReleaseRetiredModules() {
  std::vector<std::unique_ptr<TComponent>> modules;
  std::vector<std::unique_ptr<TWebModuleList>> lists;
  {
    std::lock_guard<std::mutex> guard(fLock);
    modules.swap(fRetiredModules);
    lists.swap(fRetiredModuleLists);
  }
  // Outside the lock: a module's destructor may take its time. In the order
  // retired; a list frees its modules last made first.
  for (auto& module : modules) module.reset();
  for (auto& list : lists) list.reset();
}

void TWebRequestHandler::ActivateAutomaticModules(TWebModuleList& list) { list.AutoCreateModules(); }

bool TWebRequestHandler::HandleRequest(TWebRequest& request, TWebResponse& response) {
  bool result = false;
  TWebModuleList& list = ActivateModules();
  try {
    ActivateAutomaticModules(list);
    if (list.ItemCount() == 0) throw EWebException("No automatically activated data modules");
    try {
      std::shared_ptr<IWebAppServices> services;
      for (int i = 0; i < list.ItemCount() && !services; ++i)
        if (auto* provider = dynamic_cast<IGetWebAppServices*>(list.Items(i))) services = provider->GetWebAppServices();
      if (!services) services = std::make_shared<TDefaultWebAppServices>();
      services->InitContext(list, request, response);
      try {
        try {
          result = services->HandleRequest();
        } catch (...) {
          HandOn(services->ExceptionHandler());
        }
      } catch (...) {
        services->FinishContext();
        throw;
      }
      services->FinishContext();
      if (result && !response.Sent()) response.SendResponse();
    } catch (...) {
      HandOn(nullptr);
    }
  } catch (...) {
    DeactivateModules(list);
    throw;
  }
  DeactivateModules(list);
  return result;
}

}  // namespace nemvo
