#include "web/DataModule.h"

#include "base/ClassRegistry.h"
#include "cgi/ApplicationExceptionHandler.h"
#include "web/StoredDefinition.h"

namespace nemvo {

namespace {
[[maybe_unused]] const bool registered = RegisterClass({
    .Name = "TDataModule",
    .ComponentClass = &TDataModule::StaticClass(),
    .Properties = {
        BooleanProperty("OldCreateOrder", &TDataModule::SetOldCreateOrder),
        EventProperty("OnCreate", &TDataModule::SetOnCreate),
        EventProperty("OnDestroy", &TDataModule::SetOnDestroy),
    },
});
}  // namespace

TDataModule::TDataModule(TComponent* owner) : TComponent(owner) {}

TDataModule::~TDataModule() { DoDestroy(); }

bool TDataModule::ReadsDefinition() const { return ClassType().Type != typeid(TDataModule); }

const TComponentClass& TDataModule::DefinitionBase() const { return TDataModule::StaticClass(); }

void TDataModule::FinishCreation() {
  if (fCreationFinished) return;
  fCreationFinished = true;
  try {
    if (ReadsDefinition()) ReadStoredDefinitions(*this, DefinitionBase());
    if (fOldCreateOrder) DoCreate();
  } catch (...) {
    if (!ApplicationExceptionHandler) throw;
    TApplicationExceptionHandler handler = ApplicationExceptionHandler;
    handler(nullptr);
  }
  if (!fOldCreateOrder) DoCreate();
}

void TDataModule::DoCreate() {
  if (!fOnCreate) return;
  TModuleEvent handler = fOnCreate;
  handler(this);
}

void TDataModule::DoDestroy() {
  if (fDestroyDone) return;
  fDestroyDone = true;
  if (!fOnDestroy) return;
  try {
    TModuleEvent handler = fOnDestroy;
    handler(this);
  } catch (...) {
    try {
      if (ApplicationExceptionHandler) ApplicationExceptionHandler(nullptr);
    } catch (...) {
      // Nothing can leave a destructor; the module goes all the same.
    }
  }
}

}  // namespace nemvo
