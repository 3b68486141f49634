#pragma once
// The registered module factories, in registration order; owns them.
#include <memory>
#include <vector>

#include "cgi/WebModuleFactory.h"

namespace nemvo {

class TWebModuleFactoryList {
 public:
  // Takes the factory. Raises EWebException when it is listed already, or
  // when it is a second application-module factory (then it is freed).
  void AddFactory(std::unique_ptr<TAbstractWebModuleFactory> factory);

  int FactoryCount() const { return int(fFactories.size()); }
  TAbstractWebModuleFactory& Factories(int index) const { return *fFactories.at(size_t(index)); }
  // The one factory whose IsAppModule is true, or null.
  TAbstractWebModuleFactory* AppModuleFactory() const { return fAppModuleFactory; }

 private:
  std::vector<std::unique_ptr<TAbstractWebModuleFactory>> fFactories;
  TAbstractWebModuleFactory* fAppModuleFactory = nullptr;  // one of fFactories
};

}  // namespace nemvo
