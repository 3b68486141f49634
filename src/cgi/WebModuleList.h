#pragma once
// The module instances serving one request, made by the registered
// factories, and the fix-up bookkeeping that lets a module being created
// refer to other modules by name.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Component.h"
#include "base/StringList.h"
#include "cgi/WebModuleFactoryList.h"

namespace nemvo {

class TAbstractWebModuleList {
 public:
  using TModuleAddedEvent = std::function<void(TComponent* module)>;

  virtual ~TAbstractWebModuleList() = default;
  virtual TComponent* Items(int index) const = 0;
  virtual int ItemCount() const = 0;
  virtual TModuleAddedEvent GetOnModuleAdded() const = 0;
  virtual void SetOnModuleAdded(TModuleAddedEvent handler) = 0;
  virtual int FactoryCount() const = 0;
  virtual TAbstractWebModuleFactory& Factories(int index) const = 0;
  // The first module whose class is exactly `cls`, or null.
  virtual TComponent* FindModuleByClass(const TComponentClass& cls) const = 0;
  // The first module named `name` (letters A-Z without case), or null.
  virtual TComponent* FindModuleByName(const std::string& name) const = 0;
  virtual TComponent* ModuleByClassOnDemand(const TComponentClass& cls) = 0;
  virtual TComponent* ModuleByNameOnDemand(const std::string& name) = 0;
};

class TWebModuleList : public TAbstractWebModuleList {
 public:
  // `factories` belongs to the request handler and outlives the list.
  explicit TWebModuleList(TWebModuleFactoryList& factories);
  ~TWebModuleList() override;
  TWebModuleList(const TWebModuleList&) = delete;
  TWebModuleList& operator=(const TWebModuleList&) = delete;

  TComponent* Items(int index) const override { return fModules.at(size_t(index)).get(); }
  int ItemCount() const override { return int(fModules.size()); }
  TModuleAddedEvent GetOnModuleAdded() const override { return fOnModuleAdded; }
  void SetOnModuleAdded(TModuleAddedEvent handler) override { fOnModuleAdded = std::move(handler); }
  int FactoryCount() const override { return fFactories.FactoryCount(); }
  TAbstractWebModuleFactory& Factories(int index) const override { return fFactories.Factories(index); }
  TComponent* FindModuleByClass(const TComponentClass& cls) const override;
  TComponent* FindModuleByName(const std::string& name) const override;
  // Creates, within one fix-up, a module for every factory of class `cls`;
  // returns the last one made (null when no factory makes that class).
  TComponent* ModuleByClassOnDemand(const TComponentClass& cls) override;
  // Creates a module with the first factory whose ModuleName is `name`
  // (letters A-Z without case); null when there is none.
  TComponent* ModuleByNameOnDemand(const std::string& name) override;

  // Creates, within one fix-up, a module for every CreateAlways factory whose
  // class the list does not hold yet.
  void AutoCreateModules();

  // Appends a module (the list owns it) and tells OnModuleAdded.
  void AddModule(std::unique_ptr<TComponent> module);
  // Frees the module if the list holds it.
  void FreeModule(TComponent* module);
  // Hands the module over to the caller, out of the list; null when the list
  // does not hold it.
  std::unique_ptr<TComponent> TakeModule(TComponent* module);

  // Fix-ups nest; the outermost Begin makes this the thread's current list,
  // the outermost End resolves the names looked up in vain meanwhile.
  void BeginFixup();
  void EndFixup();
  int FixupLevel() const { return fFixupLevel; }
  const TStringList& UnresolvedNames() const { return fUnresolvedNames; }

  // The list being filled on this thread, or null.
  static TWebModuleList* Current();

  // The lookup that FindGlobalComponent uses while this list is current.
  TComponent* FindFixupComponent(const std::string& name);

 private:
  TWebModuleFactoryList& fFactories;  // not owned
  std::vector<std::unique_ptr<TComponent>> fModules;
  int fFixupLevel = 0;
  std::function<bool(const std::string&)> fSavedNameIsUnique;
  TStringList fUnresolvedNames;
  TModuleAddedEvent fOnModuleAdded;
};

// The framework's global component lookup: a module looked up by name while a
// module list is being filled on this thread; null otherwise or when there
// is no such module (the name is then remembered for the end of the fix-up).
TComponent* FindGlobalComponent(const std::string& name);

// The framework's test whether a module name is free process-wide. While a
// list is being filled every name counts as free, since all of its modules
// are instances of classes that may each exist once per list.
inline std::function<bool(const std::string&)> GlobalNameIsUnique;

}  // namespace nemvo
