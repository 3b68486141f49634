#pragma once
// Carries requests through web modules: keeps the module factories, makes a
// module list for a request (or reuses an idle one), lets the list's
// dispatcher route the request, sends the response and puts the list back.
// Written for any number of requests; a CGI process serves one.
#include <memory>
#include <mutex>
#include <vector>

#include "base/Component.h"
#include "cgi/IWebRequestHandler.h"
#include "cgi/WebModuleFactoryList.h"
#include "cgi/WebModuleList.h"

namespace nemvo {

class TWebRequest;
class TWebResponse;

class TWebRequestHandler : public TComponent {
  NEMVO_COMPONENT(TWebRequestHandler, TComponent)

 public:
  explicit TWebRequestHandler(TComponent* owner = nullptr);
  ~TWebRequestHandler() override;

  // Records the program's module class; raises Exception "Only one data
  // module per application" for a second, different class.
  void RegisterModuleClass(const TComponentClass& moduleClass);
  const TComponentClass* ModuleClass() const { return fModuleClass; }

  // One request through module activation, dispatch and sending. True when
  // a dispatcher handled the request.
  bool HandleRequest(TWebRequest& request, TWebResponse& response);

  // A list of modules for one request; it stays in ActiveModuleLists, owned
  // by the handler, until DeactivateModules.
  TWebModuleList& ActivateModules();
  // Keeps the list for reuse when CacheConnections and it holds a module,
  // otherwise frees it with its modules.
  void DeactivateModules(TWebModuleList& list);
  // Creates the modules of every CreateAlways factory the list lacks.
  static void ActivateAutomaticModules(TWebModuleList& list);

  // 0 or less: no limit.
  int32_t MaxConnections() const { return fMaxConnections; }
  void SetMaxConnections(int32_t value) { fMaxConnections = value; }
  bool CacheConnections() const { return fCacheConnections; }
  void SetCacheConnections(bool value) { fCacheConnections = value; }
  int ActiveCount() const { return int(fActiveModuleLists.size()); }
  int InactiveCount() const { return int(fInactiveModuleLists.size()); }
  int32_t PendingCount() const { return fPendingCount; }
  TWebModuleFactoryList& ModuleFactories() { return *fModuleFactories; }

 private:
  // Guards the module lists and PendingCount during activation and
  // deactivation only; never held while a request is routed.
  std::mutex fLock;
  std::vector<std::unique_ptr<TWebModuleList>> fActiveModuleLists;
  int32_t fPendingCount = 0;
  std::vector<std::unique_ptr<TWebModuleList>> fInactiveModuleLists;
  int32_t fMaxConnections = 32;
  bool fCacheConnections = true;
  std::unique_ptr<TWebModuleFactoryList> fModuleFactories;
  const TComponentClass* fModuleClass = nullptr;
};

}  // namespace nemvo
