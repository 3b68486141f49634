#include "cgi/WebModuleFactory.h"

namespace nemvo {

std::string TDefaultWebModuleFactory::ModuleName() const {
  std::string name = fModuleClass.Name ? fModuleClass.Name : "";
  return name.empty() ? name : name.substr(1);
}

std::unique_ptr<TComponent> TDefaultWebModuleFactory::CreateModule() {
  return std::unique_ptr<TComponent>(fModuleClass.Create(nullptr));
}

}  // namespace nemvo
