#pragma once
// A data module: a container component whose placed components and settings
// come from its class's stored definition when it is created.
//
// Creation has two halves. The constructor builds the object; FinishCreation
// then reads the stored definitions and runs OnCreate. A class's Create entry
// does both (declare module classes with NEMVO_DATA_MODULE instead of
// NEMVO_COMPONENT), and so does CreateDataModule<T>; code that constructs a
// module directly calls FinishCreation itself.
#include <functional>
#include <memory>

#include "base/Component.h"

namespace nemvo {

// A new module of class T: constructed, then its creation finished. Owned by
// `owner` when there is one, else by the caller. Frees the module again when
// finishing raises.
template <class T>
T* CreateDataModule(TComponent* owner = nullptr) {
  std::unique_ptr<T> module(new T(owner));
  module->FinishCreation();
  return module.release();
}

// NEMVO_COMPONENT for module classes: the class's Create entry is
// CreateDataModule<T>.
#define NEMVO_DATA_MODULE(T, Base)                                                    \
 public:                                                                              \
  static const ::nemvo::TComponentClass& StaticClass() {                              \
    static const ::nemvo::TComponentClass c{#T, typeid(T),                            \
                                            [](::nemvo::TComponent* o) -> ::nemvo::TComponent* { \
                                              return ::nemvo::CreateDataModule<T>(o); \
                                            },                                        \
                                            &Base::StaticClass()};                    \
    return c;                                                                         \
  }                                                                                   \
  const ::nemvo::TComponentClass& ClassType() const override { return StaticClass(); } \
                                                                                      \
 private:

class TDataModule : public TComponent {
  NEMVO_DATA_MODULE(TDataModule, TComponent)

 public:
  using TModuleEvent = std::function<void(TObject* sender)>;

  explicit TDataModule(TComponent* owner = nullptr);
  // Runs OnDestroy, if it has not run yet, while the placed components live.
  // The destructors of application module classes have run by then, so a
  // handler bound to such a class's method may use the placed components but
  // not members of that class itself.
  ~TDataModule() override;

  // Reads the stored definitions of the classes from the framework's base
  // down to the module's own (EResNotFound when the module's class has
  // none), then runs OnCreate: still inside creation when OldCreateOrder is
  // true, after it otherwise. An exception while reading, or of OnCreate in
  // the old order, goes to ApplicationExceptionHandler with no Sender; when
  // that returns, creation completes with what was read so far. Without a
  // handler the exception leaves. Runs once; later calls do nothing.
  void FinishCreation();

  bool OldCreateOrder() const { return fOldCreateOrder; }
  void SetOldCreateOrder(bool value) { fOldCreateOrder = value; }
  const TModuleEvent& OnCreate() const { return fOnCreate; }
  void SetOnCreate(TModuleEvent handler) { fOnCreate = std::move(handler); }
  const TModuleEvent& OnDestroy() const { return fOnDestroy; }
  void SetOnDestroy(TModuleEvent handler) { fOnDestroy = std::move(handler); }

 protected:
  // Whether this instance's class comes with a definition; the framework's
  // own module classes do not.
  virtual bool ReadsDefinition() const;
  // The first class of the chain whose definition is read.
  virtual const TComponentClass& DefinitionBase() const;
  // Runs OnDestroy once. A destructor cannot raise, so an exception of the
  // handler goes to ApplicationExceptionHandler and ends there.
  void DoDestroy();

 private:
  void DoCreate();

  bool fOldCreateOrder = false;
  TModuleEvent fOnCreate;
  TModuleEvent fOnDestroy;
  bool fCreationFinished = false;
  bool fDestroyDone = false;
};

}  // namespace nemvo
