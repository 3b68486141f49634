#include "cgi/WebModuleList.h"

#include <algorithm>

namespace nemvo {

namespace {
thread_local TWebModuleList* gCurrentList = nullptr;
}  // namespace

TWebModuleList::TWebModuleList(TWebModuleFactoryList& factories) : fFactories(factories) {}

TWebModuleList::~TWebModuleList() {
  // Last made, first freed, as a component frees what it owns.
  while (!fModules.empty()) fModules.pop_back();
  if (gCurrentList == this) gCurrentList = nullptr;
}

TWebModuleList* TWebModuleList::Current() { return gCurrentList; }

TComponent* TWebModuleList::FindModuleByClass(const TComponentClass& cls) const {
  for (const auto& module : fModules)
    if (module->ClassType().Type == cls.Type) return module.get();
  return nullptr;
}

TComponent* TWebModuleList::FindModuleByName(const std::string& name) const {
  for (const auto& module : fModules)
    if (SameText(module->Name(), name)) return module.get();
  return nullptr;
}

void TWebModuleList::AddModule(std::unique_ptr<TComponent> module) {
  TComponent* added = module.get();
  fModules.push_back(std::move(module));
  if (fOnModuleAdded) fOnModuleAdded(added);
}

void TWebModuleList::FreeModule(TComponent* module) { TakeModule(module).reset(); }

std::unique_ptr<TComponent> TWebModuleList::TakeModule(TComponent* module) {
  auto it = std::find_if(fModules.begin(), fModules.end(), [&](const auto& m) { return m.get() == module; });
  if (it == fModules.end()) return nullptr;
  std::unique_ptr<TComponent> taken = std::move(*it);
  fModules.erase(it);
  return taken;
}

TComponent* TWebModuleList::ModuleByClassOnDemand(const TComponentClass& cls) {
  TComponent* last = nullptr;
  BeginFixup();
  try {
    for (int i = 0; i < FactoryCount(); ++i) {
      TAbstractWebModuleFactory& factory = Factories(i);
      if (factory.ComponentClass().Type != cls.Type) continue;
      std::unique_ptr<TComponent> module = factory.CreateModule();
      last = module.get();
      AddModule(std::move(module));
    }
  } catch (...) {
    EndFixup();
    throw;
  }
  EndFixup();
  return last;
}

TComponent* TWebModuleList::ModuleByNameOnDemand(const std::string& name) {
  for (int i = 0; i < FactoryCount(); ++i) {
    TAbstractWebModuleFactory& factory = Factories(i);
    if (!SameText(factory.ModuleName(), name)) continue;
    std::unique_ptr<TComponent> module = factory.CreateModule();
    TComponent* made = module.get();
    AddModule(std::move(module));
    return made;
  }
  return nullptr;
}

void TWebModuleList::AutoCreateModules() {
  BeginFixup();
  try {
    for (int i = 0; i < FactoryCount(); ++i) {
      TAbstractWebModuleFactory& factory = Factories(i);
      if (factory.CreateMode() != CreateAlways || FindModuleByClass(factory.ComponentClass())) continue;
      AddModule(factory.CreateModule());
    }
  } catch (...) {
    EndFixup();
    throw;
  }
  EndFixup();
}

void TWebModuleList::BeginFixup() {
  if (fFixupLevel++ != 0) return;
  gCurrentList = this;
  fSavedNameIsUnique = std::move(GlobalNameIsUnique);
  GlobalNameIsUnique = [](const std::string&) { return true; };
}

void TWebModuleList::EndFixup() {
  if (fFixupLevel <= 0 || --fFixupLevel != 0) return;
  // Whatever happens while resolving, the thread and the name test get
  // their old state back.
  struct Restore {
    TWebModuleList& list;
    ~Restore() {
      if (gCurrentList == &list) gCurrentList = nullptr;
      GlobalNameIsUnique = std::move(list.fSavedNameIsUnique);
      list.fSavedNameIsUnique = nullptr;
    }
  } restore{*this};
  while (!fUnresolvedNames.Empty()) {
    const std::string name = fUnresolvedNames[0];
    fUnresolvedNames.Delete(0);
    if (!FindModuleByName(name) && !ModuleByNameOnDemand(name)) continue;
    for (int i = 0; i < FactoryCount(); ++i) {
      TAbstractWebModuleFactory& factory = Factories(i);
      if (SameText(factory.ModuleName(), name) && factory.CacheMode() == DestroyAfterRequest) factory.KeepModule();
    }
  }
}

TComponent* TWebModuleList::FindFixupComponent(const std::string& name) {
  if (TComponent* module = FindModuleByName(name)) return module;
  if (fUnresolvedNames.IndexOf(name) < 0) fUnresolvedNames.Add(name);
  return nullptr;
}

TComponent* FindGlobalComponent(const std::string& name) {
  TWebModuleList* list = TWebModuleList::Current();
  return list ? list->FindFixupComponent(name) : nullptr;
}

}  // namespace nemvo
