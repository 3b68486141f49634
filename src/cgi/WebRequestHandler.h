#pragma once
// Carries requests through web modules: keeps the module factories, makes a
// module list for a request (or reuses an idle one), lets the list's
// dispatcher route the request, sends the response and puts the list back.
// Written for any number of requests; a CGI process serves one.
//
// What a request leaves to be freed is freed only once its answer is out of
// the program's hands: freeing a module may take its time (a database
// connection's close waits for the server), and the web server should not
// wait for it. DeactivateModules retires it; the host calls
// ReleaseRetiredModules once the web server has the answer.
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
  // otherwise retires it with its modules; the modules of DestroyAfterRequest
  // factories are retired too. Retired ones are no longer counted as active.
  void DeactivateModules(TWebModuleList& list);
  // Frees what DeactivateModules retired. Hosts call it once the answer has
  // reached the web server; the next activation and the handler's destruction
  // free whatever is still retired, so nothing of a request outlives the
  // next one's start even for a host that never calls it.
  void ReleaseRetiredModules();
  // Creates the modules of every CreateAlways factory the list lacks.
  static void ActivateAutomaticModules(TWebModuleList& list);

  // 0 or less: no limit.
  int32_t MaxConnections() const { return fMaxConnections; }
  void SetMaxConnections(int32_t value) { fMaxConnections = value; }
  bool CacheConnections() const { return fCacheConnections; }
  void SetCacheConnections(bool value) { fCacheConnections = value; }
  int ActiveCount() const { return int(fActiveModuleLists.size()); }
  int InactiveCount() const { return int(fInactiveModuleLists.size()); }
  // Module lists and single modules retired and not yet freed.
  int RetiredCount() const { return int(fRetiredModuleLists.size() + fRetiredModules.size()); }
  int32_t PendingCount() const { return fPendingCount; }
  TWebModuleFactoryList& ModuleFactories() { return *fModuleFactories; }

 private:
  // Guards the module lists and PendingCount during activation and
  // deactivation only; never held while a request is routed.
  std::mutex fLock;
  std::vector<std::unique_ptr<TWebModuleList>> fActiveModuleLists;
  int32_t fPendingCount = 0;
  std::vector<std::unique_ptr<TWebModuleList>> fInactiveModuleLists;
  // Retired, in the order retired; guarded by fLock too.
  std::vector<std::unique_ptr<TWebModuleList>> fRetiredModuleLists;
  std::vector<std::unique_ptr<TComponent>> fRetiredModules;
  int32_t fMaxConnections = 32;
  bool fCacheConnections = true;
  std::unique_ptr<TWebModuleFactoryList> fModuleFactories;
  const TComponentClass* fModuleClass = nullptr;
};

}  // namespace nemvo
