#include "platform/ExceptionTypeName.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace nemvo::platform {

std::string CurrentExceptionTypeName() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (!type) return {};
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status),
                                                   std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(type->name());
}

}  // namespace nemvo::platform
