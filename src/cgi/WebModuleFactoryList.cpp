#include "cgi/WebModuleFactoryList.h"

#include "cgi/WebException.h"

namespace nemvo {

void TWebModuleFactoryList::AddFactory(std::unique_ptr<TAbstractWebModuleFactory> factory) {
  for (const auto& listed : fFactories) {
    if (listed.get() == factory.get()) {
      (void)factory.release();  // it is ours already
      throw EWebException("Web Module Factory already registered");
    }
  }
  if (factory->IsAppModule()) {
    if (fAppModuleFactory) throw EWebException("Web App Module Factory already registered.");
    fAppModuleFactory = factory.get();
  }
  fFactories.push_back(std::move(factory));
}

}  // namespace nemvo
