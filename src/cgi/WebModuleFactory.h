#pragma once
// Module factories: each makes the instances of one web module class.
#include <memory>
#include <string>

#include "base/Component.h"

namespace nemvo {

enum TWebModuleCreateMode { CreateOnDemand = 0, CreateAlways = 1 };
enum TWebModuleCacheMode { KeepCached = 0, DestroyAfterRequest = 1 };

class TAbstractWebModuleFactory {
 public:
  virtual ~TAbstractWebModuleFactory() = default;
  virtual std::string ModuleName() const = 0;
  virtual bool IsAppModule() const = 0;
  virtual TWebModuleCreateMode CreateMode() const = 0;
  virtual TWebModuleCacheMode CacheMode() const = 0;
  virtual const TComponentClass& ComponentClass() const = 0;
  // A new module without owner; the caller owns it.
  virtual std::unique_ptr<TComponent> CreateModule() = 0;
  // Told that a module of this factory stays beyond its request.
  virtual void KeepModule() = 0;
};

// The factory made for the class given to RegisterModuleClass: one
// application module, created for every request list and kept cached.
class TDefaultWebModuleFactory : public TAbstractWebModuleFactory {
 public:
  explicit TDefaultWebModuleFactory(const TComponentClass& moduleClass) : fModuleClass(moduleClass) {}

  // The class name without its first letter: "WM1" for TWM1.
  std::string ModuleName() const override;
  bool IsAppModule() const override { return true; }
  TWebModuleCreateMode CreateMode() const override { return CreateAlways; }
  TWebModuleCacheMode CacheMode() const override { return KeepCached; }
  const TComponentClass& ComponentClass() const override { return fModuleClass; }
  std::unique_ptr<TComponent> CreateModule() override;
  void KeepModule() override {}

 private:
  const TComponentClass& fModuleClass;
};

}  // namespace nemvo
