#include "platform/LibraryLoading.h"

#include <dlfcn.h>

#include <cerrno>

namespace nemvo::platform {

namespace {
thread_local std::string lastLibraryError;

void RememberLoaderError() {
  const char* text = dlerror();
  lastLibraryError = text ? text : "";
}
}  // namespace

LibraryHandle LoadLibraryByName(const std::string& fileName) {
  // RTLD_LOCAL keeps the library's symbols out of the global namespace, so a
  // second library loaded later cannot bind to them by accident.
  void* handle = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) RememberLoaderError();
  return handle;
}

void* FindEntryPoint(LibraryHandle library, const char* name) {
  if (!library) {
    errno = EINVAL;
    return nullptr;
  }
  dlerror();
  void* address = dlsym(library, name);
  if (!address) {
    RememberLoaderError();
    errno = ENOSYS;
  }
  return address;
}

void FreeLibrary(LibraryHandle library) {
  if (library) dlclose(library);
}

std::string LastLibraryError() { return lastLibraryError; }

}  // namespace nemvo::platform
