#pragma once
// The component base: a name, an owner, the components it owns, and the
// notification by which a component learns that one it refers to is going.
//
// Ownership: a component created with an owner is owned by it and freed with
// it (last created, first freed). A component without an owner belongs to
// whoever created it, normally through std::unique_ptr. Deleting an owned
// component directly is allowed; it leaves its owner's list first.
#include <cstdint>
#include <memory>
#include <string>
#include <typeindex>
#include <vector>

#include "base/Object.h"

namespace nemvo {

class TComponent;

enum TOperation { opInsert, opRemove };

// State flags of a component.
enum TComponentStateFlag : uint32_t {
  csLoading = 1u << 0,     // its stored definition is being applied
  csDestroying = 1u << 1,  // its destructor is running
};

// What the framework needs of a class: its name, its identity, and a way to
// make an instance. A component made with an owner is owned by that owner;
// without one, the caller owns it.
struct TComponentClass {
  const char* Name;
  std::type_index Type;
  TComponent* (*Create)(TComponent* owner);
  const TComponentClass* Parent;  // nullptr at TComponent
};

// Declares the class bookkeeping inside a component class T deriving from Base:
//   class TFoo : public TComponent { NEMVO_COMPONENT(TFoo, TComponent) ... };
#define NEMVO_COMPONENT(T, Base)                                                      \
 public:                                                                              \
  static const ::nemvo::TComponentClass& StaticClass() {                              \
    static const ::nemvo::TComponentClass c{#T, typeid(T),                            \
                                            [](::nemvo::TComponent* o) -> ::nemvo::TComponent* { \
                                              return new T(o);                        \
                                            },                                        \
                                            &Base::StaticClass()};                    \
    return c;                                                                         \
  }                                                                                   \
  const ::nemvo::TComponentClass& ClassType() const override { return StaticClass(); } \
                                                                                      \
 private:

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  static const TComponentClass& StaticClass();
  virtual const TComponentClass& ClassType() const { return StaticClass(); }
  const char* ClassName() const { return ClassType().Name; }
  // True when this component's class is cls or derives from it.
  bool InheritsFrom(const TComponentClass& cls) const;

  const std::string& Name() const { return fName; }
  // Names are identifiers, unique (letters A-Z compared without case) among
  // the components of one owner; raises EComponentError otherwise.
  virtual void SetName(const std::string& name);

  TComponent* Owner() const { return fOwner; }
  int ComponentCount() const { return int(fComponents.size()); }
  TComponent* Components(int index) const { return fComponents.at(size_t(index)); }
  TComponent* FindComponent(const std::string& name) const;

  uint32_t ComponentState() const { return fState; }
  bool IsLoading() const { return (fState & csLoading) != 0; }
  bool IsDestroying() const { return (fState & csDestroying) != 0; }

  // Stored-definition loading brackets: Loaded() runs when it has been applied.
  void BeginLoading() { fState |= csLoading; }
  void EndLoading();

  // Ask to be told (through Notification with opRemove) when `component` is freed.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // Transfers an owned component to the caller, or adopts one.
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

 protected:
  // Told when a component is inserted into or removed from this owner, and
  // when a component this one asked about is freed. The base forwards a
  // removal to every owned component so that siblings drop references.
  virtual void Notification(TComponent* component, TOperation operation);
  virtual void Loaded() {}
  // Frees all owned components, last first. Derived destructors that must
  // see their children gone call it themselves; the base destructor calls it too.
  void DestroyComponents();
  void MarkDestroying() { fState |= csDestroying; }

 private:
  void ValidateRename(const std::string& name) const;

  std::string fName;
  TComponent* fOwner = nullptr;
  std::vector<TComponent*> fComponents;       // owned
  std::vector<TComponent*> fFreeNotifies;     // not owned; each refers back to us
  uint32_t fState = 0;
};

// A component of class T, owned by `owner`: returns the raw pointer the owner keeps.
template <class T, class... Args>
T* CreateOwned(TComponent* owner, Args&&... args) {
  return new T(owner, std::forward<Args>(args)...);
}

// Letters A to Z compared without regard to case; other bytes must match.
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
// A valid identifier: a letter or "_", then letters, digits and "_".
bool IsValidIdent(std::string_view name);

}  // namespace nemvo
